#include "config/configuration_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "config/startup.h"
#include "detector/tone_detector.h"
#include "sender/hex_argument.h"

namespace kantiq {
namespace {


// The index of the first key position whose value is not 0.
size_t firstNonZeroKey() {
  const auto& key = configurationKey();
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] != 0) return i;
  }
  return key.size();
}

TEST(ConfigurationKey, HoldsDigitsOfEveryValue) {
  const auto& key = configurationKey();
  ASSERT_EQ(key.size(), 3601u);
  std::set<int> seen;
  for (uint8_t d : key) {
    ASSERT_LE(d, 9);
    seen.insert(d);
  }
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_EQ(&configurationKey(), &key);  // built once
}

// The key is fixed for good: every SMSConfig1.dat in use was written with it.
// A change to how it is built must fail here, not in the field.
TEST(ConfigurationKey, IsPinned) {
  const auto& key = configurationKey();
  std::string first;
  for (size_t i = 0; i < 60; ++i) first += static_cast<char>('0' + key[i]);
  EXPECT_EQ(first, "719125800807300772961122060189258588513025236579179790387273");
  uint32_t fnv = 2166136261u;  // FNV-1a over all 3601 digits
  for (uint8_t d : key) fnv = (fnv ^ d) * 16777619u;
  EXPECT_EQ(fnv, 0xB2D5982Cu);
}

// One stored file as it lies on a user's disk, byte for byte: it loads to the
// configuration it was written from.
TEST(ConfigurationKey, AStoredFileOfTheFieldStillLoads) {
  std::string raw;
  ASSERT_TRUE(unhex("3831392437352B313038302A3523313737322C3924392538303630312B423228"
                    "3B352B3B3B3133303235255A67686F6E215A056B2C3526393838372635263826"
                    "32353A372438263529383D353626392A342A383430372C3427392439353C3329"
                    "322C3724",
                    raw));
  const std::vector<uint8_t> stored(raw.begin(), raw.end());
  const std::string text =
      "100#50#1000#2#1000#3#8#60000#90#30#3600000#Wache S\xFC" "d#5#1160#0#0#1270#0#0#2600#0#0#1400#0#0#1530#0#0#";
  EXPECT_EQ(decodeConfiguration(deliverStoredBytes(stored)), text);
  EXPECT_EQ(encodeConfiguration(text), stored);
  auto d = std::make_unique<ToneDetector>();
  ASSERT_FALSE(loadStoredConfiguration(stored, *d).has_value());
  EXPECT_EQ(d->frequencyTolerance, 50);
  EXPECT_EQ(d->minimumFrequency, 1000);
  EXPECT_EQ(d->retriggerDelay, 60000);
  EXPECT_EQ(d->restartInterval, 3600000);
  ASSERT_EQ(d->alarmCount, 1);
  EXPECT_EQ(d->alarms[0].text, "Wache S\xFC" "d");
  ASSERT_EQ(d->alarms[0].stepCount, 5);
  EXPECT_EQ(d->alarms[0].steps[2].frequency1, 2600);
  EXPECT_EQ(d->alarms[0].steps[4].frequency1, 1530);
}

