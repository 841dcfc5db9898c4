#include "dispatch/message_key.h"

namespace kantiq {
namespace {

std::array<uint8_t, kMessageKeyLength> buildMessageKey() {
  std::array<uint8_t, kMessageKeyLength> key{};
  uint32_t state = key_generator::kSeed;
  for (uint8_t& digit : key) {
    state = key_generator::next(state);
    digit = key_generator::digitOf(state);
  }
  return key;
}

}  // namespace

const std::array<uint8_t, kMessageKeyLength>& messageKey() {
  static const std::array<uint8_t, kMessageKeyLength> key = buildMessageKey();
  return key;
}

std::string scrambleMessage(std::string_view text) {
  const auto& key = messageKey();
  std::string out;
  out.reserve(text.size());
  size_t position = 0;
  for (const char c : text) {
    if (c == '\0') break;
    const uint8_t digit = key[position];
    uint8_t sum = static_cast<uint8_t>(static_cast<uint8_t>(c) + digit);
    if (sum == 0) sum = digit;  // see the header: never a zero byte
    out.push_back(static_cast<char>(sum));
    position = position + 1 == kMessageKeyLength ? 0 : position + 1;
  }
  return out;
}

std::string unscrambleMessage(std::string_view scrambled) {
  const auto& key = messageKey();
  std::string out;
  out.reserve(scrambled.size());
  size_t position = 0;
  for (const char c : scrambled) {
    const uint8_t digit = key[position];
    uint8_t plain = static_cast<uint8_t>(static_cast<uint8_t>(c) - digit);
    if (plain == 0) plain = static_cast<uint8_t>(0u - digit);  // the stand-in for 256 - digit
    out.push_back(static_cast<char>(plain));
    position = position + 1 == kMessageKeyLength ? 0 : position + 1;
  }
  return out;
}

}  // namespace kantiq
