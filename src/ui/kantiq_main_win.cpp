// Kantiq.exe: the alarm monitor's entry.

#include <windows.h>

#include <new>

#include "config/program_exit.h"
#include "ui/fresh_start_win.h"
#include "ui/main_dialog_win.h"
#include "ui/program_engine_win.h"
#include "win32/life_signs_win.h"

namespace {

// A failed allocation throws a plain text, reported as "Unknown" by the
// handlers that catch everything.
void outOfMemory() { throw "Out of memory"; }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  std::set_new_handler(outOfMemory);
  kantiq::ProgramOptions options;
  options.instance = instance;
  options.makeEngine = kantiq::makeProgramEngine;
  int status = kantiq::runMainDialog(options);
  // Closed to be started afresh by the watchdog: it reads this code.
  if (status == static_cast<int>(kantiq::kExitClosed) && kantiq::successorLeftToWatchdog()) {
    status = static_cast<int>(kantiq::kExitStartAgain);
  }
  // A watchdog tells this end from a process that was killed.
  kantiq::LifeSigns::process().announceEnd(static_cast<uint32_t>(status));
  return status;
}
