#include "sender/text/sms_text.h"

#include "common/cp1252.h"

#include <array>
#include <cstdint>
#include <utility>

namespace kantiq::sender {
namespace {

// Transliterations of Windows-1252 0x80..0xFF into the GSM-safe set.
// nullptr never occurs: every code has a replacement.
constexpr std::array<const char*, 128> kHighTransliteration = {
    // 0x80
    "EUR", "?", ",", "f", "\"", "...", "+", "+", "'", "o/oo", "S", "<", "OE", "?", "Z", "?",
    // 0x90
    "?", "'", "'", "\"", "\"", "*", "-", "-", "-", "TM", "s", ">", "oe", "?", "z", "Y",
    // 0xA0
    " ", "!", "c", "GBP", "?", "JPY", "/", "Par.", "\"", "(c)", "a", "<<", "-", "", "(R)", "-",
    // 0xB0
    "Grad", "+/-", "2", "3", "'", "u", "P", ".", ",", "1", "o", ">>", "1/4", "1/2", "3/4", "?",
    // 0xC0
    "A", "A", "A", "A", "Ae", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    // 0xD0
    "D", "N", "O", "O", "O", "O", "Oe", "x", "O", "U", "U", "U", "Ue", "Y", "Th", "ss",
    // 0xE0
    "a", "a", "a", "a", "ae", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    // 0xF0
    "d", "n", "o", "o", "o", "o", "oe", ":", "o", "u", "u", "u", "ue", "y", "th", "y"};

}  // namespace

std::string cp1252ToUtf8(std::string_view text) { return tool::cp1252ToUtf8(text); }

bool utf8ToCp1252(std::string_view utf8, std::string& out) {
  tool::Utf8Conversion converted = tool::utf8ToCp1252(utf8);
  if (!converted.ok) return false;
  out = std::move(converted.text);
  return true;
}

std::string toGsmSafeText(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + 8);
  for (char ch : cp1252) {
    const auto c = static_cast<uint8_t>(ch);
    if (c >= 0x80) {
      out += kHighTransliteration[c - 0x80];
      continue;
    }
    switch (c) {
      case '\t':
      case '\n':
      case '\r':
        out += ' ';
        break;
      // These differ between ASCII and the GSM basic table, or live only in
      // its escape-extension table, which text mode cannot pass reliably.
      case '@': out += "(at)"; break;
      case '$': out += "USD"; break;
      case '_': out += '-'; break;
      case '[': case '{': out += '('; break;
      case ']': case '}': out += ')'; break;
      case '\\': case '|': out += '/'; break;
      case '^': case '`': out += '\''; break;
      case '~': out += '-'; break;
      default:
        if (c < 0x20 || c == 0x7F)
          out += '?';
        else
          out += static_cast<char>(c);
    }
  }
  return out;
}

std::string foldCaseCp1252(std::string_view cp1252) {
  std::string out(cp1252);
  for (char& ch : out) {
    const auto c = static_cast<uint8_t>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
      ch = static_cast<char>(c + 0x20);
    else if (c == 0x8A || c == 0x8C || c == 0x8E)  // Š Œ Ž
      ch = static_cast<char>(c + 0x10);
    else if (c == 0x9F)  // Ÿ
      ch = static_cast<char>(0xFF);
  }
  return out;
}

std::vector<std::string> splitIntoSmsParts(std::string_view text) {
  if (text.size() <= kSmsSingleChars) return {std::string(text)};

  constexpr size_t kPayloadChars = kSmsSingleChars - kSmsPartPrefixChars;
  constexpr size_t kBreakSearchChars = 25;  // look this far back for a blank
  std::vector<std::string> bodies;
  size_t pos = 0;
  while (pos < text.size() && bodies.size() < kSmsMaxParts) {
    size_t remaining = text.size() - pos;
    if (remaining <= kPayloadChars) {
      bodies.emplace_back(text.substr(pos));
      pos = text.size();
      break;
    }
    if (bodies.size() + 1 == kSmsMaxParts) {
      // Last permitted part and still too long: cut and mark the cut.
      bodies.push_back(std::string(text.substr(pos, kPayloadChars - 3)) + "...");
      pos = text.size();
      break;
    }
    size_t take = kPayloadChars;
    for (size_t back = 0; back < kBreakSearchChars; ++back) {
      if (text[pos + kPayloadChars - back] == ' ') {
        take = kPayloadChars - back;
        break;
      }
    }
    bodies.emplace_back(text.substr(pos, take));
    pos += take;
    while (pos < text.size() && text[pos] == ' ') ++pos;  // no part starts with a blank
  }
  std::vector<std::string> parts;
  const size_t n = bodies.size();
  for (size_t k = 0; k < n; ++k)
    parts.push_back("(" + std::to_string(k + 1) + "/" + std::to_string(n) + ") " + bodies[k]);
  return parts;
}

}  // namespace kantiq::sender
