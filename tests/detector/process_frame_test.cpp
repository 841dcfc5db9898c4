#include <gtest/gtest.h>

#include "detector/watchdog_flag_test_seam.h"
#include "detector_rig.h"

namespace kantiq {
namespace {

using testing::DetectorRig;

using Frame = std::vector<std::pair<int32_t, int32_t>>;

// What was played to alarm "A" over a noise floor of 4, frame by frame, and
// whether A is raised.
struct CallStory {
  const char* story;
  std::vector<Frame> frames;
  bool raised;
};

// Plays each story to a fresh rig holding one alarm "A" of the given tones;
// setUp changes the rig's parameters first.
template <typename SetUp>
void expectStories(const std::vector<CallStory>& stories, const std::vector<int32_t>& tones, SetUp setUp) {
  for (const CallStory& story : stories) {
    SCOPED_TRACE(story.story);
    DetectorRig rig;
    rig.noise = 4;
    setUp(rig);
    rig.addAlarm("A", tones);
    for (const Frame& frame : story.frames) rig.frameOf(frame);
    EXPECT_EQ(rig.sink.texts.size(), story.raised ? 1u : 0u);
  }
}

TEST(PeakExtraction, ThresholdsAreStrict) {
  struct Case {
    int32_t magnitude;
    int32_t bin;
    int32_t minimumFrequency;
    bool raised;
  } cases[] = {
      {5, 10, 0, false},     // magnitude equal to the threshold
      {6, 10, 0, true},      // one above
      {50, 10, 1000, false}, // frequency equal to the minimum
      {50, 10, 999, true},   // one hertz above it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "magnitude " << c.magnitude << " minimum " << c.minimumFrequency);
    DetectorRig rig;
    rig.detector->minimumFrequency = c.minimumFrequency;
    rig.addAlarm("A", {1000});
    rig.frame({{c.bin, c.magnitude}});
    EXPECT_EQ(rig.sink.texts.size(), c.raised ? 1u : 0u);
  }
}

TEST(PeakExtraction, OnlyBinsBelowTheHeightAndHalfThePointsAreExamined) {
  {
    DetectorRig rig(348, 100);  // rows for bins 0 to 99
    rig.addAlarm("top row", {9900});
    rig.addAlarm("above", {10000});
    rig.frame({{100, 90}, {99, 10}});
    EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"top row"}));
    // The strongest examined peak is bin 99, painted in row 0.
    EXPECT_EQ(rig.canvas.pixel(0, 0), kBlue);
  }
  {
    DetectorRig rig(348, 400);  // taller than the 128 bins a 256-point frame has
    rig.addAlarm("mirror", {12800});
    rig.addAlarm("last", {12700});
    rig.frame({{128, 90}, {127, 10}});
    EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"last"}));
  }
}

TEST(PeakExtraction, NeverMoreThanAThousandPeaks) {
  auto detector = std::make_unique<ToneDetector>();
  testing::RecordingSink sink;
  testing::ManualClock clock;
  detector->clock = &clock;
  detector->alarmSink = &sink;
  detector->offlineHeight = 3000;  // taller than the peak lists
  detector->magnitudeThreshold = 0;
  detector->minimumFrequency = -1;
  detector->peaksExamined = 1;
  detector->frequencyTolerance = 1;
  detector->requiredHits = 1;
  detector->sequenceTimeout = 1000;
  detector->retriggerDelay = 1000;
  // 4096 points at 4096 Hz: bin i is i Hz; magnitudes grow with the bin.
  SpectrumTransform t(4096, 4096);
  for (size_t i = 0; i < t.bins().size(); ++i) t.bins()[i] = (static_cast<double>(i) + 1.5) * 256.0 * t.normaliser();
  for (int32_t f : {999, 1000, 2047}) {
    AlarmDefinition& a = detector->alarms[static_cast<size_t>(detector->alarmCount++)];
    a.text = std::to_string(f);
    a.stepCount = 1;
    a.steps[0].frequency1 = f;
    a.makeIdle();
  }
  detector->processFrame(t);
  // Bins 0 to 999 fill the lists; the strongest of them is bin 999. It lies
  // on the slope that rises to bin 2047, so the tone it stands for is there.
  EXPECT_EQ(sink.texts, (std::vector<std::string>{"2047"}));
  EXPECT_EQ(detector->restartRequested.load(), 0);
}

