#pragma once

// The two threads that keep capture alive without user action: one asks for
// a capture restart every restartInterval, the other when a period of high
// processor load has ended. Both only set the detector's restartRequested.

#include <cstdint>

#include "capture/load_watcher.h"
#include "detector/detector_ports.h"

namespace kantiq {

class ToneDetector;

// The system's NtQuerySystemInformation of "ntdll", looked up by name.
class NtSystemInformation final : public SystemInformationSource {
 public:
  NtSystemInformation();
  bool available() const override { return query_ != nullptr; }
  bool query(uint32_t informationClass, void* buffer, uint32_t bytes) override;
  void sleepMs(int32_t milliseconds) override;

 private:
  using QueryFunction = long(__stdcall*)(unsigned long, void*, unsigned long, unsigned long*);
  QueryFunction query_ = nullptr;
};

// The value the load watcher gives "__MSVCRT_HEAP_SELECT" for the process
// and every program it starts.
constexpr char kHeapSelectVariable[] = "__MSVCRT_HEAP_SELECT";
constexpr char kHeapSelectValue[] = "__GLOBAL_HEAP_SELECTED,1";

// Starts the load watcher and then the periodic restart thread for the
// detector; they run until the process ends, and ask the detector for
// restarts until it is gone. Each call starts both: the detector asks once
// per process, from the first frame of the process (processFrame keeps the
// process-wide flag for that).
class SystemWatchdogStarter final : public WatchdogStarter {
 public:
  void startWatchdogs(ToneDetector& detector) override;
  // From then on the threads ask nobody.
  void detectorGone(const ToneDetector& detector) override;
  // Threads this starter has started.
  int32_t threadsStarted() const { return threadsStarted_; }

 private:
  int32_t threadsStarted_ = 0;
};

}  // namespace kantiq
