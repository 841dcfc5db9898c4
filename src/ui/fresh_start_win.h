#pragma once

// A program that started while its sound input was not there may never see
// it appear: some sound systems list their inputs once per process. A fresh
// process is asked whether it would find the input (kantiq-config's
// "inputs" command, exit code 0 when found); when it would, Kantiq hands its
// single-instance guard to a new instance of itself and ends.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "capture/input_choice.h"
#include "win32/owners_win.h"

namespace kantiq {

inline constexpr wchar_t kInputProbeProgram[] = L"kantiq-config.exe";

enum class ProbeResult { Found, NotFound, Failed };

// Runs "kantiq-config.exe inputs [NAME POSITION]" from folder, hidden, and
// waits for it at most limitMs (then ends it): Found on exit code 0,
// NotFound on 1, Failed otherwise (not there, not started, hung). Without
// a name it asks whether there is any input at all.
ProbeResult probeInput(const std::filesystem::path& folder, const InputRequest& wanted, uint32_t limitMs);

// One probe at a time on a thread of its own, so that the window never waits.
class InputProbe {
 public:
  InputProbe() = default;
  // Waits for a probe still running (it ends within its limit).
  ~InputProbe();
  InputProbe(const InputProbe&) = delete;
  InputProbe& operator=(const InputProbe&) = delete;

  // Starts a probe unless one runs; false when none could be started.
  bool start(std::filesystem::path folder, InputRequest wanted, uint32_t limitMs);
  bool running() const;
  // The result of the probe that ended since the last call, once.
  std::optional<ProbeResult> take();

 private:
  struct Job;
  static DWORD WINAPI run(LPVOID parameter);
  std::shared_ptr<Job> job_;
  UniqueHandle thread_;
};

// Lets go of the single-instance guard and starts this program again from
// its own folder. False when the new instance could not be started (the
// guard is then gone all the same: the caller keeps running and says so).
// Under a watchdog nothing is started here: the process is to end with
// kExitStartAgain (successorLeftToWatchdog), and the watchdog starts it.
bool startSuccessor();
bool successorLeftToWatchdog();

}  // namespace kantiq
