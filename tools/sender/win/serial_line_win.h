#pragma once

#include <cstdint>
#include <string>

#include "sender/modem/modem_session.h"
#include "win32/owners_win.h"

namespace kantiq::sender {

// A COM port, 8N1 without flow control, opened on demand.
class SerialLine : public ByteStream {
 public:
  SerialLine(std::string port, uint32_t baudRate) : port_(std::move(port)), baudRate_(baudRate) {}
  bool open(std::string& reason) override;
  bool write(std::string_view bytes) override;
  int32_t read(char* buffer, int32_t capacity, int32_t timeoutMs) override;
  void close() override { handle_.reset(); }

 private:
  bool setReadTimeout(int32_t timeoutMs);

  std::string port_;
  uint32_t baudRate_;
  UniqueHandle handle_;
  int32_t readTimeoutMs_ = -1;  // the one COMMTIMEOUTS currently holds
};

}  // namespace kantiq::sender
