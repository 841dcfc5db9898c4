#include <windows.h>

#include "detector/time_value.h"

namespace kantiq {

CalendarFields readLocalClock() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  CalendarFields f;
  f.year = st.wYear;
  f.month = st.wMonth;
  f.day = st.wDay;
  f.hour = st.wHour;
  f.minute = st.wMinute;
  f.second = st.wSecond;
  f.millisecond = st.wMilliseconds;
  return f;
}

int64_t readMonotonicMs() { return static_cast<int64_t>(::GetTickCount64()); }

}  // namespace kantiq
