#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq::sender {

// The serial line to the modem, byte by byte.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Opens the line if needed; false with a German reason if it cannot.
  virtual bool open(std::string& reason) = 0;
  virtual bool write(std::string_view bytes) = 0;
  // Waits up to timeoutMs for at least one byte and returns what came:
  // the count (0 after the time passed without data), or -1 if the line failed.
  virtual int32_t read(char* buffer, int32_t capacity, int32_t timeoutMs) = 0;
  // Closes the line; the next open starts afresh.
  virtual void close() = 0;
};

}  // namespace kantiq::sender