TEST(PeakSorting, EqualMagnitudesPutTheHigherBinFirst) {
  DetectorRig rig;
  rig.detector->peaksExamined = 1;
  rig.addAlarm("low", {1000});
  rig.addAlarm("high", {2000});
  rig.frame({{10, 40}, {20, 40}, {30, 39}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"high"}));
  // The strongest peak painted is bin 20 (row 179, green for 40), the match marker on top of it.
  EXPECT_EQ(rig.canvas.pixel(0, 179), kMatchColour);
  EXPECT_EQ(rig.canvas.pixel(0, 189), kBlack);
}

TEST(PeakSorting, OnlyThePeaksExaminedTakePart) {
  DetectorRig rig;
  rig.detector->peaksExamined = 2;
  rig.addAlarm("second", {2000});
  rig.addAlarm("third", {3000});
  rig.frame({{10, 90}, {20, 80}, {30, 70}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"second"}));

  DetectorRig none;
  none.detector->peaksExamined = 0;
  none.addAlarm("A", {1000});
  none.frame({{10, 90}});
  EXPECT_TRUE(none.sink.texts.empty());
  EXPECT_EQ(none.canvas.pixelsSet(), 0);  // neither peak nor match painted
}

TEST(Matching, ToleranceWindowIsOpenAtBothEnds) {
  struct Case {
    int32_t tone;
    bool matches;
  } cases[] = {{1030, false}, {1029, true}, {970, false}, {971, true}, {1000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tone);
    DetectorRig rig;  // tolerance 30 Hz, peak at 1000 Hz
    rig.addAlarm("A", {c.tone});
    rig.frame({{10, 50}});
    EXPECT_EQ(rig.sink.texts.size(), c.matches ? 1u : 0u);
  }
}

TEST(Matching, DualToneStepsTakeEitherFrequency) {
  DetectorRig rig;
  rig.addAlarm("dual", {500});
  rig.addAlarm("single", {600});
  ToneStep& dual = rig.detector->alarms[0].steps[0];
  dual.frequency2 = 1000;
  dual.dualTone = true;
  ToneStep& single = rig.detector->alarms[1].steps[0];
  single.frequency2 = 1000;  // ignored: not a dual-tone step
  rig.frame({{10, 50}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"dual"}));
}

TEST(Matching, NeighbouringBinsOfOneToneEachCountAsAHit) {
  DetectorRig rig;
  rig.detector->requiredHits = 3;
  rig.detector->frequencyTolerance = 150;  // bins are 100 Hz apart here
  rig.addAlarm("three", {1000});
  rig.frame({{9, 30}, {10, 60}, {11, 30}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"three"}));

  DetectorRig two;
  two.detector->requiredHits = 3;
  two.detector->frequencyTolerance = 150;
  two.addAlarm("three", {1000});
  two.frame({{10, 60}, {11, 30}});
  EXPECT_TRUE(two.sink.texts.empty());
  EXPECT_TRUE(two.detector->alarms[0].steps[0].hits[1]);
  EXPECT_FALSE(two.detector->alarms[0].steps[0].hits[2]);
}

