#include "sender/modem/modem_session.h"

#include <gtest/gtest.h>

#include "sender/modem/modem_errors.h"
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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);

  const SendOutcome first = session.send("+491701111111", "Brand Müllerstraße");
  ASSERT_TRUE(first.sent) << first.detail;
  EXPECT_EQ(first.detail, "Referenz 1");
  const SendOutcome second = session.send("+491702222222", "Zweite");
  ASSERT_TRUE(second.sent) << second.detail;

  EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT", "ATE0", "AT+CMEE=1", "AT+CPIN?", "AT+CMGF=1",
                                                      "AT+CSCS=\"GSM\"", "AT+CMGS=\"+491701111111\"",
                                                      "AT+CMGS=\"+491702222222\""}));
  ASSERT_EQ(modem.delivered.size(), 2u);
  EXPECT_EQ(modem.delivered[0].number, "+491701111111");
  EXPECT_EQ(modem.delivered[0].text, "Brand Muellerstrasse");
  EXPECT_EQ(modem.delivered[1].text, "Zweite");
  EXPECT_EQ(modem.opens, 1);
}

TEST(ModemConversation, ANumberThatIsNotPlainNeverReachesTheModem) {
  FakeClock clock;
  FakeModemLine modem(clock);
  const ModemSettings s = settings();
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
  for (const char* number : {"0170\";ATD", "+49 170", "1"}) {
    const SendOutcome out = session.send(number, "Probe");
    EXPECT_FALSE(out.sent) << number;
    EXPECT_EQ(out.failure, Failure::MessageRejected) << number;
  }
  EXPECT_FALSE(contains(modem.raw, "AT+CMGS")) << modem.raw;
}

TEST(ModemConversation, AModemLeftWaitingForATextIsFreedFirst) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.leftWaitingForText = true;
  const ModemSettings s = settings();
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);

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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);

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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);

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
  testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
  const int64_t start = clock.now;
  const SendOutcome out = session.send("+491701111111", "Test");
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.detail, "Das Modem antwortet nicht auf AT.");
  EXPECT_EQ(out.failure, Failure::ChannelDown);
  // A dead modem costs two short probes, not two full reply times, so the
  // other channel can take over quickly.
  EXPECT_GE(clock.now - start, 2 * 2500) << "AT is tried twice";
  EXPECT_LE(clock.now - start, 2 * 2500 + 1000) << "then it gives up";
}

TEST(ModemConversation, SilenceAfterTheTextAndAMissingPromptAreFailures) {
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.silentAfterText = true;
    const ModemSettings s = settings();
    testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
    const SendOutcome out = session.send("+491701111111", "Test");
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.detail, "Das Modem antwortet nicht auf den Nachrichtentext.");
  }
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.noPrompt = true;
    const ModemSettings s = settings();
    testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
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
    testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
    EXPECT_EQ(session.send("+491701111111", "x").detail, "Der Anschluss COM5 lässt sich nicht öffnen.");
  }
  {
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.textModeRefused = true;
    const ModemSettings s = settings();
    testing::MemoryStateFile simFile;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins);
    EXPECT_EQ(session.send("+491701111111", "x").detail, "Das Modem meldet \"ERROR\" auf AT+CMGF=1.");
  }
}

}  // namespace
}  // namespace kantiq::sender

