#include "dispatch/message_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "dispatch/sender_protocol.h"
#include "sender/hex_argument.h"

namespace kantiq {
namespace {

uint8_t byteAt(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

// First key position at or after `from` whose digit satisfies pred.
template <typename Pred>
size_t positionWhere(size_t from, Pred pred) {
  for (size_t p = from; p < kMessageKeyLength; ++p) {
    if (pred(messageKey()[p])) return p;
  }
  ADD_FAILURE() << "no key position found";
  return 0;
}

TEST(MessageKey, HoldsDecimalDigitsOfAllValues) {
  const auto& key = messageKey();
  std::set<uint8_t> seen(key.begin(), key.end());
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_EQ(*seen.rbegin(), 9);
  // The compile-time digits are the same key.
  for (size_t p = 0; p < 40; ++p) EXPECT_EQ(messageKeyDigit(p), key[p]) << "position " << p;
  EXPECT_EQ(messageKeyDigit(kMessageKeyLength - 1), key.back());
}

// The key is fixed for good: every deployed S.exe unscrambles with it. A
// change to how it is built must fail here, not in the field.
TEST(MessageKey, IsPinned) {
  const auto& key = messageKey();
  std::string first;
  for (size_t i = 0; i < 60; ++i) first += static_cast<char>('0' + key[i]);
  EXPECT_EQ(first, "044611942967013788845346785420870199691976862891357261959997");
  uint32_t fnv = 2166136261u;  // FNV-1a over all 3601 digits
  for (uint8_t d : key) fnv = (fnv ^ d) * 16777619u;
  EXPECT_EQ(fnv, 0x45D47E13u);
}

// Two command lines as a deployed sender receives them, byte for byte.
TEST(MessageKey, SenderCommandLinesArePinned) {
  struct Case {
    const char* hex;
    CommandLineRequest::Kind kind;
    std::string alarmText;
    std::string number;
  } cases[] = {
      {"433A5C4B616E7469715C532E65786520456D72796275832455056A332054777C6E6D2835", CommandLineRequest::Kind::Alarm,
       "Einsatz S\xFC" "d, Stufe 1", ""},
      {"433A5C4B616E7469715C532E6578652023584959555456572520303137302031323334353637", CommandLineRequest::Kind::Test,
       "", "0170 1234567"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    std::string line;
    ASSERT_TRUE(unhex(c.hex, line));
    const CommandLineRequest r = parseSenderCommandLine(line);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.alarmText, c.alarmText);
    EXPECT_EQ(r.number, c.number);
    EXPECT_EQ(c.kind == CommandLineRequest::Kind::Alarm ? buildAlarmCommandLine("C:\\Kantiq", c.alarmText)
                                                   : buildTestCommandLine("C:\\Kantiq", c.number),
              line);
  }
}

TEST(ScrambleMessage, AddsTheKeyFromPositionZeroEveryTime) {
  const std::string text = "Einsatz FF Nord";
  const std::string once = scrambleMessage(text);
  ASSERT_EQ(once.size(), text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(byteAt(once, i), static_cast<uint8_t>(text[i] + messageKey()[i])) << "byte " << i;
  }
  // A second text does not continue where the first ended.
  EXPECT_EQ(scrambleMessage(text), once);
  EXPECT_EQ(scrambleMessage("E")[0], once[0]);
}

TEST(ScrambleMessage, KeyRepeatsWithPeriod3601) {
  const std::string text(kMessageKeyLength + 20, 'A');
  const std::string scrambled = scrambleMessage(text);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(scrambled[kMessageKeyLength + i], scrambled[i]) << "offset " << i;
  }
  EXPECT_EQ(unscrambleMessage(scrambled), text);
}

TEST(ScrambleMessage, SumsPast255WrapToSmallCodes) {
  const size_t p = positionWhere(0, [](uint8_t d) { return d >= 2; });
  std::string text(p + 1, 'x');
  text[p] = static_cast<char>(0xFF);
  const std::string scrambled = scrambleMessage(text);
  EXPECT_EQ(byteAt(scrambled, p), messageKey()[p] - 1);
  EXPECT_EQ(unscrambleMessage(scrambled), text);
}

TEST(ScrambleMessage, ByteThatWouldBecomeZeroIsSentAsItsDigit) {
  // The u with diaeresis (0xFC) where the digit is 4, and every other byte
  // whose sum with its digit is 256.
  const size_t p = positionWhere(0, [](uint8_t d) { return d == 4; });
  std::string text(p + 3, 'k');
  text[p] = '\xFC';
  std::string scrambled = scrambleMessage(text);
  ASSERT_EQ(scrambled.size(), text.size());
  EXPECT_EQ(byteAt(scrambled, p), 4);
  EXPECT_EQ(scrambled.find('\0'), std::string::npos);
  EXPECT_EQ(unscrambleMessage(scrambled), text);

  // Every byte value at every one of the first positions survives the trip,
  // and no scrambled text holds a zero byte.
  for (size_t shift = 0; shift < 40; ++shift) {
    std::string all;
    for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>((b + shift) % 255 + 1));
    const std::string s = scrambleMessage(all);
    ASSERT_EQ(s.size(), all.size());
    EXPECT_EQ(s.find('\0'), std::string::npos) << "shift " << shift;
    EXPECT_EQ(unscrambleMessage(s), all) << "shift " << shift;
  }
}

TEST(ScrambleMessage, OnlyTheZeroCaseDiffersFromThePlainSum) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text.push_back(static_cast<char>(1 + (i * 37) % 255));
  const std::string s = scrambleMessage(text);
  size_t substituted = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t digit = messageKey()[i % kMessageKeyLength];
    const uint8_t sum = static_cast<uint8_t>(byteAt(text, i) + digit);
    if (sum == 0) {
      ++substituted;
      EXPECT_EQ(byteAt(s, i), digit);
    } else {
      EXPECT_EQ(byteAt(s, i), sum) << "byte " << i;
    }
  }
  EXPECT_GT(substituted, 0u);
}

TEST(ScrambleMessage, TextEndsAtItsFirstZeroByte) {
  const std::string text("vor\0nach", 8);
  EXPECT_EQ(scrambleMessage(text), scrambleMessage("vor"));
  EXPECT_EQ(scrambleMessage(""), "");
}

}  // namespace
}  // namespace kantiq
