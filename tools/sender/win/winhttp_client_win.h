#pragma once

#include "sender/delivery/check_report.h"
#include "sender/http/http_gateway.h"

namespace kantiq::sender {

// HTTP and HTTPS through WinHTTP. TLS 1.2 (and 1.3 where Windows has it) is
// switched on explicitly: WinHTTP in Windows 7 offers only older versions
// unless asked. The proxy is the one S.toml names, none ("direkt"), or the
// user's system setting (automatic detection, a configuration script or a
// fixed proxy, as the Internet options say).
class WinHttpClient : public HttpClient {
 public:
  explicit WinHttpClient(const HttpSettings& settings) : settings_(settings) {}
  HttpResponse perform(const HttpRequest& request, int32_t timeoutMs) override;

 private:
  const HttpSettings& settings_;
};

// The check mode's look at a gateway: does its name resolve, does it answer
// (a HEAD request for "/", which sends nothing).
GatewayProbe probeGateway(const HttpSettings& settings);

}  // namespace kantiq::sender
