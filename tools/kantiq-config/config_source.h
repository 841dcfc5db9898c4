#pragma once

// The human-editable configuration: TOML that names the detector parameters
// by meaning and lists the alarms with their texts and tones.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration_writer.h"
#include "config/kantiq_settings.h"

namespace kantiq::tool {

// Frequencies a step may name in its plain forms: above 0 and below half the
// program's 44100 Hz sample rate.
inline constexpr int32_t kHighestToneHz = 22049;

struct Diagnostic {
  uint32_t line = 0;  // 0 when no place in the source is meant
  uint32_t column = 0;
  std::string message;  // UTF-8
  bool warning = false;
};

struct SourceReading {
  Configuration configuration;        // alarm texts in Windows-1252
  std::vector<uint32_t> alarmLines;   // source line of each alarm
  std::vector<Diagnostic> diagnostics;
  // From [input] (the input name in Windows-1252); the defaults without it.
  KantiqSettings settings;
  // [input] names an input (an empty name included).
  bool inputNamed = false;

  bool ok() const;
};

// Reads and checks a TOML source. Every problem found is listed; the
// configuration is only fit to write when ok().
SourceReading readConfigurationSource(std::string_view toml, std::string_view sourceName);

// The text a source gives, checked for what the loader would read back
// differently or refuse: hazards of the stored form and the length limit.
// Adds its findings to reading.diagnostics; returns the text.
std::string composeCheckedText(SourceReading& reading);

// Warnings for tones no detector set-up can hear: at or below
// minimum_frequency_hz, or above what 44100 Hz sampling holds. One per alarm
// and frequency; alarmLines (may be empty) gives their source lines.
std::vector<Diagnostic> findUndetectableTones(const Configuration& configuration,
                                              const std::vector<uint32_t>& alarmLines);

// A configuration as TOML that readConfigurationSource reads back to the same
// configuration (used by "show"). Steps that are exactly a code of a known
// tone set are written as that code with its tone_set (ZVEI1 preferred, then
// the table's order).
std::string writeConfigurationSource(const Configuration& configuration);

// One "  name = value" line per detector parameter.
std::string listParameters(const DetectorParameters& parameters);

// "Datei:Zeile:Spalte: Fehler: Meldung" lines.
std::string formatDiagnostics(const std::vector<Diagnostic>& diagnostics, std::string_view sourceName);

}  // namespace kantiq::tool
