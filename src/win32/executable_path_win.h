#pragma once

// Where the running program lives. The configuration files, the alarm log
// and the sender are all found in the executable's folder, never in the
// current directory.

#include <filesystem>
#include <string>
#include <string_view>

namespace kantiq {

// The folder of a full path: everything before its last backslash; empty
// when there is none.
std::string folderOf(std::string_view path);

// The running executable's full path, of any length the system allows (up
// to 32,767 characters); empty when the system cannot say.
std::string executablePath();

// The executable's folder without a trailing separator: folderOf the
// executable's path. Empty when the path cannot be had.
std::string executableFolder();

// The same folder as a path, read in UTF-16, so that a folder name the
// system's code page cannot spell is still found. Empty when the path cannot
// be had.
std::filesystem::path executableFolderPath();

}  // namespace kantiq
