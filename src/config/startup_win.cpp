#include "config/startup_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "config/program_exit.h"
#include "win32/executable_path_win.h"
#include "win32/owners_win.h"

namespace kantiq {

namespace {

// Other processes may go on reading and writing while we read.
UniqueHandle openForReading(const std::string& path) {
  return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

constexpr DWORD kReadChunkBytes = 4096;

// Held to the end of the process unless released for a successor.
UniqueHandle& singleInstanceGuard() {
  static UniqueHandle guard;
  return guard;
}

}  // namespace

void Win32WarningBox::show(const std::string& caption, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_ICONWARNING | MB_OK);
}

bool Win32StartupPlatform::takeSingleInstanceGuard() {
  SetLastError(ERROR_SUCCESS);
  // The guard lasts as long as the process, and the system drops it however
  // the process ends; only a successor being started lets it go earlier.
  HANDLE guard = CreateMutexA(nullptr, TRUE, kSingleInstanceMutexName);
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    if (guard != nullptr) CloseHandle(guard);
    return false;
  }
  singleInstanceGuard() = UniqueHandle(guard);
  return true;
}

void releaseSingleInstanceGuard() {
  UniqueHandle& guard = singleInstanceGuard();
  if (guard) ReleaseMutex(guard.get());
  guard = UniqueHandle();
}

bool Win32StartupPlatform::readStoredConfiguration(std::vector<uint8_t>& bytes, size_t maxBytes) {
  const std::string folder = executableFolder();
  if (folder.empty()) return false;
  UniqueHandle config = openForReading(folder + "\\" + kConfigurationFileName);
  if (!config) return false;
  if (!openForReading(folder + "\\" + kPresenceFileName)) return false;

  bytes.clear();
  while (bytes.size() < maxBytes) {
    const size_t offset = bytes.size();
    const auto want = static_cast<DWORD>(std::min<size_t>(kReadChunkBytes, maxBytes - offset));
    bytes.resize(offset + want);
    DWORD got = 0;
    const BOOL ok = ReadFile(config.get(), bytes.data() + offset, want, &got, nullptr);
    if (!ok) return false;  // a file read only in part would load fewer alarms
    bytes.resize(offset + got);
    if (got == 0) break;
  }
  return true;
}

void constructToneDetector(ToneDetector& detector, SpectrogramCanvas* canvas,
                           const std::function<void()>& resetHandoverCounters,
                           const std::function<void()>& whenAlreadyRunning) {
  Win32StartupPlatform platform;
  const std::optional<StartupRefusal> refusal =
      prepareDetector(detector, canvas, resetHandoverCounters, platform);
  if (!refusal) return;
  Win32WarningBox box;
  if (*refusal != alreadyRunningRefusal() || !whenAlreadyRunning) refuseStart(box, *refusal);
  box.show(refusal->caption, refusal->text);
  whenAlreadyRunning();
  std::exit(static_cast<int>(kExitAlreadyRunning));
}

}  // namespace kantiq
