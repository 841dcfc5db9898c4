#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sender/config/sender_config.h"
#include "sender/message/outbox.h"
#include "sender/message/send_log.h"
#include "sender/message/sender_clock.h"
#include "sender/message/sms_channel.h"

namespace kantiq::sender {

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

// One line of the send log file: "08.12.2026 17:41:25: <text>" and CR LF.
// Control codes in the text (a garbled alarm text) become '?', so each
// entry stays one line.
std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text);

// "08.12.2026 17:41:25"
std::string formatStamp(int year, int month, int day, int hour, int minute, int second);

}  // namespace kantiq::sender
