#include "ui/waveform_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

// The same pixels from the corners as from every point.
void expectSamePixels(std::span<const ScreenPoint> points, int32_t width, int32_t height) {
  std::vector<ScreenPoint> corners(points.size());
  const auto n = static_cast<size_t>(WaveformView::polylineCorners(points, corners));
  MemoryWaveformCanvas all(width, height);
  MemoryWaveformCanvas fewer(width, height);
  int32_t w = 0;
  int32_t h = 0;
  all.begin(w, h);
  fewer.begin(w, h);
  all.polyline(points);
  fewer.polyline(std::span<const ScreenPoint>(corners.data(), n));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      ASSERT_EQ(fewer.pixel(x, y), all.pixel(x, y)) << "pixel " << x << "," << y;
    }
  }
}

TEST(WaveformCorners, RunsAndRepeatsGoOthersStay) {
  using P = ScreenPoint;
  struct Case {
    const char* name;
    std::vector<P> points;
    std::vector<P> corners;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"one point", {{3, 4}}, {{3, 4}}},
      {"repeats", {{1, 1}, {1, 1}, {5, 1}, {5, 1}, {5, 1}}, {{1, 1}, {5, 1}}},
      {"horizontal run", {{0, 2}, {1, 2}, {2, 2}, {3, 2}}, {{0, 2}, {3, 2}}},
      {"vertical run upwards", {{4, 9}, {4, 7}, {4, 3}}, {{4, 9}, {4, 3}}},
      {"turning back keeps the turn", {{0, 0}, {5, 0}, {3, 0}}, {{0, 0}, {5, 0}, {3, 0}}},
      {"a slope keeps its points", {{0, 0}, {1, 1}, {2, 2}}, {{0, 0}, {1, 1}, {2, 2}}},
      {"corner between runs", {{0, 0}, {2, 0}, {2, 3}, {2, 5}}, {{0, 0}, {2, 0}, {2, 5}}},
      {"the tail beyond the width", {{7, 1}, {8, 3}, {9, 5}, {9, 2}, {9, 2}, {9, 2}}, {{7, 1}, {8, 3}, {9, 5}, {9, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<P> corners(c.points.size());
    const auto n = static_cast<size_t>(WaveformView::polylineCorners(c.points, corners));
    corners.resize(n);
    EXPECT_EQ(corners, c.corners);
    expectSamePixels(c.points, 12, 12);
  }
}

TEST(WaveformCorners, AFrameOfTheProgramDrawsTheSame) {
  // The program's shape: 2048 points into an area 261 pixels wide, most of
  // them beyond it on the centre line.
  std::mt19937 random(20261209);
  struct Case {
    const char* name;
    int32_t spread;  // sample units around zero
  };
  for (const Case& c : {Case{"silence", 0}, Case{"hiss", 700}, Case{"a call", 6000}, Case{"clipping", 90000}}) {
    SCOPED_TRACE(c.name);
    std::uniform_int_distribution<int32_t> sample(-c.spread, c.spread);
    std::vector<int32_t> s(2048);
    for (int32_t& v : s) v = sample(random);
    const SpectrumTransform t = windowOf(s);
    std::array<ScreenPoint, WaveformView::kCapacity> p{};
    const auto n = static_cast<size_t>(WaveformView::computePoints(t.window(), 261, 104, p));
    expectSamePixels(std::span<const ScreenPoint>(p.data(), n), 261, 104);
    std::array<ScreenPoint, WaveformView::kCapacity> corners{};
    EXPECT_LE(WaveformView::polylineCorners(std::span<const ScreenPoint>(p.data(), n), corners), 262);
  }
  // Silence is one line along the centre.
  std::array<ScreenPoint, WaveformView::kCapacity> p{};
  const auto n = static_cast<size_t>(WaveformView::computePoints(windowOf({}).window(), 261, 104, p));
  std::array<ScreenPoint, WaveformView::kCapacity> corners{};
  ASSERT_EQ(WaveformView::polylineCorners(std::span<const ScreenPoint>(p.data(), n), corners), 2);
  EXPECT_EQ(corners[0], (ScreenPoint{0, 51}));
  EXPECT_EQ(corners[1], (ScreenPoint{260, 51}));
}

TEST(WaveformCorners, RandomPolylinesDrawTheSame) {
  // Short steps in all directions make many runs, repeats and turns.
  std::mt19937 random(4711);
  std::uniform_int_distribution<int32_t> step(-2, 2);
  std::uniform_int_distribution<int32_t> axis(0, 3);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::vector<ScreenPoint> points;
    ScreenPoint at{10, 10};
    for (int i = 0; i < 40; ++i) {
      const int32_t a = axis(random);
      if (a != 1) at.x = std::clamp(at.x + step(random), 0, 19);
      if (a != 0) at.y = std::clamp(at.y + step(random), 0, 19);
      points.push_back(at);
    }
    expectSamePixels(points, 20, 20);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace kantiq
