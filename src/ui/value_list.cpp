#include "ui/value_list.h"

namespace kantiq {

bool ValueList::add(int32_t value) {
  if (count_ >= kCapacity) return false;
  values_[static_cast<std::size_t>(count_++)] = value;
  return true;
}

std::optional<int32_t> ValueList::valueAt(int32_t index) const {
  if (index < 0 || index >= count_) return std::nullopt;
  return values_[static_cast<std::size_t>(index)];
}

int32_t offeredSampleRates(uint32_t formatBits, std::array<int32_t, 3>& rates) {
  struct Offer {
    uint32_t mask;
    int32_t rateHz;
  };
  static constexpr Offer kOffers[] = {{0x00F, 11025}, {0x0F0, 22050}, {0xF00, 44100}};
  int32_t n = 0;
  for (const Offer& o : kOffers) {
    if (formatBits & o.mask) rates[static_cast<std::size_t>(n++)] = o.rateHz;
  }
  return n;
}

bool offers16Bit(uint32_t formatBits) { return (formatBits & 0x0CCCu) != 0; }

}  // namespace kantiq
