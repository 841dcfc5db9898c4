#pragma once

// Kantiq-Einrichtung's window: the form of kantiq.toml and S.toml on five
// pages, checked, applied and tried out with S.exe.

#include <windows.h>

#include <filesystem>

namespace kantiq::setup {

// Shows the window for the files in folder until it is closed; the
// process's exit code.
int runSetupWindow(HINSTANCE instance, const std::filesystem::path& folder);

}  // namespace kantiq::setup
