#include "sender/text/sms_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kantiq::sender {
namespace {

// The sources are compiled to Windows-1252: "ä" here is the byte E4.

TEST(SmsTextCharsets, Cp1252AndUtf8RoundTrip) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string back;
  ASSERT_TRUE(utf8ToCp1252(cp1252ToUtf8(all), back));
  EXPECT_EQ(back, all);
  EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(cp1252ToUtf8("ü"), "\xC3\xBC");
}

TEST(SmsTextCharsets, Utf8ThatCp1252CannotHoldIsRefused) {
  std::string out;
  EXPECT_FALSE(utf8ToCp1252("\xE2\x98\x83", out));     // snowman
  EXPECT_FALSE(utf8ToCp1252("\xF0\x9F\x9A\x92", out));  // fire engine emoji
  EXPECT_FALSE(utf8ToCp1252("\xC3", out));              // cut short
  EXPECT_FALSE(utf8ToCp1252("\xC0\xAF", out));          // overlong '/'
  EXPECT_FALSE(utf8ToCp1252("\xED\xA0\x80", out));      // surrogate
  ASSERT_TRUE(utf8ToCp1252("Stra\xC3\x9F" "e \xE2\x82\xAC", out));
  EXPECT_EQ(out, "Straße \x80");
}

TEST(SmsTextGsm, GermanTextIsTransliterated) {
  EXPECT_EQ(toGsmSafeText("Brand Müllerstraße, Höhe Ärztehaus"), "Brand Muellerstrasse, Hoehe Aerztehaus");
  EXPECT_EQ(toGsmSafeText("Schaden 5 \x80 [ca.] @Wache_1 $"), "Schaden 5 EUR (ca.) (at)Wache-1 USD");
  EXPECT_EQ(toGsmSafeText("\x84Zitat\x93 \x96 Ende"), "\"Zitat\" - Ende");
}

TEST(SmsTextGsm, OnlySafeBytesEverReachTheModem) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string safe = toGsmSafeText(all);
  const std::string allowed = " !\"#%&'()*+,-./:;<=>?";
  for (char ch : safe) {
    const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                    allowed.find(ch) != std::string::npos;
    EXPECT_TRUE(ok) << "byte " << static_cast<int>(static_cast<unsigned char>(ch));
  }
  EXPECT_EQ(safe.find('\x1A'), std::string::npos);
  EXPECT_EQ(toGsmSafeText(safe), safe) << "already safe text stays as it is";
  EXPECT_EQ(toGsmSafeText("a\r\nb\tc\x1A" "d\x1B"), "a  b c?d?");
}

TEST(SmsTextCase, FoldingCoversUmlauts) {
  EXPECT_EQ(foldCaseCp1252("LÖSCHZUG Süd ÄÜÖ ×"), "löschzug süd äüö ×");
}

TEST(SmsTextSplit, ShortTextsStayWhole) {
  EXPECT_EQ(splitIntoSmsParts(""), std::vector<std::string>{""});
  const std::string exactly(160, 'x');
  EXPECT_EQ(splitIntoSmsParts(exactly), std::vector<std::string>{exactly});
}

TEST(SmsTextSplit, LongTextsBecomeNumberedPartsBrokenAtBlanks) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "Wort" + std::to_string(i) + " ";
  text.pop_back();  // 269 characters
  const auto parts = splitIntoSmsParts(text);
  ASSERT_EQ(parts.size(), 2u);
  std::string joined;
  for (size_t k = 0; k < parts.size(); ++k) {
    EXPECT_LE(parts[k].size(), kSmsSingleChars);
    const std::string prefix = "(" + std::to_string(k + 1) + "/2) ";
    ASSERT_EQ(parts[k].substr(0, prefix.size()), prefix);
    joined += (k ? " " : "") + parts[k].substr(prefix.size());
  }
  EXPECT_EQ(joined, text) << "nothing lost, breaks on blanks";
  EXPECT_NE(parts[0].back(), ' ');
}

TEST(SmsTextSplit, TextWithoutBlanksIsCutHardAndOverlongTextIsTruncated) {
  const std::string solid(300, 'a');
  const auto two = splitIntoSmsParts(solid);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], "(1/2) " + std::string(154, 'a'));
  EXPECT_EQ(two[1], "(2/2) " + std::string(146, 'a'));

  const std::string huge(2000, 'b');
  const auto cut = splitIntoSmsParts(huge);
  ASSERT_EQ(cut.size(), kSmsMaxParts);
  for (const auto& p : cut) EXPECT_EQ(p.size(), kSmsSingleChars);
  EXPECT_EQ(cut.back().substr(cut.back().size() - 3), "...");
}

}  // namespace
}  // namespace kantiq::sender
