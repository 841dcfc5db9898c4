#include "dispatch/notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kantiq {
namespace {

TimeValue at(int y, int mo, int d, int h, int mi, int s = 0) { return TimeValue::fromCalendar(y, mo, d, h, mi, s); }

std::string shown(const std::optional<TimeValue>& t) { return t ? formatNoticeTime(*t) : "none"; }

// 2026-12-07 is a Monday.
TEST(SignOfLife, WeeklyScheduleAcrossWeeksMissedStartsAndClockChanges) {
  const NoticeSettings monday10{};  // Monday 10:00
  NoticeSettings sunday0230;
  sunday0230.signOfLifeDay = 7;
  sunday0230.signOfLifeMinute = 150;
  NoticeSettings off;
  off.signOfLifeDay = 0;
  struct Row {
    const char* what;
    NoticeSettings settings;
    TimeValue last, now;
    const char* due;
  } rows[] = {
      {"a minute before", monday10, at(2026, 12, 1, 9, 0), at(2026, 12, 7, 9, 59), "none"},
      {"on the minute", monday10, at(2026, 12, 1, 9, 0), at(2026, 12, 7, 10, 0), "07.12.2026 10:00"},
      {"sent already", monday10, at(2026, 12, 7, 10, 0), at(2026, 12, 7, 18, 0), "none"},
      {"next week", monday10, at(2026, 12, 7, 10, 0), at(2026, 12, 14, 10, 0), "14.12.2026 10:00"},
      {"every day of the week after", monday10, at(2026, 12, 7, 10, 0), at(2026, 12, 13, 23, 59), "none"},
      // The PC was off on Monday: the next start sends it, once.
      {"missed, started Wednesday", monday10, at(2026, 12, 7, 10, 0), at(2026, 12, 16, 8, 0), "14.12.2026 10:00"},
      {"missed for weeks", monday10, at(2026, 11, 2, 10, 0), at(2026, 12, 9, 8, 0), "07.12.2026 10:00"},
      {"the year turns", monday10, at(2026, 12, 28, 10, 0), at(2027, 1, 4, 10, 5), "04.01.2027 10:00"},
      {"switched off", off, at(2026, 11, 2, 10, 0), at(2026, 12, 9, 8, 0), "none"},
      {"never sent", monday10, TimeValue::null(), at(2026, 12, 7, 10, 0), "none"},
      // Summer time begins at 02:00 on 29 March 2026: 02:30 never shows on
      // the clock, and the sign of life goes at 03:00.
      {"02:30 skipped in spring", sunday0230, at(2026, 3, 22, 2, 30), at(2026, 3, 29, 3, 0), "29.03.2026 02:30"},
      // Winter time: 02:30 comes twice on 25 October 2026, the sign of life once.
      {"02:30 twice in autumn", sunday0230, at(2026, 10, 25, 2, 30), at(2026, 10, 25, 2, 10), "none"},
      {"after the repeat hour", sunday0230, at(2026, 10, 25, 2, 30), at(2026, 10, 25, 2, 45), "none"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(shown(dueSignOfLife(r.settings, r.last, r.now)), r.due);
  }
}

// A desk started on Wednesday 9 December 2026 at 08:00 at tick 0, with a
// clock that moves both times together.
struct DeskRig {
  explicit DeskRig(NoticeSettings settings = shortDelay(), NoticeMemory memory = {}, bool quiet = true)
      : desk(settings, memory, now(), 0, quiet) {}

  static NoticeSettings shortDelay() {
    NoticeSettings s;
    s.delayMs = 600000;
    return s;
  }
  TimeValue now() const { return TimeValue::fromTicks(start.ticks + tick * TimeValue::kTicksPerMillisecond); }
  // Listening as fault says for ms, looked at every second.
  void hold(ListeningFault fault, int64_t ms) {
    for (int64_t end = tick + ms; tick < end; tick += 1000) desk.listening(fault, "Line-in", now(), tick);
  }
  // Every notice given out now.
  std::vector<std::string> drain() {
    std::vector<std::string> out;
    while (auto text = desk.next(now(), tick)) out.push_back(*text);
    return out;
  }

  TimeValue start = at(2026, 12, 9, 8, 0);
  int64_t tick = 0;
  NoticeDesk desk;
};

TEST(NoticeDesk, ListeningInterruptionsAreToldOnceAndAgainWhenOver) {
  // A device lost for longer than the delay: nothing before it, one notice
  // after, one when listening has been back a while.
  DeskRig rig;
  rig.hold(ListeningFault::None, 60000);
  rig.hold(ListeningFault::DeviceLost, 599000);
  EXPECT_TRUE(rig.drain().empty());
  rig.hold(ListeningFault::DeviceLost, 120000);
  std::vector<std::string> told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0],
            "Kantiq hört seit 09.12.2026 08:01 nicht zu: Vom Aufnahmegerät \"Line-in\" kommt kein Signal. Alarme werden "
            "nicht erkannt. Bitte Soundkarte und USB-Kabel am Alarm-PC prüfen.");
  rig.hold(ListeningFault::InputMissing, 3600000);
  EXPECT_TRUE(rig.drain().empty()) << "the same fault, still going";
  rig.hold(ListeningFault::None, 60000);
  EXPECT_TRUE(rig.drain().empty()) << "not settled yet";
  rig.hold(ListeningFault::None, 61000);
  told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "Kantiq hört wieder zu seit 09.12.2026 09:12. Die Störung ab 09.12.2026 08:01 ist vorbei "
                     "(1-mal unterbrochen, zusammen 72 Min.).");
  rig.hold(ListeningFault::None, 7200000);
  EXPECT_TRUE(rig.drain().empty());

  // A silent input has its own advice.
  DeskRig silent;
  silent.hold(ListeningFault::InputSilent, 700000);
  told = silent.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("Bitte Kabel am Line-in und den Funkmeldeempfänger prüfen."), std::string::npos) << told[0];
}

