#pragma once

// Waiting in tests for what threads and windows do on their own time.

#include <chrono>
#include <functional>
#include <thread>

namespace kantiq::test_support {

// Polls until the condition holds, every `step`; false when it still does
// not hold after `patience` (taken for a hang).
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds patience = std::chrono::seconds(20),
                       std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(step);
  }
  return condition();
}

}  // namespace kantiq::test_support
