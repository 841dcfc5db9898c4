#pragma once

// Applying the setup window's form: both text files and what kantiq-config
// makes of kantiq.toml (SMSConfig1.dat, SMSConfig2.dat, Kantiq.ini), all
// checked before anything is written, then all replaced or none.

#include <filesystem>
#include <string>
#include <vector>

#include "setup_form.h"

namespace kantiq::setup {

struct ApplyReport {
  bool written = false;
  // Why nothing was written: the form's problems (checkForm), or the file
  // that could not be written and why (place: the file as a whole).
  std::vector<Problem> problems;
  // Copies kept of hand-made files, e.g. "S (vorher).toml".
  std::vector<std::string> copiesKept;
  // German lines for the window: what was written, or that nothing was.
  std::string summary;
};

// Writes the form into folder. monitorHandMade/senderHandMade: keep a copy
// of that file as it is now before replacing it (LoadedSetup says which).
ApplyReport applySetup(const std::filesystem::path& folder, const SetupForm& form, bool monitorHandMade,
                       bool senderHandMade);

}  // namespace kantiq::setup