namespace kantiq::sender {
namespace {

using testing::FakeClock;
using testing::FakeModemLine;
using testing::MemoryStateFile;
using testing::RecordingLog;

// One start of S.exe against the same modem and the same state file: a
// fresh session and a fresh guard, as a new process would have.
SendOutcome sendOnce(FakeModemLine& modem, FakeClock& clock, MemoryStateFile& simFile, const std::string& pin,
                     RecordingLog* notes = nullptr) {
  ModemSettings s;
  s.port = "COM5";
  s.pin = pin;
  s.replyTimeoutMs = 5000;
  s.sendTimeoutMs = 30000;
  PinGuard pins(simFile);
  ModemSession session(modem, s, clock, pins, notes);
  return session.send("+491701111111", "Probe");
}

TEST(SimSafety, AWrongPinAcrossFiveRunsIsEnteredOnce) {
  for (const char* query : {"", "AT+CPINR=\"SIM PIN\"", "AT^SPIC", "AT+QPINC=\"SC\""}) {
    SCOPED_TRACE(*query ? query : "no counter query");
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.pin = "9999";
    modem.attemptQuery = query;
    MemoryStateFile simFile;
    RecordingLog notes;
    for (int run = 0; run < 5; ++run) {
      const SendOutcome out = sendOnce(modem, clock, simFile, "1234", &notes);
      EXPECT_FALSE(out.sent);
      EXPECT_EQ(out.failure, Failure::ChannelUnusable) << "not retried in the run";
    }
    EXPECT_EQ(modem.pinEntries, 1);
    EXPECT_EQ(modem.pinAttempts, 2) << "the SIM is two wrong entries away from locking";
    EXPECT_TRUE(notes.has("wurde abgelehnt")) << notes.all();
    EXPECT_FALSE(contains(simFile.text, "1234")) << "the PIN is never stored in clear";
  }
}

TEST(SimSafety, ANewPinIsTriedButNeverTheLastAttempt) {
  // Each run has a different wrong PIN in S.toml. Whether the modem reports
  // its counter or S.exe counts for itself, the last attempt is kept.
  for (const char* query : {"", "AT+CPINR=\"SIM PIN\""}) {
    SCOPED_TRACE(*query ? query : "counted by S.exe");
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.pin = "9999";
    modem.attemptQuery = query;
    MemoryStateFile simFile;
    for (const char* pin : {"1111", "2222", "3333", "4444"}) {
      const SendOutcome out = sendOnce(modem, clock, simFile, pin);
      EXPECT_FALSE(out.sent);
    }
    EXPECT_EQ(modem.pinEntries, 2);
    EXPECT_EQ(modem.pinAttempts, 1);
    EXPECT_FALSE(modem.locked());
    const SendOutcome last = sendOnce(modem, clock, simFile, "5555");
    EXPECT_TRUE(contains(last.detail, "nur noch einen PIN-Versuch")) << last.detail;
  }
}

TEST(SimSafety, ReportedCountersDecide) {
  struct Case {
    const char* query;
    int attemptsLeft;
    bool entered;
  };
  const Case cases[] = {
      {"AT+CPINR=\"SIM PIN\"", 1, false}, {"AT^SPIC", 1, false}, {"AT+QPINC=\"SC\"", 1, false},
      {"AT+CPINR=\"SIM PIN\"", 2, true},  {"AT^SPIC", 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query) + " reports " + std::to_string(c.attemptsLeft));
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.pin = "4711";
    modem.pinAttempts = c.attemptsLeft;
    modem.attemptQuery = c.query;
    MemoryStateFile simFile;
    const SendOutcome out = sendOnce(modem, clock, simFile, "4711");
    EXPECT_EQ(modem.pinEntries, c.entered ? 1 : 0);
    EXPECT_EQ(out.sent, c.entered) << out.detail;
  }
}

TEST(SimSafety, ALockedSimWantsThePukAndNoneIsEntered) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.pin = "4711";
  modem.pinAttempts = 0;
  MemoryStateFile simFile;
  RecordingLog notes;
  const SendOutcome out = sendOnce(modem, clock, simFile, "4711", &notes);
  EXPECT_EQ(out.detail, "Die SIM-Karte verlangt die PUK.");
  EXPECT_EQ(out.failure, Failure::ChannelUnusable);
  EXPECT_EQ(modem.pinEntries, 0);
  ASSERT_EQ(notes.lines.size(), 1u);
  EXPECT_TRUE(contains(notes.lines[0], "S.exe gibt keine PUK ein")) << notes.lines[0];
}

TEST(SimSafety, WithoutMemoryOnlyAReportedCounterAllowsAnEntry) {
  for (bool unreadable : {true, false}) {
    SCOPED_TRACE(unreadable ? "state file unreadable" : "state file read-only");
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.pin = "4711";
    MemoryStateFile simFile;
    simFile.unreadable = unreadable;
    simFile.readOnly = !unreadable;
    const SendOutcome blind = sendOnce(modem, clock, simFile, "4711");
    EXPECT_FALSE(blind.sent);
    EXPECT_TRUE(contains(blind.detail, "SIM-Status.txt")) << blind.detail;
    EXPECT_EQ(modem.pinEntries, 0);

    modem.attemptQuery = "AT+CPINR=\"SIM PIN\"";
    const SendOutcome counted = sendOnce(modem, clock, simFile, "4711");
    EXPECT_TRUE(counted.sent) << counted.detail;
    EXPECT_EQ(modem.pinEntries, 1);
  }
}

