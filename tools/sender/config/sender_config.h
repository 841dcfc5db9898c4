#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kantiq::sender {

// The sender's configuration, read from the TOML file "S.toml" beside S.exe.
// Every text in here is Windows-1252 except where a field says UTF-8.

enum class ChannelKind { Modem, Http };

struct ModemSettings {
  std::string port;              // "COM1" .. "COM256"
  uint32_t baudRate = 115200;
  std::string pin;               // empty: the SIM needs none
  int32_t replyTimeoutMs = 10'000;  // for ordinary commands
  int32_t sendTimeoutMs = 60'000;   // from Ctrl-Z until +CMGS
};

enum class BodyFormat { None, Form, Json, Text };

struct HttpSettings {
  std::string url;  // UTF-8, may hold {nummer} and {text}
  std::string method = "POST";
  BodyFormat format = BodyFormat::None;
  std::string bodyTemplate;  // UTF-8, may hold {nummer} and {text}
  std::vector<std::pair<std::string, std::string>> headers;  // UTF-8
  std::vector<int32_t> successStatuses;  // empty: any 2xx
  std::string successPattern;            // UTF-8; empty: not checked
  int32_t timeoutMs = 30'000;
  bool gsmSafeText = false;  // transliterate as for a modem
  enum class Proxy { System, Direct, Named } proxyMode = Proxy::System;
  std::string proxy;  // "host:port" for Proxy::Named
};

struct RetrySettings {
  int32_t maxAttempts = 5;
  int32_t firstDelayMs = 10'000;
  int32_t maxDelayMs = 120'000;
  int32_t totalLimitMs = 15 * 60'000;
};

struct OutboxSettings {
  int32_t maxAgeHours = 24;  // older messages left by an earlier run are given up
};

struct RecipientGroup {
  std::string name;
  bool allAlarms = false;
  std::vector<std::string> keywords;  // case-folded; any one contained in the alarm text selects the group
  std::vector<std::string> numbers;   // normalised
  // Gets the notices for whoever looks after the PC ("hinweise = true");
  // a group may get notices only, or alarms as well.
  bool notices = false;
};

struct SenderConfig {
  ChannelKind channel = ChannelKind::Modem;
  std::optional<ChannelKind> fallback;  // the other channel, if one is configured
  ModemSettings modem;
  HttpSettings http;
  RetrySettings retry;
  OutboxSettings outbox;
  std::vector<RecipientGroup> groups;
  std::string testText;
};

struct ConfigResult {
  bool ok = false;
  SenderConfig config;
  std::string error;  // German, Windows-1252, names the place in the file
};

// Parses the configuration text (UTF-8). Never throws.
ConfigResult parseSenderConfig(std::string_view tomlText);

inline constexpr std::string_view kDefaultTestText =
    "Kantiq Test-SMS: Die Alarmierung per SMS funktioniert.";

// Removes blanks, '/', '-', '.', '(' and ')' from a phone number and checks
// what is left: an optional '+' and 3 to 20 digits. Returns false otherwise.
bool normalisePhoneNumber(std::string_view typed, std::string& out);
// Whether `number` is already a number as normalisePhoneNumber leaves it:
// the only form that goes into a modem command or a gateway request.
bool isPlainPhoneNumber(std::string_view number);

struct Recipient {
  std::string number;
  std::string group;
};

// Every number of a group for all alarms or of a group one of whose keywords
// the alarm text contains (ignoring case), each number once, in the order of
// the file.
std::vector<Recipient> selectRecipients(const SenderConfig& config, std::string_view alarmText);

// Every number of a group with "hinweise = true", each number once, in the
// order of the file. Alarm groups get no notice for being alarm groups.
std::vector<Recipient> selectNoticeRecipients(const SenderConfig& config);

}  // namespace kantiq::sender
