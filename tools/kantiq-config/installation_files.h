#pragma once

// What an installation folder gets from a kantiq.toml: the stored
// configuration (SMSConfig1.dat) and Kantiq's settings (Kantiq.ini), made
// and checked here, written by whoever calls (kantiq-config write, the setup
// window). SMSConfig2.dat is empty: only its presence counts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/kantiq_settings.h"
#include "config_source.h"

namespace kantiq::tool {

enum class InstallationProblem {
  None,
  // The source has errors: the diagnostics say which.
  Source,
  // What would be stored would not load back as written: loadBackFailure.
  LoadBack,
  // The folder's Kantiq.ini cannot be read, and an input Kantiq remembered
  // in it would be lost (the source names no input).
  SettingsUnreadable,
};

struct InstallationFiles {
  InstallationProblem problem = InstallationProblem::None;
  bool ok() const { return problem == InstallationProblem::None; }
  // Errors and warnings of the source, in its lines (also when ok()).
  std::vector<Diagnostic> diagnostics;
  // Why the stored file would not load back (UTF-8); empty when it would,
  // or when Kantiq's loader gave no reason but the configuration differed.
  std::string loadBackFailure;
  // The configuration as the source gives it (alarm texts in Windows-1252).
  Configuration configuration;
  // SMSConfig1.dat as it is to be written.
  std::vector<uint8_t> storedConfiguration;
  // Kantiq.ini: the source's settings, with the defaults for what it leaves
  // out, but with the input Kantiq remembered when the source names none.
  KantiqSettings settings;
  std::string settingsText;
  bool rememberedInputKept = false;
};

// toml: the text of kantiq.toml, sourceName its name in diagnostics;
// current: the folder's Kantiq.ini as readSettingsFile found it.
InstallationFiles composeInstallation(std::string_view toml, std::string_view sourceName,
                                      const SettingsReading& current);

}  // namespace kantiq::tool
