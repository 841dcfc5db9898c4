// Five-tone calls synthesised by the signal kit go through the transform and
// the detector exactly as live capture would feed them: 44100 Hz, 8 bits,
// 2048 points, 1472 samples per capture buffer.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture_feed.h"
#include "detector_rig.h"
#include "signal_kit/signal_kit.h"

namespace kantiq {
namespace {

constexpr int kRate = testing::kCaptureRate;

using Raised = testing::RaisedAt;

std::vector<int32_t> zvei(std::string_view code) {
  std::vector<int32_t> out;
  for (double hz : signal::codeFrequencies(code, signal::zvei1())) out.push_back(static_cast<int32_t>(hz));
  return out;
}

std::unique_ptr<ToneDetector> zveiDetector(const std::vector<std::string>& codes) {
  auto d = std::make_unique<ToneDetector>();
  d->frequencyTolerance = 40;
  d->minimumFrequency = 300;
  d->requiredHits = 2;
  d->sequenceTimeout = 1000;
  d->peaksExamined = 4;
  d->magnitudeThreshold = 8;
  d->retriggerDelay = 10000;
  for (const std::string& code : codes) {
    AlarmDefinition& a = d->alarms[static_cast<size_t>(d->alarmCount++)];
    a.text = "Schleife " + code;
    const std::vector<int32_t> tones = zvei(code);
    a.stepCount = static_cast<int32_t>(tones.size());
    for (size_t s = 0; s < tones.size(); ++s) a.steps[s].frequency1 = tones[s];
    a.makeIdle();
  }
  return d;
}

std::vector<Raised> listen(ToneDetector& d, const signal::Samples& audio) { return testing::listenAsCaptured(d, audio); }

signal::Samples call(std::string_view code, double toneSeconds, double amplitude) {
  return signal::concat({signal::silence(0.3, kRate),
                         signal::fiveToneCall(code, signal::zvei1(), toneSeconds, amplitude, kRate),
                         signal::silence(0.5, kRate)});
}

const std::vector<std::string> kCodes = {"12345", "12346", "54321", "11234", "90000"};

TEST(RoundTrip, EachCallRaisesItsOwnAlarmOnce) {
  for (const std::string& code : kCodes) {
    for (double toneSeconds : {0.060, 0.070, 0.090}) {
      SCOPED_TRACE(code + " at " + std::to_string(toneSeconds));
      auto d = zveiDetector(kCodes);
      const std::vector<Raised> raised = listen(*d, call(code, toneSeconds, 0.5));
      ASSERT_EQ(raised.size(), 1u);
      EXPECT_EQ(raised[0].text, "Schleife " + code);
      // Raised at the end of the call, not before its last tone began.
      const double end = 0.3 + 5 * toneSeconds;
      EXPECT_GT(raised[0].seconds, end - toneSeconds);
      EXPECT_LT(raised[0].seconds, end + 0.1);
    }
  }
}

TEST(RoundTrip, CallsInNoiseAndBackToBack) {
  auto d = zveiDetector(kCodes);
  signal::Samples audio = signal::concat({call("54321", 0.070, 0.3), call("11234", 0.070, 0.3),
                                          call("54321", 0.070, 0.3)});
  signal::mixInto(audio, signal::bandLimitedNoise(static_cast<double>(audio.size()) / kRate, 0.05,
                                                  300, 3400, kRate, 7));
  const std::vector<Raised> raised = listen(*d, audio);
  // The second "54321" comes within the retrigger delay of the first.
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0].text, "Schleife 54321");
  EXPECT_EQ(raised[1].text, "Schleife 11234");
}

TEST(RoundTrip, UnconfiguredCodesAndNoiseRaiseNothing) {
  auto d = zveiDetector(kCodes);
  signal::Samples audio = signal::concat({call("12354", 0.070, 0.5), call("22345", 0.070, 0.5),
                                          call("1234", 0.070, 0.5),
                                          signal::whiteNoise(2.0, 0.3, kRate, 3)});
  EXPECT_TRUE(listen(*d, audio).empty());
}

// The parameters recommended in examples/kantiq.toml: the widest tolerance
// that keeps neighbouring ZVEI tones apart, only the three strongest peaks.
TEST(RoundTrip, NeighbouringDigitsStayApartAtTheEdgesOfTheTolerance) {
  const std::vector<std::string> codes = {"13456", "23456", "24680", "13579", "14579"};
  for (const std::string& code : codes) {
    for (double error : {-0.015, 0.0, 0.015}) {
      SCOPED_TRACE(code + " off by " + std::to_string(error));
      auto d = zveiDetector(codes);
      d->frequencyTolerance = 50;
      d->minimumFrequency = 1000;
      d->peaksExamined = 3;
      std::vector<double> hz = signal::codeFrequencies(code, signal::zvei1());
      for (double& f : hz) f *= 1 + error;
      const signal::Samples audio = signal::concat(
          {signal::silence(0.3, kRate), signal::toneSequence(hz, 0.060, 0.3, kRate), signal::silence(0.5, kRate)});
      const std::vector<Raised> raised = listen(*d, audio);
      ASSERT_EQ(raised.size(), 1u);
      EXPECT_EQ(raised[0].text, "Schleife " + code);
    }
  }
}

}  // namespace
}  // namespace kantiq
