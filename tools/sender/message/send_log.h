#pragma once

#include <string_view>

namespace kantiq::sender {

// Receives the send log's lines (Windows-1252, without time stamp or line end).
class SendLog {
 public:
  virtual ~SendLog() = default;
  virtual void write(std::string_view line) = 0;
};

}  // namespace kantiq::sender
