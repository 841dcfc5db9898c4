#pragma once

#include "http_gateway.h"

namespace kantiq::sender {

// HTTP and HTTPS through WinHTTP, with the system's proxy settings.
class WinHttpClient : public HttpClient {
 public:
  HttpResponse perform(const HttpRequest& request, int32_t timeoutMs) override;
};

}  // namespace kantiq::sender
