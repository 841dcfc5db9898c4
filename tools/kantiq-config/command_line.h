#pragma once

// kantiq-config's command line: the subcommands scripts call (write, show,
// check, encode, decode), help, and a .toml file dropped onto the program.
// All texts are German.

#include <string>
#include <vector>

namespace kantiq::tool {

enum class CommandKind {
  Write,   // operands: source, folder
  Show,    // file
  Check,   // file
  Encode,  // text file, stored file
  Decode,  // file
  Inputs,  // none, or a name and perhaps a position: the recording inputs there are
  Drop,    // source: written into the program's own folder, then a key is awaited
  Help,    // text holds the help to print; exit 0
  Usage,   // text holds what is wrong with the command line; exit 2
};

struct Command {
  CommandKind kind = CommandKind::Usage;
  std::vector<std::string> operands;
  std::string text;
};

// args as main receives them, the program name first.
Command parseCommandLine(const std::vector<std::string>& args);

}  // namespace kantiq::tool
