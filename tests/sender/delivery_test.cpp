#include "sender/delivery/delivery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "sender/delivery/send_run.h"
#include "sender/modem/modem_session.h"
#include "sender/sim/pin_guard.h"
#include "sender_fakes.h"

namespace kantiq::sender {
namespace {

using testing::FakeClock;
using testing::MemoryOutboxFolder;
using testing::RecordingLog;

// Fails each number a given number of times, then delivers. Every attempt
// costs `attemptMs` of (fake) time. What the outbox holds at the moment of
// each attempt is noted, so tests can see that a message was safe before it
// was tried.
class ScriptedChannel : public SmsChannel {
 public:
  explicit ScriptedChannel(FakeClock& clock, MemoryOutboxFolder* folder = nullptr) : clock_(clock), folder_(folder) {}
  SendOutcome send(const std::string& number, const std::string& text) override {
    calls.push_back(number);
    texts.push_back(text);
    if (folder_ != nullptr) filesAtAttempt.push_back(folder_->files.size());
    committing();
    if (folder_ != nullptr)
      underWayMarked.push_back(std::any_of(folder_->files.begin(), folder_->files.end(), [](const auto& f) {
        return f.second.find("unterwegs=\r") == std::string::npos;
      }));
    clock_.now += attemptMs;
    if (failuresLeft[number] > 0) {
      --failuresLeft[number];
      SendOutcome out =
          failed(failureKind.count(number) ? failureKind[number] : Failure::MessageRetry, "+CMS ERROR: 500");
      out.mayHaveArrived = answersLate;
      return out;
    }
    return {true, "Referenz 7", Failure::MessageRetry};
  }
  std::map<std::string, int> failuresLeft;
  std::map<std::string, Failure> failureKind;
  int64_t attemptMs = 1000;
  bool answersLate = false;  // a failure came after the request went out
  std::vector<std::string> calls;
  std::vector<std::string> texts;
  std::vector<size_t> filesAtAttempt;
  std::vector<bool> underWayMarked;

