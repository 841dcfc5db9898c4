#include "config/configuration_text.h"

#include <limits>

namespace kantiq {

namespace {

constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kEndOfFile = 0x1A;

// A 32-bit linear congruential generator; the key is its digit stream.
constexpr uint32_t kKeySeed = 0x4B414E54u;
constexpr uint32_t kKeyMultiplier = 1664525u;
constexpr uint32_t kKeyIncrement = 1013904223u;

std::array<uint8_t, kConfigurationKeyLength> buildKey() {
  std::array<uint8_t, kConfigurationKeyLength> key{};
  uint32_t state = kKeySeed;
  for (uint8_t& digit : key) {
    state = state * kKeyMultiplier + kKeyIncrement;
    // The high bits of an LCG are the well-mixed ones.
    digit = static_cast<uint8_t>(((state >> 16) * 10u) >> 16);
  }
  return key;
}

bool isNumberSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

const std::array<uint8_t, kConfigurationKeyLength>& configurationKey() {
  static const std::array<uint8_t, kConfigurationKeyLength> key = buildKey();
  return key;
}

std::vector<uint8_t> deliverStoredBytes(std::span<const uint8_t> fileBytes) {
  std::vector<uint8_t> out;
  out.reserve(fileBytes.size());
  for (size_t i = 0; i < fileBytes.size(); ++i) {
    const uint8_t b = fileBytes[i];
    if (b == kEndOfFile) break;
    if (b == kCarriageReturn && i + 1 < fileBytes.size() && fileBytes[i + 1] == kLineFeed) {
      continue;  // the LF that follows is delivered in its place
    }
    out.push_back(b);
  }
  return out;
}

std::string decodeConfiguration(std::span<const uint8_t> delivered) {
  const auto& key = configurationKey();
  std::string text;
  text.reserve(delivered.size());
  size_t k = 0;
  for (const uint8_t stored : delivered) {
    const auto b = static_cast<uint8_t>(stored - key[k]);
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
    if (++k == kConfigurationKeyLength) k = 0;
  }
  return text;
}

std::vector<uint8_t> encodeConfiguration(std::string_view text) {
  const auto& key = configurationKey();
  std::vector<uint8_t> stored;
  stored.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    stored.push_back(static_cast<uint8_t>(static_cast<uint8_t>(text[i]) +
                                          key[i % kConfigurationKeyLength]));
  }
  return stored;
}

std::vector<StorageHazard> findStorageHazards(std::string_view text) {
  std::vector<StorageHazard> hazards;
  const std::vector<uint8_t> stored = encodeConfiguration(text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\0') {
      hazards.push_back({StorageHazard::Kind::TextByteZero, i});
    } else if (stored[i] == kEndOfFile) {
      hazards.push_back({StorageHazard::Kind::StoredEndOfFile, i});
    } else if (stored[i] == kCarriageReturn && i + 1 < stored.size() &&
               stored[i + 1] == kLineFeed) {
      hazards.push_back({StorageHazard::Kind::StoredCrLf, i});
    }
  }
  return hazards;
}

int32_t readConfigurationNumber(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && isNumberSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  // Accumulate the magnitude in 64 bits and stop growing once it is past the
  // int32 range: the result saturates, it never wraps.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (field[i] - '0');
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::min()
                               : static_cast<int32_t>(-magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<int32_t>::max()
                             : static_cast<int32_t>(magnitude);
}

}  // namespace kantiq
