#include "common/cp1252.h"

#include <array>
#include <cstdio>

namespace kantiq::tool {

namespace {

// 0x80 to 0x9F; the undefined bytes keep their own value.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at pos; false when it is malformed.
bool nextCodePoint(std::string_view s, size_t& pos, char32_t& cp) {
  const auto b0 = static_cast<uint8_t>(s[pos]);
  int extra = 0;
  if (b0 < 0x80) {
    cp = b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    cp = b0 & 0x1F;
    extra = 1;
  } else if ((b0 & 0xF0) == 0xE0) {
    cp = b0 & 0x0F;
    extra = 2;
  } else if ((b0 & 0xF8) == 0xF0) {
    cp = b0 & 0x07;
    extra = 3;
  } else {
    return false;
  }
  if (pos + static_cast<size_t>(extra) >= s.size() && extra > 0) return false;  // cut short
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<uint8_t>(s[pos + static_cast<size_t>(i)]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  pos += static_cast<size_t>(extra) + 1;
  return true;
}

}  // namespace

char32_t cp1252ToCodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

std::optional<uint8_t> codePointToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<uint8_t>(cp);
  for (size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

std::string cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendUtf8(out, cp1252ToCodePoint(static_cast<uint8_t>(c)));
  return out;
}

Utf8Conversion utf8ToCp1252(std::string_view utf8) {
  Utf8Conversion r;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    char32_t cp = 0;
    if (!nextCodePoint(utf8, pos, cp)) {
      r.ok = false;
      r.malformed = true;
      r.badOffset = start;
      return r;
    }
    const auto byte = codePointToCp1252(cp);
    if (!byte) {
      r.ok = false;
      r.badCodePoint = cp;
      r.badOffset = start;
      return r;
    }
    r.text.push_back(static_cast<char>(*byte));
  }
  return r;
}

std::string describeCodePoint(char32_t cp) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
  std::string name;
  switch (cp) {
    // German, for kantiq-config's messages; the escapes are UTF-8, as this
    // file is compiled for Windows-1252.
    case 0x00: name = "NUL"; break;
    case 0x09: name = "Tabulator"; break;
    case 0x0A: name = "Zeilenvorschub"; break;
    case 0x0D: name = "Wagenr\xC3\xBC" "cklauf"; break;
    case 0x1A: name = "Dateiende-Zeichen"; break;
    default:
      if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
        name = "Steuerzeichen";
      } else {
        std::string glyph;
        appendUtf8(glyph, cp);
        name = "'" + glyph + "'";
      }
  }
  return std::string(code) + " " + name;
}

}  // namespace kantiq::tool