TEST(NoticeDesk, AFaultThatComesAndGoesIsToldOnceWithItsCount) {
  // Forty seconds out of every minute for an hour: no single interruption
  // reaches the delay, but the fault is told once the delay has passed,
  // and once when it has settled.
  DeskRig rig;
  rig.hold(ListeningFault::None, 30000);
  for (int i = 0; i < 60; ++i) {
    rig.hold(ListeningFault::DeviceLost, 40000);
    rig.hold(ListeningFault::None, 20000);
  }
  std::vector<std::string> told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("nur mit Unterbrechungen zu (11-mal ausgefallen"), std::string::npos) << told[0];
  rig.hold(ListeningFault::None, 130000);
  told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("(60-mal unterbrochen, zusammen 40 Min.)"), std::string::npos) << told[0];

  // Three short ones within a few minutes: told once, when settled.
  DeskRig few;
  few.hold(ListeningFault::None, 30000);
  for (int i = 0; i < 3; ++i) {
    few.hold(ListeningFault::InputSilent, 30000);
    few.hold(ListeningFault::None, 60000);
  }
  EXPECT_TRUE(few.drain().empty());
  few.hold(ListeningFault::None, 70000);
  told = few.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("mehrmals kurz nicht zugehört (3-mal unterbrochen, zusammen 90 s"), std::string::npos)
      << told[0];

  // One short one: not told, but counted for the sign of life; opening the
  // device at the start is neither.
  DeskRig once;
  once.hold(ListeningFault::DeviceLost, 3000);
  once.hold(ListeningFault::None, 60000);
  // Nor is capture restarting after each alarm, however often.
  for (int i = 0; i < 10; ++i) {
    once.hold(ListeningFault::DeviceLost, 2000);
    once.hold(ListeningFault::None, 20000);
  }
  once.hold(ListeningFault::InputMissing, 50000);
  once.hold(ListeningFault::None, 600000);
  for (const std::string& t : once.drain()) ADD_FAILURE() << t;
  EXPECT_EQ(once.desk.memory().listeningFaults, 1);
}

TEST(NoticeDesk, NeverMoreThanAFewAnHourAndNothingLost) {
  DeskRig rig;
  for (int i = 0; i < 9; ++i) rig.desk.alarmRun("Brand " + std::to_string(i), DeliveryState::Failed, "SMS NICHT gesendet: x", rig.now());
  std::vector<std::string> told = rig.drain();
  ASSERT_EQ(told.size(), static_cast<size_t>(kMaxNoticesPerHour));
  // The last one the hour allows carries the rest.
  for (int i = 3; i < 9; ++i) {
    EXPECT_NE(told.back().find("\"Brand " + std::to_string(i) + "\""), std::string::npos) << told.back();
  }
  rig.desk.alarmRun("Brand 9", DeliveryState::Failed, "SMS NICHT gesendet: x", rig.now());
  rig.tick += 3599000;
  EXPECT_TRUE(rig.drain().empty());
  rig.tick += 1000;
  told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("Brand 9"), std::string::npos);
}

