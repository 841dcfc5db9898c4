#include <gtest/gtest.h>

#include "sender/sim/pin_guard.h"
#include "sender/sim/sha256.h"
#include "sender_fakes.h"

namespace kantiq::sender {
namespace {

TEST(Sha256, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(sha256Hex(c.input), c.digest);
  }
}

TEST(SimRecordFile, RoundTripAndAnythingElseIsNotTrusted) {
  SimRecord r{"00ff10", std::string(64, 'a'), 2};
  SimRecord back;
  ASSERT_TRUE(decodeSimRecord(encodeSimRecord(r), back));
  EXPECT_EQ(back.salt, r.salt);
  EXPECT_EQ(back.refusedPinHash, r.refusedPinHash);
  EXPECT_EQ(back.refusedEntries, 2);
  const std::string whole = encodeSimRecord(r);
  for (const std::string& damaged :
       {std::string("pin=1234\r\n"), whole.substr(0, whole.size() / 2), whole + "fehleingaben=x\r\n",
        whole.substr(0, whole.find("abgelehnt=")) + "abgelehnt=1234\r\nfehleingaben=1\r\n"}) {
    SCOPED_TRACE(damaged);
    EXPECT_FALSE(decodeSimRecord(damaged, back));
  }

  // A damaged file makes the guard as careful as one it cannot read.
  testing::MemoryStateFile file;
  file.text = "irgendetwas";
  PinGuard guard(file);
  EXPECT_FALSE(guard.memoryReliable());
  EXPECT_EQ(guard.countedAttemptsLeft(), std::nullopt);
  std::string reason;
  EXPECT_FALSE(guard.beginEntry("1234", std::nullopt, reason));
  EXPECT_TRUE(guard.beginEntry("1234", 3, reason)) << "a counter the modem reports is enough";
}

}  // namespace
}  // namespace kantiq::sender