TEST(Sequence, ThreeTonesInOrderRaiseInTheFrameOfTheLastHit) {
  DetectorRig rig;
  rig.detector->requiredHits = 2;
  rig.detector->peaksExamined = 4;
  rig.addAlarm("Wache 1", {1000, 1500, 2000});
  rig.frame({{10, 50}});
  rig.frame({{10, 50}});
  rig.frame({{10, 30}, {15, 50}});  // the first tone fades out under the second
  rig.frame({{15, 50}});
  rig.frame({{15, 30}, {20, 50}});
  EXPECT_TRUE(rig.sink.texts.empty());
  rig.frame({{20, 50}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"Wache 1"}));
  const AlarmDefinition& a = rig.detector->alarms[0];
  EXPECT_TRUE(a.raised);
  EXPECT_EQ(a.raisedMs, rig.clock.tickMs());
  EXPECT_FALSE(a.steps[0].hits[0]);  // reset after raising
  rig.frame({{20, 50}});
  rig.frame({});
  EXPECT_EQ(rig.sink.texts.size(), 1u);
}

TEST(Sequence, AFrameWithoutTheTonesReturnsToIdle) {
  DetectorRig rig;
  rig.addAlarm("A", {1000, 1500, 2000});
  rig.frame({{10, 50}});
  rig.frame({{15, 50}});
  EXPECT_TRUE(rig.detector->alarms[0].steps[1].hits[0]);
  rig.frame({{40, 50}});  // none of the tones
  EXPECT_FALSE(rig.detector->alarms[0].steps[0].hits[0]);
  EXPECT_FALSE(rig.detector->alarms[0].steps[0].detectedMs.has_value());
  rig.frame({{20, 50}});
  EXPECT_TRUE(rig.sink.texts.empty());
}

// Noise in the frames around a call can stand in for one of an alarm's
// tones. Frames hold noise at 4 (the floor); a tone at 50 stands clear of it,
// a tone at 16 does not (under 5 times the floor) and is as likely noise.
TEST(Sequence, AToneThatNeverStoodClearOfTheNoiseIsJudgedByTheCallsOtherTones) {
  expectStories(
      {
      {"a weak last tone after a clear call is noise after the call", {{{10, 50}}, {{15, 50}}, {{20, 16}}}, false},
      {"a weak last tone at the level of a weak call completes it", {{{10, 16}}, {{15, 16}}, {{20, 16}}}, true},
      {"even after one louder frame of the call: the bar is the second strongest earlier tone",
       {{{10, 40}}, {{15, 16}}, {{20, 16}}}, true},
      {"a next tone long after the step before was last heard clear is not this call's",
       {{{10, 50}}, {{10, 16}}, {{10, 16}}, {{10, 16}}, {{10, 16}}, {{15, 50}}, {{20, 50}}}, false},
      {"a long clear tone holds its step", {{{10, 50}}, {{10, 50}}, {{10, 50}}, {{10, 50}}, {{10, 50}}, {{15, 50}}, {{20, 50}}}, true},
      {"a first tone that stood clear is kept when the next is louder", {{{10, 24}}, {{15, 50}}, {{20, 50}}}, true},
      {"but not under a quarter of the next: the splatter of the call's start", {{{10, 24}}, {{15, 100}}, {{20, 100}}},
       false},
      {"a clear tone outlasts one frame that lost it", {{{10, 50}}, {}, {{15, 50}}, {{20, 50}}}, true},
      {"but not two", {{{10, 50}}, {}, {}, {{15, 50}}, {{20, 50}}}, false},
      {"a weak tone outlasts none", {{{10, 16}}, {}, {{15, 16}}, {{20, 16}}}, false},
      {"nor does a clear one when another clear tone is sent", {{{10, 50}}, {{40, 50}}, {{15, 50}}, {{20, 50}}}, false},
      {"a clear tone the alarm does not have ends the sequence in its second frame, whatever noise holds it",
       {{{10, 50}}, {{15, 50}}, {{40, 50}, {15, 16}}, {{40, 50}, {15, 16}}, {{20, 50}}}, false},
      {"in its second frame it need only stay the strongest, at 4 times the floor, whatever weak match holds it",
       {{{10, 50}}, {{15, 50}}, {{40, 50}, {20, 16}}, {{40, 18}, {20, 16}}, {{20, 50}}}, false},
      {"splatter between two steps' tones, under them for two frames, ends nothing",
       {{{10, 50}}, {{15, 50}}, {{15, 50}, {17, 25}}, {{20, 50}, {17, 25}}}, true},
      },
      {1000, 1500, 2000}, [](DetectorRig&) {});
}