 private:
  FakeClock& clock_;
  MemoryOutboxFolder* folder_;
};

RetrySettings retry(int attempts, int32_t firstMs, int32_t maxMs, int32_t totalMs) {
  return {attempts, firstMs, maxMs, totalMs};
}

std::vector<OutboxEntry> messages(std::initializer_list<const char*> numbers) {
  std::vector<OutboxEntry> out;
  for (const char* n : numbers) {
    OutboxEntry e;
    e.number = n;
    e.text = "Text";
    out.push_back(e);
  }
  return out;
}

std::vector<Route> one(SmsChannel& channel) { return {{&channel, ChannelKind::Http, "HTTP-Gateway"}}; }

// Delivery without an outbox folder; its one complaint goes elsewhere.
struct Plain {
  RecordingLog outboxLog;
  Outbox outbox{nullptr, "1-1", outboxLog};
};

TEST(Delivery, RetriesInRoundsWithGrowingWaits) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.failuresLeft["A"] = 2;
  RecordingLog log;
  Plain plain;
  const auto r = retry(5, 10'000, 15'000, 600'000);
  auto list = messages({"A", "B"});
  const DeliveryReport report =
      deliverMessages(list, one(channel), r, clock, log, plain.outbox, clock.now + r.totalLimitMs);
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

TEST(Delivery, WaitsBetweenRoundsNeverPassFifteenSeconds) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.failuresLeft["A"] = 100;
  RecordingLog log;
  Plain plain;
  const auto r = retry(6, 60'000, 1'800'000, 3'600'000);  // what an older S.toml may still say
  auto list = messages({"A"});
  deliverMessages(list, one(channel), r, clock, log, plain.outbox, clock.now + r.totalLimitMs);
  EXPECT_EQ(clock.sleeps, (std::vector<int64_t>(5, kMaxRetryWaitMs)));
  // The log says so once, however many rounds wait.
  const std::string note =
      "Hinweis: \"laengste_wartezeit_s\" = 1800 zählt als 15 Sekunden; länger wartet S.exe zwischen zwei Runden nie.";
  EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), note), 1) << log.all();
  EXPECT_EQ(cappedWaitNote(retry(6, 10'000, 15'000, 60'000)), "");
}

TEST(Delivery, GivesUpAfterTheLastAttemptAndSaysWhy) {
  FakeClock clock;
  ScriptedChannel channel(clock);
  channel.failuresLeft["A"] = 100;
  RecordingLog log;
  Plain plain;
  const auto r = retry(3, 5'000, 60'000, 600'000);
  auto list = messages({"A"});
  const DeliveryReport report =
      deliverMessages(list, one(channel), r, clock, log, plain.outbox, clock.now + r.totalLimitMs);
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
  Plain plain;
  const auto r = retry(20, 1'000, 1'000, 10 * 60'000);
  const int64_t start = clock.now;
  auto list = messages({"A", "B", "C"});
  const DeliveryReport report = deliverMessages(list, one(channel), r, clock, log, plain.outbox, start + r.totalLimitMs);
  EXPECT_EQ(report.failed, 3u);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_LE(clock.now - start, r.totalLimitMs + channel.attemptMs) << "at most one attempt runs past the limit";
  EXPECT_EQ(log.lines.back(), "FEHLGESCHLAGEN an C nach 1 Versuch: +CMS ERROR: 500 (Zeitlimit erreicht)");

  FakeClock late;
  ScriptedChannel slow(late);
  slow.attemptMs = 11 * 60'000;
  RecordingLog log2;
  auto two = messages({"A", "B"});
  deliverMessages(two, one(slow), r, late, log2, plain.outbox, late.now + r.totalLimitMs);
  EXPECT_EQ(slow.calls.size(), 1u);
  EXPECT_EQ(log2.lines.back(), "FEHLGESCHLAGEN an B: das Zeitlimit war erreicht, bevor ein Versuch möglich war");
}

TEST(Delivery, FailuresAreRetriedOnlyWhenTheyMightPass) {
  struct Case {
    Failure kind;
    std::vector<std::string> calls;  // A fails whenever it is tried, B never does
    size_t sleeps;
    size_t failed;
    bool late = false;  // A's request went out, the answer did not come in time
  };
  const Case cases[] = {
      {Failure::MessageRetry, {"A", "B", "A", "A"}, 2, 1},
      {Failure::MessageRejected, {"A", "B"}, 0, 1},   // tried once, the others still get it, no wait
      {Failure::ChannelUnusable, {"A"}, 0, 2},        // nothing more goes out this way in this run
      {Failure::ChannelDown, {"A", "B", "A", "A"}, 2, 1},  // the rest of the round waits; next round B goes first
      {Failure::ChannelDown, {"A", "B", "A"}, 1, 1, true},  // repeated once, then "vielleicht gesendet"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind) + (c.late ? 10 : 0));
    FakeClock clock;
    ScriptedChannel channel(clock);
    channel.failuresLeft["A"] = 100;
    channel.failureKind["A"] = c.kind;
    channel.answersLate = c.late;
    RecordingLog log;
    Plain plain;
    auto list = messages({"A", "B"});
    const auto r = retry(3, 1'000, 1'000, 600'000);
    const DeliveryReport report = deliverMessages(list, one(channel), r, clock, log, plain.outbox, clock.now + 600'000);
    EXPECT_EQ(channel.calls, c.calls);
    EXPECT_EQ(clock.sleeps.size(), c.sleeps);
    EXPECT_EQ(report.failed, c.failed);
    if (isPermanent(c.kind) || c.late) {
      EXPECT_TRUE(log.has("Die Nachricht wird nicht wiederholt.")) << log.all();
    }
    EXPECT_EQ(log.has("VIELLEICHT GESENDET an A nach 2 Versuchen"), c.late) << log.all();
  }
}

TEST(Delivery, TheOtherChannelTakesOverAtOnce) {
  struct Case {
    Failure kind;
    std::vector<std::string> primaryCalls;
  };
  const Case cases[] = {
      {Failure::ChannelDown, {"A"}},            // down: the rest goes the other way this round
      {Failure::ChannelUnusable, {"A"}},        // unusable: for the whole run
      {Failure::MessageRetry, {"A", "B", "C"}},  // one message failed: only it goes the other way
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    FakeClock clock;
    ScriptedChannel modem(clock);
    ScriptedChannel gateway(clock);
    for (const char* n : {"A", "B", "C"}) {
      modem.failuresLeft[n] = 100;
      modem.failureKind[n] = c.kind;
    }
    RecordingLog log;
    Plain plain;
    auto list = messages({"A", "B", "C"});
    const std::vector<Route> routes{{&modem, ChannelKind::Modem, "Modem an COM5"},
                                    {&gateway, ChannelKind::Http, "HTTP-Gateway"}};
    const DeliveryReport report =
        deliverMessages(list, routes, retry(3, 1'000, 1'000, 600'000), clock, log, plain.outbox, clock.now + 600'000);
    EXPECT_EQ(report.sent, 3u);
    EXPECT_TRUE(clock.sleeps.empty()) << "no waiting while the other channel works";
    EXPECT_EQ(modem.calls, c.primaryCalls);
    EXPECT_EQ(gateway.calls, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(report.fallbackUsed, "HTTP-Gateway");
    EXPECT_TRUE(log.has("gesendet an C (Versuch ")) << log.all();
    EXPECT_TRUE(log.has(") über HTTP-Gateway (Ersatzweg): Referenz 7")) << log.all();
  }
}

TEST(Delivery, MessagesAreSafeBeforeTheFirstAttemptAndLeaveOnlyWhenDone) {
  FakeClock clock;
  MemoryOutboxFolder folder;
  ScriptedChannel channel(clock, &folder);
  channel.failuresLeft = {{"+4917000001", 100}, {"+4917000002", 1}, {"+4917000003", 100}};
  channel.failureKind["+4917000003"] = Failure::MessageRejected;
  RecordingLog log;
  Outbox outbox(&folder, "1700000000000-7", log);
  auto list = messages({"+4917000001", "+4917000002", "+4917000003"});
  outbox.store(list);
  EXPECT_EQ(folder.files.size(), 3u);
  const DeliveryReport report =
      deliverMessages(list, one(channel), retry(2, 1'000, 1'000, 600'000), clock, log, outbox, clock.now + 600'000);
  EXPECT_EQ(channel.filesAtAttempt.front(), 3u);
  EXPECT_TRUE(std::all_of(channel.underWayMarked.begin(), channel.underWayMarked.end(), [](bool b) { return b; }))
      << "each attempt is marked under way when it is committed";
  EXPECT_EQ(report.sent, 1u);
  EXPECT_EQ(report.failed, 1u) << "C was refused";
  EXPECT_EQ(report.kept, 1u) << "A failed for now";
  ASSERT_EQ(folder.files.size(), 1u);
  OutboxEntry left;
  ASSERT_TRUE(decodeOutboxEntry(folder.files.begin()->second, left));
  EXPECT_EQ(left.number, "+4917000001");
  EXPECT_TRUE(left.underWay.empty());
  EXPECT_TRUE(log.has("Sie bleibt im Postausgang")) << log.all();
}

TEST(Delivery, ALongTextGoesOutPartByPartAndRemembersItsProgress) {
  FakeClock clock;
  MemoryOutboxFolder folder;
  ScriptedChannel modem(clock, &folder);
  ScriptedChannel gateway(clock);
  RecordingLog log;
  Outbox outbox(&folder, "1700000000000-7", log);
  std::vector<OutboxEntry> list(1);
  list[0].number = "A";
  list[0].text = std::string(150, 'x') + " " + std::string(150, 'y');
  outbox.store(list);
  // The modem takes the first part, then stops answering: the gateway
  // sends the second part only.
  const std::vector<Route> routes{{&modem, ChannelKind::Modem, "Modem an COM5"},
                                  {&gateway, ChannelKind::Http, "HTTP-Gateway"}};
  struct FailSecond : SmsChannel {
    SmsChannel& inner;
    int calls = 0;
    explicit FailSecond(SmsChannel& c) : inner(c) {}
    SendOutcome send(const std::string& n, const std::string& t) override {
      return ++calls == 1 ? inner.send(n, t) : failed(Failure::ChannelDown, "Das Modem antwortet nicht auf AT.");
    }
  } flaky(modem);
  const std::vector<Route> flakyRoutes{{&flaky, ChannelKind::Modem, "Modem an COM5"}, routes[1]};
  const DeliveryReport report =
      deliverMessages(list, flakyRoutes, retry(2, 1'000, 1'000, 600'000), clock, log, outbox, clock.now + 600'000);
  EXPECT_EQ(report.sent, 1u);
  ASSERT_EQ(modem.texts.size(), 1u);
  ASSERT_EQ(gateway.texts.size(), 1u);
  EXPECT_EQ(modem.texts[0].substr(0, 6), "(1/2) ");
  EXPECT_EQ(gateway.texts[0].substr(0, 6), "(2/2) ") << "the gateway sends only what is missing";
  EXPECT_TRUE(log.has("gesendet an A (Teil 2/2) (Versuch 2) über HTTP-Gateway (Ersatzweg)")) << log.all();
  EXPECT_TRUE(folder.files.empty());
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

// One whole run: plan, then deliver over the channel as the config's kind.
struct OneRun {
  FakeClock clock;
  RecordingLog log;
  MemoryOutboxFolder folder;
  Outbox outbox{&folder, "1700000000000-9", log};
  WallTime now{1'700'000'000, "14.11.2023 23:13:20"};

  RunResult go(const SendRequest& request, const SenderConfig& config, SmsChannel& channel) {
    return goVia(request, config, {{&channel, config.channel, routeName(config, config.channel)}});
  }
  RunResult goVia(const SendRequest& request, const SenderConfig& config, const std::vector<Route>& routes,
                  const std::function<bool()>& giveWay = {}) {
    SendRun run(request, config, log, outbox);
    if (!run.plan(now)) return run.result();
    return run.deliver(routes, clock, clock.now + 60'000, now, giveWay);
  }
};

// The two groups and one that gets notices only.
SenderConfig withNoticeGroup(ChannelKind channel) {
  SenderConfig c = twoGroups(channel);
  c.groups.push_back({"Gerätewart", false, {}, {"+491709999999"}, true});
  return c;
}

// What an earlier, ended run left in the outbox, `ageS` old at OneRun's now.
void leaveInOutbox(MemoryOutboxFolder& folder, const char* runId, OutboxEntry::Kind kind, const char* number,
                   const char* text, int64_t ageS = 3 * 3600) {
  RecordingLog log;
  Outbox earlier(&folder, runId, log);
  std::vector<OutboxEntry> left = messages({number});
  left[0].kind = kind;
  left[0].text = text;
  left[0].createdUnixS = 1'700'000'000 - ageS;
  left[0].createdStamp = "14.11.2023 20:13:20";
  earlier.store(left);
}

TEST(SendRequests, AlarmGoesToTheChosenGroupsAndTheExitCodeTellsTheOutcome) {
  OneRun run;
  ScriptedChannel channel(run.clock);
  const SenderConfig c = twoGroups(ChannelKind::Modem);
  SendRequest alarm{SendRequest::Kind::Alarm, "Brand SÜD", ""};
  const RunResult ok = run.go(alarm, c, channel);
  EXPECT_EQ(ok.exitCode, kExitAllSent);
  EXPECT_EQ(ok.summary, "SMS an 2 von 2 Empfängern gesendet.");
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"+491701111111", "+491702222222"}));
  EXPECT_EQ(channel.texts[0], "Brand SUeD") << "texts for a modem are made GSM-safe";
  EXPECT_EQ(run.log.lines.front(), "Alarmierung \"Brand SÜD\" an 2 Empfänger (\"Alle\", \"Süd\") über Modem an COM5");
  EXPECT_EQ(run.log.lines.back(), "Ende: alle 2 Nachrichten wurden gesendet.");

  // What became of the messages that did not go out decides the code.
  struct Case {
    Failure failure;
    int exitCode;
    const char* summary;
  };
  const Case cases[] = {
      {Failure::MessageRetry, kExitSomeWaiting,
       "SMS an 1 von 2 Empfängern gesendet, 1 wartet im Postausgang: +CMS ERROR: 500"},
      {Failure::MessageRejected, kExitNotSentForGood,
       "SMS an 1 von 2 Empfängern gesendet, 1 endgültig nicht gesendet: +CMS ERROR: 500"},
  };
  for (const Case& k : cases) {
    OneRun second;
    ScriptedChannel failing(second.clock);
    failing.failuresLeft["+491702222222"] = 5;
    failing.failureKind["+491702222222"] = k.failure;
    const RunResult partly = second.go(alarm, c, failing);
    EXPECT_EQ(partly.exitCode, k.exitCode);
    EXPECT_EQ(partly.summary, k.summary);
    EXPECT_EQ(second.log.lines.back(), "Ende: 1 von 2 Nachrichten gesendet, 1 fehlgeschlagen.");
  }
  OneRun none;
  ScriptedChannel dead(none.clock);
  for (const char* n : {"+491701111111", "+491702222222"}) {
    dead.failuresLeft[n] = 5;
    dead.failureKind[n] = Failure::ChannelDown;
  }
  const RunResult waiting = none.go(alarm, c, dead);
  EXPECT_EQ(waiting.exitCode, kExitSomeWaiting);
  EXPECT_EQ(waiting.summary, "SMS NICHT gesendet, 2 warten im Postausgang: +CMS ERROR: 500");

  // The other channel delivered: the line names it.
  OneRun fallback;
  ScriptedChannel modem(fallback.clock), gateway(fallback.clock);
  for (const char* n : {"+491701111111", "+491702222222"}) {
    modem.failuresLeft[n] = 1;
    modem.failureKind[n] = Failure::ChannelUnusable;
  }
  SendRun viaGateway(alarm, c, fallback.log, fallback.outbox);
  ASSERT_TRUE(viaGateway.plan(fallback.now));
  const RunResult other = viaGateway.deliver(
      {{&modem, ChannelKind::Modem, "Modem an COM5"}, {&gateway, ChannelKind::Http, "HTTP-Gateway"}},
      fallback.clock, fallback.clock.now + 60'000, fallback.now);
  EXPECT_EQ(other.exitCode, kExitAllSent);
  EXPECT_EQ(other.summary,
            "SMS an 2 von 2 Empfängern über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: +CMS ERROR: 500");
}

TEST(SendRequests, AlarmWithoutRecipientsAndEmptyAlarmText) {
  OneRun run;
  ScriptedChannel channel(run.clock);
  SenderConfig c = twoGroups(ChannelKind::Http);
  c.groups.erase(c.groups.begin());
  EXPECT_EQ(run.go({SendRequest::Kind::Alarm, "Nord", ""}, c, channel).exitCode, kExitNoRecipients);
  EXPECT_TRUE(channel.calls.empty());
  EXPECT_TRUE(run.log.has("keine Empfängergruppe passt"));
  EXPECT_TRUE(run.folder.files.empty()) << "nothing to keep";

  const SenderConfig all = twoGroups(ChannelKind::Http);
  EXPECT_EQ(run.go({SendRequest::Kind::Alarm, "", ""}, all, channel).exitCode, kExitAllSent);
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"Alarmierung (ohne Text)"}));
}

TEST(SendRequests, LongAlarmsGoToTheModemInNumberedParts) {
  OneRun run;
  ScriptedChannel channel(run.clock);
  SenderConfig c = twoGroups(ChannelKind::Modem);
  c.groups.pop_back();
  const std::string text(200, 'x');
  EXPECT_EQ(run.go({SendRequest::Kind::Alarm, text, ""}, c, channel).exitCode, kExitAllSent);
  ASSERT_EQ(channel.texts.size(), 2u);
  EXPECT_EQ(channel.texts[0].substr(0, 6), "(1/2) ");
  EXPECT_TRUE(run.log.has("gesendet an +491701111111 (Teil 2/2) (Versuch 1)")) << run.log.all();

  ScriptedChannel gateway(run.clock);
  const SenderConfig h = twoGroups(ChannelKind::Http);
  run.go({SendRequest::Kind::Alarm, text, ""}, h, gateway);
  EXPECT_EQ(gateway.texts, (std::vector<std::string>{text})) << "a gateway gets the whole text";
}

TEST(SendRequests, TestMessageGoesOnlyToTheTypedNumber) {
  OneRun run;
  ScriptedChannel channel(run.clock);
  const SenderConfig c = twoGroups(ChannelKind::Modem);
  const RunResult sent = run.go({SendRequest::Kind::Test, "", " 0170 / 555 55 "}, c, channel);
  EXPECT_EQ(sent.exitCode, kExitAllSent);
  EXPECT_EQ(sent.summary, "Test-SMS an 017055555 gesendet.");
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"017055555"}));
  EXPECT_EQ(channel.texts, (std::vector<std::string>{"Test ok"}));

  for (const char* typed : {"", "Hallo", "0170\"\r\nATD"}) {
    OneRun bad;
    const RunResult refused = bad.go({SendRequest::Kind::Test, "", typed}, c, channel);
    EXPECT_EQ(refused.exitCode, kExitBadCommandLine);
    EXPECT_TRUE(bad.log.has("keine gültige Mobilfunknummer"));
    EXPECT_NE(refused.summary.find("keine gültige Mobilfunknummer"), std::string::npos);
  }
  EXPECT_EQ(channel.calls.size(), 1u);

  OneRun failing;
  ScriptedChannel locked(failing.clock);
  locked.failuresLeft["017055555"] = 1;
  locked.failureKind["017055555"] = Failure::ChannelUnusable;
  const RunResult notSent = failing.go({SendRequest::Kind::Test, "", "017055555"}, c, locked);
  EXPECT_EQ(notSent.exitCode, kExitSomeFailed);
  EXPECT_EQ(notSent.summary, "Test-SMS an 017055555 nicht gesendet: +CMS ERROR: 500");
  EXPECT_TRUE(failing.folder.files.empty()) << "a test message is never kept for later";
}

TEST(Leftovers, ARunSendsWhatEndedRunsLeftFirstAndMarksItLate) {
  MemoryOutboxFolder folder;
  RecordingLog earlierLog;
  {
    // A run that stored three messages and was stopped after the first
    // attempt had been handed to the modem.
    Outbox earlier(&folder, "1699990000000-4", earlierLog);
    std::vector<OutboxEntry> left = messages({"+4917000001", "+4917000002", "+4917000003"});
    for (auto& e : left) {
      e.createdUnixS = 1'699'990'000;
      e.createdStamp = "14.11.2023 20:26:40";
    }
    left[2].kind = OutboxEntry::Kind::Test;
    earlier.store(left);
    left[0].underWay = "Modem an COM5";
    earlier.update(left[0]);
  }
  // A run still going (a test sending beside an alarm) keeps its own.
  {
    Outbox running(&folder, "1699999999000-5", earlierLog);
    std::vector<OutboxEntry> mine = messages({"+4917000004"});
    running.store(mine);
    folder.alive.insert("1699999999000-5");
  }
  // One so old it is given up.
  {
    Outbox ancient(&folder, "1600000000000-3", earlierLog);
    std::vector<OutboxEntry> old = messages({"+4917000005"});
    old[0].createdUnixS = 1'600'000'000;
    ancient.store(old);
  }

  // One whose number was tampered with.
  {
    Outbox damaged(&folder, "1699990000001-6", earlierLog);
    std::vector<OutboxEntry> bad = messages({"0170\";ATD"});
    bad[0].createdUnixS = 1'699'990'000;
    damaged.store(bad);
  }
  OneRun run;
  run.folder.files = folder.files;
  run.folder.alive = folder.alive;
  ScriptedChannel channel(run.clock);
  const SenderConfig c = twoGroups(ChannelKind::Http);
  const RunResult result = run.go({SendRequest::Kind::Alarm, "Neu", ""}, c, channel);
  EXPECT_EQ(result.exitCode, kExitAllSent);
  EXPECT_EQ(channel.calls, (std::vector<std::string>{"+491701111111", "+4917000001", "+4917000002"})) << "the new alarm goes first";
  EXPECT_EQ(channel.texts[1], "Nachgesendet, Alarm vom 14.11. 20:26: Text");
  EXPECT_TRUE(run.log.has("AUFGEGEBEN: Die Test-SMS an +4917000003")) << run.log.all();
  EXPECT_TRUE(run.log.has("AUFGEGEBEN: Die Nachricht an +4917000005")) << run.log.all();
  EXPECT_TRUE(run.log.has("war beim Abbruch schon unterwegs (Modem an COM5)")) << run.log.all();
  EXPECT_TRUE(run.log.has("gesendet an +4917000002 (Versuch 1, verspätet)")) << run.log.all();
  EXPECT_TRUE(run.log.has("Nachgesendet: 2 von 2 Nachrichten aus früheren Läufen.")) << run.log.all();
  EXPECT_TRUE(run.log.has("Postausgang: Die Datei 1699990000001-6-0001.sms ist unlesbar")) << run.log.all();
  ASSERT_EQ(run.folder.files.size(), 2u) << "only the running run's message and the damaged file are left";
  EXPECT_EQ(Outbox::runOf(run.folder.files.begin()->first), "1699999999000-5");
  EXPECT_TRUE(run.folder.files.rbegin()->first.ends_with(".sms.defekt")) << run.folder.files.rbegin()->first;
}

// Twenty messages left by two earlier runs: a new alarm goes before them;
// "--nachsenden" sends only them, oldest alarm first, and says what is left.
TEST(Leftovers, TheNewAlarmGoesFirstAndResendingSendsOnlyTheOutbox) {
  MemoryOutboxFolder folder;
  RecordingLog earlierLog;
  for (const char* runId : {"1699990000000-4", "1699980000000-3"}) {
    Outbox earlier(&folder, runId, earlierLog);
    std::vector<OutboxEntry> left;
    for (int i = 0; i < 10; ++i) {
      left.push_back(messages({""}).front());
      left.back().number = "+49170" + std::string(runId).substr(5, 1) + std::to_string(1000 + i);
      left.back().createdUnixS = 1'699'990'000;
    }
    earlier.store(left);
  }
  OneRun alarmRun;
  alarmRun.folder.files = folder.files;
  ScriptedChannel channel(alarmRun.clock);
  SenderConfig c = twoGroups(ChannelKind::Http);
  c.retry = retry(1, 1000, 1000, 60'000);
  EXPECT_EQ(alarmRun.go({SendRequest::Kind::Alarm, "Neu", ""}, c, channel).exitCode, kExitAllSent);
  ASSERT_EQ(channel.calls.size(), 21u);
  EXPECT_EQ(channel.calls[0], "+491701111111");
  EXPECT_EQ(channel.calls[1], "+4917081000") << "then the oldest run's";
  EXPECT_EQ(channel.calls[11], "+4917091000");

  struct Case {
    const char* name;
    int failing;  // of the twenty, these fail every attempt
    int exitCode;
    const char* summary;
  };
  const Case cases[] = {
      {"all go out", 0, kExitAllSent, "Nachgesendet: 20 von 20 SMS gesendet."},
      {"one fails", 1, kExitSomeWaiting, "Nachgesendet: 19 von 20 SMS gesendet, 1 wartet weiter im Postausgang."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OneRun resend;
    resend.folder.files = folder.files;
    ScriptedChannel gateway(resend.clock);
    if (k.failing) gateway.failuresLeft["+4917091009"] = 100;
    const RunResult result = resend.go({SendRequest::Kind::Resend, "", ""}, c, gateway);
    EXPECT_EQ(result.exitCode, k.exitCode);
    EXPECT_EQ(result.summary, k.summary);
    EXPECT_EQ(gateway.calls.size(), 20u);
    EXPECT_EQ(resend.folder.files.size(), static_cast<size_t>(k.failing));
  }
  OneRun empty;
  ScriptedChannel idle(empty.clock);
  const RunResult nothing = empty.go({SendRequest::Kind::Resend, "", ""}, c, idle);
  EXPECT_EQ(nothing.exitCode, kExitAllSent);
  EXPECT_EQ(nothing.summary, "Postausgang leer.");
  EXPECT_TRUE(idle.calls.empty());
}

TEST(Leftovers, AnUnusableOutboxIsSaidOnceAndTheRunStillSends) {
  OneRun run;
  run.folder.broken = true;
  Outbox broken(&run.folder, "1700000000000-1", run.log);
  ScriptedChannel channel(run.clock);
  const SendRequest request{SendRequest::Kind::Alarm, "Brand", ""};
  const SenderConfig config = twoGroups(ChannelKind::Http);
  SendRun sendRun(request, config, run.log, broken);
  ASSERT_TRUE(sendRun.plan(run.now));
  const RunResult result = sendRun.deliver({{&channel, ChannelKind::Http, "HTTP-Gateway"}}, run.clock,
                                           run.clock.now + 60'000, run.now);
  EXPECT_EQ(result.exitCode, kExitAllSent);
  EXPECT_EQ(std::count_if(run.log.lines.begin(), run.log.lines.end(),
                          [](const std::string& l) { return l.rfind("Postausgang nicht nutzbar", 0) == 0; }),
            1);
}

TEST(OutboxFiles, EntriesSurviveTheRoundTripAndDamageIsRefused) {
  OutboxEntry e;
  e.kind = OutboxEntry::Kind::Alarm;
  e.createdUnixS = 1'700'000'000;
  e.createdStamp = "14.11.2023 23:13:20";
  e.number = "+491701111111";
  e.text = std::string("Brand\r\n\x1A\xE4 = Süd", 14);
  e.partsSent = 2;
  e.underWay = "HTTP-Gateway";
  e.late = true;
  e.maybeSent = 1;
  OutboxEntry back;
  ASSERT_TRUE(decodeOutboxEntry(encodeOutboxEntry(e), back));
  EXPECT_EQ(back.maybeSent, 1u);
  EXPECT_EQ(back.text, e.text);
  EXPECT_EQ(back.partsSent, 2u);
  EXPECT_EQ(back.underWay, "HTTP-Gateway");
  EXPECT_TRUE(back.late);
  const std::string whole = encodeOutboxEntry(e);
  for (size_t cut : {size_t{0}, size_t{10}, whole.size() / 2, whole.size() - 7}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(decodeOutboxEntry(whole.substr(0, cut), back));
  }
  for (const char* number : {"0170\";ATD", "+49 170 1", "0170+1", "1"}) {
    SCOPED_TRACE(number);
    OutboxEntry bad = e;
    bad.number = number;
    EXPECT_FALSE(decodeOutboxEntry(encodeOutboxEntry(bad), back));
  }
  EXPECT_EQ(Outbox::runOf("1700000000000-77-0003.sms"), "1700000000000-77");
  EXPECT_EQ(Outbox::runOf("1700000000000-77-0003.sms.tmp"), "");
}

TEST(Notices, ANoticeGoesOnlyToTheNoticeGroupAndIsTriedOnce) {
  const SendRequest notice{SendRequest::Kind::Notice, "Tonausfall seit 10:00", ""};
  struct Case {
    const char* name;
    int failures;  // attempts on the notice that fail
    Failure failure;
    int exitCode;
    const char* summary;
    size_t waiting;  // files left in the outbox
  };
  const Case cases[] = {
      {"sent", 0, Failure::MessageRetry, kExitAllSent, "Hinweis an 1 von 1 Empfänger gesendet.", 0},
      {"failed once", 1, Failure::MessageRetry, kExitSomeWaiting,
       "Hinweis NICHT gesendet, 1 wartet im Postausgang: +CMS ERROR: 500", 1},
      {"channel down", 5, Failure::ChannelDown, kExitSomeWaiting,
       "Hinweis NICHT gesendet, 1 wartet im Postausgang: +CMS ERROR: 500", 1},
      {"refused", 5, Failure::MessageRejected, kExitNotSentForGood, "Hinweis NICHT gesendet: +CMS ERROR: 500", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OneRun run;
    ScriptedChannel gateway(run.clock);
    gateway.failuresLeft["+491709999999"] = k.failures;
    gateway.failureKind["+491709999999"] = k.failure;
    const RunResult result = run.go(notice, withNoticeGroup(ChannelKind::Http), gateway);
    EXPECT_EQ(result.exitCode, k.exitCode);
    EXPECT_EQ(result.summary, k.summary);
    EXPECT_EQ(gateway.calls, (std::vector<std::string>{"+491709999999"})) << "once, and to no alarm recipient";
    EXPECT_EQ(gateway.texts.front(), "Tonausfall seit 10:00");
    EXPECT_TRUE(run.clock.sleeps.empty()) << "no waiting rounds";
    EXPECT_EQ(run.log.lines.front(),
              "Hinweis \"Tonausfall seit 10:00\" an 1 Empfänger (\"Gerätewart\") über HTTP-Gateway");
    ASSERT_EQ(run.folder.files.size(), k.waiting);
    if (k.waiting > 0) {
      EXPECT_NE(run.folder.files.begin()->second.find("\r\nart=hinweis\r\n"), std::string::npos);
    }
  }

  // Without a notice group nothing is sent, whatever the alarm groups are.
  OneRun none;
  ScriptedChannel idle(none.clock);
  const RunResult nobody = none.go(notice, twoGroups(ChannelKind::Http), idle);
  EXPECT_EQ(nobody.exitCode, kExitNoRecipients);
  EXPECT_EQ(nobody.summary, "Hinweis nicht gesendet: In S.toml bekommt keine Gruppe Hinweise (hinweise = true).");
  EXPECT_EQ(none.log.lines,
            (std::vector<std::string>{"Hinweis nicht gesendet: In S.toml bekommt keine Gruppe Hinweise (hinweise = true)."}));
  EXPECT_TRUE(idle.calls.empty());
  EXPECT_TRUE(none.folder.files.empty());
}

// An earlier run left an older notice and a newer alarm. In every run the
// alarms go first; a notice is never tried twice, nor is anything in a
// notice or resend run.
TEST(Notices, AlarmsGoBeforeNoticesInEveryRun) {
  MemoryOutboxFolder left;
  leaveInOutbox(left, "1699980000000-3", OutboxEntry::Kind::Notice, "+4917000002", "Modem gestört");
  leaveInOutbox(left, "1699990000000-4", OutboxEntry::Kind::Alarm, "+4917000001", "Brand");
  struct Case {
    const char* name;
    SendRequest request;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"alarm", {SendRequest::Kind::Alarm, "Neu", ""},
       {"+491701111111", "+4917000001", "+4917000002", "+4917000001"}},
      {"notice", {SendRequest::Kind::Notice, "Eingang still", ""}, {"+4917000001", "+491709999999", "+4917000002"}},
      {"resend", {SendRequest::Kind::Resend, "", ""}, {"+4917000001", "+4917000002"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OneRun run;
    run.folder.files = left.files;
    ScriptedChannel gateway(run.clock);
    // Both late messages fail at first: in an alarm run the late alarm gets
    // its second round, the notice not; notice and resend runs have one round.
    gateway.failuresLeft = {{"+4917000001", 1}, {"+4917000002", 100}};
    run.go(k.request, withNoticeGroup(ChannelKind::Http), gateway);
    EXPECT_EQ(gateway.calls, k.calls);
    const auto late = std::find(gateway.calls.begin(), gateway.calls.end(), "+4917000002") - gateway.calls.begin();
    EXPECT_EQ(gateway.texts[static_cast<size_t>(late)], "Nachgesendet, Hinweis vom 14.11. 20:13: Modem gestört");
  }
}

TEST(Notices, NoticeAndResendRunsGiveWayToAWaitingAlarm) {
  struct Case {
    const char* name;
    SendRequest request;
    size_t calls;
    int exitCode;
    const char* summary;
  };
  const Case cases[] = {
      {"notice", {SendRequest::Kind::Notice, "Tonausfall", ""}, 1, kExitSomeWaiting,
       "Hinweis an 1 von 3 Empfängern gesendet, 2 warten im Postausgang: "
       "Eine Alarmierung hat Vorrang und wartet auf das Modem."},
      {"resend", {SendRequest::Kind::Resend, "", ""}, 1, kExitSomeWaiting,
       "Nachgesendet: 1 von 3 SMS gesendet, 2 warten weiter im Postausgang."},
      {"alarm", {SendRequest::Kind::Alarm, "Brand", ""}, 3, kExitAllSent, "SMS an 3 von 3 Empfängern gesendet."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OneRun run;
    SenderConfig c = withNoticeGroup(ChannelKind::Http);
    c.groups[0].numbers = {"+491701111111", "+491701111112", "+491701111113"};
    c.groups[2].numbers = c.groups[0].numbers;
    if (k.request.kind == SendRequest::Kind::Resend) {
      int i = 0;
      for (const char* number : {"+491701111111", "+491701111112", "+491701111113"})
        leaveInOutbox(run.folder, ("169999000000" + std::to_string(i++) + "-4").c_str(), OutboxEntry::Kind::Alarm,
                      number, "Brand");
    }
    ScriptedChannel gateway(run.clock);
    // An alarm starts waiting for the modem while the first message goes out.
    int asked = 0;
    const RunResult result = run.goVia(k.request, c, {{&gateway, ChannelKind::Http, "HTTP-Gateway"}},
                                       [&] { return ++asked > 1; });
    EXPECT_EQ(gateway.calls.size(), k.calls);
    EXPECT_EQ(result.exitCode, k.exitCode);
    EXPECT_EQ(result.summary, k.summary);
    EXPECT_EQ(run.folder.files.size(), 3 - k.calls);
    EXPECT_EQ(run.log.has("Sendevorgang unterbrochen: eine Alarmierung hat Vorrang und wartet auf das Modem; "
                          "2 Nachrichten bleiben im Postausgang."),
              k.calls == 1)
        << run.log.all();
  }
}

TEST(Notices, TheOutboxKeepsTheKindAndGivesNoticesUpAfterADay) {
  OutboxEntry e;
  e.kind = OutboxEntry::Kind::Notice;
  e.number = "+491709999999";
  e.text = "Eingang still";
  OutboxEntry back;
  ASSERT_TRUE(decodeOutboxEntry(encodeOutboxEntry(e), back));
  EXPECT_EQ(back.kind, OutboxEntry::Kind::Notice);
  EXPECT_NE(encodeOutboxEntry(e).find("\r\nart=hinweis\r\n"), std::string::npos);

  struct Case {
    OutboxEntry::Kind kind;
    int64_t ageHours;
    int32_t maxAgeHours;  // hoechstalter_h
    bool kept;
    const char* givenUp;  // the log line's start, when given up
  };
  const Case cases[] = {
      {OutboxEntry::Kind::Notice, 23, 24, true, ""},
      {OutboxEntry::Kind::Notice, 25, 48, false, "AUFGEGEBEN: Die Hinweis-SMS an +491709999999 vom 14.11.2023 20:13:20 ist älter als 24 Stunden"},
      {OutboxEntry::Kind::Alarm, 25, 48, true, ""},
      {OutboxEntry::Kind::Notice, 2, 1, false, "AUFGEGEBEN: Die Hinweis-SMS an +491709999999 vom 14.11.2023 20:13:20 ist älter als 1 Stunden"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.ageHours) + " h of " + std::to_string(k.maxAgeHours));
    MemoryOutboxFolder folder;
    leaveInOutbox(folder, "1699990000000-4", k.kind, "+491709999999", "Eingang still", k.ageHours * 3600);
    RecordingLog log;
    Outbox outbox(&folder, "1700000000000-9", log);
    const auto taken = outbox.takeOver({1'700'000'000, "14.11.2023 23:13:20"}, k.maxAgeHours);
    EXPECT_EQ(taken.size(), k.kept ? 1u : 0u);
    EXPECT_EQ(folder.files.size(), k.kept ? 1u : 0u);
    if (!k.kept) {
      EXPECT_TRUE(log.has(k.givenUp)) << log.all();
    }
  }
}

// The first route failed for a message that then went the other way: the
// summary says so, whatever the run, so Kantiq can tell someone.
TEST(FirstRouteTrouble, TheSummaryEndsWithTheFirstRoutesFault) {
  struct Case {
    const char* name;
    SendRequest request;
    Failure modemFailure;  // on every message; MessageRetry with no failures: the modem works
    int modemFailures;
    const char* summary;
  };
  const Case cases[] = {
      {"notice", {SendRequest::Kind::Notice, "Tonausfall", ""}, Failure::ChannelDown, 5,
       "Hinweis an 1 von 1 Empfänger über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: +CMS ERROR: 500"},
      {"resend", {SendRequest::Kind::Resend, "", ""}, Failure::ChannelUnusable, 5,
       "Nachgesendet: 1 von 1 SMS gesendet. Störung Modem an COM5: +CMS ERROR: 500"},
      {"test", {SendRequest::Kind::Test, "", "0170 5555555"}, Failure::MessageRetry, 5,
       "Test-SMS an 01705555555 über den Ersatzweg HTTP-Gateway gesendet. Störung Modem an COM5: +CMS ERROR: 500"},
      {"alarm, modem fine", {SendRequest::Kind::Alarm, "Brand", ""}, Failure::MessageRetry, 0,
       "SMS an 1 von 1 Empfänger gesendet."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OneRun run;
    if (k.request.kind == SendRequest::Kind::Resend)
      leaveInOutbox(run.folder, "1699990000000-4", OutboxEntry::Kind::Alarm, "+491701111111", "Brand");
    ScriptedChannel modem(run.clock), gateway(run.clock);
    for (const char* n : {"+491701111111", "+491709999999", "01705555555"}) {
      modem.failuresLeft[n] = k.modemFailures;
      modem.failureKind[n] = k.modemFailure;
    }
    const RunResult result = run.goVia(k.request, withNoticeGroup(ChannelKind::Modem),
                                       {{&modem, ChannelKind::Modem, "Modem an COM5"},
                                        {&gateway, ChannelKind::Http, "HTTP-Gateway"}});
    EXPECT_EQ(result.summary, k.summary);
  }

  // Both routes fail: the second was tried, so the first one's fault is named.
  OneRun both;
  ScriptedChannel modem(both.clock), gateway(both.clock);
  modem.failuresLeft["+491701111111"] = 100;
  modem.failureKind["+491701111111"] = Failure::ChannelUnusable;
  gateway.failuresLeft["+491701111111"] = 100;
  gateway.failureKind["+491701111111"] = Failure::MessageRejected;
  const RunResult result = both.goVia({SendRequest::Kind::Alarm, "Brand", ""}, withNoticeGroup(ChannelKind::Modem),
                                      {{&modem, ChannelKind::Modem, "Modem an COM5"},
                                       {&gateway, ChannelKind::Http, "HTTP-Gateway"}});
  EXPECT_EQ(result.exitCode, kExitNotSentForGood);
  EXPECT_EQ(result.summary, "SMS NICHT gesendet: +CMS ERROR: 500 Störung Modem an COM5: +CMS ERROR: 500");
}

// The SIM's faults, as the real modem conversation words them, reach the
// summary with the word Kantiq looks for.
TEST(FirstRouteTrouble, SimFaultsNameThePinOrThePuk) {
  struct Case {
    const char* name;
    int pinAttempts;       // the SIM's counter
    const char* query;     // the counter query the modem knows
    int runsBefore;        // earlier runs with the same wrong PIN
    const char* trouble;
  };
  const Case cases[] = {
      {"puk", 0, "", 0, " Störung Modem an COM5: Die SIM-Karte verlangt die PUK."},
      {"refused", 3, "", 0, " Störung Modem an COM5: Die SIM-Karte hat die PIN abgelehnt: \"+CME ERROR: 16\""},
      {"refused before", 3, "", 1,
       " Störung Modem an COM5: Die SIM-Karte hat die PIN aus S.toml schon einmal abgelehnt;"},
      {"one attempt left", 1, "AT+CPINR=\"SIM PIN\"", 0,
       " Störung Modem an COM5: Die SIM-Karte hat nur noch einen PIN-Versuch;"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    testing::MemoryStateFile simFile;
    SenderConfig c = twoGroups(ChannelKind::Modem);
    c.modem.pin = "1234";
    for (int run = 0; run <= k.runsBefore; ++run) {
      OneRun one;
      testing::FakeModemLine line(one.clock);
      line.pin = "9999";
      line.pinAttempts = k.pinAttempts;
      line.attemptQuery = k.query;
      PinGuard pins(simFile);
      ModemSession modem(line, c.modem, one.clock, pins);
      ScriptedChannel gateway(one.clock);
      const RunResult result = one.goVia({SendRequest::Kind::Alarm, "Brand", ""}, c,
                                         {{&modem, ChannelKind::Modem, "Modem an COM5"},
                                          {&gateway, ChannelKind::Http, "HTTP-Gateway"}});
      if (run < k.runsBefore) continue;
      EXPECT_EQ(result.exitCode, kExitAllSent);
      EXPECT_TRUE(line.delivered.empty());
      EXPECT_NE(result.summary.find("über HTTP-Gateway (Ersatzweg) gesendet." + std::string(k.trouble)),
                std::string::npos)
          << result.summary;
    }
  }
}

TEST(SendLogLines, StampedAndKeptOnOneLine) {
  EXPECT_EQ(formatSendLogLine(2026, 12, 8, 7, 5, 3, "gesendet an 112"), "08.12.2026 07:05:03: gesendet an 112\r\n");
  EXPECT_EQ(formatSendLogLine(2026, 1, 1, 0, 0, 0, "a\r\nb\x1A"), "01.01.2026 00:00:00: a??b?\r\n");
}

}  // namespace
}  // namespace kantiq::sender
