#include "ui/step_scroll_bar.h"

#include <gtest/gtest.h>

namespace kantiq {
namespace {

TEST(StepScrollBar, ListRunsDownInStepsOf64) {
  struct Case {
    int32_t points, count, last;
  };
  const Case cases[] = {{256, 4, 64}, {512, 8, 64}, {1024, 16, 64}, {2048, 32, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.points);
    StepScrollBar s;
    s.rebuild(c.points);
    EXPECT_EQ(s.count(), c.count);
    EXPECT_EQ(s.position(), 0);
    EXPECT_EQ(s.pageStep(), 1);
    EXPECT_EQ(s.stepAt(0), c.points);
    EXPECT_EQ(s.stepAt(c.count - 1), c.last);
  }
  StepScrollBar s;
  s.rebuild(256);
  EXPECT_EQ(s.stepAt(1), 192);
  EXPECT_EQ(s.stepAt(2), 128);
}

TEST(StepScrollBar, ListIsCappedAt32AndStopsAtZero) {
  StepScrollBar s;
  s.rebuild(4096);
  EXPECT_EQ(s.count(), 32);
  EXPECT_EQ(s.stepAt(31), 4096 - 31 * 64);
  s.rebuild(100);  // 100, 36
  EXPECT_EQ(s.count(), 2);
  EXPECT_EQ(s.stepAt(1), 36);
  s.rebuild(0);
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(s.samples(), 0);
}

TEST(StepScrollBar, ScrollTable) {
  StepScrollBar s;
  s.rebuild(512);  // positions 0..7
  struct Move {
    int32_t code, thumb, expected;
    bool moved;
  };
  const Move moves[] = {
      {kScrollLineLeft, 0, 0, false},   {kScrollLineRight, 0, 1, true},
      {kScrollPageRight, 0, 2, true},   {kScrollPageLeft, 0, 1, true},
      {kScrollThumbPosition, 5, 5, true}, {kScrollThumbTrack, 3, 3, true},
      {kScrollRight, 0, 7, true},       {kScrollLineRight, 0, 7, false},
      {kScrollPageRight, 0, 7, false},  {8, 0, 7, false},
      {kScrollLeft, 0, 0, true},        {kScrollPageLeft, 0, 0, false},
      // A thumb outside the list stays inside it.
      {kScrollThumbTrack, 99, 7, true}, {kScrollThumbPosition, -4, 0, true},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(testing::Message() << "code " << m.code << " thumb " << m.thumb);
    EXPECT_EQ(s.scroll(m.code, m.thumb), m.moved);
    EXPECT_EQ(s.position(), m.expected);
  }
}

TEST(StepScrollBar, StartUpSpeedIsPosition9) {
  StepScrollBar s;
  s.rebuild(2048);
  EXPECT_EQ(transformsPerSecond(44100, s.samples()), 21);
  for (int i = 0; i < 9; ++i) s.scroll(kScrollLineRight, 0);
  EXPECT_EQ(s.position(), 9);
  EXPECT_EQ(s.samples(), 1472);
  EXPECT_EQ(transformsPerSecond(44100, s.samples()), 29);
  s.scroll(kScrollRight, 0);
  EXPECT_EQ(s.samples(), 64);
  EXPECT_EQ(transformsPerSecond(44100, s.samples()), 689);
  EXPECT_EQ(transformsPerSecond(44100, 0), 0);
}

}  // namespace
}  // namespace kantiq
