#pragma once

// Replacing the files of an installation folder all or nothing: every new
// content is written to a temporary file beside its target first, every
// target is checked to be replaceable, and only then are the old files moved
// aside and the new ones in. When a step fails, every old file is put back
// and the temporary files are removed, so the folder is as it was.
//
// Portable: std::filesystem only. Names and messages are UTF-8.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace kantiq::setup {

struct FileReplacement {
  std::string name;  // inside the folder
  std::string content;
  // Written only when there is no such file: an existing one is left as it
  // is (SMSConfig2.dat, of which only the presence counts).
  bool onlyIfMissing = false;
};

enum class FileSetStep {
  Check,      // the target exists but cannot be replaced (read-only, not a file)
  WriteNew,   // writing the temporary file
  MoveAside,  // moving the old file out of the way
  MoveIn,     // moving the new file to its place
};

struct FileSetFailure {
  std::string file;    // the target's name
  FileSetStep step = FileSetStep::Check;
  std::string reason;  // the system's reason, or what the check found
  // Putting the old files back failed: these are still beside their places
  // under another name (target name, the name it has now).
  std::vector<std::pair<std::string, std::string>> notRestored;
};

// "Kantiq.ini: Die alte Datei kann nicht ersetzt werden: Die Datei ist schreibgeschützt."
std::string describe(const FileSetFailure& failure);

struct FileSetResult {
  // The names replaced or made, in the order given; onlyIfMissing files that
  // were already there are not among them. Empty when failure is set.
  std::vector<std::string> written;
  std::optional<FileSetFailure> failure;
  bool ok() const { return !failure; }
};

// For tests: asked before each move (MoveAside, MoveIn) of each file; an
// error it returns makes that move fail as if the system had refused it.
using FileSetFault = std::function<std::error_code(FileSetStep step, const std::string& file)>;

FileSetResult replaceFileSet(const std::filesystem::path& folder, const std::vector<FileReplacement>& files,
                             const FileSetFault& fault = {});

}  // namespace kantiq::setup
