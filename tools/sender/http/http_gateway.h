#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sender/config/sender_config.h"
#include "sender/http/http_client.h"
#include "sender/message/sms_channel.h"

namespace kantiq::sender {

// Placeholders {nummer} and {text} in the URL are percent-encoded, in a form
// body percent-encoded, in a JSON body escaped as a JSON string's content, in
// a plain body inserted as they are. `textUtf8` is already UTF-8.
HttpRequest buildGatewayRequest(const HttpSettings& settings, std::string_view number,
                                std::string_view textUtf8);

// Success: an answer whose status is listed (any 2xx if none is) and whose
// body contains the configured pattern, if there is one. A failure counts as
//   - the gateway is down: no answer, 408, 429, 5xx;
//   - the gateway cannot work with this configuration: 401, 403, 404, 405,
//     407, 410, 415 and unfollowed redirects;
//   - the message is refused: any other 4xx, and a 2xx that does not pass
//     (the gateway took the request; sending it again could send it twice).
SendOutcome judgeGatewayResponse(const HttpSettings& settings, const HttpResponse& response);

// WinHTTP's error numbers (12001 and up) in German words, and how a request
// that ended in one counts.
std::string describeWinHttpError(uint32_t code);
Failure classifyWinHttpError(uint32_t code);

// Sends through an HTTP gateway, one request per message.
class HttpGatewayChannel : public SmsChannel {
 public:
  HttpGatewayChannel(HttpClient& client, const HttpSettings& settings)
      : client_(client), settings_(settings) {}
  SendOutcome send(const std::string& number, const std::string& textCp1252) override;

 private:
  HttpClient& client_;
  const HttpSettings& settings_;
};

}  // namespace kantiq::sender
