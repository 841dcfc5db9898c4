// Kantiq-Einrichtung.exe: the setup window for the files in the program
// folder, the folder this program lives in, or in the folder given as its
// one argument.

#include <windows.h>
// needs the types of windows.h, included first
#include <shellapi.h>

#include <filesystem>

#include "setup_window_win.h"
#include "win32/executable_path_win.h"
#include "win32/owners_win.h"

namespace {

std::filesystem::path folderToOpen() {
  int count = 0;
  const kantiq::UniqueLocalMemory arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
  auto* argv = static_cast<wchar_t**>(arguments.get());
  if (argv != nullptr && count >= 2) return std::filesystem::path(argv[1]);
  return kantiq::executableFolderPath();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return kantiq::setup::runSetupWindow(instance, folderToOpen());
}
