#include "sender/win/sender_files_win.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>

#include "sender/delivery/delivery.h"

namespace kantiq::sender {
namespace {

// Machine-wide, so a sender in another user's session sees a living run.
constexpr const char* kRunMarkPrefix = "Global\\KantiqSenderRun-";
constexpr size_t kMaxStateBytes = 64 * 1024;

std::string oldLogPath(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('\\');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".alt";
  return path.substr(0, dot) + ".alt" + path.substr(dot);
}

}  // namespace

bool replaceFileWhole(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  {
    UniqueHandle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && ::FlushFileBuffers(file.get());
    if (!ok) {
      file.reset();
      ::DeleteFileA(temporary.c_str());
      return false;
    }
  }
  if (!::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

bool readWholeFile(const std::string& path, std::string& text, bool& absent, size_t maxBytes) {
  text.clear();
  absent = false;
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(maxBytes)) return false;
  text.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  return text.empty() ||
         (::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr) && got == text.size());
}

void FileSendLog::write(std::string_view text) {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  const std::string line = formatSendLogLine(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, text);
  UniqueHandle file(::CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file.valid() || !::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size()) {
    if (failedError_ == 0) failedError_ = ::GetLastError() != 0 ? ::GetLastError() : ERROR_WRITE_FAULT;
  }
}

void FileSendLog::rotateIfLarge() {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) return;
  const int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size <= kMaxSendLogBytes) return;
  // One older file is kept; a sender appending at this moment writes its
  // line into one of the two.
  ::MoveFileExA(path_.c_str(), oldLogPath(path_).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool WinStateFile::load(std::string& text) {
  bool absent = false;
  if (readWholeFile(path_, text, absent, kMaxStateBytes)) return true;
  text.clear();
  return absent;
}

HANDLE createSharedMutex(const std::string& name, bool owned) {
  // Everyone may wait for it and see it: without this, another user's
  // sender could neither use the modem lock nor tell a living run's mark.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const bool made = ::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x00100001;;;WD)", SDDL_REVISION_1,
                                                                          &descriptor, nullptr) != FALSE;
  const UniqueLocalMemory held(made ? descriptor : nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, made ? descriptor : nullptr, FALSE};
  // Asks only for what waiting and releasing need, so a mutex another user
  // made opens too.
  return ::CreateMutexExA(made ? &attributes : nullptr, name.c_str(), owned ? CREATE_MUTEX_INITIAL_OWNER : 0,
                          SYNCHRONIZE | MUTEX_MODIFY_STATE);
}

RunMark::RunMark(const std::string& runId) {
  const std::string name = kRunMarkPrefix + runId;
  mutex_.reset(createSharedMutex(name, true));
  if (mutex_.valid() && ::GetLastError() == ERROR_ALREADY_EXISTS) mutex_.reset();  // not ours
}

bool WinOutboxFolder::prepare(std::string& reason) {
  if (::CreateDirectoryA(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = ::GetFileAttributesA(folder_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    reason = folder_ + " ist kein Ordner";
    return false;
  }
  reason = "der Ordner " + folder_ + " lässt sich nicht anlegen (Fehler " + std::to_string(::GetLastError()) + ")";
  return false;
}

std::vector<std::string> WinOutboxFolder::names() {
  std::vector<std::string> out;
  WIN32_FIND_DATAA found{};
  const std::string pattern = folder_ + "\\*";
  const UniqueFindHandle search(::FindFirstFileA(pattern.c_str(), &found));
  if (!search.valid()) return out;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.emplace_back(found.cFileName);
  } while (::FindNextFileA(search.get(), &found));
  std::sort(out.begin(), out.end());
  return out;
}

bool WinOutboxFolder::read(const std::string& name, std::string& bytes) {
  bool absent = false;
  return readWholeFile(path(name), bytes, absent, kMaxStateBytes);
}

bool WinOutboxFolder::remove(const std::string& name) {
  return ::DeleteFileA(path(name).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool WinOutboxFolder::rename(const std::string& from, const std::string& to) {
  return ::MoveFileExA(path(from).c_str(), path(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WinOutboxFolder::runAlive(std::string_view runId) {
  const std::string name = kRunMarkPrefix + std::string(runId);
  UniqueHandle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()));
  // A mark we may not open exists all the same.
  return mutex.valid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace kantiq::sender
