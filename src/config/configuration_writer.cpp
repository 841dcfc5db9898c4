#include "config/configuration_writer.h"

#include <algorithm>

#include "detector/tone_detector.h"

namespace kantiq {

namespace {

void appendNumber(std::string& out, int64_t value) {
  out += std::to_string(value);
  out += '#';
}

}  // namespace

std::string composeConfiguration(const Configuration& configuration,
                                 std::vector<size_t>* textOffsets) {
  if (textOffsets != nullptr) textOffsets->clear();
  std::string text;
  appendNumber(text, kConfigurationFormat);
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    appendNumber(text, detectorParameter(configuration.parameters, n));
  }
  for (const ConfiguredAlarm& alarm : configuration.alarms) {
    if (textOffsets != nullptr) textOffsets->push_back(text.size());
    text += alarm.text;
    text += '#';
    appendNumber(text, static_cast<int64_t>(alarm.steps.size()));
    for (const ConfiguredStep& step : alarm.steps) {
      appendNumber(text, step.frequency1Hz);
      appendNumber(text, step.frequency2Hz);
      appendNumber(text, step.dualTone ? 1 : 0);
    }
  }
  return text;
}

Configuration configurationOf(const ToneDetector& detector) {
  Configuration c;
  c.parameters = detectorParametersOf(detector);
  const int32_t count = std::clamp<int32_t>(detector.alarmCount, 0, ToneDetector::kMaxAlarms);
  for (int32_t a = 0; a < count; ++a) {
    const AlarmDefinition& alarm = detector.alarms[static_cast<size_t>(a)];
    ConfiguredAlarm out;
    out.text = alarm.text;
    const int32_t steps = std::clamp<int32_t>(alarm.stepCount, 0, AlarmDefinition::kMaxSteps);
    for (int32_t s = 0; s < steps; ++s) {
      const ToneStep& step = alarm.steps[static_cast<size_t>(s)];
      out.steps.push_back({step.frequency1, step.frequency2, step.dualTone});
    }
    c.alarms.push_back(std::move(out));
  }
  return c;
}

}  // namespace kantiq
