#pragma once

// The main dialog: its procedure, which builds the AlarmMonitor and hands it
// the window's messages, and the program's message loop.

#include <windows.h>

#include "ui/alarm_monitor_win.h"

namespace kantiq {

struct ProgramOptions {
  HINSTANCE instance = nullptr;
  EngineFactory makeEngine;
};

// Creates dialog 106 and runs the loop; returns the quit code.
int runMainDialog(const ProgramOptions& options);

// The module whose resources the dialogs and bitmaps come from.
HINSTANCE resourceInstance();

}  // namespace kantiq
