#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sender/config/url.h"
#include "sender/message/sms_channel.h"

namespace kantiq::sender {

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

}  // namespace kantiq::sender
