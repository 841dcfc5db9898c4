#pragma once

// A gateway's URL taken apart: S.toml's reader checks it, the gateway sends to it.

#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq::sender {

struct ParsedUrl {
  bool secure = false;
  std::string host;
  uint16_t port = 0;
  std::string pathAndQuery;  // starts with '/'
};

// Accepts http:// and https:// URLs with an optional port; no user info.
bool parseUrl(std::string_view url, ParsedUrl& out);

}  // namespace kantiq::sender
