#include "ui/value_list.h"

#include <gtest/gtest.h>

namespace kantiq {
namespace {

TEST(ValueList, SelectionOutsideTheEntriesHasNoValue) {
  ValueList t;
  EXPECT_FALSE(t.valueAt(0).has_value());
  t.add(11025);
  t.add(22050);
  EXPECT_EQ(t.valueAt(1), 22050);
  EXPECT_FALSE(t.valueAt(-1).has_value());  // the list's "no selection"
  EXPECT_FALSE(t.valueAt(2).has_value());
  for (int i = 2; i < ValueList::kCapacity; ++i) EXPECT_TRUE(t.add(i));
  EXPECT_FALSE(t.add(1));
  EXPECT_EQ(t.count(), ValueList::kCapacity);
}

TEST(DeviceFormats, RatesAndWidthsFromFormatBits) {
  struct Case {
    uint32_t bits;
    int32_t n;
    std::array<int32_t, 3> rates;
    bool sixteen;
  };
  const Case cases[] = {
      {0xFFF, 3, {11025, 22050, 44100}, true},
      {0x111, 3, {11025, 22050, 44100}, false},  // 8-bit mono only
      {0x00F, 1, {11025, 0, 0}, true},
      {0x030, 1, {22050, 0, 0}, false},  // 22.05 kHz 8-bit mono and stereo
      {0x080, 1, {22050, 0, 0}, true},   // 22.05 kHz 16-bit stereo
      {0x800, 1, {44100, 0, 0}, true},
      {0x000, 0, {0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.bits);
    std::array<int32_t, 3> rates{};
    EXPECT_EQ(offeredSampleRates(c.bits, rates), c.n);
    EXPECT_EQ(rates, c.rates);
    EXPECT_EQ(offers16Bit(c.bits), c.sixteen);
  }
}

}  // namespace
}  // namespace kantiq
