#pragma once

// Kantiq.exe's exit codes. The watchdog (KantiqWache.exe) tells from them
// whether an end was meant: a window closed by the user and a start that
// cannot succeed are left alone, a request to be started again is granted at
// once, every other code (1 for the program's own failures, an exception's
// code, a killed process) is a crash and is restarted.

#include <cstdint>

namespace kantiq {

// The window was closed (by the user, the setup or logging off).
inline constexpr uint32_t kExitClosed = 0;
// The program gave up on a failure of its own (a dialog or transform that
// could not be made).
inline constexpr uint32_t kExitFailed = 1;
// No configuration, or one that cannot be used: the box has said so, and a
// new start would meet the same files.
inline constexpr uint32_t kExitStartRefused = 3;
// Another instance holds the single-instance guard.
inline constexpr uint32_t kExitAlreadyRunning = 4;
// A fresh instance is needed (a sound input appeared that only a new process
// can open) and the watchdog is there to start it.
inline constexpr uint32_t kExitStartAgain = 5;

}  // namespace kantiq