// A steady tone shows in its frame as one hill; two hills of a tone's
// window, each as strong as a clear tone, are noise or the splatter of the
// call's first tone change, and the step they complete never stood clear.
// The window here spans five bins (1000 Hz +- 250), the floor is 4.
TEST(Sequence, ATonesWindowHoldingTwoHillsIsNoClearHearingOfIt) {
  expectStories(
      {
      {"two hills before a second tone more than twice as loud: noise before the call",
       {{{9, 24}, {11, 24}}, {{15, 50}}, {{20, 50}}}, false},
      {"one hill whose top two bins share stands clear", {{{10, 24}, {11, 24}}, {{15, 50}}, {{20, 50}}}, true},
      {"two hills at the call's level are still its first tone", {{{9, 24}, {11, 24}}, {{15, 40}}, {{20, 40}}},
       true},
      },
      {1000, 1500, 2000}, [](DetectorRig& rig) { rig.detector->frequencyTolerance = 250; });
}

// One encoder sends every tone of a call off by the same fraction, so a
// clear tone shows where the call puts a first step heard only in noise.
// The first frame of a tone can span the change from the tone before, and
// its top lies off; the frames after it show the tone's own frequency. The
// window spans five bins (2000 Hz +- 250), a step needs two hits, the floor
// is 4: the first tone at 16 never stands clear, the others at 30 do.
TEST(Sequence, AFirstStepHeardOnlyInNoiseIsCheckedAgainstTheNextTonesSteadyFrames) {
  expectStories(
      {
      {"the next tone's first frame lies off, its second where the first tone was heard",
       {{{20, 16}}, {{20, 16}}, {{17, 30}}, {{15, 30}}, {{10, 30}}, {{10, 30}}}, true},
      {"the next tone stays off: the first tone was noise before the call",
       {{{20, 16}}, {{20, 16}}, {{17, 30}}, {{17, 30}}, {{10, 30}}, {{10, 30}}}, false},
      },
      {2000, 1500, 1000}, [](DetectorRig& rig) {
        rig.detector->frequencyTolerance = 250;
        rig.detector->requiredHits = 2;
      });
}

// 33333 is sent as 3 R 3 R 3 and 43333 as 4 3 R 3 R: noise just before a
// call of 33333 that stands in for the 4 completes 43333 one tone before the
// call completes 33333, and noise just after a call of 43333 that stands in
// for a last 3 completes 33333. Tones at 30 stand clear of the floor of 4,
// noise at 16 does not; both table orders.
TEST(Raising, ACodeReadFromACallShiftedByOneToneGivesWayToTheCodeSent) {
  const Frame four16{{14, 16}}, four30{{14, 30}}, three{{12, 30}}, repeat{{26, 30}}, none{};
  struct Row {
    const char* story;
    std::vector<Frame> frames;
    std::vector<std::string> raised;
  } rows[] = {
      {"noise standing in for the 4 before a call of 33333", {four16, three, repeat, three, repeat, three},
       {"33333"}},
      {"a call of 43333 whose 4 never stood clear, once 33333 stops short",
       {four16, three, repeat, three, repeat, none, none, none}, {"43333"}},
      {"a call of 43333 whose 4 stood clear, at once", {four30, three, repeat, three, repeat}, {"43333"}},
      {"a call of 43333 and noise after it standing in for 33333's last 3",
       {four30, three, repeat, three, repeat, {{12, 16}}}, {"43333"}},
  };
  for (const Row& row : rows) {
    for (const bool longerFirst : {true, false}) {
      SCOPED_TRACE(std::string(row.story) + (longerFirst ? ", 33333 first" : ", 43333 first"));
      DetectorRig rig;
      rig.noise = 4;
      if (longerFirst) rig.addAlarm("33333", {1200, 2600, 1200, 2600, 1200});
      rig.addAlarm("43333", {1400, 1200, 2600, 1200, 2600});
      if (!longerFirst) rig.addAlarm("33333", {1200, 2600, 1200, 2600, 1200});
      for (const Frame& frame : row.frames) rig.frameOf(frame);
      EXPECT_EQ(rig.sink.texts, row.raised);
    }
  }
}