TEST(SimSafety, AnAcceptedPinClearsWhatWasRemembered) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.pin = "4711";
  MemoryStateFile simFile;
  EXPECT_FALSE(sendOnce(modem, clock, simFile, "1111").sent);
  SimRecord refused;
  ASSERT_TRUE(decodeSimRecord(simFile.text, refused)) << simFile.text;
  EXPECT_EQ(refused.refusedEntries, 1);
  EXPECT_FALSE(refused.refusedPinHash.empty());

  EXPECT_TRUE(sendOnce(modem, clock, simFile, "4711").sent);
  SimRecord cleared;
  ASSERT_TRUE(decodeSimRecord(simFile.text, cleared));
  EXPECT_EQ(cleared.refusedEntries, 0);
  EXPECT_TRUE(cleared.refusedPinHash.empty());
  EXPECT_EQ(cleared.salt, refused.salt);
}

// Two runs with the modem switched off and on between them. A busy SIM or
// one slow to report READY is waited out; only a refused PIN is remembered.
TEST(SimSafety, OnlyARefusalIsRememberedAcrossPowerCycles) {
  struct Case {
    const char* name;
    const char* configPin;
    int busyAfterPowerUp;
    int64_t readyAfterMs;
    bool bareErrors;
    bool sent;
    int entries;  // over both runs
    bool refusalStored;
  };
  const Case cases[] = {
      {"SIM busy, then READY", "4711", 1, 0, false, true, 4, false},
      {"READY later than the reply time", "4711", 0, 8000, false, true, 2, false},
      {"power cycle after an unlock", "4711", 0, 0, false, true, 2, false},
      {"+CME ERROR: 16", "1111", 0, 0, false, false, 1, true},
      {"bare ERROR, no counter", "1111", 0, 0, true, false, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.pin = "4711";
    modem.readyAfterMs = c.readyAfterMs;
    modem.bareErrors = c.bareErrors;
    modem.powerCycle(c.busyAfterPowerUp);
    MemoryStateFile simFile;
    RecordingLog notes;
    const SendOutcome first = sendOnce(modem, clock, simFile, c.configPin, &notes);
    modem.powerCycle(c.busyAfterPowerUp);
    const SendOutcome second = sendOnce(modem, clock, simFile, c.configPin, &notes);
    EXPECT_EQ(first.sent, c.sent) << first.detail;
    EXPECT_EQ(second.sent, c.sent) << second.detail;
    EXPECT_EQ(modem.pinEntries, c.entries) << notes.all();
    EXPECT_EQ(modem.delivered.size(), c.sent ? 2u : 0u);
    SimRecord record;
    ASSERT_TRUE(decodeSimRecord(simFile.text, record)) << simFile.text;
    EXPECT_EQ(!record.refusedPinHash.empty(), c.refusalStored) << simFile.text;
    EXPECT_EQ(record.refusedEntries, c.refusalStored ? 1 : 0);
  }
}

TEST(ModemDialogue, UnsolicitedLinesAndSplitAnswersAreHandled) {
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}}) {
    for (const char* noise : {"\r\nRING\r\n", "\r\n+CMTI: \"SM\",3\r\n", "\r\n+CREG: 1\r\n\r\nNO CARRIER\r\n"}) {
      SCOPED_TRACE(std::to_string(chunk) + " bytes per read, noise " + ::testing::PrintToString(std::string(noise)));
      FakeClock clock;
      FakeModemLine modem(clock);
      modem.chunkBytes = chunk;
      modem.unsolicited = noise;
      MemoryStateFile simFile;
      const SendOutcome first = sendOnce(modem, clock, simFile, "");
      ASSERT_TRUE(first.sent) << first.detail;
      EXPECT_EQ(first.detail, "Referenz 1");
      ASSERT_EQ(modem.delivered.size(), 1u);
      EXPECT_EQ(modem.delivered[0].text, "Probe");
    }
  }
}

TEST(ModemDialogue, ModemsWithoutExtendedCodesOrCharsetStillSend) {
  FakeClock clock;
  FakeModemLine modem(clock);
  modem.extrasRefused = true;
  MemoryStateFile simFile;
  EXPECT_TRUE(sendOnce(modem, clock, simFile, "").sent);
}

