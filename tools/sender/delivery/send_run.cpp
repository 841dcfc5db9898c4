#include "sender/delivery/send_run.h"

#include <algorithm>

#include "sender/text/sms_text.h"

namespace kantiq::sender {
namespace {

constexpr std::string_view kEmptyAlarmText = "Alarmierung (ohne Text)";
constexpr std::string_view kEmptyNoticeText = "Hinweis (ohne Text)";
constexpr std::string_view kNoNoticeGroup = "Hinweis nicht gesendet: In S.toml bekommt keine Gruppe Hinweise (hinweise = true).";

// "\"Führung\", \"Löschzug Süd\""
std::string groupsOf(const std::vector<Recipient>& recipients) {
  std::string groups;
  for (const Recipient& r : recipients)
    if (groups.find("\"" + r.group + "\"") == std::string::npos)
      groups += (groups.empty() ? "" : ", ") + ("\"" + r.group + "\"");
  return groups;
}

}  // namespace

SendRun::SendRun(const SendRequest& request, const SenderConfig& config, SendLog& log, Outbox& outbox)
    : request_(request), config_(config), log_(log), outbox_(outbox) {}

std::string SendRun::subject() const {
  if (request_.kind == SendRequest::Kind::Test) return "Test-SMS an " + number_;
  if (request_.kind == SendRequest::Kind::Resend) return "Das Nachsenden aus dem Postausgang";
  if (request_.kind == SendRequest::Kind::Notice)
    return "Hinweis \"" + (request_.text.empty() ? std::string(kEmptyNoticeText) : request_.text) + "\"";
  return "Alarmierung \"" + (request_.text.empty() ? std::string(kEmptyAlarmText) : request_.text) + "\"";
}

bool SendRun::givesWay() const {
  return request_.kind == SendRequest::Kind::Notice || request_.kind == SendRequest::Kind::Resend;
}

bool SendRun::plan(const WallTime& now) {
  std::string routes = routeName(config_, config_.channel);
  if (config_.fallback) routes += " (Ersatzweg: " + routeName(config_, *config_.fallback) + ")";
  if (request_.kind == SendRequest::Kind::Resend) {
    // Taken over now, so an empty outbox ends the run before it waits for
    // the modem.
    late_ = outbox_.takeOver(now, config_.outbox.maxAgeHours);
    tookOver_ = true;
    if (late_.empty()) {
      result_ = {kExitAllSent, "Postausgang leer."};
      return false;
    }
    log_.write("Nachsenden: " + std::to_string(late_.size()) +
               (late_.size() == 1 ? " Nachricht" : " Nachrichten") + " aus dem Postausgang über " + routes);
    return true;
  }
  OutboxEntry message;
  message.createdUnixS = now.unixS;
  message.createdStamp = now.stamp;
  if (request_.kind == SendRequest::Kind::Test) {
    if (!normalisePhoneNumber(request_.number, number_)) {
      const std::string line = "Test-SMS nicht gesendet: \"" + toGsmSafeText(request_.number) +
                               "\" ist keine gültige Mobilfunknummer.";
      log_.write(line);
      result_ = {kExitBadCommandLine, line};
      return false;
    }
    log_.write("Test-SMS an " + number_ + " über " + routes);
    message.kind = OutboxEntry::Kind::Test;
    message.number = number_;
    message.text = config_.testText;
    own_.push_back(message);
  } else if (request_.kind == SendRequest::Kind::Notice) {
    const std::vector<Recipient> recipients = selectNoticeRecipients(config_);
    if (recipients.empty()) {
      log_.write(kNoNoticeGroup);
      result_ = {kExitNoRecipients, std::string(kNoNoticeGroup)};
      return false;
    }
    log_.write(subject() + " an " + std::to_string(recipients.size()) + " Empfänger (" + groupsOf(recipients) +
               ") über " + routes);
    message.kind = OutboxEntry::Kind::Notice;
    message.text = request_.text.empty() ? std::string(kEmptyNoticeText) : request_.text;
    for (const Recipient& r : recipients) {
      message.number = r.number;
      own_.push_back(message);
    }
  } else {
    const std::string text = request_.text.empty() ? std::string(kEmptyAlarmText) : request_.text;
    const std::vector<Recipient> recipients = selectRecipients(config_, request_.text);
    if (recipients.empty()) {
      log_.write("Alarmierung \"" + text + "\": keine Empfängergruppe passt, es wird nichts gesendet.");
      result_ = {kExitNoRecipients, "Alarmierung \"" + text + "\": keine Empfängergruppe passt, nichts gesendet."};
      return false;
    }
    log_.write("Alarmierung \"" + text + "\" an " + std::to_string(recipients.size()) + " Empfänger (" +
               groupsOf(recipients) + ") über " + routes);
    message.kind = OutboxEntry::Kind::Alarm;
    message.text = text;
    for (const Recipient& r : recipients) {
      message.number = r.number;
      own_.push_back(message);
    }
  }
  // Safe on disk before anything is tried.
  outbox_.store(own_);
  return true;
}

namespace {

// "1 wartet" / "9 warten"
std::string waitCount(size_t n) { return std::to_string(n) + (n == 1 ? " wartet" : " warten"); }

}  // namespace

// What became of the run's own messages, and of those it took over.
struct SendRun::Tally {
  size_t lateSent = 0, lateWaiting = 0;
  size_t ownSent = 0, ownWaiting = 0, ownMaybe = 0, ownViaFallback = 0;
  std::string ownReason;  // why the last of its own that did not go out failed
};

// Alarms before notices: the run's own alarm (or test) first, then the
// alarms earlier runs left, oldest first, so a pile of yesterday's messages
// cannot hold today's back; then the run's own notice, then the notices
// earlier runs left. `own` says which are the run's own.
std::vector<OutboxEntry> SendRun::inSendingOrder(std::vector<bool>& own) const {
  std::vector<OutboxEntry> all;
  const auto add = [&](const std::vector<OutboxEntry>& list, bool ownList, bool notices) {
    for (const OutboxEntry& e : list) {
      if ((e.kind == OutboxEntry::Kind::Notice) != notices) continue;
      all.push_back(e);
      own.push_back(ownList);
    }
  };
  add(own_, true, false);
  add(late_, false, false);
  add(own_, true, true);
  add(late_, false, true);
  return all;
}

RunResult SendRun::deliver(const std::vector<Route>& routes, SenderClock& clock, int64_t deadlineMs,
                           const WallTime& now, const std::function<bool()>& giveWay) {
  if (!tookOver_) late_ = outbox_.takeOver(now, config_.outbox.maxAgeHours);
  std::vector<bool> own;
  std::vector<OutboxEntry> all = inSendingOrder(own);
  // Notices and resends try each message once: Kantiq starts the resend
  // again a few minutes later, and neither may keep the modem from an alarm.
  RetrySettings retry = config_.retry;
  if (givesWay()) retry.maxAttempts = 1;
  const DeliveryReport report =
      deliverMessages(all, routes, retry, clock, log_, outbox_, deadlineMs, givesWay() ? giveWay : nullptr);
  const std::string trouble = report.firstRouteTrouble.empty() ? "" : " Störung " + report.firstRouteTrouble;

  // The run's own messages decide its outcome; what it sent for earlier
  // runs is told apart.
  Tally tally;
  for (size_t i = 0; i < all.size(); ++i) {
    const MessageOutcome& outcome = report.outcomes[i];
    if (!own[i]) {
      tally.lateSent += outcome.sent ? 1 : 0;
      tally.lateWaiting += outcome.waiting ? 1 : 0;
      continue;
    }
    tally.ownSent += outcome.sent ? 1 : 0;
    tally.ownWaiting += outcome.waiting ? 1 : 0;
    tally.ownMaybe += outcome.maybe ? 1 : 0;
    tally.ownViaFallback += outcome.viaFallback ? 1 : 0;
    if (!outcome.sent) tally.ownReason = outcome.reason;
  }
  if (!late_.empty())
    log_.write("Nachgesendet: " + std::to_string(tally.lateSent) + " von " + std::to_string(late_.size()) +
               " Nachrichten aus früheren Läufen.");
  result_ = request_.kind == SendRequest::Kind::Resend ? resendResult(tally, trouble)
                                                        : ownResult(tally, report, trouble);
  return result_;
}

RunResult SendRun::resendResult(const Tally& tally, const std::string& trouble) const {
  const size_t late = late_.size();
  std::string line =
      "Nachgesendet: " + std::to_string(tally.lateSent) + " von " + std::to_string(late) + " SMS gesendet";
  if (tally.lateWaiting > 0) line += ", " + waitCount(tally.lateWaiting) + " weiter im Postausgang";
  const size_t givenUp = late - tally.lateSent - tally.lateWaiting;
  if (givenUp > 0) line += ", " + std::to_string(givenUp) + " endgültig nicht gesendet";
  log_.write("Ende: " + line.substr(std::string_view("Nachgesendet: ").size()) + ".");
  // Waiting notices count as well: Kantiq starts the resend again while
  // anything waits.
  return {tally.lateWaiting > 0 ? kExitSomeWaiting : kExitAllSent, line + "." + trouble};
}

RunResult SendRun::ownResult(const Tally& tally, const DeliveryReport& report, const std::string& trouble) const {
  const size_t ownCount = own_.size();
  const size_t late = late_.size();
  const std::string what = request_.kind == SendRequest::Kind::Notice ? "Hinweis" : "SMS";
  const std::string lateNote =
      late == 0 ? std::string()
                : " Dazu " + std::to_string(tally.lateSent) + " von " + std::to_string(late) +
                      " SMS aus früheren Läufen nachgesendet.";
  if (tally.ownSent == ownCount) {
    log_.write("Ende: " + std::string(ownCount == 1 ? "die Nachricht wurde" : "alle " + std::to_string(ownCount) +
                                                                            " Nachrichten wurden") +
               " gesendet.");
    if (request_.kind == SendRequest::Kind::Test) {
      const std::string via = report.fallbackUsed.empty() ? "" : " über den Ersatzweg " + report.fallbackUsed;
      return {kExitAllSent, subject() + via + " gesendet." + trouble};
    }
    std::string via;
    if (tally.ownViaFallback == ownCount) via = " über " + report.fallbackUsed + " (Ersatzweg)";
    std::string line = what + " an " + recipients(tally.ownSent, ownCount) + via + " gesendet";
    if (tally.ownViaFallback > 0 && tally.ownViaFallback < ownCount)
      line += ", " + std::to_string(tally.ownViaFallback) + " davon über " + report.fallbackUsed + " (Ersatzweg)";
    return {kExitAllSent, line + "." + lateNote + trouble};
  }
  log_.write("Ende: " + std::to_string(tally.ownSent) + " von " + std::to_string(ownCount) + " Nachrichten gesendet, " +
             std::to_string(ownCount - tally.ownSent) + " fehlgeschlagen.");
  if (request_.kind == SendRequest::Kind::Test)
    return {kExitSomeFailed, subject() + " nicht gesendet: " + tally.ownReason + trouble};
  const size_t forGood = ownCount - tally.ownSent - tally.ownWaiting - tally.ownMaybe;
  std::string line = tally.ownSent > 0    ? what + " an " + recipients(tally.ownSent, ownCount) + " gesendet"
                     : tally.ownMaybe > 0 ? what + " NICHT sicher gesendet"
                                          : what + " NICHT gesendet";
  if (tally.ownWaiting > 0) line += ", " + waitCount(tally.ownWaiting) + " im Postausgang";
  if (tally.ownMaybe > 0) line += ", " + std::to_string(tally.ownMaybe) + " vielleicht gesendet";
  if (forGood > 0 && tally.ownSent + tally.ownWaiting + tally.ownMaybe > 0)
    line += ", " + std::to_string(forGood) + " endgültig nicht gesendet";
  return {tally.ownWaiting > 0 ? kExitSomeWaiting : kExitNotSentForGood,
          line + ": " + tally.ownReason + lateNote + trouble};
}

// "3 von 12 Empfängern", "1 von 1 Empfänger"
std::string SendRun::recipients(size_t sent, size_t count) {
  return std::to_string(sent) + " von " + std::to_string(count) + (count == 1 ? " Empfänger" : " Empfängern");
}

RunResult SendRun::abandon(const std::string& reason) {
  for (const OutboxEntry& e : own_)
    if (e.kind == OutboxEntry::Kind::Test) outbox_.remove(e);
  const bool keeps = request_.kind == SendRequest::Kind::Alarm || request_.kind == SendRequest::Kind::Notice;
  const std::string kept = keeps && outbox_.keeping()
                               ? " Die Nachrichten bleiben im Postausgang für den nächsten Lauf."
                               : "";
  log_.write(subject() + " wurde nicht gesendet: " + reason + kept);
  if (request_.kind == SendRequest::Kind::Test)
    result_ = {kExitSomeFailed, subject() + " nicht gesendet: " + reason};
  else if (request_.kind == SendRequest::Kind::Resend)
    result_ = {kExitSomeWaiting, "Nachgesendet: 0 von " + std::to_string(late_.size()) + " SMS gesendet, " +
                                     waitCount(late_.size()) + " weiter im Postausgang."};
  else
    result_ = {outbox_.keeping() ? kExitSomeWaiting : kExitNotSentForGood,
               std::string(request_.kind == SendRequest::Kind::Notice ? "Hinweis" : "SMS") + " NICHT gesendet" +
                   (outbox_.keeping() ? ", " + waitCount(own_.size()) + " im Postausgang" : std::string()) + ": " +
                   reason};
  return result_;
}

}  // namespace kantiq::sender
