#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq::sender {

struct SendOutcome {
  bool sent = false;
  std::string detail;  // German, Windows-1252: the reference on success, the reason otherwise
};

// One way of getting a text to a phone. `send` makes one attempt and never
// throws; the caller decides about retries.
class SmsChannel {
 public:
  virtual ~SmsChannel() = default;
  virtual SendOutcome send(const std::string& number, const std::string& textCp1252) = 0;
};

// Monotonic milliseconds and sleeping, so retries and time limits can be
// tested without waiting.
class SenderClock {
 public:
  virtual ~SenderClock() = default;
  virtual int64_t nowMs() = 0;
  virtual void sleepMs(int64_t ms) = 0;
};

// Receives the send log's lines (Windows-1252, without time stamp or line end).
class SendLog {
 public:
  virtual ~SendLog() = default;
  virtual void write(std::string_view line) = 0;
};

}  // namespace kantiq::sender
