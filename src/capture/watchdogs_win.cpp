#include "capture/watchdogs_win.h"

#include <windows.h>

#include "detector/tone_detector.h"

namespace kantiq {
namespace {

DWORD WINAPI loadWatcherEntry(LPVOID parameter) {
  ToneDetector& detector = *static_cast<ToneDetector*>(parameter);
  LoadWatcher watcher(detector.loadHighThreshold, detector.loadLowThreshold);
  NtSystemInformation system;
  SetEnvironmentVariableA(kHeapSelectVariable, kHeapSelectValue);
  for (;;) {
    // Each measurement takes a sample interval, even when it fails.
    if (watcher.observe(measureLoad(system, kLoadSampleIntervalMs))) detector.requestRestart();
  }
}

DWORD WINAPI periodicRestartEntry(LPVOID parameter) {
  ToneDetector& detector = *static_cast<ToneDetector*>(parameter);
  // An interval of 0 would make this loop spin a whole core away from the
  // analysis; 1 ms still asks for a restart at every frame.
  const DWORD intervalMs = detector.restartInterval == 0 ? 1 : static_cast<DWORD>(detector.restartInterval);
  for (;;) {
    Sleep(intervalMs);
    detector.requestRestart();
  }
}

bool startThread(LPTHREAD_START_ROUTINE entry, ToneDetector& detector) {
  HANDLE thread = CreateThread(nullptr, 0, entry, &detector, 0, nullptr);
  if (thread == nullptr) return false;
  // Never stopped or joined: the thread ends with the process.
  CloseHandle(thread);
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
  if (started_) return;
  started_ = true;
  if (startThread(&loadWatcherEntry, detector)) ++threadsStarted_;
  if (startThread(&periodicRestartEntry, detector)) ++threadsStarted_;
}

}  // namespace kantiq
