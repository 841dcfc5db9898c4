#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sender/message/sms_channel.h"

namespace kantiq::sender {

// What a modem's final error line means, with extended error codes on
// (AT+CMEE=1): "+CMS ERROR: 28" (message service, GSM 27.005 and the network's
// own causes) or "+CME ERROR: 16" (equipment, GSM 27.007). A modem that
// answers in words instead ("+CME ERROR: incorrect password") is understood
// for the common cases too.
struct ModemError {
  enum class Family { Plain, Message, Equipment } family = Family::Plain;
  std::optional<int> code;   // absent for a bare "ERROR" or an unknown word
  std::string description;   // German, empty when the code is not known
  Failure failure = Failure::MessageRetry;  // how a send that ends in it counts
};

ModemError interpretModemError(std::string_view finalLine);

// '"+CMS ERROR: 28" (Teilnehmer unbekannt)', or just the quoted line.
std::string quoteModemError(std::string_view finalLine);

// Equipment error codes that matter for the SIM.
inline constexpr int kCmeSimNotInserted = 10;
inline constexpr int kCmeSimPinRequired = 11;
inline constexpr int kCmeSimPukRequired = 12;
inline constexpr int kCmeSimFailure = 13;
inline constexpr int kCmeSimBusy = 14;
inline constexpr int kCmeSimWrong = 15;
inline constexpr int kCmeIncorrectPassword = 16;

}  // namespace kantiq::sender
