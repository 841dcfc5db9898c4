#pragma once

#include <string>
#include <string_view>

#include "common/cp1252.h"

namespace kantiq::scan {

// The program's texts are Windows-1252; a terminal wants UTF-8.
using tool::cp1252ToUtf8;

// A JSON string literal of UTF-8 text, quotes included.
std::string jsonString(std::string_view utf8);

}  // namespace kantiq::scan
