#include "signal_kit/signal_kit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "dsp/spectrum_transform.h"

namespace kantiq::signal {
namespace {

TEST(SignalKit, RepeatToneReplacesADigitEqualToItsPredecessor) {
  const auto f = codeFrequencies("23345", zvei1());
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0], 1160);
  EXPECT_EQ(f[1], 1270);
  EXPECT_EQ(f[2], 2600);  // second 3
  EXPECT_EQ(f[3], 1400);
  EXPECT_EQ(f[4], 1530);
  // Three equal digits alternate digit, repeat, digit.
  const auto g = codeFrequencies("1110", zvei1());
  EXPECT_EQ(g, (std::vector<double>{1060, 2600, 1060, 2400}));
  EXPECT_THROW(codeFrequencies("12a", zvei1()), std::invalid_argument);
}

TEST(SignalKit, EightBitCaptureReadsBackScaledBy64) {
  EXPECT_EQ(readPcm8(0xFF), 8128);
  EXPECT_EQ(readPcm8(0x00), -8192);
  EXPECT_EQ(readPcm8(0x80), 0);
  const auto blocks = captureBlocks8({1.0, -1.0, 0.0, 2.0, 0.5}, 2);
  ASSERT_EQ(blocks.size(), 2u);  // the fifth sample never fills a buffer
  EXPECT_EQ(blocks[0], (std::vector<int32_t>{127 * 64, -127 * 64}));
  EXPECT_EQ(blocks[1], (std::vector<int32_t>{0, 127 * 64}));  // clipped at full scale
  EXPECT_EQ(captureBlocks16({1.0, -0.5}, 2)[0], (std::vector<int32_t>{32767, -16384}));
}

// The kit's tone lands in the transform bin of its frequency.
TEST(SignalKit, ToneShowsUpInItsBin) {
  const int rate = 44100, n = 2048;
  const Samples s = tone(1400, 0.2, 0.5, rate);
  const auto blocks = captureBlocks8(s, 1472);
  SpectrumTransform t(n, rate);
  for (const auto& b : blocks) t.load(SpanSampleReader(b));
  t.transform();
  size_t best = 0;
  for (size_t k = 1; k < static_cast<size_t>(n / 2); ++k) {
    if (std::abs(t.bins()[k]) > std::abs(t.bins()[best])) best = k;
  }
  EXPECT_EQ(best, static_cast<size_t>(std::lround(1400.0 * n / rate)));
}

TEST(SignalKit, NoiseLevelsAndBand) {
  const int rate = 44100;
  EXPECT_NEAR(rms(whiteNoise(1.0, 0.1, rate, 1)), 0.1, 0.005);
  const Samples band = bandLimitedNoise(2.0, 0.2, 300, 3400, rate, 2);
  EXPECT_NEAR(rms(band), 0.2, 1e-9);
  // Little energy far outside the band: compare a 10 kHz tone's worth of
  // spectrum against the in-band average.
  const int n = 2048;
  SpectrumTransform t(n, rate);
  std::vector<int32_t> block(static_cast<size_t>(n));
  double inBand = 0, outBand = 0;
  for (int frame = 0; frame < 20; ++frame) {
    for (int i = 0; i < n; ++i) block[static_cast<size_t>(i)] = static_cast<int32_t>(band[static_cast<size_t>(frame * n + i)] * 32767);
    t.load(SpanSampleReader(block));
    t.transform();
    for (int k = 0; k < n / 2; ++k) {
      const double hz = static_cast<double>(k) * rate / n;
      const double p = std::norm(t.bins()[static_cast<size_t>(k)]);
      if (hz > 800 && hz < 3000) inBand += p / 2200;
      if (hz > 9000 && hz < 15000) outBand += p / 6000;
    }
  }
  EXPECT_GT(inBand, 1000 * outBand);
}

}  // namespace
}  // namespace kantiq::signal
