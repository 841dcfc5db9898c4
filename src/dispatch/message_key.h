#pragma once

// The message key and the scrambling of the text on the sender's command
// line. The sender links this same code, so both sides always agree.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq {

inline constexpr size_t kMessageKeyLength = 3601;

// Digit number `position` (0 to 3600) of the message key. The digits come
// from a small fixed-seed generator, so no table of them is kept in the
// source; evaluable at compile time for the scrambled test argument.
namespace key_generator {
inline constexpr uint32_t kSeed = 0x6B51A3E9u;
// xorshift32 step.
constexpr uint32_t next(uint32_t state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}
// One decimal digit from a generator state, taken from its upper bits.
constexpr uint8_t digitOf(uint32_t state) {
  return static_cast<uint8_t>((((state >> 8) * 0x9E37u) >> 12) % 10u);
}
}  // namespace key_generator

constexpr uint8_t messageKeyDigit(size_t position) {
  uint32_t state = key_generator::kSeed;
  for (size_t i = 0; i <= position; ++i) state = key_generator::next(state);
  return key_generator::digitOf(state);
}

// The whole key, built once at run time.
const std::array<uint8_t, kMessageKeyLength>& messageKey();

// Adds the key to the text, byte by byte modulo 256, from key position 0,
// cyclically with period 3601. The text ends at its first zero byte.
//
// A byte whose sum with its digit is exactly 256 would become a zero byte and
// cut the command line there. Such a byte is sent as the digit itself
// instead: a digit on its own stands for a text byte of 0, which no text
// holds, so unscrambleMessage can tell it apart. No other byte is affected,
// and the result never contains a zero byte.
std::string scrambleMessage(std::string_view text);

// The inverse of scrambleMessage.
std::string unscrambleMessage(std::string_view scrambled);

// Compile-time scrambling of a short constant (the test argument).
template <size_t N>
constexpr std::array<char, N> scrambleConstant(const char (&plain)[N + 1]) {
  std::array<char, N> out{};
  for (size_t i = 0; i < N; ++i) {
    const uint8_t digit = messageKeyDigit(i);
    uint8_t sum = static_cast<uint8_t>(static_cast<uint8_t>(plain[i]) + digit);
    if (sum == 0) sum = digit;
    out[i] = static_cast<char>(sum);
  }
  return out;
}

}  // namespace kantiq
