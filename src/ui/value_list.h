#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kantiq {

// The values behind a drop-down list's entries, in list order.
class ValueList {
 public:
  static constexpr int32_t kCapacity = 32;

  // False when the list holds kCapacity values; the entry is then not added
  // to the control either.
  bool add(int32_t value);
  void clear() { count_ = 0; }
  // The value of an entry; none for an index the list reports as "no
  // selection" or for one past the entries.
  std::optional<int32_t> valueAt(int32_t index) const;
  int32_t count() const { return count_; }

 private:
  std::array<int32_t, kCapacity> values_{};
  int32_t count_ = 0;
};

// Sample rates a device offers, from its wave-input format bits: 11025 for
// any of 0x00F, 22050 for 0x0F0, 44100 for 0xF00, in this order.
int32_t offeredSampleRates(uint32_t formatBits, std::array<int32_t, 3>& rates);
// Whether the device offers any 16-bit format (mask 0x0CCC).
bool offers16Bit(uint32_t formatBits);

}  // namespace kantiq
