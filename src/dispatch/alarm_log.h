#pragma once

// The alarm log: one line per raised alarm, appended to "KantiqLog.txt" next
// to the executable.

#include <string>
#include <string_view>

#include "detector/time_value.h"

namespace kantiq {

inline constexpr std::string_view kAlarmLogFileSpec = "\\KantiqLog.txt";
inline constexpr std::string_view kAlarmPrefix = "ALARMIERUNG: ";
// Written in place of kAlarmPrefix when an alarm could not be handed to a
// dispatch job.
inline constexpr std::string_view kNotDispatchedPrefix = "ALARMIERUNG NICHT WEITERGELEITET: ";

// "08.12.2026 01:41:25: " for the given time; empty for a null stamp.
std::string formatAlarmStamp(const TimeValue& time);

// The log entry: stamp, prefix, the text byte for byte, CR LF.
std::string buildAlarmLogLine(std::string_view stamp, std::string_view prefix,
                              std::string_view text);

// Appends bytes to the file, creating it if needed; the file is flushed and
// closed before returning. False when it could not be opened or written.
bool appendToFile(const std::string& path, std::string_view bytes);

}  // namespace kantiq
