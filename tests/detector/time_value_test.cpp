#include "detector/time_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kantiq {
namespace {

TEST(TimeValueEncoding, EpochAndFirstDays) {
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 1), TimeValue::fromTicks(0));
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 2).ticks, 864'000'000'000);
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 1, 0, 0, 0, 7).ticks, 70'000);
}

TEST(TimeValueEncoding, KnownDateMatchesWindowsFileTime) {
  // 2000-01-01 00:00:00 is FILETIME 125911584000000000.
  EXPECT_EQ(TimeValue::fromCalendar(2000, 1, 1).ticks, 125'911'584'000'000'000);
  // 1970-01-01 is FILETIME 116444736000000000.
  EXPECT_EQ(TimeValue::fromCalendar(1970, 1, 1).ticks, 116'444'736'000'000'000);
}

TEST(TimeValueEncoding, LeapDaysRoundTrip) {
  struct Case {
    int year, month, day;
    bool exists;  // whether the date is a real calendar day
  };
  const Case cases[] = {{2000, 2, 29, true}, {2024, 2, 29, true}, {1904, 2, 29, true},
                        {1900, 2, 29, false}, {2100, 2, 29, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.year);
    const TimeValue t = TimeValue::fromCalendar(c.year, c.month, c.day, 13, 14, 15, 16);
    CalendarFields f;
    ASSERT_TRUE(t.toCalendar(f));
    if (c.exists) {
      EXPECT_EQ(f.year, c.year);
      EXPECT_EQ(f.month, 2);
      EXPECT_EQ(f.day, 29);
      EXPECT_EQ(f.dayOfYear, 60);
    } else {
      // Not a leap year: 29 February carries into 1 March.
      EXPECT_EQ(f.month, 3);
      EXPECT_EQ(f.day, 1);
      EXPECT_EQ(f.dayOfYear, 60);
    }
    EXPECT_EQ(f.hour, 13);
    EXPECT_EQ(f.minute, 14);
    EXPECT_EQ(f.second, 15);
    EXPECT_EQ(f.millisecond, 16);
  }
}

TEST(TimeValueEncoding, LimitsAreInvalid) {
  EXPECT_EQ(TimeValue::fromCalendar(2026, 13, 1).status, TimeValue::Status::Invalid);
  EXPECT_EQ(TimeValue::fromCalendar(2026, 0, 1).status, TimeValue::Status::Invalid);
  EXPECT_EQ(TimeValue::fromCalendar(29001, 1, 1).status, TimeValue::Status::Invalid);
  EXPECT_EQ(TimeValue::fromCalendar(-29001, 1, 1).status, TimeValue::Status::Invalid);
  EXPECT_EQ(TimeValue::fromCalendar(29000, 12, 31).status, TimeValue::Status::Valid);
}

TEST(TimeValueEncoding, FieldsCarryOver) {
  EXPECT_EQ(TimeValue::fromCalendar(2026, 1, 32), TimeValue::fromCalendar(2026, 2, 1));
  EXPECT_EQ(TimeValue::fromCalendar(2026, 12, 8, 24), TimeValue::fromCalendar(2026, 12, 9));
  EXPECT_EQ(TimeValue::fromCalendar(2026, 12, 8, 0, 0, 0, 1500),
            TimeValue::fromCalendar(2026, 12, 8, 0, 0, 1, 500));
  // Nanoseconds are rounded to the nearest 100 ns.
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 1, 0, 0, 0, 0, 0, 149).ticks, 1);
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 1, 0, 0, 0, 0, 0, 150).ticks, 2);
  EXPECT_EQ(TimeValue::fromCalendar(1601, 1, 1, 0, 0, 0, 0, 1001, 0).ticks, 10'010);
}

TEST(TimeValueEncoding, HugeFieldsDoNotOverflow) {
  EXPECT_EQ(TimeValue::fromCalendar(29000, 12, 31, 2'000'000'000, 2'000'000'000).status,
            TimeValue::Status::Invalid);
}

TEST(TimeValueDecoding, SubSecondFieldsAndWeekday) {
  const TimeValue t = TimeValue::fromTicks(1'234'567);  // 0.1234567 s after 1601-01-01
  CalendarFields f;
  ASSERT_TRUE(t.toCalendar(f));
  EXPECT_EQ(f.millisecond, 123);
  EXPECT_EQ(f.microsecond, 456);
  EXPECT_EQ(f.nanosecond, 700);
  EXPECT_EQ(f.dayOfWeek, 2);  // Monday
  EXPECT_EQ(f.dayOfYear, 1);

  ASSERT_TRUE(TimeValue::fromCalendar(2026, 12, 8).toCalendar(f));
  EXPECT_EQ(f.dayOfWeek, 3);  // a Tuesday
  EXPECT_EQ(f.dayOfYear, 342);
  EXPECT_FALSE(TimeValue::null().toCalendar(f));
  EXPECT_FALSE(TimeValue::invalid().toCalendar(f));
}