TEST(Sequence, AStepEqualToThePreviousTakesHitsAtOnce) {
  DetectorRig rig;
  rig.addAlarm("AAB", {1000, 1000, 2000});
  rig.frame({{10, 50}});  // step 0 complete; step 1 becomes current only next frame
  EXPECT_FALSE(rig.detector->alarms[0].steps[1].hits[0]);
  rig.frame({{10, 50}});
  EXPECT_TRUE(rig.detector->alarms[0].steps[1].hits[0]);
  rig.frame({{20, 50}});
  EXPECT_EQ(rig.sink.texts.size(), 1u);
}

// The second of three tones sounds from t+500 until lastGapMs later, when
// the third comes (the tones of a call follow one another).
void secondToneThenThird(DetectorRig& rig, int64_t lastGapMs) {
  rig.frame({{10, 50}, {15, 40}}, 500);  // the first tone only holds the sequence; step 1 hit
  for (int i = 0; i < 4; ++i) rig.frame({{15, 40}}, 100);
  rig.frame({{20, 50}}, lastGapMs - 400);
}

TEST(Timers, SequenceTimeoutCountsFromTheLastHitOnTheFirstStep) {
  for (int64_t lastGapMs : {500, 501}) {
    SCOPED_TRACE(lastGapMs);
    DetectorRig rig;
    rig.addAlarm("A", {1000, 1500, 2000});
    rig.frame({{10, 50}});  // t: the only hit on step 0
    // The first step's stamp stays at t: the last tone comes at t+1000 (not
    // more than the timeout: raised) or at t+1001 (the timer resets first).
    secondToneThenThird(rig, lastGapMs);
    EXPECT_EQ(rig.sink.texts.size(), lastGapMs == 500 ? 1u : 0u);
  }
}

TEST(Timers, RetriggerDelayIsStrict) {
  DetectorRig rig;
  rig.detector->retriggerDelay = 1000;
  rig.addAlarm("A", {1000});
  rig.frame({{10, 50}});
  ASSERT_EQ(rig.sink.texts.size(), 1u);
  rig.frame({{10, 50}}, 500);  // complete again while raised: nothing
  rig.frame({{10, 50}}, 500);  // exactly the delay: still raised
  EXPECT_EQ(rig.sink.texts.size(), 1u);
  EXPECT_TRUE(rig.detector->alarms[0].raised);
  // One millisecond more: cleared by the timer and, the tone still sounding,
  // raised again in the same frame.
  rig.frame({{10, 50}}, 1);
  EXPECT_EQ(rig.sink.texts.size(), 2u);
}

// The wall clock jumps (the end of summer time, a user setting the clock)
// while the monotonic tick runs on: both timers count on the tick, so a step
// neither holds an alarm back nor lets it through twice. Each row runs once
// without a step and once with it; both runs raise the same.
struct WallStepRow {
  const char* what;
  bool retrigger;      // the retrigger delay, else the sequence timeout
  int64_t wallStepMs;  // the wall clock's jump between the first frames
  int64_t lastGapMs;   // the last frame comes this much after the one before
  size_t alarms;       // raised in all
};

