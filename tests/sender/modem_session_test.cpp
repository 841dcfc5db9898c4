#include "modem_session.h"

#include <gtest/gtest.h>

#include "sender_fakes.h"

namespace kantiq::sender {
namespace {

using testing::FakeClock;
using testing::FakeModemLine;

ModemSettings settings(std::string pin = "") {
  ModemSettings s;
  s.port = "COM5";
  s.pin = std::move(pin);
  s.replyTimeoutMs = 5000;
  s.sendTimeoutMs = 30000;
  return s;
}

bool contains(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

TEST(ModemConversation, PreparesOnceAndSendsEachMessage) {
  FakeClock clock;
  FakeModemLine modem(clock);
  const ModemSettings s = settings();
  ModemSession session(modem, s, clock);

  const SendOutcome first = session.send("+491701111111", "Brand Müllerstraße");
  ASSERT_TRUE(first.sent) << first.detail;
  EXPECT_EQ(first.detail, "Referenz 1");
  const SendOutcome second = session.send("+491702222222", "Zweite");
  ASSERT_TRUE(second.sent) << second.detail;

  EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT", "ATE0", "AT+CPIN?", "AT+CMGF=1",
                                                      "AT+CMGS=\"+491701111111\"", "AT+CMGS=\"+491702222222\""}));
  ASSERT_EQ(modem.delivered.size(), 2u);
  EXPECT_EQ(modem.delivered[0].number, "+491701111111");
  EXPECT_EQ(modem.delivered[0].text, "Brand Muellerstrasse");
  EXPECT_EQ(modem.delivered[1].text, "Zweite");
  EXPECT_EQ(modem.opens, 1);
}

TEST(ModemConversation, AModemLeftWaitingForATextIsFreedFirst) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.leftWaitingForText = true;
  const ModemSettings s = settings();
  ModemSession session(modem, s, clock);
  const SendOutcome out = session.send("+491701111111", "Probe");
  ASSERT_TRUE(out.sent) << out.detail;
  ASSERT_EQ(modem.delivered.size(), 1u) << "no half message went out";
  EXPECT_EQ(modem.delivered[0].text, "Probe");
  EXPECT_EQ(modem.commands.front(), "AT") << "the first AT was not swallowed as text";
}

TEST(ModemConversation, EntersThePinWhenTheSimAsks) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.pin = "4711";
  const ModemSettings s = settings("4711");
  ModemSession session(modem, s, clock);

  const SendOutcome out = session.send("+491701111111", "Test");
  ASSERT_TRUE(out.sent) << out.detail;
  EXPECT_EQ(modem.pinEntries, 1);
  EXPECT_TRUE(contains(modem.raw, "AT+CPIN=\"4711\"\r"));
  ASSERT_EQ(modem.delivered.size(), 1u);
}

TEST(ModemConversation, WrongPinIsNeverOfferedTwice) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.pin = "9999";
  const ModemSettings s = settings("1234");
  ModemSession session(modem, s, clock);

  const SendOutcome first = session.send("+491701111111", "Test");
  EXPECT_FALSE(first.sent);
  EXPECT_TRUE(contains(first.detail, "hat die PIN abgelehnt")) << first.detail;
  EXPECT_TRUE(contains(first.detail, "+CME ERROR: 16")) << first.detail;

  for (int i = 0; i < 3; ++i) {
    const SendOutcome again = session.send("+491701111111", "Test");
    EXPECT_FALSE(again.sent);
    EXPECT_TRUE(contains(again.detail, "nicht noch einmal eingegeben")) << again.detail;
  }
  EXPECT_EQ(modem.pinEntries, 1);
  EXPECT_TRUE(modem.delivered.empty());
}

TEST(ModemConversation, MissingPinIsReportedWithoutGuessing) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.pin = "4711";
  const ModemSettings s = settings();
  ModemSession session(modem, s, clock);
  const SendOutcome out = session.send("+491701111111", "Test");
  EXPECT_FALSE(out.sent);
  EXPECT_TRUE(contains(out.detail, "keine \"pin\" eingetragen")) << out.detail;
  EXPECT_EQ(modem.pinEntries, 0);
}

TEST(ModemConversation, CmsErrorFailsTheMessageAndTheNextAttemptStartsAfresh) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.cmsErrors = 1;
  const ModemSettings s = settings();
  ModemSession session(modem, s, clock);

  const SendOutcome first = session.send("+491701111111", "Eins");
  EXPECT_FALSE(first.sent);
  EXPECT_TRUE(contains(first.detail, "+CMS ERROR: 500")) << first.detail;
  EXPECT_EQ(modem.raw.back(), kEscape) << "a refused message is abandoned with Esc";

  const SendOutcome second = session.send("+491701111111", "Eins");
  ASSERT_TRUE(second.sent) << second.detail;
  EXPECT_EQ(modem.opens, 2);
  EXPECT_EQ(std::count(modem.commands.begin(), modem.commands.end(), "AT"), 2);
  ASSERT_EQ(modem.delivered.size(), 1u);
  EXPECT_EQ(modem.delivered[0].text, "Eins");
}

TEST(ModemConversation, SilenceEndsWithinTheReplyTimeouts) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.silent = true;
  const ModemSettings s = settings();
  ModemSession session(modem, s, clock);
  const int64_t start = clock.now;
  const SendOutcome out = session.send("+491701111111", "Test");
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.detail, "Das Modem antwortet nicht auf AT.");
  EXPECT_GE(clock.now - start, 2 * s.replyTimeoutMs) << "AT is tried twice";
  EXPECT_LE(clock.now - start, 2 * s.replyTimeoutMs + 1000) << "then it gives up";
}

TEST(ModemConversation, SilenceAfterTheTextAndAMissingPromptAreFailures) {
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.silentAfterText = true;
    const ModemSettings s = settings();
    ModemSession session(modem, s, clock);
    const SendOutcome out = session.send("+491701111111", "Test");
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.detail, "Das Modem antwortet nicht auf den Nachrichtentext.");
  }
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.noPrompt = true;
    const ModemSettings s = settings();
    ModemSession session(modem, s, clock);
    const SendOutcome out = session.send("+491701111111", "Test");
    EXPECT_FALSE(out.sent);
    EXPECT_TRUE(contains(out.detail, "keine Eingabeaufforderung")) << out.detail;
    EXPECT_EQ(modem.raw.back(), kEscape);
  }
}

TEST(ModemConversation, PortAndTextModeFailuresNameTheCause) {
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.openFails = true;
    const ModemSettings s = settings();
    ModemSession session(modem, s, clock);
    EXPECT_EQ(session.send("+491701111111", "x").detail, "Der Anschluss COM5 lässt sich nicht öffnen.");
  }
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.textModeRefused = true;
    const ModemSettings s = settings();
    ModemSession session(modem, s, clock);
    EXPECT_EQ(session.send("+491701111111", "x").detail, "Das Modem meldet \"ERROR\" auf AT+CMGF=1.");
  }
}

}  // namespace
}  // namespace kantiq::sender
