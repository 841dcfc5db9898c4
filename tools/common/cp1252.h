#pragma once

// Windows-1252, the character set of the program's texts, and UTF-8, the
// character set of TOML and of Linux terminals.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kantiq::tool {

// The code point of a Windows-1252 byte. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, as Windows' own conversion does, so every byte survives a round trip.
char32_t cp1252ToCodePoint(uint8_t byte);

// The Windows-1252 byte of a code point, or nothing when the code page lacks it.
std::optional<uint8_t> codePointToCp1252(char32_t codePoint);

std::string cp1252ToUtf8(std::string_view text);

struct Utf8Conversion {
  std::string text;           // Windows-1252
  bool ok = true;
  char32_t badCodePoint = 0;  // the first character Windows-1252 lacks
  size_t badOffset = 0;       // its byte offset in the UTF-8 input
  bool malformed = false;     // the input is not UTF-8 at all
};
Utf8Conversion utf8ToCp1252(std::string_view utf8);

// "U+00E4 'ä'" style name of a character for kantiq-config's messages;
// controls get their German name ("Zeilenvorschub").
std::string describeCodePoint(char32_t codePoint);

}  // namespace kantiq::tool
