#include "delivery.h"

#include <gtest/gtest.h>

#include <map>

#include "sender_fakes.h"

namespace kantiq::sender {
namespace {

using testing::FakeClock;
using testing::RecordingLog;

// Fails each number a given number of times, then delivers. Every attempt
// costs `attemptMs` of (fake) time.
class ScriptedChannel : public SmsChannel {
 public:
  explicit ScriptedChannel(FakeClock& clock) : clock_(clock) {}
  SendOutcome send(const std::string& number, const std::string& text) override {
    calls.push_back(number);
    texts.push_back(text);
    clock_.now += attemptMs;
    if (failuresLeft[number] > 0) {
      --failuresLeft[number];
      return {false, "+CMS ERROR: 500"};
    }
    return {true, "Referenz 7"};
  }
  std::map<std::string, int> failuresLeft;
  int64_t attemptMs = 1000;
  std::vector<std::string> calls;
  std::vector<std::string> texts;

 private:
  FakeClock& clock_;
};

RetrySettings retry(int attempts, int32_t firstMs, int32_t maxMs, int32_t totalMs) {
  return {attempts, firstMs, maxMs, totalMs};
}

std::vector<OutgoingMessage> messages(std::initializer_list<const char*> numbers) {
  std::vector<OutgoingMessage> out;
  for (const char* n : numbers) out.push_back({n, "Text", n});
  return out;
}

TEST(Delivery, RetriesInRoundsWithGrowingWaits) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.failuresLeft["A"] = 2;
  RecordingLog log;
  const auto r = retry(5, 10'000, 15'000, 600'000);
  const DeliveryReport report =
      deliverMessages(messages({"A", "B"}), channel, r, clock, log, clock.now + r.totalLimitMs);
  EXPECT_EQ(report.sent, 2u);
  EXPECT_EQ(report.failed, 0u);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"A", "B", "A", "A"})) << "every recipient is tried before any retry";
  EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{10'000, 15'000}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "Versuch 1 an A fehlgeschlagen: +CMS ERROR: 500",
                           "gesendet an B (Versuch 1): Referenz 7",
                           "Versuch 2 an A fehlgeschlagen: +CMS ERROR: 500",
                           "gesendet an A (Versuch 3): Referenz 7",
                       }));
}

TEST(Delivery, GivesUpAfterTheLastAttemptAndSaysWhy) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.failuresLeft["A"] = 100;
  RecordingLog log;
  const auto r = retry(3, 5'000, 60'000, 600'000);
  const DeliveryReport report = deliverMessages(messages({"A"}), channel, r, clock, log, clock.now + r.totalLimitMs);
  EXPECT_EQ(report.failed, 1u);
  EXPECT_EQ(channel.calls.size(), 3u);
  EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{5'000, 10'000}));
  EXPECT_EQ(log.lines.back(), "FEHLGESCHLAGEN an A nach 3 Versuchen: +CMS ERROR: 500");
}

TEST(Delivery, TheTimeLimitStopsRetriesAndUntriedMessagesAreReported) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.attemptMs = 4 * 60'000;  // a modem that times out slowly
  channel.failuresLeft = {{"A", 100}, {"B", 100}, {"C", 100}};
  RecordingLog log;
  const auto r = retry(20, 1'000, 1'000, 10 * 60'000);
  const int64_t start = clock.now;
  const DeliveryReport report =
      deliverMessages(messages({"A", "B", "C"}), channel, r, clock, log, start + r.totalLimitMs);
  EXPECT_EQ(report.failed, 3u);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_LE(clock.now - start, r.totalLimitMs + channel.attemptMs) << "at most one attempt runs past the limit";
  EXPECT_EQ(log.lines.back(), "FEHLGESCHLAGEN an C nach 1 Versuch: +CMS ERROR: 500 (Zeitlimit erreicht)");

  FakeClock late;
  ScriptedChannel slow(late);
  slow.attemptMs = 11 * 60'000;
  RecordingLog log2;
  deliverMessages(messages({"A", "B"}), slow, r, late, log2, late.now + r.totalLimitMs);
  EXPECT_EQ(slow.calls.size(), 1u);
  EXPECT_EQ(log2.lines.back(), "FEHLGESCHLAGEN an B: das Zeitlimit war erreicht, bevor ein Versuch möglich war");
}

