#include "detector/tone_detector.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace kantiq {
namespace {

std::unique_ptr<ToneDetector> detectorWithHits(int requiredHits) {
  auto d = std::make_unique<ToneDetector>();
  d->requiredHits = requiredHits;
  return d;
}

void setHits(ToneStep& step, int n) {
  for (int i = 0; i < n; ++i) step.hits[static_cast<size_t>(i)] = true;
  step.detectedMs = 1;
}

TEST(ToneDetectorState, CapacitiesAndDefaults) {
  auto d = std::make_unique<ToneDetector>();
  EXPECT_EQ(d->alarms.size(), 999u);
  EXPECT_EQ(d->alarms[0].steps.size(), 10u);
  EXPECT_EQ(d->alarms[0].steps[0].hits.size(), 5u);
  EXPECT_EQ(d->peakMagnitude.size(), 1000u);
  EXPECT_EQ(d->alarmCount, 0);
  EXPECT_EQ(d->cursorColumn, 0);
  EXPECT_EQ(d->restartRequested.load(), 0);
  // Default records hold no stamps and an empty text.
  const AlarmDefinition& last = d->alarms[998];
  EXPECT_TRUE(last.text.empty());
  EXPECT_FALSE(last.raisedMs.has_value());
  EXPECT_FALSE(last.steps[9].detectedMs.has_value());
  EXPECT_FALSE(last.raised);
}

TEST(ToneDetectorState, StepCompletionCountsOnlyRequiredHits) {
  ToneStep step;
  setHits(step, 2);
  EXPECT_TRUE(detectorWithHits(1)->isStepComplete(step));
  EXPECT_TRUE(detectorWithHits(2)->isStepComplete(step));
  EXPECT_FALSE(detectorWithHits(3)->isStepComplete(step));
  setHits(step, 5);
  EXPECT_TRUE(detectorWithHits(5)->isStepComplete(step));
  step.hits[4] = false;
  EXPECT_FALSE(detectorWithHits(5)->isStepComplete(step));
}

TEST(ToneDetectorState, OutOfRangeRequiredHitsStaysInsideTheFlags) {
  ToneStep step;
  setHits(step, 5);
  EXPECT_TRUE(detectorWithHits(9)->isStepComplete(step));
  EXPECT_EQ(detectorWithHits(9)->countedHits(), 5);
  EXPECT_EQ(detectorWithHits(0)->countedHits(), 1);
  EXPECT_EQ(detectorWithHits(-4)->countedHits(), 1);
}

TEST(ToneDetectorState, ProgressStartAndCompletion) {
  auto d = detectorWithHits(2);
  AlarmDefinition& a = d->alarms[0];
  a.stepCount = 3;
  a.makeIdle();
  EXPECT_EQ(d->progress(a), 0);
  EXPECT_FALSE(ToneDetector::hasStarted(a));

  setHits(a.steps[0], 1);
  EXPECT_TRUE(ToneDetector::hasStarted(a));
  EXPECT_EQ(d->progress(a), 0);

  setHits(a.steps[0], 2);
  setHits(a.steps[2], 2);  // a later complete step does not count past a gap
  EXPECT_EQ(d->progress(a), 1);
  EXPECT_FALSE(d->isSequenceComplete(a));

  setHits(a.steps[1], 2);
  EXPECT_EQ(d->progress(a), 3);
  EXPECT_TRUE(d->isSequenceComplete(a));
}

TEST(ToneDetectorState, TenStepsCompleteOnlyWithTheLastStep) {
  auto d = detectorWithHits(1);
  AlarmDefinition& a = d->alarms[998];
  a.stepCount = 10;
  a.makeIdle();
  for (int s = 0; s < 9; ++s) setHits(a.steps[static_cast<size_t>(s)], 1);
  EXPECT_EQ(d->progress(a), 9);
  EXPECT_FALSE(d->isSequenceComplete(a));
  setHits(a.steps[9], 1);
  EXPECT_TRUE(d->isSequenceComplete(a));
}

TEST(ToneDetectorState, ResetClearsStepsButNotRaised) {
  auto d = detectorWithHits(5);
  AlarmDefinition& a = d->alarms[3];
  a.stepCount = 2;
  a.makeIdle();
  setHits(a.steps[0], 5);
  setHits(a.steps[1], 3);
  a.raised = true;
  a.raisedMs = 42;

  ToneDetector::resetSequence(a);
  for (int s = 0; s < 2; ++s) {
    for (bool h : a.steps[static_cast<size_t>(s)].hits) EXPECT_FALSE(h);
    EXPECT_FALSE(a.steps[static_cast<size_t>(s)].detectedMs.has_value());
  }
  EXPECT_TRUE(a.raised);
  EXPECT_EQ(a.raisedMs, 42);
}

TEST(ToneDetectorState, MakeIdleLeavesTheLoadedState) {
  AlarmDefinition a;
  a.stepCount = 1;
  setHits(a.steps[0], 3);
  a.raised = true;
  a.raisedMs = 7;
  a.makeIdle();
  EXPECT_FALSE(a.raised);
  EXPECT_FALSE(a.raisedMs.has_value());
  EXPECT_FALSE(a.steps[0].hits[0]);
  EXPECT_FALSE(a.steps[0].detectedMs.has_value());
}

TEST(ToneDetectorState, EmptySequenceIsCompleteByTheLetter) {
  // The detector must treat a stepless alarm specially; the plain notion
  // calls it complete, which is why the loader and detector care.
  auto d = detectorWithHits(1);
  AlarmDefinition& a = d->alarms[0];
  a.stepCount = 0;
  EXPECT_TRUE(d->isSequenceComplete(a));
}

class RecordingSink : public AlarmSink {
 public:
  void raiseAlarm(ToneDetector& detector, std::string text) override {
    EXPECT_NE(&detector, nullptr);
    texts.push_back(std::move(text));
  }
  std::vector<std::string> texts;
};

TEST(ToneDetectorState, RaiseAlarmGoesToTheSink) {
  auto d = std::make_unique<ToneDetector>();
  d->raiseAlarm("ignored without a sink");
  RecordingSink sink;
  d->alarmSink = &sink;
  d->raiseAlarm("FF Musterstadt");
  ASSERT_EQ(sink.texts.size(), 1u);
  EXPECT_EQ(sink.texts[0], "FF Musterstadt");
}

TEST(ToneDetectorState, RestartRequestFromOtherThreads) {
  auto d = std::make_unique<ToneDetector>();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { d->requestRestart(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(d->restartRequested.exchange(0), 1);
  EXPECT_EQ(d->restartRequested.load(), 0);
}

}  // namespace
}  // namespace kantiq
