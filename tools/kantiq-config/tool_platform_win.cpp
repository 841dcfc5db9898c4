#include <windows.h>

#include <mmsystem.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "tool_platform.h"
#include "win32/owners_win.h"

namespace kantiq::tool {

namespace fs = std::filesystem;

namespace {

// A temporary file that is deleted unless it was moved into place. Its handle
// must be closed before it goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  fs::path path_;
};

std::string utf8FromWide(const wchar_t* text, int length) {
  if (length == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

// The system's text for an error code, in the language of the system.
std::string systemText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocalMemory owner(buffer);
  std::string text = length > 0 ? utf8FromWide(buffer, static_cast<int>(length)) : std::string();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

FileFailure failure(std::string step, DWORD error) {
  return {std::move(step), static_cast<int64_t>(error), systemText(error)};
}

}  // namespace

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  const UniqueLocalMemory owner(wide);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(utf8FromWide(wide[i], static_cast<int>(wcslen(wide[i]))));
  return args;
}

fs::path pathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8FromPath(const fs::path& path) {
  const std::wstring& wide = path.native();
  return utf8FromWide(wide.data(), static_cast<int>(wide.size()));
}

fs::path programFolder() {
  // Paths can be longer than MAX_PATH; grow until the name fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return fs::path(buffer).parent_path();
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

void prepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  // Binary, so that decode hands out the text's bytes unchanged and no line
  // end is doubled.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> soundInputNames() {
  std::vector<std::string> names;
  const UINT count = waveInGetNumDevs();
  for (UINT id = 0; id < count; ++id) {
    WAVEINCAPSW caps{};
    if (waveInGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
      names.emplace_back();  // keeps the numbering
      continue;
    }
    caps.szPname[sizeof caps.szPname / sizeof caps.szPname[0] - 1] = L'\0';
    names.push_back(utf8FromWide(caps.szPname, static_cast<int>(wcslen(caps.szPname))));
  }
  return names;
}

void waitForKey() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in != INVALID_HANDLE_VALUE && in != nullptr && GetConsoleMode(in, &mode)) {
    FlushConsoleInputBuffer(in);  // keys pressed while writing do not count
    (void)_getch();
    return;
  }
  (void)std::getchar();
}

std::optional<FileFailure> replaceFile(const fs::path& target, std::span<const uint8_t> bytes) {
  const fs::path folder = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
  // A name of its own, so that neither a second writer nor a temporary file
  // left behind by a crash is ever overwritten or taken for ours.
  UniqueHandle file;
  fs::path temporaryPath;
  for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
    temporaryPath = folder / (target.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(attempt) + L".tmp");
    file = UniqueHandle(CreateFileW(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        return failure("Die neue Datei kann neben der alten nicht angelegt werden", error);
      }
    }
  }
  if (!file.valid()) return failure("Die neue Datei kann neben der alten nicht angelegt werden", ERROR_FILE_EXISTS);
  TemporaryFile temporary(temporaryPath);

  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      const DWORD error = GetLastError();
      file.reset();
      return failure("Die neue Datei kann nicht geschrieben werden", error);
    }
    done += written;
  }
  if (!FlushFileBuffers(file.get())) {
    const DWORD error = GetLastError();
    file.reset();
    return failure("Die neue Datei kann nicht auf den Datenträger geschrieben werden", error);
  }
  if (!file.close()) return failure("Die neue Datei kann nicht geschrieben werden", GetLastError());
  // One step: the target is either the old file or the new one, and the
  // move is on the disk when the call returns.
  if (!MoveFileExW(temporary.path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return failure("Die alte Datei kann nicht ersetzt werden", GetLastError());
  }
  temporary.keep();
  return std::nullopt;
}

}  // namespace kantiq::tool
