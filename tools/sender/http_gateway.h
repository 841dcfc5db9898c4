#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sender_config.h"
#include "sms_channel.h"

namespace kantiq::sender {

struct ParsedUrl {
  bool secure = false;
  std::string host;
  uint16_t port = 0;
  std::string pathAndQuery;  // starts with '/'
};

// Accepts http:// and https:// URLs with an optional port; no user info.
bool parseUrl(std::string_view url, ParsedUrl& out);

struct HttpRequest {
  std::string method;
  ParsedUrl target;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

struct HttpResponse {
  bool completed = false;       // false: no answer (connection, timeout)
  std::string transportError;   // German, when not completed
  Failure transportFailure = Failure::ChannelDown;  // how a send that ends there counts
  int32_t status = 0;
  std::string body;
  std::string proxy;            // the proxy the request went through; empty: direct
  bool mayHaveArrived = false;  // not completed, but only after the request had gone out
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse perform(const HttpRequest& request, int32_t timeoutMs) = 0;
};

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
