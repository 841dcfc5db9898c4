#include "ui/frequency_scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace kantiq {
namespace {

struct Line {
  int32_t x0, y0, x1, y1;
};

class RecordingCanvas : public ScaleCanvas {
 public:
  void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) override {
    lines.push_back({x0, y0, x1, y1});
  }
  // The ticks, that is every line but the first (the vertical axis).
  std::vector<Line> ticks() const { return {lines.begin() + 1, lines.end()}; }
  std::vector<Line> lines;
};

TEST(FrequencyScale, LayoutForEveryOfferedCombination) {
  struct Row {
    int32_t rate, points, perKHz, per100Hz;
    bool fine;
  };
  const Row table[] = {
      {11025, 256, 23, 2, false},  {11025, 512, 46, 4, true},   {11025, 1024, 92, 9, true},
      {11025, 2048, 185, 18, true}, {22050, 256, 11, 1, false},  {22050, 512, 23, 2, false},
      {22050, 1024, 46, 4, true},  {22050, 2048, 92, 9, true},   {44100, 256, 5, 0, false},
      {44100, 512, 11, 1, false},  {44100, 1024, 23, 2, false},  {44100, 2048, 46, 4, true},
  };
  for (const Row& r : table) {
    SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.points << " points");
    const ScaleLayout s = scaleLayout(r.points, r.rate);
    EXPECT_EQ(s.rowsPerKHz, r.perKHz);
    EXPECT_EQ(s.rowsPer100Hz, r.per100Hz);
    EXPECT_EQ(s.fine, r.fine);
    EXPECT_EQ(s.spacing, r.fine ? r.per100Hz : r.perKHz);
    EXPECT_EQ(s.half, r.points / 2);
  }
}

TEST(FrequencyScale, StartUpConfigurationHasFineTicksEvery4Rows) {
  RecordingCanvas c;
  // The scale control is 6 by 133 dialog units: about 9 by 216 pixels.
  drawFrequencyScale(c, 9, 216, scaleLayout(2048, 44100));
  ASSERT_GE(c.lines.size(), 2u);
  const Line axis = c.lines[0];
  EXPECT_EQ(axis.x0, 9);
  EXPECT_EQ(axis.y0, 0);
  EXPECT_EQ(axis.x1, 9);
  EXPECT_EQ(axis.y1, 216);
  const auto ticks = c.ticks();
  ASSERT_EQ(ticks.size(), 54u);  // rows 215, 211, ..., 3
  for (size_t i = 0; i < ticks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ticks[i].y0, 215 - 4 * static_cast<int32_t>(i));
    EXPECT_EQ(ticks[i].y1, ticks[i].y0);
    EXPECT_EQ(ticks[i].x1, 9);
    EXPECT_EQ(ticks[i].x0, i % 10 == 0 ? 3 : 6);  // 6 px every 40 rows, else 3 px
  }
  EXPECT_GT(ticks.back().y0, 0);
}

TEST(FrequencyScale, CoarseTicksAt44100And256) {
  RecordingCanvas c;
  drawFrequencyScale(c, 9, 216, scaleLayout(256, 44100));
  const auto ticks = c.ticks();
  // Half is 128 bins: ticks at count 0, 5, ..., 125; the 26th reaches 130.
  ASSERT_EQ(ticks.size(), 26u);
  for (size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i].y0, 215 - 5 * static_cast<int32_t>(i));
    EXPECT_EQ(ticks[i].x0, 3);  // every coarse tick is 6 px long
  }
}

TEST(FrequencyScale, StopsBelowHalfEvenInATallControl) {
  RecordingCanvas c;
  // 11025 Hz, 512 points: spacing 4, half 256 -> ticks for count 0..252.
  drawFrequencyScale(c, 9, 1000, scaleLayout(512, 11025));
  const auto ticks = c.ticks();
  ASSERT_EQ(ticks.size(), 64u);
  EXPECT_EQ(ticks.back().y0, 999 - 63 * 4);
}

TEST(FrequencyScale, NoTickAtRowZeroOrAbove) {
  for (int32_t height : {1, 2, 5, 6, 47, 48}) {
    SCOPED_TRACE(height);
    RecordingCanvas c;
    drawFrequencyScale(c, 9, height, scaleLayout(2048, 11025));
    for (const Line& t : c.ticks()) EXPECT_GT(t.y0, 0);
    if (height >= 2) {
      ASSERT_FALSE(c.ticks().empty());
      EXPECT_EQ(c.ticks().front().y0, height - 1);
    } else {
      EXPECT_TRUE(c.ticks().empty());
    }
  }
}

TEST(FrequencyScale, SpacingBelowOneRowDrawsOnlyTheAxis) {
  RecordingCanvas c;
  // 100 points at 200000 Hz: not even one row per kilohertz.
  const ScaleLayout s = scaleLayout(100, 200000);
  EXPECT_EQ(s.spacing, 0);
  EXPECT_EQ(drawFrequencyScale(c, 9, 216, s), 0);
  EXPECT_EQ(c.lines.size(), 1u);
  RecordingCanvas none;
  EXPECT_EQ(drawFrequencyScale(none, 9, 216, scaleLayout(0, 0)), 0);
}

}  // namespace
}  // namespace kantiq
