#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "outbox.h"
#include "sender_config.h"
#include "sms_channel.h"

namespace kantiq::sender {

// S.exe's exit codes.
inline constexpr int kExitAllSent = 0;
inline constexpr int kExitSomeFailed = 1;
// An alarm's or a resend's messages: some did not go out and wait in the
// outbox for a later run (a test message: it did not go out).
inline constexpr int kExitSomeWaiting = kExitSomeFailed;
inline constexpr int kExitConfigError = 2;
inline constexpr int kExitBadCommandLine = 3;
inline constexpr int kExitNoRecipients = 4;
inline constexpr int kExitOutOfTime = 5;  // the hard limit stopped the sender
inline constexpr int kExitInternalError = 6;
inline constexpr int kExitSentLogFailed = 7;  // everything went out, but SendeLog.txt could not be written
// Not every message of the alarm went out, and none of those waits in the
// outbox: refused for good or given up, so sending again cannot help.
inline constexpr int kExitNotSentForGood = 8;

// The longest wait between two rounds, whatever S.toml says: a modem or a
// network that comes back is used within about half a minute.
inline constexpr int32_t kMaxRetryWaitMs = 15'000;

// Says that "laengste_wartezeit_s" counts as 15 seconds when it is set
// longer (S.toml files written for older versions may say up to 1800);
// empty when the setting counts as it stands.
std::string cappedWaitNote(const RetrySettings& retry);

// One way out, in the order they are tried: the channel of "kanal" first,
// that of "ersatzkanal" second.
struct Route {
  SmsChannel* channel = nullptr;
  ChannelKind kind = ChannelKind::Modem;
  std::string name;  // "Modem an COM5", "HTTP-Gateway"
};

std::string routeName(const SenderConfig& config, ChannelKind kind);

// The parts a text goes out as: for a modem GSM-safe pieces of one SMS each
// ("(1/2) ..."), for a gateway the whole text. A message a modem has begun
// keeps its modem parts whatever channel sends the rest.
std::vector<std::string> partsFor(ChannelKind kind, const OutboxEntry& entry);

struct MessageOutcome {
  bool sent = false;
  bool viaFallback = false;  // sent, by another route than the first
  bool waiting = false;      // not sent; kept in the outbox for a later run
  bool maybe = false;        // given up as "vielleicht gesendet"
  std::string reason;  // why it did not go out
};

struct DeliveryReport {
  std::vector<MessageOutcome> outcomes;  // one per message, in order
  size_t sent = 0;
  size_t failed = 0;      // failed for good (removed from the outbox)
  size_t kept = 0;        // not sent; left in the outbox for a later run
  std::string lastReason; // why the last message that did not go out failed
  std::string fallbackUsed;  // the route that delivered in place of the first, if one did
  // "<first route>: <reason>" when the first route failed and a message was
  // then tried through another one; empty otherwise.
  std::string firstRouteTrouble;
  bool gaveWay = false;  // stopped between two messages for an alarm
};

// Why messages a run left untried for an alarm wait in the outbox.
inline constexpr std::string_view kGaveWayReason =
    "Eine Alarmierung hat Vorrang und wartet auf das Modem.";

// Every message is tried once, in order, before any is tried again. A
// message whose channel fails goes through the other route at once, if
// there is one; a channel that is down is not tried again until the next
// round, one that cannot work not again in this run. Rounds follow with
// waits from firstDelayMs, doubling up to maxDelayMs (at most
// kMaxRetryWaitMs), until each message is sent or refused, maxAttempts
// rounds have passed or the clock reaches deadlineMs. A message refused by
// the network or the gateway is not tried again. A notice is tried in the
// first round only. Every attempt and every final outcome goes to the log,
// and each message's progress to the outbox. `giveWay`, if given, is asked
// before every message; when it says an alarm waits, the run stops there
// and what it has not tried stays in the outbox.
DeliveryReport deliverMessages(std::vector<OutboxEntry>& messages, const std::vector<Route>& routes,
                               const RetrySettings& retry, SenderClock& clock, SendLog& log, Outbox& outbox,
                               int64_t deadlineMs, const std::function<bool()>& giveWay = {});

// What one start of S.exe asks for.
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
  std::string subject() const;
  static std::string recipients(size_t sent, size_t count);

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

// One line of the send log file: "08.12.2026 17:41:25: <text>" and CR LF.
// Control codes in the text (a garbled alarm text) become '?', so each
// entry stays one line.
std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text);

// "08.12.2026 17:41:25"
std::string formatStamp(int year, int month, int day, int hour, int minute, int second);

}  // namespace kantiq::sender
