#include "config/configuration_parser.h"

#include <algorithm>

#include "config/configuration_text.h"
#include "detector/tone_detector.h"

namespace kantiq {

namespace {

constexpr char kFieldEnd = '#';

template <typename Parameters>
auto& parameterField(Parameters& p, int n) {
  switch (n) {
    case 1: return p.frequencyToleranceHz;
    case 2: return p.minimumFrequencyHz;
    case 3: return p.requiredHits;
    case 4: return p.sequenceTimeoutMs;
    case 5: return p.peaksExamined;
    case 6: return p.magnitudeThreshold;
    case 7: return p.retriggerDelayMs;
    case 8: return p.loadHighPercent;
    case 9: return p.loadLowPercent;
    default: return p.restartIntervalMs;
  }
}

void storeParameter(ToneDetector& d, int n, int32_t value) {
  switch (n) {
    case 1: d.frequencyTolerance = value; break;
    case 2: d.minimumFrequency = value; break;
    case 3: d.requiredHits = value; break;
    case 4: d.sequenceTimeout = value; break;
    case 5: d.peaksExamined = value; break;
    case 6: d.magnitudeThreshold = value; break;
    case 7: d.retriggerDelay = value; break;
    case 8: d.loadHighThreshold = value; break;
    case 9: d.loadLowThreshold = value; break;
    default: d.restartInterval = value; break;
  }
}

// What the entry reader saw of one entry.
struct EntryShape {
  bool countRead = false;
  int32_t stepCount = 0;       // as read
  int32_t stepsCompleted = 0;  // steps whose three fields ended
  bool cutShort = false;       // the text ended before the entry did
};

// Reads the fields of one entry after its text, starting at pos, into alarm.
// Steps beyond the step array are read and dropped. Returns the position of
// the first byte not consumed.
size_t readEntry(std::string_view text, size_t pos, AlarmDefinition& alarm, EntryShape& shape) {
  std::string field;
  int32_t j = 0;  // 0 until the count is read, then 1 + completed steps
  int part = 0;   // 0 first frequency, 1 second frequency, 2 dual-tone flag
  ToneStep step{};
  for (;;) {
    if (j > 0 && j > shape.stepCount) break;
    if (pos >= text.size()) {
      shape.cutShort = true;
      break;
    }
    const char c = text[pos++];
    if (c != kFieldEnd) {
      field.push_back(c);
      continue;
    }
    const int32_t value = readConfigurationNumber(field);
    field.clear();
    if (j == 0) {
      shape.stepCount = value;
      shape.countRead = true;
      j = 1;
      continue;
    }
    if (part == 0) {
      step.frequency1 = value;
      part = 1;
    } else if (part == 1) {
      step.frequency2 = value;
      part = 2;
    } else {
      step.dualTone = value != 0;
      if (j - 1 < AlarmDefinition::kMaxSteps) {
        ToneStep& target = alarm.steps[static_cast<size_t>(j - 1)];
        target.frequency1 = step.frequency1;
        target.frequency2 = step.frequency2;
        target.dualTone = step.dualTone;
      }
      shape.stepsCompleted = j;
      ++j;
      part = 0;
      step = ToneStep{};
    }
  }
  return pos;
}

void addFinding(ParseResult& r, ConfigurationProblem problem, int32_t entry, int32_t value,
                std::string_view alarmText = {}) {
  if (r.status == ConfigurationProblem::None) r.status = problem;
  r.findings.push_back({problem, entry, value, std::string(alarmText)});
}

}  // namespace

int32_t& detectorParameter(DetectorParameters& p, int n) { return parameterField(p, n); }

int32_t detectorParameter(const DetectorParameters& p, int n) { return parameterField(p, n); }

void storeDetectorParameters(const DetectorParameters& p, ToneDetector& detector) {
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    storeParameter(detector, n, detectorParameter(p, n));
  }
}

DetectorParameters detectorParametersOf(const ToneDetector& d) {
  return {d.frequencyTolerance, d.minimumFrequency, d.requiredHits,     d.sequenceTimeout,
          d.peaksExamined,      d.magnitudeThreshold, d.retriggerDelay, d.loadHighThreshold,
          d.loadLowThreshold,   d.restartInterval};
}

ParseResult parseConfiguration(std::string_view text, ToneDetector& detector) {
  ParseResult r;
  storeDetectorParameters(kDefaultDetectorParameters, detector);
  detector.alarmCount = 0;

  std::string field;
  int64_t f = 0;  // field number; wide enough for any text
  int32_t stored = 0;
  AlarmDefinition overflow;  // takes the entries the table has no room for
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c != kFieldEnd) {
      field.push_back(c);
      continue;
    }
    if (f == 0) {
      r.formatNumber = readConfigurationNumber(field);
    } else {
      if (!r.formatTested) {
        r.formatTested = true;
        if (r.formatNumber != kConfigurationFormat) {
          addFinding(r, r.formatNumber == 0 ? ConfigurationProblem::FormatZero
                                            : ConfigurationProblem::FormatUnknown,
                     -1, r.formatNumber);
          return r;
        }
      }
      if (f <= kDetectorParameterCount) {
        const int32_t value = readConfigurationNumber(field);
        storeParameter(detector, static_cast<int>(f), value);
        r.parametersRead = static_cast<int32_t>(f);
        if (f == 3 && (value < 1 || value > ToneStep::kMaxHits)) {
          addFinding(r, ConfigurationProblem::RequiredHitsOutOfRange, -1, value);
        }
      } else {
        const int32_t entry = r.entriesRead++;
        const bool fits = stored < ToneDetector::kMaxAlarms;
        if (!fits && entry == ToneDetector::kMaxAlarms) {
          addFinding(r, ConfigurationProblem::TooManyAlarms, -1, 0);
        }
        AlarmDefinition& alarm = fits ? detector.alarms[static_cast<size_t>(stored)] : overflow;
        alarm = AlarmDefinition{};
        alarm.makeIdle();
        alarm.text = field;
        EntryShape shape;
        pos = readEntry(text, pos, alarm, shape);
        if (shape.countRead) {
          if (shape.stepCount > AlarmDefinition::kMaxSteps) {
            addFinding(r, ConfigurationProblem::StepCountTooLarge, entry, shape.stepCount, field);
          } else if (shape.stepCount < 0) {
            addFinding(r, ConfigurationProblem::StepCountNegative, entry, shape.stepCount, field);
          } else if (shape.stepCount == 0) {
            addFinding(r, ConfigurationProblem::AlarmWithoutSteps, entry, 0, field);
          }
        }
        if (shape.cutShort) {
          addFinding(r, ConfigurationProblem::EntryCutShort, entry, shape.stepsCompleted, field);
        }
        // Only steps actually read are in use; the count stays within the array.
        const int32_t inUse = shape.cutShort ? shape.stepsCompleted : shape.stepCount;
        alarm.stepCount = std::clamp<int32_t>(inUse, 0, AlarmDefinition::kMaxSteps);
        if (fits) ++stored;
      }
    }
    ++f;
    field.clear();
  }
  r.ignoredTrailingBytes = field.size();
  if (r.formatTested && f <= kDetectorParameterCount) {
    addFinding(r, ConfigurationProblem::ParametersIncomplete, -1, r.parametersRead);
  }
  // The table's overflow is recorded when it happens but counted at the end.
  for (ConfigurationFinding& finding : r.findings) {
    if (finding.problem == ConfigurationProblem::TooManyAlarms) finding.value = r.entriesRead;
  }
  detector.alarmCount = stored;
  return r;
}

}  // namespace kantiq
