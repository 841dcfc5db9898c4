#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sender/config/sender_config.h"
#include "sender/modem/modem_session.h"

namespace kantiq::sender {

// What the check mode found out about a gateway, without sending.
struct GatewayProbe {
  std::string host;
  uint16_t port = 0;
  bool secure = false;       // https
  bool resolved = false;     // the name has an address
  std::string addresses;     // the first few, or why it did not resolve
  bool answered = false;     // an HTTP answer came back (over TLS, for https)
  int32_t status = 0;
  std::string problem;       // German; empty when it answered
  std::string proxy;         // the proxy the request went through, if any
};

struct CheckReport {
  std::vector<std::string> lines;  // Windows-1252, without line ends
  bool canSend = false;            // at least one configured channel works
  std::string summary;             // one line for the send log and the summary
};

// The check mode's report: the configuration, the recipient groups and,
// for each configured channel, what was found. A channel that was not
// checked is given as null.
CheckReport buildCheckReport(const SenderConfig& config, const std::string& configPath,
                             const ModemInspection* modem, const GatewayProbe* gateway);

}  // namespace kantiq::sender
