#pragma once

#include <string>
#include <string_view>

#include "common/cp1252.h"
#include "common/json_text.h"

namespace kantiq::scan {

// The program's texts are Windows-1252; a terminal wants UTF-8.
using tool::cp1252ToUtf8;

// A JSON string literal of UTF-8 text, quotes included.
inline std::string jsonString(std::string_view utf8) { return '"' + tool::jsonEscape(utf8) + '"'; }

}  // namespace kantiq::scan
