#include "configuration_source.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace kantiq::scan {
namespace {

bool readWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A field read as a number: leading white space, a sign, digits; anything
// after the digits is ignored and no digits read as 0.
int32_t fieldNumber(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  int64_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + (field[i] - '0');
    if (value > (int64_t{1} << 32)) value = int64_t{1} << 32;  // beyond any sensible value
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

bool parseConfigurationText(std::string_view text, ToneDetector& d, std::string& error) {
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  std::vector<std::string_view> fields;
  for (size_t start = 0, hash; (hash = text.find('#', start)) != std::string_view::npos; start = hash + 1) {
    fields.push_back(text.substr(start, hash - start));
  }
  if (fields.size() < 11) {
    error = "the configuration holds fewer than the ten detector parameters";
    return false;
  }
  if (const int32_t format = fieldNumber(fields[0]); format != 100) {
    error = "configuration format " + std::to_string(format) + ", not 100";
    return false;
  }
  int32_t* const parameters[10] = {&d.frequencyTolerance, &d.minimumFrequency, &d.requiredHits,
                                   &d.sequenceTimeout,    &d.peaksExamined,    &d.magnitudeThreshold,
                                   &d.retriggerDelay,     &d.loadHighThreshold, &d.loadLowThreshold,
                                   &d.restartInterval};
  for (size_t p = 0; p < 10; ++p) *parameters[p] = fieldNumber(fields[p + 1]);
  if (d.requiredHits < 1 || d.requiredHits > ToneStep::kMaxHits) {
    error = "required hits " + std::to_string(d.requiredHits) + " lies outside 1 to 5";
    return false;
  }
  size_t f = 11;
  d.alarmCount = 0;
  while (f < fields.size()) {
    if (d.alarmCount == ToneDetector::kMaxAlarms) {
      error = "more than 999 alarms";
      return false;
    }
    AlarmDefinition& alarm = d.alarms[static_cast<size_t>(d.alarmCount)];
    alarm.text = std::string(fields[f++]);
    const int32_t steps = f < fields.size() ? fieldNumber(fields[f++]) : 0;
    if (steps < 1 || steps > AlarmDefinition::kMaxSteps) {
      error = "alarm \"" + alarm.text + "\" has " + std::to_string(steps) + " steps, not 1 to 10";
      return false;
    }
    if (f + 3 * static_cast<size_t>(steps) > fields.size()) {
      error = "alarm \"" + alarm.text + "\" ends before its last step";
      return false;
    }
    alarm.stepCount = steps;
    for (int32_t s = 0; s < steps; ++s) {
      ToneStep& step = alarm.steps[static_cast<size_t>(s)];
      step.frequency1 = fieldNumber(fields[f++]);
      step.frequency2 = fieldNumber(fields[f++]);
      step.dualTone = fieldNumber(fields[f++]) != 0;
    }
    alarm.makeIdle();
    ++d.alarmCount;
  }
  return true;
}

bool loadConfigurationText(const std::string& path, ToneDetector& d, std::string& error) {
  std::string text;
  if (!readWhole(path, text)) {
    error = "cannot read " + path;
    return false;
  }
  return parseConfigurationText(text, d, error);
}

bool loadScrambledConfiguration(const std::string& path, ToneDetector&, std::string& error) {
  error = "reading scrambled configurations is not available in this build; give the decoded text with --text (" +
          path + ")";
  return false;
}

}  // namespace kantiq::scan
