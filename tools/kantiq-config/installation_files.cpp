#include "installation_files.h"

#include <memory>

#include "common/cp1252.h"
#include "config/configuration_text.h"
#include "config/startup.h"
#include "detector/tone_detector.h"

namespace kantiq::tool {

InstallationFiles composeInstallation(std::string_view toml, std::string_view sourceName,
                                      const SettingsReading& current) {
  InstallationFiles out;
  SourceReading reading = readConfigurationSource(toml, sourceName);
  std::string configurationText;
  if (reading.ok()) configurationText = composeCheckedText(reading);
  out.diagnostics = reading.diagnostics;
  out.configuration = reading.configuration;
  if (!reading.ok()) {
    out.problem = InstallationProblem::Source;
    return out;
  }
  // Load what would be stored exactly as the program does and compare.
  out.storedConfiguration = encodeConfiguration(configurationText);
  auto detector = std::make_unique<ToneDetector>();
  ParseResult details;
  const auto refusal = loadStoredConfiguration(out.storedConfiguration, *detector, &details);
  if (refusal || configurationOf(*detector) != reading.configuration) {
    out.problem = InstallationProblem::LoadBack;
    if (refusal) out.loadBackFailure = cp1252ToUtf8(refusal->text);
    out.storedConfiguration.clear();
    return out;
  }
  out.settings = reading.settings;
  if (!reading.inputNamed) {
    if (current.unreadable) {
      out.problem = InstallationProblem::SettingsUnreadable;
      return out;
    }
    if (!current.settings.inputName.empty()) {
      out.settings.inputName = current.settings.inputName;
      out.settings.inputPosition = current.settings.inputPosition;
      out.rememberedInputKept = true;
    }
  }
  out.settingsText = composeSettings(out.settings);
  return out;
}

}  // namespace kantiq::tool
