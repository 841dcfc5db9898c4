#include "dsp/spectrum_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

namespace kantiq {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<int32_t> constant(int n, int32_t v) { return std::vector<int32_t>(static_cast<size_t>(n), v); }

void loadAndTransform(SpectrumTransform& t, const std::vector<int32_t>& samples) {
  t.load(SpanSampleReader(samples));
  t.transform();
}

TEST(SpectrumTransformSetup, StagesNormaliserAndBitReversal) {
  SpectrumTransform t(8, 11025);
  EXPECT_EQ(t.stages(), 3);
  EXPECT_DOUBLE_EQ(t.normaliser(), std::sqrt(8.0));
  const std::vector<int32_t> expected = {0, 4, 2, 6, 1, 5, 3, 7};
  EXPECT_EQ(std::vector<int32_t>(t.bitReversal().begin(), t.bitReversal().end()), expected);
  EXPECT_EQ(SpectrumTransform(2048, 44100).stages(), 11);
  EXPECT_EQ(SpectrumTransform(1, 44100).stages(), 0);
  EXPECT_THROW(SpectrumTransform(1000, 44100), std::invalid_argument);
  EXPECT_THROW(SpectrumTransform(0, 44100), std::invalid_argument);
}

TEST(SpectrumTransformResult, ConstantWindowIsAllDc) {
  const int n = 1024;
  SpectrumTransform t(n, 44100);
  loadAndTransform(t, constant(n, 300));
  EXPECT_NEAR(t.bins()[0].real(), n * 300.0, 1e-6);
  EXPECT_NEAR(t.bins()[0].imag(), 0.0, 1e-6);
  for (int k = 1; k < n; ++k) ASSERT_LT(std::abs(t.bins()[static_cast<size_t>(k)]), 1e-6) << k;
}

TEST(SpectrumTransformResult, CosineAtBinEight) {
  const int n = 2048;
  // A large amplitude keeps the rounding of the integer samples negligible.
  const double a = 1 << 20;
  const double peak = n * a / 2;
  SpectrumTransform t(n, 44100);
  std::vector<int32_t> s(n);
  for (int i = 0; i < n; ++i) s[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(a * std::cos(2 * kPi * 8 * i / n)));
  loadAndTransform(t, s);
  EXPECT_NEAR(std::abs(t.bins()[8]), peak, peak * 1e-6);
  EXPECT_NEAR(std::abs(t.bins()[n - 8]), peak, peak * 1e-6);
  for (int k = 0; k < n; ++k) {
    if (k == 8 || k == n - 8) continue;
    ASSERT_LT(std::abs(t.bins()[static_cast<size_t>(k)]), peak * 1e-6) << k;
  }
}

// Every offered size against a direct DFT of the same window.
TEST(SpectrumTransformResult, MatchesDirectDftForEveryOfferedSize) {
  for (int n : {256, 512, 1024, 2048}) {
    SCOPED_TRACE(n);
    SpectrumTransform t(n, 22050);
    std::vector<int32_t> s(static_cast<size_t>(n));
    uint32_t x = 12345;
    for (int32_t& v : s) {
      x = x * 1103515245u + 12345u;
      v = static_cast<int32_t>((x >> 16) % 16384) - 8192;
    }
    loadAndTransform(t, s);
    double worst = 0;
    for (int k = 0; k < n; k += (n / 64)) {
      std::complex<double> sum = 0;
      for (int i = 0; i < n; ++i) {
        const double angle = -2 * kPi * static_cast<double>(k) * i / n;
        sum += static_cast<double>(s[static_cast<size_t>(i)]) * std::complex<double>(std::cos(angle), std::sin(angle));
      }
      worst = std::max(worst, std::abs(sum - t.bins()[static_cast<size_t>(k)]));
    }
    EXPECT_LT(worst, 1e-6 * n * 8192);
  }
}

TEST(SpectrumTransformWindow, SlidesByOneBufferPerLoad) {
  const int n = 256;
  SpectrumTransform t(n, 11025);
  std::vector<int32_t> first(64), second(64);
  for (int i = 0; i < 64; ++i) {
    first[static_cast<size_t>(i)] = i + 1;
    second[static_cast<size_t>(i)] = 1000 + i;
  }
  t.load(SpanSampleReader(first));
  for (int i = 0; i < n - 64; ++i) ASSERT_EQ(t.window()[static_cast<size_t>(i)], 0.0) << i;
  EXPECT_EQ(t.window()[n - 64], 1.0);
  EXPECT_EQ(t.window()[n - 1], 64.0);

  t.load(SpanSampleReader(second));
  EXPECT_EQ(t.window()[n - 128], 1.0);
  EXPECT_EQ(t.window()[n - 65], 64.0);
  EXPECT_EQ(t.window()[n - 64], 1000.0);
  EXPECT_EQ(t.window()[n - 1], 1063.0);
  // The loaded window sits in bit-reversed order in the bins.
  EXPECT_EQ(t.bins()[static_cast<size_t>(t.bitReversal()[n - 1])], std::complex<double>(1063.0, 0.0));
}

TEST(SpectrumTransformWindow, WholeWindowBufferReplacesEverything) {
  const int n = 256;
  SpectrumTransform t(n, 11025);
  loadAndTransform(t, constant(n, 5));
  loadAndTransform(t, constant(n, -7));
  for (double v : t.window()) ASSERT_EQ(v, -7.0);
  EXPECT_NEAR(t.bins()[0].real(), -7.0 * n, 1e-9);
}

TEST(SpectrumTransformWindow, OversizedBufferChangesNothing) {
  const int n = 256;
  SpectrumTransform t(n, 11025);
  loadAndTransform(t, constant(128, 9));
  const std::vector<double> windowBefore(t.window().begin(), t.window().end());
  const std::vector<std::complex<double>> binsBefore(t.bins().begin(), t.bins().end());

  t.load(SpanSampleReader(constant(n + 1, 1000)));
  EXPECT_EQ(std::vector<double>(t.window().begin(), t.window().end()), windowBefore);
  EXPECT_EQ(std::vector<std::complex<double>>(t.bins().begin(), t.bins().end()), binsBefore);
}

}  // namespace
}  // namespace kantiq
