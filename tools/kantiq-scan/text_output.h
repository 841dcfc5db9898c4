#pragma once

#include <string>
#include <string_view>

namespace kantiq::scan {

// The program's texts are Windows-1252; a terminal wants UTF-8.
std::string cp1252ToUtf8(std::string_view text);

// A JSON string literal of UTF-8 text, quotes included.
std::string jsonString(std::string_view utf8);

}  // namespace kantiq::scan
