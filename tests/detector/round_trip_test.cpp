// Five-tone calls synthesised by the signal kit go through the transform and
// the detector exactly as live capture would feed them: 44100 Hz, 8 bits,
// 2048 points, 1472 samples per capture buffer.

#include <gtest/gtest.h>

#include <cmath>
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

// A call as an encoder sends it: every tone toneSeconds long, the whole call
// off by error, each tone starting at phase 0 (abrupt changes, as from a
// generator that switches oscillators) or where the last one ended.
signal::Samples encoderCall(std::string_view code, double toneSeconds, double error, bool continuous,
                            double amplitude) {
  std::vector<signal::Samples> tones;
  double phase = 0;
  for (double hz : signal::codeFrequencies(code, signal::zvei1())) {
    const double f = hz * (1 + error);
    tones.push_back(signal::tone(f, toneSeconds, amplitude, kRate, continuous ? phase : 0.0));
    phase += 2 * 3.14159265358979323846 * f * static_cast<double>(tones.back().size()) / kRate;
  }
  return signal::concat(tones);
}

std::unique_ptr<ToneDetector> exampleDetector(const std::vector<std::string>& codes) {
  auto d = zveiDetector(codes);  // then the parameters of examples/kantiq.toml
  d->frequencyTolerance = 50;
  d->minimumFrequency = 1000;
  d->peaksExamined = 3;
  return d;
}

std::string texts(const std::vector<Raised>& raised) {
  std::string out;
  for (const Raised& r : raised) out += (out.empty() ? "" : ", ") + r.text;
  return out;
}

// A control centre calls the unit next door, whose code differs from a
// configured one in one digit, three times over, loud and clear or in noise
// as strong as the tones. Only the unit called is raised, once, wherever the
// call falls within a capture buffer, whatever the encoder's tone length and
// frequency error, with abrupt and with phase-continuous tone changes. Where
// the called code's tones lie between the configured code's (23346 against
// 23345), a tone change spreads energy into the bins between them, and a
// strong tone's skirt reaches the next tone's window. In noise, a noise peak
// just after the call can stand in for the configured code's last tone
// (23347, 23343 and 43333 raising their neighbours), and one just before it
// for the first (33333 raising 43333, whose remaining tones it sends).
TEST(RoundTrip, CallsForTheNeighbouringUnitNeverRaiseItsNeighbour) {
  struct Row {
    const char* configured;
    const char* sent;
    double snrDb = 26;  // the tones' power over the noise's
    uint32_t noiseSeed = 1;  // of the first start's noise; the next starts' count on from it
  } rows[] = {
      {"23345", "23346"}, {"23346", "23345"}, {"23343", "23341"}, {"23343", "23342"},
      {"23345", "23347"}, {"43333", "53333"}, {"33333", "43333"}, {"43333", "34333"},
      {"43333", "33334"}, {"33343", "33333"}, {"12121", "17121"}, {"12121", "12131"},
      {"23345", "23347", -6, 200}, {"23345", "23343", -6, 200}, {"33333", "43333", -6}, {"43333", "33333", -6, 500},
  };
  constexpr int kStarts = 8;
  const double buffer = static_cast<double>(testing::kCaptureSamplesPerBuffer) / kRate;
  std::vector<std::string> faults;
  for (const Row& row : rows) {
    for (bool continuous : {false, true}) {
      for (int start = 0; start < kStarts; ++start) {
        const double toneSeconds = 0.060 + 0.010 * (start % 3);
        const double error = 0.012 * ((start % 3) - 1);
        // Quieter in strong noise, so that the sum stays within full scale.
        const double amplitude = row.snrDb > 0 ? 0.5 : 0.15;
        std::vector<signal::Samples> parts = {signal::silence(0.2 + buffer * start / kStarts, kRate)};
        for (int send = 0; send < 3; ++send) {
          parts.push_back(encoderCall(row.sent, toneSeconds, error, continuous, amplitude));
          parts.push_back(signal::silence(0.6, kRate));
        }
        signal::Samples audio = signal::concat(parts);
        signal::mixInto(audio, signal::bandLimitedNoise(static_cast<double>(audio.size()) / kRate,
                                                        amplitude / std::sqrt(2.0) / std::pow(10.0, row.snrDb / 20),
                                                        300, 3400, kRate, row.noiseSeed + static_cast<uint32_t>(start)));
        auto d = exampleDetector({row.configured, row.sent});
        const std::vector<Raised> raised = listen(*d, audio);
        if (raised.size() != 1 || raised[0].text != std::string("Schleife ") + row.sent) {
          faults.push_back(std::string(row.sent) + " at " + std::to_string(static_cast<int>(row.snrDb)) + " dB" +
                           (continuous ? " continuous" : " abrupt") + " start " + std::to_string(start) +
                           ": raised " + texts(raised));
        }
      }
    }
  }
  EXPECT_EQ(faults, std::vector<std::string>{});
}

// Several units called one after another, each twice, 600 ms apart, the next
// unit about a second later, in noise: the configured units among them are
// raised once each, in order, and nothing else.
TEST(RoundTrip, ATrainOfUnitsRaisesTheConfiguredOnesInOrder) {
  const std::vector<std::string> configured = {"23345", "23346", "43333", "33333"};
  struct Row {
    std::vector<std::string> sent;
    std::vector<std::string> raised;
  } rows[] = {
      {{"23346", "23343", "23345"}, {"23346", "23345"}},
      {{"33334", "43333", "53333", "33333"}, {"43333", "33333"}},
      {{"23341", "23347", "33343"}, {}},
  };
  for (const Row& row : rows) {
    for (bool continuous : {false, true}) {
      std::vector<signal::Samples> parts = {signal::silence(0.4, kRate)};
      for (const std::string& code : row.sent) {
        for (int send = 0; send < 2; ++send) {
          parts.push_back(encoderCall(code, 0.070, 0.008, continuous, 0.3));
          parts.push_back(signal::silence(send == 0 ? 0.6 : 1.0, kRate));
        }
      }
      signal::Samples audio = signal::concat(parts);
      signal::mixInto(audio, signal::bandLimitedNoise(static_cast<double>(audio.size()) / kRate,
                                                      0.3 / std::sqrt(2.0) / 4, 300, 3400, kRate, 11));
      auto d = exampleDetector(configured);
      std::vector<std::string> expected;
      for (const std::string& code : row.raised) expected.push_back("Schleife " + code);
      std::vector<std::string> got;
      for (const Raised& r : listen(*d, audio)) got.push_back(r.text);
      EXPECT_EQ(got, expected) << (continuous ? "continuous" : "abrupt") << ", sent " << row.sent.size();
    }
  }
}

}  // namespace
}  // namespace kantiq
