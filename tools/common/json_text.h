#pragma once

// JSON string escaping for the companion programs' machine-readable output
// and the sender's gateway requests.

#include <string>
#include <string_view>

namespace kantiq::tool {

// The text with quote, backslash and the control characters escaped, without
// the surrounding quotes. Bytes from 0x80 up pass unchanged (the caller hands
// in UTF-8).
std::string jsonEscape(std::string_view utf8);

}  // namespace kantiq::tool
