// setup_probe.exe: looks at what the setup program left behind, the way
// Windows itself reads it, for the installer tests under Wine. Output is
// UTF-8, one "key=value" a line.
//
//   setup_probe.exe version FILE   the version resource of a program
//                                  (GetFileVersionInfoW, as Explorer reads it)
//   setup_probe.exe shortcut LNK   target, arguments and folder of a shortcut
//                                  (IShellLinkW)
//   setup_probe.exe run LNK        starts what the shortcut names, in its
//                                  folder, with this console, and waits;
//                                  exits with its exit code
//   setup_probe.exe start COMMAND  starts a command line the way an autostart
//                                  entry is started, and waits; exits with its
//                                  exit code
//
// Exit code 1 when a file cannot be read or a program not started, 2 on a
// bad command line.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

void line(const char* key, const std::wstring& value) {
  const std::string s = std::string(key) + "=" + utf8(value) + "\n";
  std::fwrite(s.data(), 1, s.size(), stdout);
}

int fail(const std::wstring& why) {
  const std::string s = "setup_probe: " + utf8(why) + "\n";
  std::fwrite(s.data(), 1, s.size(), stderr);
  return 1;
}

std::wstring quad(DWORD high, DWORD low) {
  wchar_t text[64];
  swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
  return text;
}

int showVersion(const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return fail(L"no version resource in " + file);
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
    return fail(L"cannot read the version resource of " + file);
  }
  void* data = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", &data, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    return fail(L"no fixed version information in " + file);
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
  line("FixedFileVersion", quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
  line("FixedProductVersion", quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));

  struct Translation {
    WORD language, codePage;
  };
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &data, &length) ||
      length < sizeof(Translation)) {
    return fail(L"no translation table in " + file);
  }
  const auto* t = static_cast<const Translation*>(data);
  wchar_t prefix[64];
  swprintf(prefix, 64, L"%04x%04x", t->language, t->codePage);
  line("Translation", prefix);
  for (const wchar_t* key : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                             L"CompanyName", L"LegalCopyright", L"OriginalFilename"}) {
    const std::wstring path = L"\\StringFileInfo\\" + std::wstring(prefix) + L"\\" + key;
    std::wstring value;
    if (VerQueryValueW(block.data(), path.c_str(), &data, &length) && length > 0) {
      value.assign(static_cast<const wchar_t*>(data), length);
      while (!value.empty() && value.back() == L'\0') value.pop_back();
    }
    line(utf8(key).c_str(), value);
  }
  return 0;
}

struct Shortcut {
  std::wstring target, arguments, folder;
};

bool readShortcut(const std::wstring& file, Shortcut& out) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return false;
  }
  IPersistFile* persist = nullptr;
  bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)));
  if (ok) {
    ok = SUCCEEDED(persist->Load(file.c_str(), STGM_READ));
    persist->Release();
  }
  wchar_t text[4096];
  if (ok) ok = SUCCEEDED(link->GetPath(text, 4096, nullptr, SLGP_RAWPATH));
  if (ok) out.target = text;
  if (ok) ok = SUCCEEDED(link->GetArguments(text, 4096));
  if (ok) out.arguments = text;
  if (ok) ok = SUCCEEDED(link->GetWorkingDirectory(text, 4096));
  if (ok) out.folder = text;
  link->Release();
  return ok;
}

// Starts the command line with this process's console and standard handles
// and waits for it.
int runAndWait(std::wstring commandLine, const wchar_t* folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder,
                      &startup, &process)) {
    return fail(L"cannot start " + commandLine);
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

int usage() {
  std::fputs("usage: setup_probe.exe version FILE | shortcut LNK | run LNK | start COMMAND\n", stderr);
  return 2;
}

int run(const std::vector<std::wstring>& a) {
  if (a.size() != 2) return usage();
  if (a[0] == L"version") return showVersion(a[1]);
  if (a[0] == L"start") return runAndWait(a[1], nullptr);
  if (a[0] != L"shortcut" && a[0] != L"run") return usage();

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return fail(L"COM");
  Shortcut link;
  const bool read = readShortcut(a[1], link);
  CoUninitialize();
  if (!read) return fail(L"cannot read the shortcut " + a[1]);
  if (a[0] == L"shortcut") {
    line("Target", link.target);
    line("Arguments", link.arguments);
    line("Folder", link.folder);
    return 0;
  }
  std::fflush(stdout);
  std::wstring commandLine = L"\"" + link.target + L"\"";
  if (!link.arguments.empty()) commandLine += L" " + link.arguments;
  return runAndWait(commandLine, link.folder.empty() ? nullptr : link.folder.c_str());
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  const int rc = run(args);
  std::fflush(stdout);
  return rc;
}
