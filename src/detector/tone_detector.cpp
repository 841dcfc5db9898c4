#include "detector/tone_detector.h"

#include <algorithm>
#include <utility>

namespace kantiq {

void AlarmDefinition::makeIdle() {
  for (ToneStep& step : steps) {
    step.hits.fill(false);
    step.detectedMs.reset();
    step.level = 0;
    step.clear = false;
    step.levelFrequency = 0;
    step.heardMs.reset();
  }
  dropoutHeld = false;
  otherToneHz = 0;
  completedMs.reset();
  heldFor = -1;
  heldMs.reset();
  raisedMs.reset();
  raised = false;
}

ToneDetector::~ToneDetector() {
  if (watchdogStarter != nullptr) watchdogStarter->detectorGone(*this);
}

int32_t ToneDetector::countedHits() const {
  return std::clamp<int32_t>(requiredHits, 1, ToneStep::kMaxHits);
}

bool ToneDetector::isStepComplete(const ToneStep& step) const {
  const int32_t n = countedHits();
  for (int32_t i = 0; i < n; ++i) {
    if (!step.hits[static_cast<size_t>(i)]) return false;
  }
  return true;
}

int32_t ToneDetector::progress(const AlarmDefinition& alarm) const {
  const int32_t count = std::clamp<int32_t>(alarm.stepCount, 0, AlarmDefinition::kMaxSteps);
  int32_t k = 0;
  while (k < count && isStepComplete(alarm.steps[static_cast<size_t>(k)])) ++k;
  return k;
}

bool ToneDetector::isSequenceComplete(const AlarmDefinition& alarm) const {
  const int32_t count = std::clamp<int32_t>(alarm.stepCount, 0, AlarmDefinition::kMaxSteps);
  return progress(alarm) == count;
}

void ToneDetector::resetSequence(AlarmDefinition& alarm) {
  const int32_t count = std::clamp<int32_t>(alarm.stepCount, 0, AlarmDefinition::kMaxSteps);
  for (int32_t s = 0; s < count; ++s) {
    ToneStep& step = alarm.steps[static_cast<size_t>(s)];
    step.hits.fill(false);
    step.detectedMs.reset();
    step.level = 0;
    step.clear = false;
    step.levelFrequency = 0;
    step.heardMs.reset();
  }
  alarm.dropoutHeld = false;
  alarm.otherToneHz = 0;
}

void ToneDetector::raiseAlarm(std::string text) {
  if (alarmSink != nullptr) alarmSink->raiseAlarm(*this, std::move(text));
}

}  // namespace kantiq
