#pragma once

// What kantiq-config needs from the operating system beyond the standard
// library: its arguments and its own folder, the console, and replacing a
// file in one step. tool_platform_posix.cpp and tool_platform_win.cpp.
//
// Paths travel through the tool as UTF-8 strings: on Windows the arguments
// are taken from the wide command line, so a file name with characters
// outside the ANSI code page still opens and prints as it is.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kantiq::tool {

// The command-line arguments, the program name first, as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// A UTF-8 path as the file system takes it, and back.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string utf8FromPath(const std::filesystem::path& path);

// The folder that holds the running program; empty when it cannot be found.
std::filesystem::path programFolder();

// UTF-8 on the console; standard output and error pass bytes unchanged.
void prepareConsole();

// Waits for a key press on a console, otherwise for one byte (or the end)
// of standard input, so that a test can press the key through a pipe.
void waitForKey();

// The names of the recording inputs the system lists now, by device number,
// as UTF-8; empty where there is no sound system to ask.
std::vector<std::string> soundInputNames();

// Why a file could not be replaced: the step (German, for the user) and the
// system's own error code and text.
struct FileFailure {
  std::string step;
  int64_t code = 0;
  std::string systemText;
};

// Replaces target with bytes in one step: writes a temporary file beside it,
// flushes that to the disk, then renames it over the target. On failure the
// target is as it was and the temporary file is gone.
std::optional<FileFailure> replaceFile(const std::filesystem::path& target,
                                       std::span<const uint8_t> bytes);

}  // namespace kantiq::tool
