#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sender/config/sender_config.h"
#include "sender/message/send_log.h"
#include "sender/message/sender_clock.h"
#include "sender/message/sms_channel.h"
#include "sender/modem/byte_stream.h"
#include "sender/sim/pin_guard.h"

namespace kantiq::sender {

// What the check mode found out about the modem, step by step; a step not
// reached stays empty.
struct ModemInspection {
  bool opened = false;
  bool answers = false;           // AT answered OK
  std::string identity;           // maker and model, if the modem says
  std::string simState;           // German, e.g. "bereit"
  bool simReady = false;
  std::optional<int> pinAttemptsLeft;
  std::optional<int> registration;  // the <stat> of +CREG
  std::optional<int> signal;        // the <rssi> of +CSQ (0..31, 99 unknown)
  std::string operatorName;
  bool textMode = false;          // AT+CMGF=1 accepted
  std::string problem;            // German: why no message could go out; empty if one could
};

// Talks to a GSM modem in text mode:
//   Esc, AT, ATE0, AT+CMEE=1, AT+CPIN? (AT+CPIN="pin" when the SIM asks and
//   the PinGuard allows it), AT+CMGF=1, AT+CSCS="GSM",
//   then per message AT+CMGS="number", the '>' prompt, the text and Ctrl-Z,
//   and +CMGS: <ref> with OK.
// Unsolicited lines (RING, +CMTI, +CREG, ...) that arrive in the middle of
// a dialogue are skipped. A failed message leaves the session unprepared,
// so the next attempt starts from a fresh line and AT again. States of the
// SIM that need a person (PIN refused, PUK) go to `notes` once each.
class ModemSession : public SmsChannel {
 public:
  ModemSession(ByteStream& line, const ModemSettings& settings, SenderClock& clock, PinGuard& pins,
               SendLog* notes = nullptr)
      : line_(line), settings_(settings), clock_(clock), pins_(pins), notes_(notes) {}

  // `textCp1252` is made GSM-safe here; it must fit in one message.
  SendOutcome send(const std::string& number, const std::string& textCp1252) override;

  // Goes through the set-up and asks the modem about its network without
  // sending anything. Leaves the line closed.
  ModemInspection inspect();

  // The bytes of the text as they go to the modem.
  static std::string wireText(std::string_view textCp1252);

  // The PIN attempts left in a modem's answer to one of the queries tried
  // (AT+CPINR="SIM PIN", AT+QPINC="SC", AT^SPIC, AT+CPINC?, AT^CPIN?, AT#PCT).
  static std::optional<int> parsePinAttempts(std::string_view query, const std::vector<std::string>& lines);
  // The <stat> of an answer to AT+CREG? ("+CREG: 0,1" or "+CREG: 1").
  static std::optional<int> parseRegistration(const std::vector<std::string>& lines);
  // The <rssi> of an answer to AT+CSQ ("+CSQ: 17,99").
  static std::optional<int> parseSignal(const std::vector<std::string>& lines);
  // The operator's name in an answer to AT+COPS? ('+COPS: 0,0,"Telekom.de",7').
  static std::string parseOperator(const std::vector<std::string>& lines);

 private:
  struct Reply {
    enum class Kind { Ok, Error, Timeout, LineFailed } kind = Kind::Timeout;
    std::string final;                // "OK", "ERROR", "+CMS ERROR: 500", ...
    std::vector<std::string> lines;   // information lines before it
  };

  bool prepare(std::string& reason, Failure& failure);
  bool openAndProbe(std::string& reason);
  bool readySim(std::string& reason, Failure& failure);
  bool unlockSim(std::string& reason, Failure& failure);
  bool mayEnterPin(std::string& reason, std::string& counted);
  enum class PinEntryStep { Unlocked, Failed, EnterAgain };
  PinEntryStep afterPinError(const std::string& final, int entry, const std::string& counted, std::string& reason,
                             Failure& failure);
  PinEntryStep afterPinNotTaken(const std::string& final, int entry, const std::string& counted,
                                std::string& reason, Failure& failure);
  bool awaitReadyAfterPin(const Reply& entered, std::string& reason, Failure& failure);
  bool entryTaken(const std::string& final);
  enum class SimAnswer { Ready, WantsPin, Busy, Other };
  SimAnswer askSim();
  std::optional<int> queryPinAttempts(std::string& source);
  Reply command(std::string_view text, int32_t timeoutMs, std::string_view expected = {});
  Reply awaitFinal(int32_t timeoutMs, std::string_view expected = {});
  bool awaitPrompt(int32_t timeoutMs);
  // Next complete line (without CR LF), skipping empty ones; false on timeout
  // or a failed line.
  bool nextLine(int64_t deadlineMs, std::string& line, bool& lineFailed);
  SendOutcome failAndReset(Failure failure, std::string reason);
  std::string describe(const Reply& reply, std::string_view what) const;
  void note(const std::string& line);

  ByteStream& line_;
  const ModemSettings& settings_;
  SenderClock& clock_;
  PinGuard& pins_;
  SendLog* notes_;
  bool prepared_ = false;
  std::string simState_;           // German, for the check
  std::optional<int> attemptsLeft_;
  std::set<std::string> noted_;
  std::string pending_;  // bytes read but not yet consumed
};

inline constexpr char kCtrlZ = '\x1A';
inline constexpr char kEscape = '\x1B';

// German words for a signal strength (the <rssi> of +CSQ) and its level in
// dBm: "-73 dBm (gut)".
std::string describeSignal(int rssi);
// German words for a network registration state (the <stat> of +CREG).
std::string describeRegistration(int stat);

}  // namespace kantiq::sender
