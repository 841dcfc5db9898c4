#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sender/config/sender_config.h"
#include "sender/delivery/delivery.h"
#include "sender/delivery/exit_codes.h"
#include "sender/message/outbox.h"
#include "sender/message/send_log.h"
#include "sender/message/sender_clock.h"

namespace kantiq::sender {

// What one start of S.exe sends. The program's command line gives an alarm,
// a test or a notice (kantiq::CommandLineRequest, read in command_line/);
// a person may start a resend. The text here ends where the program's text
// ended.
struct SendRequest {
  // Resend: no new message; only what waits in the outbox. Notice: a text
  // for the groups with "hinweise = true".
  enum class Kind { Alarm, Test, Resend, Notice } kind = Kind::Alarm;
  std::string text;    // the alarm's or the notice's text (Windows-1252)
  std::string number;  // the number as typed, for a test
};

struct RunResult {
  int exitCode = kExitInternalError;
  std::string summary;  // one line for whoever started S.exe: what happened, and why not if it did not
};

// One run, in two steps so the messages are safe before the run waits for
// the modem: `plan` chooses the recipients (or the test number), logs the
// request and stores its messages in the outbox; `deliver` takes over what
// earlier runs left and sends alarm messages first (the run's own, then
// those), notices last (the run's own, then those). A resend has no
// messages of its own: `plan` takes the outbox over and is false when it was
// empty. Notice and resend runs try each message once and give way to an
// alarm: `giveWay` is asked before each message.
class SendRun {
 public:
  SendRun(const SendRequest& request, const SenderConfig& config, SendLog& log, Outbox& outbox);

  // False when there is nothing to send; `result` then says why.
  bool plan(const WallTime& now);
  RunResult deliver(const std::vector<Route>& routes, SenderClock& clock, int64_t deadlineMs, const WallTime& now,
                    const std::function<bool()>& giveWay = {});
  // Whether this run stops for an alarm that waits for the modem.
  bool givesWay() const;
  // The run ends without sending (the modem stayed busy): its messages stay
  // in the outbox.
  RunResult abandon(const std::string& reason);
  const RunResult& result() const { return result_; }

 private:
  struct Tally;
  std::string subject() const;
  static std::string recipients(size_t sent, size_t count);
  std::vector<OutboxEntry> inSendingOrder(std::vector<bool>& own) const;
  RunResult resendResult(const Tally& tally, const std::string& trouble) const;
  RunResult ownResult(const Tally& tally, const DeliveryReport& report, const std::string& trouble) const;

  const SendRequest& request_;
  const SenderConfig& config_;
  SendLog& log_;
  Outbox& outbox_;
  std::vector<OutboxEntry> own_;
  std::vector<OutboxEntry> late_;  // taken over from earlier runs
  bool tookOver_ = false;
  std::string number_;  // of a test
  RunResult result_;
};

}  // namespace kantiq::sender
