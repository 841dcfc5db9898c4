#pragma once

#include <cstdint>

namespace kantiq::sender {

// Monotonic milliseconds and sleeping, so retries and time limits can be
// tested without waiting.
class SenderClock {
 public:
  virtual ~SenderClock() = default;
  virtual int64_t nowMs() = 0;
  virtual void sleepMs(int64_t ms) = 0;
};

}  // namespace kantiq::sender