TEST(TextDelivery, CrLfBecomesOneLineFeedAndEndOfFileEndsTheData) {
  struct Case {
    std::vector<uint8_t> stored;
    std::vector<uint8_t> delivered;
  } cases[] = {
      {{'a', 0x0D, 0x0A, 'b'}, {'a', 0x0A, 'b'}},
      {{'a', 0x0D, 'b'}, {'a', 0x0D, 'b'}},                    // a lone CR stays
      {{0x0D, 0x0D, 0x0A}, {0x0D, 0x0A}},                      // only the CR before the LF goes
      {{'a', 0x0D}, {'a', 0x0D}},                              // CR at the end stays
      {{0x0A, 0x0D}, {0x0A, 0x0D}},                            // LF CR is two bytes
      {{'a', 0x1A, 'b', 0x0D, 0x0A}, {'a'}},                   // 0x1A ends everything
      {{0x1A}, {}},
      {{'a', 0x00, 'b'}, {'a', 0x00, 'b'}},                    // a stored 0 is an ordinary byte
      {{'a', 0x0D, 0x1A, 'b'}, {'a', 0x0D}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(deliverStoredBytes(c.stored), c.delivered) << "stored size " << c.stored.size();
  }
}

TEST(ConfigurationDecoding, KeyStartsAgainAfter3601Bytes) {
  const std::string text(2 * 3601 + 10, 'a');
  const std::vector<uint8_t> stored = encodeConfiguration(text);
  const auto& key = configurationKey();
  EXPECT_EQ(stored[3601], static_cast<uint8_t>('a' + key[0]));
  EXPECT_EQ(stored[3600], static_cast<uint8_t>('a' + key[3600]));
  EXPECT_EQ(stored[7202], static_cast<uint8_t>('a' + key[0]));
  EXPECT_EQ(decodeConfiguration(stored), text);
}

TEST(ConfigurationDecoding, StoredZeroGoesOnDecodedZeroEnds) {
  const size_t i = firstNonZeroKey();
  ASSERT_LT(i, 3601u);
  const auto& key = configurationKey();
  // A text byte whose sum with its key value reaches 256 is stored as 0.
  std::string text(i + 3, 'x');
  text[i] = static_cast<char>(256 - key[i]);
  std::vector<uint8_t> stored = encodeConfiguration(text);
  ASSERT_EQ(stored[i], 0);
  EXPECT_EQ(decodeConfiguration(deliverStoredBytes(stored)), text);

  // A stored byte equal to its key value decodes to 0 and ends the text.
  stored[1] = key[1];
  EXPECT_EQ(decodeConfiguration(stored), text.substr(0, 1));
}

TEST(ConfigurationDecoding, CarriageReturnOfCrLfTakesNoKeyPosition) {
  const auto& key = configurationKey();
  // Text byte 5 is chosen so that it is stored as LF; a CR in front of it in
  // the file must vanish without moving the key.
  std::string text = "100#1#2#3#4#5#";
  text[5] = static_cast<char>(0x0A - key[5]);
  std::vector<uint8_t> stored = encodeConfiguration(text);
  ASSERT_EQ(stored[5], 0x0A);
  stored.insert(stored.begin() + 5, 0x0D);
  EXPECT_EQ(decodeConfiguration(deliverStoredBytes(stored)), text);
}

TEST(ConfigurationDecoding, EndOfFileByteEndsTheText) {
  std::vector<uint8_t> stored = encodeConfiguration("100#1#2#");
  stored.insert(stored.begin() + 4, 0x1A);
  EXPECT_EQ(decodeConfiguration(deliverStoredBytes(stored)), "100#");
}

TEST(StorageHazards, FoundExactlyWhereTheTextWouldNotComeBack) {
  const auto& key = configurationKey();
  std::string eof = "ab";
  eof[1] = static_cast<char>(0x1A - key[1]);
  std::string crlf = "abc";
  crlf[1] = static_cast<char>(0x0D - key[1]);
  crlf[2] = static_cast<char>(0x0A - key[2]);
  std::string zero = std::string("a\0b", 3);
  const auto e = findStorageHazards(eof);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].kind, StorageHazard::Kind::StoredEndOfFile);
  EXPECT_EQ(e[0].position, 1u);
  const auto c = findStorageHazards(crlf);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].kind, StorageHazard::Kind::StoredCrLf);
  const auto z = findStorageHazards(zero);
  ASSERT_EQ(z.size(), 1u);
  EXPECT_EQ(z[0].kind, StorageHazard::Kind::TextByteZero);
  // A stored CR at the very end is delivered as it is.
  EXPECT_TRUE(findStorageHazards(crlf.substr(0, 2)).empty());
  EXPECT_EQ(decodeConfiguration(deliverStoredBytes(encodeConfiguration(crlf.substr(0, 2)))),
            crlf.substr(0, 2));
}

TEST(ConfigurationNumbers, ReadLikeStrtolAndSaturate) {
  struct Case {
    std::string field;
    int32_t value;
  } cases[] = {
      {"100", 100},       {" 100", 100},    {"0100", 100},   {"100.0", 100},
      {"5Hz", 5},         {"abc", 0},       {"", 0},         {"-7", -7},
      {"+7", 7},          {"\n\t\v\f\r 42", 42},             {"- 5", 0},
      {"+-5", 0},         {"-", 0},         {"1 2", 1},      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},           {"2147483648", INT32_MAX},
      {"-2147483649", INT32_MIN},           {"99999999999999999999999", INT32_MAX},
      {"-99999999999999999999999", INT32_MIN},
      {"00000000000000000000000000012", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(readConfigurationNumber(c.field), c.value) << "field \"" << c.field << "\"";
  }
}

}  // namespace
}  // namespace kantiq
