#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kantiq::sender {

// Texts inside the sender are single-byte Windows-1252, like the alarm texts
// the program hands over. The configuration file is UTF-8 (TOML), the HTTP
// gateways want UTF-8.

// Windows-1252 to UTF-8. The five unassigned codes map to the C1 controls of
// the same value, as Windows does.
std::string cp1252ToUtf8(std::string_view text);

// UTF-8 to Windows-1252. Returns false (and leaves `out` unspecified) on
// malformed UTF-8 or a character that Windows-1252 cannot hold.
bool utf8ToCp1252(std::string_view utf8, std::string& out);

// Rewrites a Windows-1252 text so that it uses only characters that have the
// same code in ASCII and in the GSM 7-bit default alphabet: letters, digits,
// blank and !"#%&'()*+,-./:;<=>?. A modem in text mode passes these unchanged
// whatever character set it is set to; everything else is transliterated
// (ä -> ae, ß -> ss, € -> EUR, @ -> (at), typographic quotes -> plain ones),
// line breaks and tabs become blanks and other control codes become '?'.
// The result never holds Ctrl-Z or Esc, which would end or cancel a message.
std::string toGsmSafeText(std::string_view cp1252);

// Blanks and line breaks are frequent; "case folding" here is for matching
// keywords against alarm texts: ASCII and Latin-1 letters of Windows-1252.
std::string foldCaseCp1252(std::string_view cp1252);

inline constexpr size_t kSmsSingleChars = 160;
// Text mode cannot carry the header that glues concatenated parts together,
// so a long text goes out as numbered separate messages "(1/3) ...".
inline constexpr size_t kSmsPartPrefixChars = 6;  // "(k/n) "
inline constexpr size_t kSmsMaxParts = 6;

// Splits a GSM-safe text into at most kSmsMaxParts messages of at most
// kSmsSingleChars characters each. A text that fits stays one message without
// a prefix; otherwise every part is numbered, breaks fall on a blank where one
// is near, and a text beyond the last part is cut and ends in "...".
std::vector<std::string> splitIntoSmsParts(std::string_view text);

}  // namespace kantiq::sender
