#pragma once

#include <cstdint>

namespace kantiq {

// Calendar fields of a time stamp. Month 1 to 12, day of week 1 (Sunday) to 7
// (Saturday), day of year 1 = 1 January.
struct CalendarFields {
  int32_t year = 1601;
  int32_t month = 1;
  int32_t day = 1;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
  int32_t microsecond = 0;
  int32_t nanosecond = 0;
  int32_t dayOfWeek = 0;  // filled by decoding only
  int32_t dayOfYear = 0;  // filled by decoding only
};

// A local wall-clock time stamp: 100-ns ticks since 1601-01-01 00:00:00 local
// time, with a status. Invalid and null stamps travel through differences;
// only format() turns them into output.
class TimeValue {
 public:
  enum class Status : int32_t { Valid = 0, Invalid = 1, Null = 2 };

  static constexpr int64_t kTicksPerMillisecond = 10'000;
  static constexpr int64_t kTicksPerSecond = 10'000'000;
  static constexpr int64_t kTicksPerDay = 864'000'000'000;

  // A valid stamp at tick 0 (1601-01-01 00:00:00).
  constexpr TimeValue() = default;
  constexpr TimeValue(Status s, int64_t t) : status(s), ticks(t) {}

  static constexpr TimeValue null() { return {Status::Null, 0}; }
  static constexpr TimeValue invalid() { return {Status::Invalid, 0}; }
  static constexpr TimeValue fromTicks(int64_t t) { return {Status::Valid, t}; }

  // Encodes calendar fields. Invalid when the year lies outside -29000 to
  // 29000 or the month outside 1 to 12; the other fields carry over
  // (day 32 of January is 1 February, 61 minutes are an hour and a minute).
  static TimeValue fromCalendar(const CalendarFields& f);
  static TimeValue fromCalendar(int32_t year, int32_t month, int32_t day, int32_t hour = 0,
                                int32_t minute = 0, int32_t second = 0, int32_t millisecond = 0,
                                int32_t microsecond = 0, int32_t nanosecond = 0);

  // The operating system's local time, to the millisecond.
  static TimeValue now();

  // Decodes a valid stamp into calendar fields; false when the stamp is not
  // valid or lies outside the years -29000 to 29000.
  bool toCalendar(CalendarFields& out) const;

  bool isValid() const { return status == Status::Valid; }
  bool isNull() const { return status == Status::Null; }

  // Whole milliseconds of a difference, truncated toward zero. The status is
  // not consulted: callers make sure both operands were valid.
  int64_t milliseconds() const { return ticks / kTicksPerMillisecond; }

  // Writes the stamp as text into buf (size bytes, terminator included) with
  // strftime conversions plus the sub-second conversions %s, %#s (millisecond),
  // %u, %#u (microsecond), %n, %#n (nanosecond). Returns buf, or nullptr for a
  // null stamp, a missing buffer or a size of 0 or less (buf untouched then).
  // The result is always terminated.
  char* format(char* buf, int32_t size, const char* pattern) const;

  friend TimeValue operator-(const TimeValue& a, const TimeValue& b);
  friend bool operator==(const TimeValue&, const TimeValue&) = default;

  Status status = Status::Valid;
  int64_t ticks = 0;
};

// Reads the platform's local wall-clock time into calendar fields (year to
// millisecond): local_clock_win.cpp and local_clock_posix.cpp.
CalendarFields readLocalClock();

// Milliseconds since a fixed point (the system's start), never going back,
// whatever is done to the wall clock: local_clock_win.cpp (GetTickCount64)
// and local_clock_posix.cpp (CLOCK_MONOTONIC).
int64_t readMonotonicMs();

}  // namespace kantiq