TEST(NoticeDesk, WhatTheSenderSaysOfSmsChannelsAndTheSim) {
  struct Step {
    enum Kind { Alarm, Outbox, Notice } kind;
    DeliveryState state;
    const char* summary;
    std::vector<const char*> expected;  // parts of each notice given out
  };
  const DeliveryState sent = DeliveryState::Sent;
  const DeliveryState waiting = DeliveryState::Waiting;
  struct Row {
    const char* what;
    std::vector<Step> steps;
  } rows[] = {
      {"undelivered, then sent from the outbox",
       {{Step::Alarm, waiting, "SMS NICHT gesendet, 3 warten im Postausgang: Das Modem antwortet nicht auf AT.",
         {"SMS zur Alarmierung \"Brand\" (09.12.2026 08:00) nicht an alle gesendet: SMS NICHT gesendet, 3 warten"}},
        {Step::Outbox, waiting, "Nachgesendet: 0 von 3 SMS gesendet, 3 wartet weiter im Postausgang.", {}},
        {Step::Outbox, sent, "Nachgesendet: 3 von 3 SMS gesendet.", {"Die wartenden SMS sind jetzt alle gesendet"}},
        {Step::Outbox, sent, "Postausgang leer.", {}}}},
      {"the modem fails, the gateway delivers; told once per route; mended",
       {{Step::Alarm, sent,
         "SMS an 2 von 2 Empfängern über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: Das Modem "
         "antwortet nicht auf AT.",
         {"Kantiq: Modem an COM5 gestört seit 09.12.2026 08:00: Das Modem antwortet nicht auf AT. Die SMS gehen "
          "über den Ersatzweg. Bitte Modem an COM5 prüfen"}},
        {Step::Notice, sent, "Hinweis an 1 von 1 Empfängern über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: x",
         {}},
        {Step::Outbox, sent, "Postausgang leer.", {}},
        {Step::Alarm, sent, "SMS an 2 von 2 Empfängern gesendet.", {"Kantiq: Modem an COM5 sendet wieder"}}}},
      {"the SIM wants its PUK while the gateway delivers",
       {{Step::Alarm, sent,
         "SMS an 2 von 2 Empfängern über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: Die SIM-Karte "
         "verlangt die PUK.",
         {"Die SIM-Karte im Modem verlangt die PUK (seit 09.12.2026 08:00): Die SIM-Karte verlangt die PUK. Die SMS gehen "
          "über den Ersatzweg"}},
        {Step::Alarm, sent, "SMS an 2 von 2 Empfängern gesendet.", {"Die SIM-Karte im Modem ist wieder bereit"}}}},
      {"an alarm text that reads like the sender's words",
       {{Step::Alarm, DeliveryState::Failed,
         "Alarmierung \"Brand Störung Gas: PIN 1234\": keine Empfängergruppe passt, nichts gesendet.",
         {"SMS zur Alarmierung"}}}},
      {"a refused PIN with no other way",
       {{Step::Alarm, waiting, "SMS NICHT gesendet, 2 warten im Postausgang: Die SIM-Karte hat die PIN abgelehnt.",
         {"nimmt die PIN nicht an", "SMS zur Alarmierung"}}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeskRig rig;
    int stepNo = 0;
    for (const Step& step : row.steps) {
      SCOPED_TRACE(++stepNo);
      switch (step.kind) {
        case Step::Alarm: {
          const std::string_view summary = step.summary;
          const size_t quote = summary.find('"');
          const std::string text = summary.starts_with("Alarmierung \"")
                                       ? std::string(summary.substr(quote + 1, summary.find("\":") - quote - 1))
                                       : std::string("Brand");
          rig.desk.alarmRun(text, step.state, step.summary, rig.now());
          break;
        }
        case Step::Outbox: rig.desk.outboxRun(step.state, step.state != sent, step.summary, rig.now()); break;
        case Step::Notice: rig.desk.noticeRun(step.state == sent ? 0 : 1, step.summary, rig.now()); break;
      }
      const std::vector<std::string> told = rig.drain();
      ASSERT_EQ(told.size(), step.expected.size());
      for (size_t i = 0; i < told.size(); ++i) EXPECT_NE(told[i].find(step.expected[i]), std::string::npos) << told[i];
      rig.tick += 3600000;
    }
  }
  // No group for notices: the window is told once.
  DeskRig nobody;
  nobody.desk.noticeRun(kSenderExitNoRecipients, "Hinweis nicht gesendet: keine Gruppe", nobody.now());
  nobody.desk.noticeRun(kSenderExitNoRecipients, "Hinweis nicht gesendet: keine Gruppe", nobody.now());
  EXPECT_TRUE(nobody.desk.takeNobodyToTell());
  EXPECT_FALSE(nobody.desk.takeNobodyToTell());
}

TEST(NoticeDesk, StartAndSignOfLifeSayWhatHappenedSinceLastTime) {
  NoticeMemory crashed;
  crashed.lastSeen = at(2026, 12, 8, 23, 14);
  crashed.endedNormally = false;
  crashed.lastSignOfLife = at(2026, 11, 30, 10, 0);
  crashed.lastAlarm = at(2026, 12, 5, 18, 3);
  crashed.lastAlarmText = "Brand Süd";
  crashed.smsFaults = 1;
  DeskRig rig(DeskRig::shortDelay(), crashed, true);
  std::vector<std::string> told = rig.drain();
  // A crash is told even on a quiet start, and the missed sign of life of
  // Monday goes at once.
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], "Kantiq gestartet am 09.12.2026 08:00. Zuletzt lief es am 08.12.2026 23:14 und wurde nicht "
                     "ordentlich beendet (Absturz oder Stromausfall?). Bis zum Start hat es keine Alarme gehört.");
  EXPECT_EQ(told[1], "Kantiq läuft. Letzte Alarmierung 05.12.2026 18:03 \"Brand Süd\", Störungen seit dem letzten "
                     "Lebenszeichen: SMS 1-mal nicht an alle gesendet, Kantiq 1-mal nicht ordentlich beendet.");
  EXPECT_FALSE(rig.desk.memory().endedNormally);
  rig.tick += 5 * 86400000LL + 2 * 3600000LL;  // Monday 10:00
  told = rig.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "Kantiq läuft. Letzte Alarmierung 05.12.2026 18:03 \"Brand Süd\", Störungen seit dem letzten "
                     "Lebenszeichen: keine.");

  // A first start: said, and no sign of life before the first Monday.
  DeskRig first(DeskRig::shortDelay(), NoticeMemory{}, false);
  told = first.drain();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "Kantiq gestartet am 09.12.2026 08:00.");
  // A start that hands over to a fresh instance after a normal end: quiet.
  NoticeMemory normal = crashed;
  normal.endedNormally = true;
  normal.lastSignOfLife = at(2026, 12, 7, 10, 0);
  DeskRig quiet(DeskRig::shortDelay(), normal, true);
  EXPECT_TRUE(quiet.drain().empty());
}

