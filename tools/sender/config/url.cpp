#include "sender/config/url.h"

#include <algorithm>
#include <string>

namespace kantiq::sender {

bool parseUrl(std::string_view url, ParsedUrl& out) {
  out = ParsedUrl{};
  std::string_view rest;
  if (url.substr(0, 7) == "http://") {
    rest = url.substr(7);
    out.port = 80;
  } else if (url.substr(0, 8) == "https://") {
    rest = url.substr(8);
    out.secure = true;
    out.port = 443;
  } else {
    return false;
  }
  const size_t slash = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, slash);
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about prepending.
  out.pathAndQuery.clear();
  if (slash == std::string_view::npos || rest[slash] == '?') out.pathAndQuery += '/';
  if (slash != std::string_view::npos) out.pathAndQuery.append(rest.substr(slash));
  if (authority.find('@') != std::string_view::npos) return false;
  const size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && authority.find(']') == std::string_view::npos) {
    const std::string_view portText = authority.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    const int port = std::stoi(std::string(portText));
    if (port < 1 || port > 65535) return false;
    out.port = static_cast<uint16_t>(port);
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return false;
  for (char c : authority)
    if (static_cast<unsigned char>(c) <= ' ' || c == '{' || c == '}') return false;
  for (char c : out.pathAndQuery)
    if (static_cast<unsigned char>(c) <= ' ') return false;
  out.host = std::string(authority);
  return true;
}

}  // namespace kantiq::sender