size_t raisedAcrossAWallStep(const WallStepRow& row, int64_t wallStepMs) {
  DetectorRig rig;
  if (row.retrigger) {
    // Delay 1000: raised at t; a silent frame at t+500; the tone again at
    // t+500+lastGap.
    rig.detector->retriggerDelay = 1000;
    rig.addAlarm("A", {1000});
    rig.frame({{10, 50}});
    rig.frame({}, 500);
    rig.clock.stepWall(wallStepMs);
    rig.frame({{10, 50}}, row.lastGapMs);
  } else {
    // Timeout 1000: the only hit on the first step at t, the second step at
    // t+500 under the fading first tone, the last at t+500+lastGap.
    rig.addAlarm("A", {1000, 1500, 2000});
    rig.frame({{10, 50}});
    rig.clock.stepWall(wallStepMs);
    secondToneThenThird(rig, row.lastGapMs);
  }
  return rig.sink.texts.size();
}

TEST(Timers, AWallClockStepMovesNeitherTimer) {
  constexpr int64_t kHour = 3'600'000;
  const WallStepRow rows[] = {
      // A clock set back holds no timer until it has caught up: the same code
      // is raised again just after the delay ...
      {"retrigger, an hour back, past the delay", true, -kHour, 501, 2},
      {"retrigger, a minute back, past the delay", true, -60'000, 501, 2},
      // ... and not before it.
      {"retrigger, an hour back, at the delay", true, -kHour, 500, 1},
      // A clock set forward ends no delay early: no second alarm.
      {"retrigger, an hour forward, within the delay", true, kHour, 200, 1},
      {"retrigger, an hour forward, past the delay", true, kHour, 501, 2},
      // A clock set forward breaks off no call under way ...
      {"timeout, an hour forward, at the timeout", false, kHour, 500, 1},
      // ... and a clock set back keeps none alive beyond the timeout.
      {"timeout, an hour back, past the timeout", false, -kHour, 501, 0},
      {"timeout, an hour back, at the timeout", false, -kHour, 500, 1},
  };
  for (const WallStepRow& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(raisedAcrossAWallStep(row, row.wallStepMs), row.alarms);
    EXPECT_EQ(raisedAcrossAWallStep(row, 0), row.alarms);
  }
}

TEST(Raising, AlarmsCompletingTogetherAreRaisedInTableOrderEachBeforeTheNextIsMatched) {
  DetectorRig rig;
  rig.addAlarm("first", {1000});
  rig.addAlarm("second", {1000});
  std::vector<bool> secondHadHit;
  rig.sink.onRaise = [&](ToneDetector& d, const std::string&) {
    secondHadHit.push_back(d.alarms[1].raised);
  };
  rig.frame({{10, 50}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(secondHadHit, (std::vector<bool>{false, true}));
  EXPECT_EQ(rig.canvas.pixelsSet(), 4);  // one peak and one marker for the whole frame
}

TEST(Raising, TheSinkGetsACopyOfTheText) {
  DetectorRig rig;
  rig.addAlarm("Einsatz Löschzug", {1000});
  rig.sink.onRaise = [](ToneDetector& d, const std::string&) { d.alarms[0].text = "changed"; };
  rig.frame({{10, 50}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"Einsatz Löschzug"}));
}

TEST(Raising, AFullTableOf999Alarms) {
  DetectorRig rig;
  for (int i = 0; i < ToneDetector::kMaxAlarms; ++i) {
    rig.addAlarm("alarm " + std::to_string(i), {i == 998 ? 2000 : 500 + (i % 5)});
  }
  ASSERT_EQ(rig.detector->alarmCount, 999);
  rig.frame({{20, 50}});
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"alarm 998"}));
  EXPECT_EQ(rig.canvas.pixelsSet(), 4);  // one peak and one match marker, two columns each
}

