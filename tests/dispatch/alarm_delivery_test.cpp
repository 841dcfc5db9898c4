#include <gtest/gtest.h>

#include <string>

#include "dispatch/alarm_delivery.h"

namespace kantiq {
namespace {

// What the window says after each way a run of the sender can end. A run
// that left messages waiting is never shown as sent, nor one that could not
// start.
TEST(AlarmDelivery, EachEndOfTheSenderIsReportedForWhatItIs) {
  struct Row {
    bool started, ended;
    uint32_t exitCode;
    const char* output;
    DeliveryState state;
    const char* line;
  };
  const Row rows[] = {
      {true, true, 0, "x\r\nS.exe: SMS an 12 von 12 Empfängern gesendet.\r\n", DeliveryState::Sent,
       "SMS zu \"A1\": SMS an 12 von 12 Empfängern gesendet."},
      {true, true, 7, "S.exe: SMS an 2 von 2 Empfängern gesendet.", DeliveryState::Sent,
       "SMS zu \"A1\": SMS an 2 von 2 Empfängern gesendet."},
      {true, true, 1, "S.exe: SMS an 0 von 1 Empfängern gesendet, 1 wartet im Postausgang: Modem antwortet nicht.",
       DeliveryState::Waiting,
       "STÖRUNG: SMS zu \"A1\": SMS an 0 von 1 Empfängern gesendet, 1 wartet im Postausgang: Modem antwortet "
       "nicht. Kantiq lässt S.exe es weiter versuchen."},
      {true, true, 5, "", DeliveryState::Waiting,
       "STÖRUNG: SMS zu \"A1\": S.exe hat sich mit dem Code 5 beendet. Kantiq lässt S.exe es weiter versuchen."},
      {true, true, 8, "S.exe: SMS an 11 von 12 Empfängern gesendet, 1 endgültig nicht gesendet: Nummer ungültig",
       DeliveryState::Failed,
       "STÖRUNG: SMS zu \"A1\": SMS an 11 von 12 Empfängern gesendet, 1 endgültig nicht gesendet: Nummer ungültig"},
      {true, true, 2, "", DeliveryState::Failed, "STÖRUNG: SMS zu \"A1\": NICHT gesendet: S.toml fehlt oder ist fehlerhaft."},
      {true, true, 4, "", DeliveryState::Failed,
       "STÖRUNG: SMS zu \"A1\": NICHT gesendet: Keine Empfängergruppe passt zu diesem Alarm."},
      {false, false, 0, "", DeliveryState::Failed,
       "STÖRUNG: SMS zu \"A1\": NICHT gesendet: S.exe fehlt oder lässt sich nicht starten."},
      {true, false, 0, "", DeliveryState::Running, "SMS zu \"A1\": S.exe läuft noch."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const DeliveryReport r = judgeAlarmDelivery("A1", row.started, row.ended, row.exitCode, row.output);
    EXPECT_EQ(r.state, row.state);
    EXPECT_EQ(r.line, row.line);
    EXPECT_EQ(r.logText.rfind("A1", 0), 0u);
    EXPECT_EQ(r.logPrefix == kSmsSentPrefix, row.state == DeliveryState::Sent);
  }
}

// The sender is run for the outbox only while messages wait, only after the
// interval since the last run ended, never while one runs; a run that
// cannot send at all does not make the waiting ones forgotten.
TEST(AlarmDelivery, TheOutboxIsTriedAgainOnlyWhileMessagesWait) {
  OutboxRetryPace pace(180000);
  EXPECT_FALSE(pace.due(1000000));
  pace.runBegan();
  pace.runEnded(DeliveryState::Waiting, 1000);
  EXPECT_TRUE(pace.waiting());
  EXPECT_FALSE(pace.due(180999));
  EXPECT_TRUE(pace.due(181000));
  pace.runBegan();  // an alarm's run meanwhile
  EXPECT_FALSE(pace.due(200000));
  pace.runEnded(DeliveryState::Failed, 200000);  // its group matched nobody
  EXPECT_TRUE(pace.waiting());
  EXPECT_FALSE(pace.due(379999));
  pace.runBegan();
  pace.runEnded(DeliveryState::Sent, 380000);
  EXPECT_FALSE(pace.waiting());
  EXPECT_FALSE(pace.due(10000000));

  OutboxRetryPace atStart(180000);
  atStart.foundWaiting(5000);
  EXPECT_TRUE(atStart.waiting());
  EXPECT_TRUE(atStart.due(185000));
}

}  // namespace
}  // namespace kantiq