SenderConfig twoGroups(ChannelKind channel) {
  SenderConfig c;
  c.channel = channel;
  c.modem.port = "COM5";
  c.retry = retry(2, 1000, 1000, 60'000);
  c.testText = "Test ok";
  RecipientGroup all{"Alle", true, {}, {"+491701111111"}};
  RecipientGroup south{"Süd", false, {"süd"}, {"+491702222222", "+491701111111"}};
  c.groups = {all, south};
  return c;
}

TEST(SendRequests, AlarmGoesToTheChosenGroupsAndTheExitCodeTellsTheOutcome) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  RecordingLog log;
  const SenderConfig c = twoGroups(ChannelKind::Modem);
  SendRequest alarm{SendRequest::Kind::Alarm, "Brand SÜD", ""};
  EXPECT_EQ(runSendRequest(alarm, c, channel, clock, log, clock.now + 60'000), kExitAllSent);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"+491701111111", "+491702222222"}));
  EXPECT_EQ(channel.texts[0], "Brand SUeD") << "texts for a modem are made GSM-safe";
  EXPECT_EQ(log.lines.front(), "Alarmierung \"Brand SÜD\" an 2 Empfänger (\"Alle\", \"Süd\") über Modem an COM5");
  EXPECT_EQ(log.lines.back(), "Ende: alle 2 Nachrichten wurden gesendet.");

  ScriptedChannel failing(clock);
  failing.failuresLeft["+491702222222"] = 5;
  RecordingLog log2;
  EXPECT_EQ(runSendRequest(alarm, c, failing, clock, log2, clock.now + 60'000), kExitSomeFailed);
  EXPECT_EQ(log2.lines.back(), "Ende: 1 von 2 Nachrichten gesendet, 1 fehlgeschlagen.");
}

TEST(SendRequests, AlarmWithoutRecipientsAndEmptyAlarmText) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  RecordingLog log;
  SenderConfig c = twoGroups(ChannelKind::Http);
  c.groups.erase(c.groups.begin());
  EXPECT_EQ(runSendRequest({SendRequest::Kind::Alarm, "Nord", ""}, c, channel, clock, log, clock.now + 60'000),
            kExitNoRecipients);
  EXPECT_TRUE(channel.calls.empty());
  EXPECT_NE(log.all().find("keine Empfängergruppe passt"), std::string::npos);

  const SenderConfig all = twoGroups(ChannelKind::Http);
  EXPECT_EQ(runSendRequest({SendRequest::Kind::Alarm, "", ""}, all, channel, clock, log, clock.now + 60'000),
            kExitAllSent);
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"Alarmierung (ohne Text)"}));
}

TEST(SendRequests, LongAlarmsGoToTheModemInNumberedParts) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  RecordingLog log;
  SenderConfig c = twoGroups(ChannelKind::Modem);
  c.groups.pop_back();
  const std::string text(200, 'x');
  EXPECT_EQ(runSendRequest({SendRequest::Kind::Alarm, text, ""}, c, channel, clock, log, clock.now + 60'000),
            kExitAllSent);
  ASSERT_EQ(channel.texts.size(), 2u);
  EXPECT_EQ(channel.texts[0].substr(0, 6), "(1/2) ");
  EXPECT_NE(log.all().find("gesendet an +491701111111 (Teil 2/2) (Versuch 1)"), std::string::npos) << log.all();

  ScriptedChannel gateway(clock);
  const SenderConfig h = twoGroups(ChannelKind::Http);
  runSendRequest({SendRequest::Kind::Alarm, text, ""}, h, gateway, clock, log, clock.now + 60'000);
  EXPECT_EQ(gateway.texts, (std::vector<std::string>{text})) << "a gateway gets the whole text";
}

TEST(SendRequests, TestMessageGoesOnlyToTheTypedNumber) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  RecordingLog log;
  const SenderConfig c = twoGroups(ChannelKind::Modem);
  EXPECT_EQ(runSendRequest({SendRequest::Kind::Test, "", " 0170 / 555 55 "}, c, channel, clock, log, clock.now + 60'000),
            kExitAllSent);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"017055555"}));
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"Test ok"}));

  for (const char* typed : {"", "Hallo", "0170\"\r\nATD"}) {
    RecordingLog bad;
    EXPECT_EQ(runSendRequest({SendRequest::Kind::Test, "", typed}, c, channel, clock, bad, clock.now + 60'000),
              kExitBadCommandLine);
    EXPECT_NE(bad.all().find("keine gültige Mobilfunknummer"), std::string::npos);
  }
  EXPECT_EQ(channel.calls.size(), 1u);
}

TEST(SendLogLines, StampedAndKeptOnOneLine) {
  EXPECT_EQ(formatSendLogLine(2026, 12, 8, 7, 5, 3, "gesendet an 112"), "08.12.2026 07:05:03: gesendet an 112\r\n");
  EXPECT_EQ(formatSendLogLine(2026, 1, 1, 0, 0, 0, "a\r\nb\x1A"), "01.01.2026 00:00:00: a??b?\r\n");
}

}  // namespace
}  // namespace kantiq::sender