TEST(ModemDialogue, ErrorsAreDescribedAndClassified) {
  struct Case {
    int code;
    Failure failure;
    const char* words;
  };
  const Case cases[] = {
      {28, Failure::MessageRejected, "Teilnehmer unbekannt"},
      {1, Failure::MessageRejected, "Nummer nicht vergeben"},
      {500, Failure::MessageRetry, "unbekannter Fehler"},
      {331, Failure::ChannelDown, "kein Netz"},
      {330, Failure::ChannelUnusable, "SMS-Zentrale"},
      {999, Failure::MessageRetry, "+CMS ERROR: 999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.refusedNumbers["+491701111111"] = c.code;
    MemoryStateFile simFile;
    const SendOutcome out = sendOnce(modem, clock, simFile, "");
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.failure, c.failure);
    EXPECT_TRUE(contains(out.detail, c.words)) << out.detail;
  }
  EXPECT_EQ(quoteModemError("+CME ERROR: incorrect password"), "\"+CME ERROR: incorrect password\" (falsche PIN)");
  EXPECT_EQ(interpretModemError("ERROR").failure, Failure::MessageRetry);
}

TEST(ModemAnswers, CountersRegistrationAndSignalAreRead) {
  struct Case {
    const char* query;
    const char* line;
    std::optional<int> left;
  };
  const Case cases[] = {
      {"AT+CPINR=\"SIM PIN\"", "+CPINR: SIM PIN,2,3", 2},
      {"AT+CPINR=\"SIM PIN\"", "+CPINR: SIM PIN2,3,3", std::nullopt},
      {"AT+QPINC=\"SC\"", "+QPINC: \"SC\",3,10", 3},
      {"AT^SPIC", "^SPIC: 1", 1},
      {"AT+CPINC?", "+CPINC: 3,3,10,10", 3},
      {"AT^CPIN?", "^CPIN: SIM PIN,3,10,2,10,3", 2},
      {"AT#PCT", "#PCT: 3", 3},
      {"AT#PCT", "#PCT: viele", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ModemSession::parsePinAttempts(c.query, {c.line}), c.left);
  }
  EXPECT_EQ(ModemSession::parseRegistration({"+CREG: 0,5"}), 5);
  EXPECT_EQ(ModemSession::parseRegistration({"+CREG: 2,1,\"00C3\",\"1A2B\""}), 1);
  EXPECT_EQ(ModemSession::parseRegistration({"+CREG: 2"}), 2);
  EXPECT_EQ(ModemSession::parseSignal({"+CSQ: 20,99"}), 20);
  EXPECT_EQ(ModemSession::parseOperator({"+COPS: 0,0,\"Telekom.de\",7"}), "Telekom.de");
  EXPECT_EQ(describeSignal(20), "-73 dBm (sehr gut)");
  EXPECT_EQ(describeSignal(5), "-103 dBm (schwach)");
  EXPECT_EQ(describeSignal(0), "-113 dBm oder weniger (kein brauchbares Signal)");
  EXPECT_EQ(describeSignal(99), "unbekannt (kein Netz?)");
}

TEST(ModemCheck, ReportsTheNetworkWithoutSending) {
  struct Case {
    const char* registration;
    bool canSend;
  };
  for (const Case& c : {Case{"0,1", true}, Case{"0,5", true}, Case{"0,2", false}, Case{"0,3", false}}) {
    SCOPED_TRACE(c.registration);
    FakeClock clock;
    FakeModemLine modem(clock);
    modem.registration = c.registration;
    MemoryStateFile simFile;
    PinGuard pins(simFile);
    ModemSettings s;
    s.port = "COM5";
    ModemSession session(modem, s, clock, pins);
    const ModemInspection found = session.inspect();
    EXPECT_TRUE(found.answers);
    EXPECT_TRUE(found.simReady);
    EXPECT_EQ(found.signal, 17);
    EXPECT_EQ(found.operatorName, "Testnetz");
    EXPECT_EQ(found.problem.empty(), c.canSend) << found.problem;
    EXPECT_TRUE(modem.delivered.empty());
    EXPECT_EQ(std::count_if(modem.commands.begin(), modem.commands.end(),
                            [](const std::string& cmd) { return cmd.rfind("AT+CMGS", 0) == 0; }),
              0);
  }
}

}  // namespace
}  // namespace kantiq::sender
