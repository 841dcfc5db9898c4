#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sender_config.h"
#include "sms_channel.h"

namespace kantiq::sender {

// S.exe's exit codes.
inline constexpr int kExitAllSent = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitConfigError = 2;
inline constexpr int kExitBadCommandLine = 3;
inline constexpr int kExitNoRecipients = 4;
inline constexpr int kExitOutOfTime = 5;  // the hard limit stopped the sender
inline constexpr int kExitInternalError = 6;

struct OutgoingMessage {
  std::string number;
  std::string text;   // Windows-1252
  std::string label;  // how the log names it: the number and, for a part, "(Teil 2/3)"
};

struct DeliveryReport {
  size_t sent = 0;
  size_t failed = 0;
};

// Tries every message once, then waits and tries the ones still unsent
// again, in rounds, with waits growing from firstDelayMs by doubling up to
// maxDelayMs, until each is sent, has had maxAttempts tries, or the clock
// reaches deadlineMs. Every attempt and every final failure goes to the log.
DeliveryReport deliverMessages(const std::vector<OutgoingMessage>& messages, SmsChannel& channel,
                               const RetrySettings& retry, SenderClock& clock, SendLog& log,
                               int64_t deadlineMs);

// What one start of S.exe asks for.
struct SendRequest {
  enum class Kind { Alarm, Test } kind = Kind::Alarm;
  std::string text;    // the alarm text (Windows-1252), for an alarm
  std::string number;  // the number as typed, for a test
};

// Chooses the recipients (or the test number), shapes the texts for the
// channel, delivers, logs the start and the end, and returns the exit code.
int runSendRequest(const SendRequest& request, const SenderConfig& config, SmsChannel& channel,
                   SenderClock& clock, SendLog& log, int64_t deadlineMs);

}  // namespace kantiq::sender

namespace kantiq::sender {

// One line of the send log file: "08.12.2026 17:41:25: <text>" and CR LF.
// Control codes in the text (a garbled alarm text) become '?', so each
// entry stays one line.
std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text);

}  // namespace kantiq::sender