TEST(NoticeMemoryFile, ReadsBackWhatItWroteAndSurvivesDamage) {
  NoticeMemory m;
  m.lastSeen = at(2026, 12, 9, 10, 15, 7);
  m.endedNormally = false;
  m.lastSignOfLife = at(2026, 12, 7, 10, 0);
  m.lastAlarm = at(2026, 12, 5, 18, 3, 11);
  m.lastAlarmText = "Brand S\xFC" "d = gro\xDF";
  m.listeningFaults = 3;
  m.smsFaults = 2;
  m.channelFaults = 1;
  m.abnormalEnds = 4;
  EXPECT_EQ(parseNoticeMemory(composeNoticeMemory(m)), m);
  // A text with a line break cannot break the file's lines.
  NoticeMemory broken = m;
  broken.lastAlarmText = "eins\r\nlast_seen = 2000-01-01 00:00:00";
  EXPECT_EQ(parseNoticeMemory(composeNoticeMemory(broken)).lastSeen, m.lastSeen);
  // Damage: a value that cannot be read is left at its default.
  const NoticeMemory damaged = parseNoticeMemory("last_seen = 2026-13-01 00:00:00\nsms_faults = -3\nended_normally = 0\n\xFF");
  EXPECT_FALSE(damaged.lastSeen.isValid());
  EXPECT_EQ(damaged.smsFaults, 0);
  EXPECT_FALSE(damaged.endedNormally);
  EXPECT_EQ(parseNoticeMemory(""), NoticeMemory{});
}

TEST(NoticeDesk, ChannelTroubleIsReadFromTheSummary) {
  EXPECT_FALSE(channelTroubleIn("SMS an 2 von 2 Empfängern gesendet."));
  const auto t = channelTroubleIn("SMS an 2 von 2 Empfängern über HTTP-Gateway (Ersatzweg) gesendet. Störung Modem an COM5: Keine Antwort.");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->route, "Modem an COM5");
  EXPECT_EQ(t->reason, "Keine Antwort.");
}

}  // namespace
}  // namespace kantiq
