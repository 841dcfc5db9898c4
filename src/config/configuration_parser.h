#pragma once

// The decoded configuration text: fields ended by "#", the format number, the
// ten detector parameters and the alarm entries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq {

class ToneDetector;

inline constexpr int32_t kConfigurationFormat = 100;

// The ten detector parameters in the order the file gives them.
struct DetectorParameters {
  int32_t frequencyToleranceHz = 0;
  int32_t minimumFrequencyHz = 0;
  int32_t requiredHits = 0;
  int32_t sequenceTimeoutMs = 0;
  int32_t peaksExamined = 0;
  int32_t magnitudeThreshold = 0;
  int32_t retriggerDelayMs = 0;
  int32_t loadHighPercent = 0;
  int32_t loadLowPercent = 0;
  int32_t restartIntervalMs = 0;

  friend bool operator==(const DetectorParameters&, const DetectorParameters&) = default;
};

inline constexpr int kDetectorParameterCount = 10;

// What the detector runs with when the text gives no parameters at all (an
// empty file, or a format field alone): the values of the example
// configuration, tuned for 44100 Hz, 2048 points and 8-bit capture.
inline constexpr DetectorParameters kDefaultDetectorParameters{
    .frequencyToleranceHz = 50,
    .minimumFrequencyHz = 1000,
    .requiredHits = 2,
    .sequenceTimeoutMs = 1000,
    .peaksExamined = 3,
    .magnitudeThreshold = 8,
    .retriggerDelayMs = 60000,
    .loadHighPercent = 90,
    .loadLowPercent = 30,
    .restartIntervalMs = 3600000,
};

// Parameter n (1 to 10) of the file, by reference into the struct.
int32_t& detectorParameter(DetectorParameters& p, int n);
int32_t detectorParameter(const DetectorParameters& p, int n);
void storeDetectorParameters(const DetectorParameters& p, ToneDetector& detector);
DetectorParameters detectorParametersOf(const ToneDetector& detector);

// Why a configuration text cannot run, in the order of checking.
enum class ConfigurationProblem : uint8_t {
  None,
  FormatZero,              // field 0 reads as 0 (or holds no digits)
  FormatUnknown,           // neither 0 nor 100: written by a newer version
  DataTooLong,             // more delivered bytes than the loader handles
  RequiredHitsOutOfRange,  // parameter 3 outside 1 to 5
  TooManyAlarms,           // more entries than the alarm table holds
  StepCountTooLarge,       // an entry with more than 10 steps
  StepCountNegative,       // an entry whose step count is below 0
  AlarmWithoutSteps,       // an entry with step count 0 would be raised every frame
  EntryCutShort,           // the text ends inside an entry
  ParametersIncomplete,    // the text ends after the format test, before parameter 10
};

struct ConfigurationFinding {
  ConfigurationProblem problem = ConfigurationProblem::None;
  int32_t entry = -1;  // alarm entry counted from 0, -1 when the file as a whole is meant
  int32_t value = 0;   // the number at fault (step count, requiredHits, entries)
  std::string alarmText;
};

struct ParseResult {
  ConfigurationProblem status = ConfigurationProblem::None;  // the first finding
  int32_t formatNumber = 0;
  bool formatTested = false;         // field 1 was complete
  int32_t parametersRead = 0;        // 0 to 10
  int32_t entriesRead = 0;           // entries begun, stored or not
  size_t ignoredTrailingBytes = 0;   // bytes after the last "#"
  std::vector<ConfigurationFinding> findings;  // in text order

  bool ok() const { return status == ConfigurationProblem::None; }
};

// Parses the decoded text into the detector in one pass, field by field, with
// the entry reader taking each alarm entry's fields at once. The parameters
// start at kDefaultDetectorParameters. A format error stops the pass at the
// end of field 1; every other problem is recorded and the pass goes on, so a
// caller can list them all, but the result is then not fit to run: the loader
// refuses it. Nothing is written past the alarm table or a step array:
// entries beyond 999 and steps beyond 10 are read and discarded.
ParseResult parseConfiguration(std::string_view text, ToneDetector& detector);

}  // namespace kantiq
