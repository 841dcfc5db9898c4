#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sender_config.h"
#include "sms_channel.h"

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

// Talks to a GSM modem in text mode:
//   Esc, AT, ATE0, AT+CPIN? (AT+CPIN="pin" when the SIM asks), AT+CMGF=1,
//   then per message AT+CMGS="number", the '>' prompt, the text and Ctrl-Z,
//   and +CMGS: <ref> with OK.
// A failed message leaves the session unprepared, so the next attempt starts
// from a fresh line and AT again. A rejected PIN is never offered twice:
// three wrong entries would lock the SIM card.
class ModemSession : public SmsChannel {
 public:
  ModemSession(ByteStream& line, const ModemSettings& settings, SenderClock& clock)
      : line_(line), settings_(settings), clock_(clock) {}

  // `textCp1252` is made GSM-safe here; it must fit in one message.
  SendOutcome send(const std::string& number, const std::string& textCp1252) override;

  // The bytes of the text as they go to the modem.
  static std::string wireText(std::string_view textCp1252);

 private:
  struct Reply {
    enum class Kind { Ok, Error, Timeout, LineFailed } kind = Kind::Timeout;
    std::string final;                // "OK", "ERROR", "+CMS ERROR: 500", ...
    std::vector<std::string> lines;   // information lines before it
  };

  bool prepare(std::string& reason);
  bool unlockSim(std::string& reason);
  Reply command(std::string_view text, int32_t timeoutMs);
  Reply awaitFinal(int32_t timeoutMs);
  bool awaitPrompt(int32_t timeoutMs);
  // Next complete line (without CR LF), skipping empty ones; false on timeout
  // or a failed line.
  bool nextLine(int64_t deadlineMs, std::string& line, bool& lineFailed);
  SendOutcome failAndReset(std::string reason);
  std::string describe(const Reply& reply, std::string_view what) const;

  ByteStream& line_;
  const ModemSettings& settings_;
  SenderClock& clock_;
  bool prepared_ = false;
  bool pinRejected_ = false;
  std::string pending_;  // bytes read but not yet consumed
};

inline constexpr char kCtrlZ = '\x1A';
inline constexpr char kEscape = '\x1B';

}  // namespace kantiq::sender
