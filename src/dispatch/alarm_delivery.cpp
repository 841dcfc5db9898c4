#include "dispatch/alarm_delivery.h"

#include "dispatch/test_message_verdict.h"

namespace kantiq {
namespace {

// The sender's own words, or what its exit code says when it wrote none.
std::string reason(uint32_t exitCode, std::string_view output) {
  std::string summary = senderSummaryLine(output);
  if (!summary.empty()) return summary;
  switch (exitCode) {
    case 2: return "S.toml fehlt oder ist fehlerhaft.";
    case 4: return "Keine Empfängergruppe passt zu diesem Alarm.";
    default: return "S.exe hat sich mit dem Code " + std::to_string(exitCode) + " beendet.";
  }
}

bool messagesMayWait(uint32_t exitCode) {
  return exitCode == kSenderExitSomeNotSent || exitCode == kSenderExitTimeLimit;
}

}  // namespace

std::string senderRunSummary(bool started, bool ended, uint32_t exitCode, std::string_view output) {
  if (!started) return "S.exe fehlt oder lässt sich nicht starten.";
  if (!ended) return "S.exe läuft noch.";
  return reason(exitCode, output);
}

DeliveryReport judgeAlarmDelivery(std::string_view alarmText, bool started, bool ended, uint32_t exitCode,
                                  std::string_view output) {
  DeliveryReport r;
  r.logText = std::string(alarmText);
  const std::string about = "SMS zu \"" + std::string(alarmText) + "\": ";
  if (!started) {
    r.state = DeliveryState::Failed;
    r.line = "STÖRUNG: " + about + "NICHT gesendet: S.exe fehlt oder lässt sich nicht starten.";
    r.logPrefix = kSmsFailedPrefix;
    r.logText += " (S.exe nicht gestartet)";
    return r;
  }
  if (!ended) {
    r.state = DeliveryState::Running;
    r.line = about + "S.exe läuft noch.";
    r.logPrefix = kSmsWaitingPrefix;
    r.logText += " (S.exe läuft noch)";
    return r;
  }
  const std::string why = reason(exitCode, output);
  if (exitCode == 0 || exitCode == 7) {
    r.state = DeliveryState::Sent;
    r.line = about + (senderSummaryLine(output).empty() ? std::string("gesendet.") : why);
    r.logPrefix = kSmsSentPrefix;
  } else if (messagesMayWait(exitCode)) {
    r.state = DeliveryState::Waiting;
    r.line = "STÖRUNG: " + about + why + " Kantiq lässt S.exe es weiter versuchen.";
    r.logPrefix = kSmsWaitingPrefix;
  } else {
    // Refused for good, or the sender cannot send at all: its own words
    // say how many went out, if any.
    r.state = DeliveryState::Failed;
    r.line = "STÖRUNG: " + about + (senderSummaryLine(output).empty() ? "NICHT gesendet: " + why : why);
    r.logPrefix = kSmsFailedPrefix;
  }
  r.logText += " (" + why + ")";
  return r;
}

DeliveryReport judgeOutboxRetry(bool started, bool ended, uint32_t exitCode, std::string_view output) {
  DeliveryReport r;
  if (!started || !ended) {
    // Nothing learnt: the messages are still thought to wait.
    r.state = started ? DeliveryState::Running : DeliveryState::Waiting;
    return r;
  }
  const std::string why = reason(exitCode, output);
  if (exitCode == 0) {
    r.state = DeliveryState::Sent;
  } else if (messagesMayWait(exitCode)) {
    r.state = DeliveryState::Waiting;
  } else {
    r.state = DeliveryState::Failed;
  }
  r.line = (r.state == DeliveryState::Sent ? "SMS nachgesendet: " : "STÖRUNG: SMS nachsenden: ") + why;
  r.logPrefix = r.state == DeliveryState::Sent ? kSmsSentPrefix
                : r.state == DeliveryState::Waiting ? kSmsWaitingPrefix
                                                    : kSmsFailedPrefix;
  r.logText = "Postausgang (" + why + ")";
  return r;
}

void OutboxRetryPace::runEnded(DeliveryState state, int64_t nowMs) {
  if (running_ > 0) --running_;
  lastEndMs_ = nowMs;
  switch (state) {
    case DeliveryState::Sent:
      // Every run takes the messages earlier ones left over along: all sent.
      waiting_ = false;
      break;
    case DeliveryState::Waiting:
      waiting_ = true;
      break;
    case DeliveryState::Failed:
    case DeliveryState::Running:
      // Says nothing about what waits from earlier alarms.
      break;
  }
}

void OutboxRetryPace::foundWaiting(int64_t nowMs) {
  if (waiting_) return;
  waiting_ = true;
  lastEndMs_ = nowMs;
}

bool OutboxRetryPace::due(int64_t nowMs) const {
  return waiting_ && running_ == 0 && nowMs - lastEndMs_ >= intervalMs_;
}

}  // namespace kantiq
