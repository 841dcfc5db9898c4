#include "dispatch/alarm_log.h"

#include <cstdio>
#include <mutex>

namespace kantiq {

std::string formatAlarmStamp(const TimeValue& time) {
  char stamp[29];
  const char* text = time.format(stamp, sizeof stamp, "%d.%m.%Y %H:%M:%S: ");
  return text != nullptr ? std::string(text) : std::string();
}

std::string buildAlarmLogLine(std::string_view stamp, std::string_view prefix,
                              std::string_view text) {
  std::string line;
  line.reserve(stamp.size() + prefix.size() + text.size() + 2);
  line += stamp;
  line += prefix;
  line += text;
  line += "\r\n";
  return line;
}

bool appendToFile(const std::string& path, std::string_view bytes) {
  // The analysis thread and the dispatch jobs both append to the alarm log;
  // one at a time, so that no line lands inside another.
  static std::mutex appending;
  const std::lock_guard<std::mutex> hold(appending);
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  return written && flushed && closed;
}

}  // namespace kantiq
