#pragma once

// What became of an alarm's SMS, and when the sender is to try again: each
// run of the sender for an alarm ends with a line for the window and the
// alarm log; while messages wait undelivered in the sender's outbox, the
// sender is run again now and then ("S.exe --nachsenden") until none wait.

#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq {

// The sender's command-line switch that sends only what its outbox holds:
// exit code 0 when no alarm message waits there afterwards, 1 when some do.
inline constexpr std::string_view kSenderRetrySwitch = "--nachsenden";
// The outbox folder beside the sender and the ending of its message files.
inline constexpr std::string_view kSenderOutboxFolder = "Postausgang";
inline constexpr std::string_view kSenderOutboxFileEnding = ".sms";
// The exit code a run may end with when messages still wait in the outbox:
// at least one waits there (1), or its own time limit stopped it (5). Any
// other code but 0 and 7 (all sent) means nothing of the run waits: 8, say,
// for messages refused for good.
inline constexpr uint32_t kSenderExitSomeNotSent = 1;
inline constexpr uint32_t kSenderExitTimeLimit = 5;
// No group of recipients fits the message (for a notice: none is marked for
// notices).
inline constexpr uint32_t kSenderExitNoRecipients = 4;
inline constexpr uint32_t kSenderExitInternalError = 6;

// Lines of the alarm log besides the alarm lines (the alarm's text follows).
inline constexpr std::string_view kSmsSentPrefix = "SMS GESENDET: ";
inline constexpr std::string_view kSmsWaitingPrefix = "SMS WARTEN: ";
inline constexpr std::string_view kSmsFailedPrefix = "SMS NICHT GESENDET: ";

enum class DeliveryState {
  Sent,     // every message went out
  Waiting,  // some wait in the outbox: the sender tries again
  Failed,   // the sender could not send and trying again will not help
  Running,  // still running at the wait limit: left alone
};

struct DeliveryReport {
  DeliveryState state = DeliveryState::Failed;
  std::string line;        // for the result box, Windows-1252
  std::string logPrefix;   // for the alarm log, with the alarm's text
  std::string logText;
};

// The report on one run of the sender for the alarm alarmText, from how it
// ran: started, ended, its exit code and output (the summary line is last).
DeliveryReport judgeAlarmDelivery(std::string_view alarmText, bool started, bool ended, uint32_t exitCode,
                                  std::string_view output);

// What a run says in a word: its summary line, or why there is none.
std::string senderRunSummary(bool started, bool ended, uint32_t exitCode, std::string_view output);

// The same for a run that only sent what the outbox held; nothing to say
// (empty line) when it had nothing to do.
DeliveryReport judgeOutboxRetry(bool started, bool ended, uint32_t exitCode, std::string_view output);

// When to run the sender for the outbox: while messages wait, every
// intervalMs after the last run of the sender ended, never while one runs.
class OutboxRetryPace {
 public:
  explicit OutboxRetryPace(int64_t intervalMs) : intervalMs_(intervalMs) {}

  // A run of the sender (for an alarm or the outbox) has begun or ended.
  void runBegan() { ++running_; }
  void runEnded(DeliveryState state, int64_t nowMs);
  // Messages were found waiting without a run (at start).
  void foundWaiting(int64_t nowMs);
  // Monitoring of the outbox is due now.
  bool due(int64_t nowMs) const;

  bool waiting() const { return waiting_; }
  // No run of the sender is going.
  bool idle() const { return running_ == 0; }

 private:
  int64_t intervalMs_;
  int32_t running_ = 0;
  bool waiting_ = false;
  int64_t lastEndMs_ = 0;
};

}  // namespace kantiq
