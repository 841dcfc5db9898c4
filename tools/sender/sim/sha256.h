#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq::sender {

// SHA-256 of a byte string (FIPS 180-4).
std::array<uint8_t, 32> sha256(std::string_view bytes);

// The same as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace kantiq::sender
