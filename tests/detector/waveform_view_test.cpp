#include "ui/waveform_view.h"

#include <gtest/gtest.h>

#include <vector>

#include "dsp/spectrum_transform.h"

namespace kantiq {
namespace {

// A transform whose window holds the given samples, oldest first, after zeros.
SpectrumTransform windowOf(const std::vector<int32_t>& samples, int32_t points = 2048) {
  SpectrumTransform t(points, 44100);
  t.load(SpanSampleReader(samples));
  return t;
}

TEST(WaveformPoints, CentreScaleAndClipping) {
  std::vector<int32_t> s(2048, 0);
  s[0] = 32767;   // 63 pixels below the centre line
  s[1] = -600;    // one above
  s[2] = 511;     // less than a pixel: truncated to the centre line
  s[3] = -511;
  s[4] = 60000;   // far below: clipped to the bottom row
  s[5] = -60000;  // clipped to the top row
  const SpectrumTransform t = windowOf(s);
  std::array<ScreenPoint, WaveformView::kCapacity> p{};
  ASSERT_EQ(WaveformView::computePoints(t.window(), 300, 200, p), 2048);
  const int32_t c = 99;  // (200 - 1) / 2
  EXPECT_EQ(p[0], (ScreenPoint{0, c + 63}));
  EXPECT_EQ(p[1], (ScreenPoint{1, c - 1}));
  EXPECT_EQ(p[2], (ScreenPoint{2, c}));
  EXPECT_EQ(p[3], (ScreenPoint{3, c}));
  EXPECT_EQ(p[4], (ScreenPoint{4, 199}));
  EXPECT_EQ(p[5], (ScreenPoint{5, 0}));
  EXPECT_EQ(p[299], (ScreenPoint{299, c}));
  // Beyond the width: a run on the centre line at the last column.
  for (int i : {300, 1000, 2047}) EXPECT_EQ(p[static_cast<size_t>(i)], (ScreenPoint{299, c})) << i;

  // An even height puts the centre just above the middle.
  ASSERT_EQ(WaveformView::computePoints(t.window(), 300, 64, p), 2048);
  EXPECT_EQ(p[1], (ScreenPoint{1, 30}));
  EXPECT_EQ(p[0], (ScreenPoint{0, 63}));  // 31 + 63 clipped to B-1
}

TEST(WaveformPoints, FewerPointsThanTheCapacity) {
  const SpectrumTransform t = windowOf(std::vector<int32_t>(256, 1024), 256);
  std::array<ScreenPoint, WaveformView::kCapacity> p{};
  p[256] = {-7, -7};
  EXPECT_EQ(WaveformView::computePoints(t.window(), 400, 100, p), 256);
  EXPECT_EQ(p[255], (ScreenPoint{255, 51}));
  EXPECT_EQ(p[256], (ScreenPoint{-7, -7}));  // untouched
}

TEST(WaveformDrawing, PixelsOfTheImage) {
  std::vector<int32_t> s(2048, 0);
  for (int i = 0; i < 50; ++i) s[static_cast<size_t>(i)] = i < 25 ? 5120 : -5120;  // +10 / -10 pixels
  const SpectrumTransform t = windowOf(s);
  MemoryWaveformCanvas image(200, 81);  // centre row 40
  WaveformView view(image);
  view.draw(t);
  constexpr uint32_t pen = MemoryWaveformCanvas::kPen;
  EXPECT_EQ(image.pixel(0, 50), pen);
  EXPECT_EQ(image.pixel(24, 50), pen);
  EXPECT_EQ(image.pixel(25, 30), pen);
  EXPECT_EQ(image.pixel(24, 46), pen);  // the jump is drawn as a steep run
  EXPECT_EQ(image.pixel(25, 34), pen);
  EXPECT_EQ(image.pixel(100, 40), pen);
  EXPECT_EQ(image.pixel(198, 40), pen);
  // The last point is left out, and the points beyond the width add nothing.
  EXPECT_EQ(image.pixel(199, 40), MemoryWaveformCanvas::kBlack);
  EXPECT_EQ(image.pixel(100, 41), MemoryWaveformCanvas::kBlack);
  EXPECT_EQ(image.pixel(0, 40), MemoryWaveformCanvas::kBlack);

  // A second drawing starts from black.
  view.draw(windowOf(std::vector<int32_t>(2048, 0)));
  EXPECT_EQ(image.pixel(0, 50), MemoryWaveformCanvas::kBlack);
  EXPECT_EQ(image.pixel(0, 40), pen);
}

}  // namespace
}  // namespace kantiq
