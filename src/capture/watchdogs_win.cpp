#include "capture/watchdogs_win.h"

#include <windows.h>

#include "detector/tone_detector.h"
#include "win32/owners_win.h"

namespace kantiq {
namespace {

// The detector the watchdogs ask for restarts, for as long as it exists.
// The threads run until the process ends, longer than any detector may, so
// they never hold the detector itself: they ask through this, which outlives
// them (it is never freed), and a detector going away unlinks itself.
class WatchdogTarget {
 public:
  WatchdogTarget() = default;
  WatchdogTarget(const WatchdogTarget&) = delete;
  WatchdogTarget& operator=(const WatchdogTarget&) = delete;

  void link(ToneDetector* detector) {
    ScopedLock held(lock_);
    detector_ = detector;
  }
  void unlink(const ToneDetector* detector) {
    ScopedLock held(lock_);
    if (detector_ == detector) detector_ = nullptr;
  }
  void requestRestart() {
    ScopedLock held(lock_);
    if (detector_ != nullptr) detector_->requestRestart();
  }

 private:
  CriticalSection lock_;
  ToneDetector* detector_ = nullptr;
};

WatchdogTarget& watchdogTarget() {
  static WatchdogTarget* target = new WatchdogTarget;  // never freed, see above
  return *target;
}

// The parameters each thread reads once, taken from the detector at start.
struct WatchdogStart {
  int32_t loadHighThreshold;
  int32_t loadLowThreshold;
  int32_t restartInterval;
};

DWORD WINAPI loadWatcherEntry(LPVOID parameter) {
  const WatchdogStart start = *static_cast<WatchdogStart*>(parameter);
  delete static_cast<WatchdogStart*>(parameter);
  LoadWatcher watcher(start.loadHighThreshold, start.loadLowThreshold);
  NtSystemInformation system;
  SetEnvironmentVariableA(kHeapSelectVariable, kHeapSelectValue);
  for (;;) {
    // Each measurement takes a sample interval, even when it fails.
    if (watcher.observe(measureLoad(system, kLoadSampleIntervalMs))) watchdogTarget().requestRestart();
  }
}

DWORD WINAPI periodicRestartEntry(LPVOID parameter) {
  const WatchdogStart start = *static_cast<WatchdogStart*>(parameter);
  delete static_cast<WatchdogStart*>(parameter);
  // An interval of 0 would make this loop spin a whole core away from the
  // analysis; 1 ms still asks for a restart at every frame.
  const DWORD intervalMs = start.restartInterval == 0 ? 1 : static_cast<DWORD>(start.restartInterval);
  for (;;) {
    Sleep(intervalMs);
    watchdogTarget().requestRestart();
  }
}

bool startThread(LPTHREAD_START_ROUTINE entry, const WatchdogStart& parameters) {
  auto* start = new WatchdogStart(parameters);
  // Never stopped or joined: the thread ends with the process, and its
  // handle is not kept.
  const UniqueHandle thread(CreateThread(nullptr, 0, entry, start, 0, nullptr));
  if (!thread) {
    delete start;
    return false;
  }
  return true;
}

}  // namespace

NtSystemInformation::NtSystemInformation() {
  HMODULE ntdll = GetModuleHandleA("ntdll");
  if (ntdll == nullptr) return;
  FARPROC proc = GetProcAddress(ntdll, "NtQuerySystemInformation");
  query_ = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(proc));
}

bool NtSystemInformation::query(uint32_t informationClass, void* buffer, uint32_t bytes) {
  if (query_ == nullptr) return false;
  return query_(informationClass, buffer, bytes, nullptr) >= 0;  // NT_SUCCESS
}

void NtSystemInformation::sleepMs(int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

void SystemWatchdogStarter::startWatchdogs(ToneDetector& detector) {
  watchdogTarget().link(&detector);
  const WatchdogStart start{detector.loadHighThreshold, detector.loadLowThreshold, detector.restartInterval};
  if (startThread(&loadWatcherEntry, start)) ++threadsStarted_;
  if (startThread(&periodicRestartEntry, start)) ++threadsStarted_;
}

void SystemWatchdogStarter::detectorGone(const ToneDetector& detector) { watchdogTarget().unlink(&detector); }

}  // namespace kantiq