TEST(Raising, AlarmsWithoutStepsAreNeverRaised) {
  DetectorRig rig;
  rig.addAlarm("no steps", {});
  rig.addAlarm("too many", {1000});
  rig.detector->alarms[1].stepCount = 11;
  rig.addAlarm("B", {1000});
  for (int i = 0; i < 3; ++i) rig.frame({{10, 50}}, 10'000);
  EXPECT_EQ(rig.sink.texts, (std::vector<std::string>{"B", "B", "B"}));
  // The strongest peak is still shown while the first alarm is looked at.
  EXPECT_EQ(rig.canvas.pixel(4, 189), kMatchColour);
}

TEST(Restart, ARequestMadeWhileRaisingRestartsAtTheEndOfThatFrame) {
  DetectorRig rig;
  rig.addAlarm("A", {1000});
  rig.sink.onRaise = [&](ToneDetector& d, const std::string&) {
    d.requestRestart();
    EXPECT_EQ(rig.monitor.restarts, 0);
  };
  rig.frame({{10, 50}});
  EXPECT_EQ(rig.monitor.restarts, 1);
  EXPECT_EQ(rig.detector->restartRequested.load(), 0);
  rig.frame({});
  EXPECT_EQ(rig.monitor.restarts, 1);
}

TEST(Restart, ARequestMadeDuringTheRestartWaitsForTheNextFrame) {
  DetectorRig rig;
  bool again = true;
  rig.monitor.onRestart = [&] {
    if (again) rig.detector->requestRestart();
    again = false;
  };
  rig.detector->requestRestart();
  rig.frame({});
  EXPECT_EQ(rig.monitor.restarts, 1);
  EXPECT_EQ(rig.detector->restartRequested.load(), 1);
  rig.frame({});
  EXPECT_EQ(rig.monitor.restarts, 2);
  rig.frame({});
  EXPECT_EQ(rig.monitor.restarts, 2);
}

class CountingStarter final : public WatchdogStarter {
 public:
  void startWatchdogs(ToneDetector&) override { ++starts; }
  int starts = 0;
};

TEST(Watchdogs, OnlyTheFirstFrameOfTheProcessStartsThem) {
  resetWatchdogFlagForTesting();
  CountingStarter starter;
  DetectorRig one;
  DetectorRig two;
  one.detector->watchdogStarter = &starter;
  two.detector->watchdogStarter = &starter;
  EXPECT_TRUE(watchdogFlagIsSet());
  one.frame({});
  EXPECT_FALSE(watchdogFlagIsSet());
  one.frame({});
  two.frame({});
  EXPECT_EQ(starter.starts, 1);
}

// A started sequence whose tone stood clear outlasts one empty frame (a
// weak tone drops out of a frame now and then); the second ends it.
TEST(Spectrogram, EmptyFramesDrawOnlyTheCursorAndTheSecondEndsStartedSequences) {
  DetectorRig rig;
  rig.addAlarm("A", {1000, 2000});
  rig.frame({{10, 50}});
  rig.canvas.fill(kGreen);
  rig.frame({});
  EXPECT_TRUE(rig.detector->alarms[0].steps[0].hits[0]);
  EXPECT_EQ(rig.canvas.pixelsSet(), 4);  // peak and match of the first frame only
  for (int32_t y : {0, 100, 199}) {
    EXPECT_EQ(rig.canvas.pixel(2, y), kBlack);  // erased pair
    EXPECT_EQ(rig.canvas.pixel(3, y), kBlack);
    EXPECT_EQ(rig.canvas.pixel(4, y), kWhite);  // new cursor
    EXPECT_EQ(rig.canvas.pixel(5, y), kGreen);
  }
  EXPECT_EQ(rig.canvas.framesBegun(), 2);
  EXPECT_EQ(rig.canvas.framesEnded(), 2);
  rig.frame({});
  EXPECT_FALSE(rig.detector->alarms[0].steps[0].hits[0]);
  EXPECT_EQ(rig.canvas.pixelsSet(), 4);
}

TEST(Spectrogram, MagnitudeBandsAtTheirEdges) {
  struct Case {
    int32_t magnitude;
    Rgb colour;
  } cases[] = {{15, kNavy},  {16, kBlue},   {31, kBlue},    {32, kGreen}, {63, kGreen},
               {64, kYellow}, {127, kYellow}, {128, kOrange}, {255, kOrange}, {256, kRed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.magnitude);
    EXPECT_EQ(magnitudeColour(c.magnitude), c.colour);
    DetectorRig rig;
    rig.addAlarm("elsewhere", {5000});
    rig.frame({{7, c.magnitude}});
    EXPECT_EQ(rig.canvas.pixel(0, 192), c.colour);
    EXPECT_EQ(rig.canvas.pixel(1, 192), c.colour);
    EXPECT_EQ(rig.canvas.pixel(2, 192), kWhite);
  }
}

TEST(Spectrogram, MatchMarkerRowOfABin) {
  DetectorRig rig(348, 200);
  rig.detector->peaksExamined = 2;
  rig.addAlarm("A", {1000, 3000});
  rig.frame({{10, 100}, {30, 300}});  // strongest peak bin 30 red, match on bin 10
  EXPECT_EQ(rig.canvas.pixel(0, 189), kMatchColour);
  EXPECT_EQ(rig.canvas.pixel(1, 189), kMatchColour);
  EXPECT_EQ(rig.canvas.pixel(0, 169), kRed);
}

TEST(Spectrogram, CursorWrapsAtTheWidth) {
  DetectorRig rig(348, 20);
  std::vector<int32_t> columns;
  for (int i = 0; i < 174; ++i) {
    rig.frame({});
    columns.push_back(rig.detector->cursorColumn);
  }
  EXPECT_EQ(columns[0], 2);
  EXPECT_EQ(columns[172], 346);
  EXPECT_EQ(columns[173], 0);
  EXPECT_EQ(rig.canvas.pixel(0, 5), kWhite);    // cursor drawn after the wrap
  EXPECT_EQ(rig.canvas.pixel(346, 5), kBlack);  // and the pair before it erased
  EXPECT_EQ(rig.canvas.pixel(347, 5), kBlack);
  rig.frame({});
  EXPECT_EQ(rig.detector->cursorColumn, 2);

  DetectorRig odd(347, 20);  // the pair at 346 reaches outside and is clipped
  odd.detector->cursorColumn = 346;
  odd.addAlarm("x", {5000});
  odd.frame({{3, 50}});
  EXPECT_EQ(odd.canvas.pixel(346, 16), kGreen);
  EXPECT_EQ(odd.detector->cursorColumn, 0);
}

TEST(Spectrogram, OfflineSizeBoundsTheBins) {
  auto detector = std::make_unique<ToneDetector>();
  testing::RecordingSink sink;
  testing::ManualClock clock;
  detector->clock = &clock;
  detector->alarmSink = &sink;
  detector->offlineWidth = 10;
  detector->offlineHeight = 30;
  detector->magnitudeThreshold = 1;
  detector->frequencyTolerance = 30;
  detector->peaksExamined = 1;
  detector->requiredHits = 1;
  for (int32_t f : {2900, 3000}) {
    AlarmDefinition& a = detector->alarms[static_cast<size_t>(detector->alarmCount++)];
    a.text = std::to_string(f);
    a.stepCount = 1;
    a.steps[0].frequency1 = f;
    a.makeIdle();
  }
  SpectrumTransform t(256, 25600);
  for (int32_t bin : {29, 30}) {
    for (auto& b : t.bins()) b = 0.0;
    t.bins()[static_cast<size_t>(bin)] = 100.0 * 256.0 * t.normaliser();
    detector->processFrame(t);
  }
  EXPECT_EQ(sink.texts, (std::vector<std::string>{"2900"}));
  for (int i = 0; i < 3; ++i) detector->processFrame(t);
  EXPECT_EQ(detector->cursorColumn, 0);  // five frames of two columns in a width of 10
}

}  // namespace
}  // namespace kantiq
