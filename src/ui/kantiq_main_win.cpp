// Kantiq.exe: the alarm monitor's entry.

#include <windows.h>

#include <new>

#include "ui/main_dialog_win.h"
#include "ui/program_engine_win.h"

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
  return kantiq::runMainDialog(options);
}
