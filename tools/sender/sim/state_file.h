#pragma once

#include <string>
#include <string_view>

namespace kantiq::sender {

// A small text file that survives the run (the SIM state file beside S.exe).
class StateFile {
 public:
  virtual ~StateFile() = default;
  // The file's text; an absent file gives true and an empty text, one that
  // exists but cannot be read gives false.
  virtual bool load(std::string& text) = 0;
  // Replaces the file as a whole; false if that failed.
  virtual bool save(std::string_view text) = 0;
};

}  // namespace kantiq::sender
