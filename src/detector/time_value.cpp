#include "detector/time_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace kantiq {
namespace {

constexpr int32_t kYearLimit = 29000;
constexpr int64_t kDayOf1601 = 584754;  // day count of 1601-01-01 by the formula below

constexpr int32_t kDaysBeforeMonth[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool isLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool addScaled(int64_t& acc, int64_t value, int64_t scale) {
  int64_t product = 0;
  return !__builtin_mul_overflow(value, scale, &product) && !__builtin_add_overflow(acc, product, &acc);
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
void civilFromDays(int64_t z, int64_t& y, int32_t& m, int32_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  if (m <= 2) ++y;
}

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Replaces every occurrence of conversion in text by value printed with
// printfPattern, provided the whole expanded text and its terminator fit in
// capacity bytes; otherwise text stays as it is.
void expandConversion(std::string& text, const char* conversion, const char* printfPattern,
                      int32_t value, int32_t capacity) {
  char printed[16];
  std::snprintf(printed, sizeof printed, printfPattern, value);
  const size_t convLen = std::strlen(conversion);
  std::string expanded;
  size_t from = 0;
  bool found = false;
  for (size_t at = text.find(conversion); at != std::string::npos;
       at = text.find(conversion, from)) {
    expanded.append(text, from, at - from);
    expanded.append(printed);
    from = at + convLen;
    found = true;
  }
  if (!found) return;
  expanded.append(text, from, std::string::npos);
  if (expanded.size() + 1 <= static_cast<size_t>(capacity)) text = std::move(expanded);
}

void copyTerminated(char* buf, int32_t size, const char* text) {
  const size_t n = std::min(std::strlen(text), static_cast<size_t>(size) - 1);
  std::memcpy(buf, text, n);
  buf[n] = '\0';
}

}  // namespace

TimeValue TimeValue::fromCalendar(const CalendarFields& f) {
  return fromCalendar(f.year, f.month, f.day, f.hour, f.minute, f.second, f.millisecond,
                      f.microsecond, f.nanosecond);
}

TimeValue TimeValue::fromCalendar(int32_t year, int32_t month, int32_t day, int32_t hour,
                                  int32_t minute, int32_t second, int32_t millisecond,
                                  int32_t microsecond, int32_t nanosecond) {
  if (year > kYearLimit || year < -kYearLimit || month < 1 || month > 12) return invalid();

  const int64_t y = year;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month] + day;
  if (isLeapYear(y) && month <= 2) days -= 1;
  days -= kDayOf1601;

  // The fields are not range-tested; huge values that would overflow the
  // tick count make the stamp invalid instead.
  int64_t seconds = 0;
  int64_t sub = 0;
  if (!addScaled(seconds, days, 86400) || !addScaled(seconds, hour, 3600) ||
      !addScaled(seconds, minute, 60) || !addScaled(seconds, second, 1) ||
      !addScaled(sub, millisecond, 10'000) || !addScaled(sub, microsecond, 10) ||
      !addScaled(sub, (static_cast<int64_t>(nanosecond) + 50) / 100, 1)) {
    return invalid();
  }
  int64_t ticks = 0;
  if (!addScaled(ticks, seconds, kTicksPerSecond) || !addScaled(ticks, sub, 1)) return invalid();
  return fromTicks(ticks);
}

bool TimeValue::toCalendar(CalendarFields& out) const {
  if (status != Status::Valid) return false;
  const int64_t days = floorDiv(ticks, kTicksPerDay);
  const int64_t inDay = ticks - days * kTicksPerDay;  // 0 .. ticks per day - 1

  constexpr int64_t kDaysFrom1601To1970 = 134774;
  int64_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  civilFromDays(days - kDaysFrom1601To1970, year, month, day);
  if (year > kYearLimit || year < -kYearLimit) return false;

  const int64_t secondsOfDay = inDay / kTicksPerSecond;
  const int64_t r = inDay % kTicksPerSecond;
  out.year = static_cast<int32_t>(year);
  out.month = month;
  out.day = day;
  out.hour = static_cast<int32_t>(secondsOfDay / 3600);
  out.minute = static_cast<int32_t>(secondsOfDay / 60 % 60);
  out.second = static_cast<int32_t>(secondsOfDay % 60);
  out.millisecond = static_cast<int32_t>(r / 10'000);
  out.microsecond = static_cast<int32_t>(r / 10 % 1000);
  out.nanosecond = static_cast<int32_t>(r % 10 * 100);
  // 1601-01-01 was a Monday (2); 1 = Sunday.
  out.dayOfWeek = static_cast<int32_t>((days % 7 + 7 + 1) % 7 + 1);
  out.dayOfYear = kDaysBeforeMonth[month] + day + ((isLeapYear(year) && month > 2) ? 1 : 0);
  return true;
}

TimeValue TimeValue::now() { return fromCalendar(readLocalClock()); }

TimeValue operator-(const TimeValue& a, const TimeValue& b) {
  if (a.status == TimeValue::Status::Null || b.status == TimeValue::Status::Null) {
    return TimeValue::null();
  }
  if (a.status == TimeValue::Status::Invalid || b.status == TimeValue::Status::Invalid) {
    return TimeValue::invalid();
  }
  int64_t diff = 0;
  if (__builtin_sub_overflow(a.ticks, b.ticks, &diff)) return TimeValue::invalid();
  return TimeValue::fromTicks(diff);
}

char* TimeValue::format(char* buf, int32_t size, const char* pattern) const {
  if (buf == nullptr || status == Status::Null || size <= 0) return nullptr;

  CalendarFields f;
  if (status == Status::Invalid || !toCalendar(f)) {
    copyTerminated(buf, size, "Invalid datetime");
    return buf;
  }

  std::string text(pattern != nullptr ? pattern : "");
  if (text.size() > static_cast<size_t>(size) - 1) text.resize(static_cast<size_t>(size) - 1);

  expandConversion(text, "%s", "%03d", f.millisecond, size);
  expandConversion(text, "%#s", "%d", f.millisecond, size);
  expandConversion(text, "%u", "%03d", f.microsecond, size);
  expandConversion(text, "%#u", "%d", f.microsecond, size);
  expandConversion(text, "%n", "%03d", f.nanosecond, size);
  expandConversion(text, "%#n", "%d", f.nanosecond, size);

  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_wday = f.dayOfWeek - 1;
  tm.tm_yday = f.dayOfYear - 1;
  tm.tm_isdst = 0;
  // strftime reports a result that does not fit with 0 and leaves the buffer
  // undefined: hand back an empty text then, never garbage.
  if (std::strftime(buf, static_cast<size_t>(size), text.c_str(), &tm) == 0) buf[0] = '\0';
  return buf;
}

}  // namespace kantiq