TEST(TimeValueDifference, MillisecondsBothWays) {
  const TimeValue a = TimeValue::fromCalendar(2026, 12, 8, 10, 0, 0, 0);
  const TimeValue b = TimeValue::fromCalendar(2026, 12, 8, 10, 0, 1, 500);
  EXPECT_EQ((b - a).milliseconds(), 1500);
  EXPECT_EQ((a - b).milliseconds(), -1500);
  // Truncated toward zero: -0.9999 ms is 0, not -1.
  EXPECT_EQ(TimeValue::fromTicks(-9'999).milliseconds(), 0);
}

TEST(TimeValueDifference, StatusPropagates) {
  const TimeValue v = TimeValue::fromTicks(5);
  EXPECT_EQ((v - TimeValue::null()).status, TimeValue::Status::Null);
  EXPECT_EQ((TimeValue::invalid() - TimeValue::null()).status, TimeValue::Status::Null);
  EXPECT_EQ((TimeValue::invalid() - v).status, TimeValue::Status::Invalid);
  EXPECT_EQ((v - TimeValue::invalid()).ticks, 0);
}

TEST(TimeValueNow, IsValidAndNearTheSystemClock) {
  const TimeValue a = TimeValue::now();
  const TimeValue b = TimeValue::now();
  ASSERT_TRUE(a.isValid());
  CalendarFields f;
  ASSERT_TRUE(a.toCalendar(f));
  EXPECT_GE(f.year, 2020);
  EXPECT_EQ(f.microsecond, 0);
  EXPECT_GE((b - a).milliseconds(), 0);
}

std::string formatted(const TimeValue& t, const char* pattern, int size = 64) {
  char buf[128];
  std::memset(buf, 'X', sizeof buf);
  const char* r = t.format(buf, size, pattern);
  if (r == nullptr) return "<null>";
  EXPECT_EQ(r, buf);
  EXPECT_LT(std::strlen(buf), static_cast<size_t>(size));
  EXPECT_EQ(buf[size], 'X') << "wrote past the buffer";
  return buf;
}

// These run natively and under Wine: the Windows C runtime's strftime is
// not glibc's.
TEST(TimeValueFormat, LogStamp) {
  const TimeValue t = TimeValue::fromCalendar(2026, 12, 8, 1, 41, 25, 7);
  EXPECT_EQ(formatted(t, "%d.%m.%Y %H:%M:%S: ", 29), "08.12.2026 01:41:25: ");
  EXPECT_EQ(formatted(TimeValue::fromCalendar(2027, 1, 2, 23, 0, 59), "%d.%m.%Y %H:%M:%S", 29),
            "02.01.2027 23:00:59");
}

TEST(TimeValueFormat, SubSecondConversions) {
  const TimeValue t = TimeValue::fromCalendar(2026, 12, 8, 1, 2, 3, 7, 45, 600);
  EXPECT_EQ(formatted(t, "%H:%M:%S.%s"), "01:02:03.007");
  EXPECT_EQ(formatted(t, "[%#s]"), "[7]");
  EXPECT_EQ(formatted(t, "%u|%#u|%n|%#n"), "045|45|600|600");
  EXPECT_EQ(formatted(t, "%s %s"), "007 007");
  EXPECT_EQ(formatted(t, "100%% %s"), "100% 007");
}

TEST(TimeValueFormat, ExpansionMustFitWithTerminator) {
  const TimeValue t = TimeValue::fromCalendar(2026, 12, 8, 0, 0, 0, 7);
  // "a%sb" expands to "a007b": 5 characters and the terminator need 6 bytes.
  EXPECT_EQ(formatted(t, "a%sb", 6), "a007b");
  // With 5 bytes the conversion is left for strftime, whatever that makes of
  // it; the result must stay inside the buffer and never read "a007b".
  EXPECT_NE(formatted(t, "a%sb", 5), "a007b");
  // "%#s" expands to "7" (shorter than the conversion): fits.
  EXPECT_EQ(formatted(t, "ab%#s", 6), "ab7");
  // The pattern itself is cut to the buffer before anything is expanded.
  EXPECT_EQ(formatted(t, "abc%s", 4), "abc");
}

TEST(TimeValueFormat, LongPatternIsCutToTheBuffer) {
  const TimeValue t = TimeValue::fromCalendar(2026, 12, 8);
  EXPECT_EQ(formatted(t, "abcdefghijklmnop", 8), "abcdefg");
}

TEST(TimeValueFormat, NullInvalidAndNoBuffer) {
  char buf[32] = "untouched";
  EXPECT_EQ(TimeValue::null().format(buf, sizeof buf, "%Y"), nullptr);
  EXPECT_STREQ(buf, "untouched");
  EXPECT_EQ(TimeValue::fromTicks(0).format(buf, 0, "%Y"), nullptr);
  EXPECT_EQ(TimeValue::fromTicks(0).format(buf, -3, "%Y"), nullptr);
  EXPECT_EQ(TimeValue::fromTicks(0).format(nullptr, 10, "%Y"), nullptr);
  EXPECT_STREQ(buf, "untouched");

  EXPECT_EQ(formatted(TimeValue::invalid(), "%Y"), "Invalid datetime");
  EXPECT_EQ(formatted(TimeValue::invalid(), "%Y", 8), "Invalid");
  // Valid status but beyond the calendar's range also reads as invalid.
  EXPECT_EQ(formatted(TimeValue::fromTicks(INT64_MAX), "%Y"), "Invalid datetime");
}

}  // namespace
}  // namespace kantiq
