#pragma once

// Composing a configuration text from parameters and alarms, and reading one
// back out of a loaded detector.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/configuration_parser.h"

namespace kantiq {

class ToneDetector;

struct ConfiguredStep {
  int32_t frequency1Hz = 0;
  int32_t frequency2Hz = 0;  // only counts for a dual-tone step
  bool dualTone = false;

  friend bool operator==(const ConfiguredStep&, const ConfiguredStep&) = default;
};

struct ConfiguredAlarm {
  std::string text;  // Windows-1252
  std::vector<ConfiguredStep> steps;

  friend bool operator==(const ConfiguredAlarm&, const ConfiguredAlarm&) = default;
};

struct Configuration {
  DetectorParameters parameters = kDefaultDetectorParameters;
  std::vector<ConfiguredAlarm> alarms;

  friend bool operator==(const Configuration&, const Configuration&) = default;
};

// The text "100#" + ten parameters + one entry per alarm, every field ended by
// "#". The caller keeps "#" and byte 0 out of the alarm texts and the counts
// within the table's limits. textOffsets, when given, receives where each
// alarm's text starts in the result.
std::string composeConfiguration(const Configuration& configuration,
                                 std::vector<size_t>* textOffsets = nullptr);

// What a loaded detector holds, as a configuration.
Configuration configurationOf(const ToneDetector& detector);

}  // namespace kantiq
