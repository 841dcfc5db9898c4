#include "ui/result_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace kantiq {
namespace {

std::string textOf(const ResultText& t) { return std::string(t.c_str(), t.size()); }

TEST(ResultText, NewestLineOnTopFramedByBlanks) {
  ResultText t;
  EXPECT_EQ(textOf(t), "");
  t.append("ALARMIERUNG: Wache 1");
  EXPECT_EQ(textOf(t), "\r\n ALARMIERUNG: Wache 1 ");
  t.append("08.12.2026 01:41:25: ");
  EXPECT_EQ(textOf(t), "\r\n 08.12.2026 01:41:25:  \r\n ALARMIERUNG: Wache 1 ");
  EXPECT_EQ(std::strlen(t.c_str()), t.size());
}

TEST(ResultText, OverflowDropsTheOldestLinesOnly) {
  ResultText t;
  const std::string line(100, 'a');
  // Each line takes 104 bytes; 48 of them fill 4992 bytes, the 49th does not
  // fit beside them with its terminator.
  for (int i = 0; i < 48; ++i) t.append(line);
  EXPECT_EQ(t.size(), 48u * 104u);
  // Three more bytes still fit exactly: 4992 + 5 + 3 = 5000 with the zero.
  ResultText full = t;
  full.append("abc");
  EXPECT_EQ(full.size(), ResultText::kCapacityBytes - 1);
  EXPECT_EQ(textOf(full).substr(0, 8), "\r\n abc \r");
  // One more byte does not: the oldest line goes, the others stay.
  t.append("abcd");
  EXPECT_EQ(t.size(), 47u * 104u + 8u);
  EXPECT_EQ(textOf(t).substr(0, 10), "\r\n abcd \r\n");
  // A line of 300 bytes pushes out two more of the oldest.
  t.append(std::string(300, 'b'));
  EXPECT_EQ(t.size(), 45u * 104u + 8u + 304u);
  EXPECT_LT(t.size(), ResultText::kCapacityBytes);
}

// An alarm puts its line and then its time stamp on top; however full the
// box, the stamp never pushes out the alarm line it belongs to.
TEST(ResultText, TimeStampNeverPushesOutItsAlarmLine) {
  for (size_t filler = 0; filler < 200; filler += 7) {
    SCOPED_TRACE(filler);
    ResultText t;
    while (t.size() + 120 + filler < ResultText::kCapacityBytes) t.append(std::string(filler + 20, 'f'));
    t.append("ALARMIERUNG: Wache 1");
    t.append("08.12.2026 01:41:25: ");
    EXPECT_EQ(textOf(t).substr(0, 49), "\r\n 08.12.2026 01:41:25:  \r\n ALARMIERUNG: Wache 1 ");
    EXPECT_LT(t.size(), ResultText::kCapacityBytes);
  }
}

TEST(ResultText, LongestLineKeepsRoomForItsTimeStamp) {
  ResultText t;
  const std::string longest(ResultText::kMaxLineBytes, 'x');
  t.append(longest);
  EXPECT_EQ(textOf(t), "\r\n " + longest + " ");
  // The stamp an alarm puts above its line fits beside it, even the longest.
  const std::string stamp(ResultText::kStampLineBytes, 's');
  t.append(stamp);
  EXPECT_EQ(t.size(), ResultText::kCapacityBytes - 1);
  EXPECT_EQ(textOf(t), "\r\n " + stamp + " \r\n " + longest + " ");
  // A further line pushes out the oldest, the long line.
  t.append("b");
  EXPECT_EQ(textOf(t), "\r\n b \r\n " + stamp + " ");
}

TEST(ResultText, OverlongLineKeepsItsBeginning) {
  ResultText t;
  t.append("alt");
  std::string longLine = "Anfang";
  longLine += std::string(7000, 'y');
  longLine += "Ende";
  t.append(longLine);
  const std::string s = textOf(t);
  EXPECT_EQ(s.substr(0, 9), "\r\n Anfang");
  EXPECT_EQ(s.find("Ende"), std::string::npos);
  EXPECT_EQ(s.find(std::string(ResultText::kMaxLineBytes - 6, 'y')), 9u);
  // An alarm's time stamp then goes on top of it, not in its place.
  t.append("08.12.2026 19:29:26: ");
  EXPECT_EQ(textOf(t).substr(0, 25), "\r\n 08.12.2026 19:29:26:  ");
  EXPECT_NE(textOf(t).find("Anfang"), std::string::npos);
}

// What a reader takes now; "(nothing)" when there is nothing new.
std::string taken(PendingText& p) {
  std::string text;
  return p.take(text) ? text : "(nothing)";
}

TEST(PendingText, OneNoticeCarriesTheNewestText) {
  PendingText p;
  EXPECT_TRUE(p.publish("eins"));
  EXPECT_FALSE(p.publish("zwei"));  // the first notice is still outstanding
  EXPECT_EQ(taken(p), "zwei");
  EXPECT_TRUE(p.publish("drei"));   // taken: the next text needs a notice
  EXPECT_EQ(taken(p), "drei");
}

TEST(PendingText, ALostNoticeNeitherHidesLaterTextsNorBlanksTheBox) {
  PendingText p;
  EXPECT_TRUE(p.publish("eins"));
  p.noticeFailed();                 // the post did not reach the window
  EXPECT_TRUE(p.publish("zwei"));   // so the next text sends a notice again
  EXPECT_FALSE(p.publish("drei"));
  // A reader that comes by (the window's timer) finds the newest text once;
  // a second visit, or the late notice, finds nothing and shows nothing.
  EXPECT_EQ(taken(p), "drei");
  EXPECT_EQ(taken(p), "(nothing)");
  EXPECT_TRUE(p.publish("vier"));
  EXPECT_EQ(taken(p), "vier");
}

TEST(PendingText, ConcurrentWriterNeverLosesTheLastText) {
  PendingText p;
  int notices = 0;
  std::string seen;
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) p.publish(std::to_string(i));
  });
  // The reader polls like a window taking its posted notices.
  while (seen != "1999") {
    std::string s;
    if (p.take(s)) {
      seen = s;
      ++notices;
    }
  }
  writer.join();
  EXPECT_GE(notices, 1);
  EXPECT_EQ(seen, "1999");
}

}  // namespace
}  // namespace kantiq
