#include "common/json_text.h"

#include <cstdint>
#include <cstdio>

namespace kantiq::tool {

std::string jsonEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<uint8_t>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<uint8_t>(c)));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace kantiq::tool
