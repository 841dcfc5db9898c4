#pragma once

// The stored form of "SMSConfig1.dat": a text scrambled with the configuration
// key, read back through the C run time's text-mode delivery.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq {

inline constexpr size_t kConfigurationKeyLength = 3601;
// The loader handles at most this many delivered bytes; longer data is refused.
inline constexpr size_t kMaxConfigurationBytes = 65535;
// Stored bytes worth reading: every stored byte but a CR of a CR LF pair
// delivers one byte, so this many stored bytes without a 0x1A always deliver
// more than kMaxConfigurationBytes. Reading more never changes the verdict.
inline constexpr size_t kMaxStoredBytesRead = 2 * (kMaxConfigurationBytes + 1);

// The configuration key: 3601 values 0 to 9, used cyclically. Built once, on
// first use, from a small generator with a fixed seed.
const std::array<uint8_t, kConfigurationKeyLength>& configurationKey();

// Text-mode delivery of the stored bytes: CR LF is delivered as one LF, a
// 0x1A ends the data, every other byte (a lone CR included) passes unchanged.
std::vector<uint8_t> deliverStoredBytes(std::span<const uint8_t> fileBytes);

// Subtracts the key from the delivered bytes. The text ends at the end of the
// data or at the first byte that decodes to 0; a stored 0 is decoded like any
// other byte.
std::string decodeConfiguration(std::span<const uint8_t> delivered);

// Adds the key to every byte of the text: the bytes to store. The result only
// loads back as the same text when findStorageHazards() finds nothing.
std::vector<uint8_t> encodeConfiguration(std::string_view text);

// A place where the stored bytes of a text would not be delivered back as
// written, so the text would load differently.
struct StorageHazard {
  enum class Kind : uint8_t {
    TextByteZero,     // a text byte 0 would end the text
    StoredEndOfFile,  // the byte would be stored as 0x1A and end the data
    StoredCrLf,       // the byte would be stored as CR right before a stored LF
  };
  Kind kind;
  size_t position;  // index into the text
};
std::vector<StorageHazard> findStorageHazards(std::string_view text);

// Reads a field as a signed decimal number the way strtol does (leading
// white space, one sign, digits up to the first non-digit; no digits reads as
// 0), saturating at the limits of int32 as a 32-bit strtol does on overflow.
int32_t readConfigurationNumber(std::string_view field);

}  // namespace kantiq
