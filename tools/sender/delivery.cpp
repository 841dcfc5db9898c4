#include "delivery.h"

#include <algorithm>
#include <cstdio>

#include "sms_text.h"

namespace kantiq::sender {
namespace {

constexpr std::string_view kEmptyAlarmText = "Alarmierung (ohne Text)";
constexpr std::string_view kEmptyNoticeText = "Hinweis (ohne Text)";
constexpr std::string_view kNoNoticeGroup = "Hinweis nicht gesendet: In S.toml bekommt keine Gruppe Hinweise (hinweise = true).";
// A request that may have reached the gateway is repeated once, no more.
constexpr uint32_t kMaxMaybeSent = 2;

std::string attempts(int n) { return n == 1 ? "1 Versuch" : std::to_string(n) + " Versuchen"; }

struct Item {
  OutboxEntry* entry = nullptr;
  int tries = 0;  // on the current part
  bool wentDown = false;  // its channel went down under it in this round
  std::string lastReason;
  enum class State { Pending, Sent, Refused, MaybeSent } state = State::Pending;
  std::string deliveredBy;
};

std::string labelOf(const OutboxEntry& e, size_t parts) {
  if (parts <= 1) return e.number;
  const size_t k = std::min<size_t>(e.partsSent, parts - 1);
  return e.number + " (Teil " + std::to_string(k + 1) + "/" + std::to_string(parts) + ")";
}

}  // namespace

std::string routeName(const SenderConfig& config, ChannelKind kind) {
  return kind == ChannelKind::Modem ? "Modem an " + config.modem.port : std::string("HTTP-Gateway");
}

std::vector<std::string> partsFor(ChannelKind kind, const OutboxEntry& entry) {
  if (kind == ChannelKind::Modem || entry.partsSent > 0) return splitIntoSmsParts(toGsmSafeText(entry.text));
  return {entry.text};  // gateways join long texts themselves
}

DeliveryReport deliverMessages(std::vector<OutboxEntry>& messages, const std::vector<Route>& routes,
                               const RetrySettings& retry, SenderClock& clock, SendLog& log, Outbox& outbox,
                               int64_t deadlineMs, const std::function<bool()>& giveWay) {
  const bool severalRoutes = routes.size() > 1;
  // The first route's latest failure, and the sentence for the summary once
  // a message went the other way after it.
  std::string firstRouteFailure;
  std::string firstRouteTrouble;
  bool gaveWay = false;
  std::vector<bool> unusable(routes.size(), false);
  std::vector<std::string> routeTrouble(routes.size());
  std::vector<Item> items;
  for (OutboxEntry& m : messages) items.push_back({&m, 0, false, {}, Item::State::Pending, {}});
  // The order messages are tried in; one whose channel went down under it
  // goes last in the next round, so it cannot hold the others back for good.
  std::vector<size_t> order(items.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;

  const auto anyUsable = [&] { return std::find(unusable.begin(), unusable.end(), false) != unusable.end(); };
  const int64_t longestWait = std::min<int64_t>(retry.maxDelayMs, kMaxRetryWaitMs);
  int64_t delayMs = std::min<int64_t>(retry.firstDelayMs, longestWait);
  bool outOfTime = false;

  const auto onceOnly = [](const Item& i) { return i.entry->kind == OutboxEntry::Kind::Notice; };

  for (int round = 1; round <= retry.maxAttempts && !outOfTime && !gaveWay; ++round) {
    std::vector<bool> down(routes.size(), false);
    // Says where the messages go now that route r failed.
    const auto announce = [&](size_t r, bool forThisRun) {
      size_t other = routes.size();
      for (size_t i = 0; i < routes.size(); ++i)
        if (i != r && !unusable[i] && !down[i]) other = i;
      const std::string state = forThisRun ? " ist in diesem Lauf nicht nutzbar" : " ist gestört";
      if (other < routes.size())
        log.write(routes[r].name + state + "; weiter über " + routes[other].name + ".");
      else if (forThisRun && !anyUsable())
        log.write(routes[r].name + state + "; die Nachrichten werden nicht gesendet.");
    };

    for (size_t position : order) {
      Item& item = items[position];
      item.wentDown = false;
      if (item.state != Item::State::Pending) continue;
      if (round > 1 && onceOnly(item)) continue;  // a notice waits in the outbox instead
      if (!anyUsable()) break;
      if (giveWay && giveWay()) {
        gaveWay = true;
        break;
      }
      OutboxEntry& e = *item.entry;
      std::vector<bool> triedHere(routes.size(), false);
      while (item.state == Item::State::Pending) {
        if (clock.nowMs() >= deadlineMs) {
          outOfTime = true;
          break;
        }
        size_t r = 0;
        while (r < routes.size() && (unusable[r] || down[r] || triedHere[r])) ++r;
        if (r == routes.size()) break;  // this message waits for the next round
        const Route& route = routes[r];
        if (r > 0 && firstRouteTrouble.empty() && !firstRouteFailure.empty())
          firstRouteTrouble = routes.front().name + ": " + firstRouteFailure;
        const std::vector<std::string> parts = partsFor(route.kind, e);
        const std::string label = labelOf(e, parts.size());
        ++item.tries;

        bool committed = false;
        route.channel->setCommitHook([&] {
          e.underWay = route.name;
          outbox.update(e);
          committed = true;
        });
        const SendOutcome outcome =
            route.channel->send(e.number, parts[std::min<size_t>(e.partsSent, parts.size() - 1)]);
        route.channel->setCommitHook(nullptr);
        e.underWay.clear();

        const std::string via = severalRoutes ? " über " + route.name + (r > 0 ? " (Ersatzweg)" : "") : "";
        if (outcome.sent) {
          log.write("gesendet an " + label + " (Versuch " + std::to_string(item.tries) + (e.late ? ", verspätet" : "") +
                    ")" + via + ": " + outcome.detail);
          item.deliveredBy = route.name;
          ++e.partsSent;
          if (e.partsSent >= parts.size()) {
            item.state = Item::State::Sent;
            outbox.remove(e);
          } else {
            outbox.update(e);
            item.tries = 0;
            triedHere.assign(routes.size(), false);
          }
          continue;
        }
        if (outcome.mayHaveArrived) ++e.maybeSent;
        if (committed || outcome.mayHaveArrived) outbox.update(e);  // no longer under way
        item.lastReason = outcome.detail;
        if (r == 0) firstRouteFailure = outcome.detail;
        log.write("Versuch " + std::to_string(item.tries) + " an " + label + via + " fehlgeschlagen: " + outcome.detail);
        if (e.maybeSent >= kMaxMaybeSent) {
          // A third copy of a request the gateway may have taken twice helps
          // nobody: sending more could only make the phones ring again.
          item.state = Item::State::MaybeSent;
          break;
        }
        switch (outcome.failure) {
          case Failure::MessageRejected:
            item.state = Item::State::Refused;
            break;
          case Failure::ChannelUnusable:
            unusable[r] = true;
            routeTrouble[r] = outcome.detail;
            announce(r, true);
            break;
          case Failure::ChannelDown:
            down[r] = true;
            item.wentDown = true;
            routeTrouble[r] = outcome.detail;
            announce(r, false);
            break;
          case Failure::MessageRetry:
            triedHere[r] = true;
            break;
        }
      }
      if (outOfTime) break;
    }
    const bool allDone = std::none_of(items.begin(), items.end(), [&](const Item& i) {
      return i.state == Item::State::Pending && !onceOnly(i);
    });
    if (allDone || outOfTime || gaveWay || !anyUsable() || round == retry.maxAttempts) break;
    const int64_t left = deadlineMs - clock.nowMs();
    if (left <= delayMs) {
      // No time for another round after this wait.
      outOfTime = true;
      break;
    }
    if (round == 1) {
      if (const std::string note = cappedWaitNote(retry); !note.empty()) log.write(note);
    }
    clock.sleepMs(delayMs);
    delayMs = std::min<int64_t>(delayMs * 2, longestWait);
    std::stable_partition(order.begin(), order.end(), [&](size_t i) { return !items[i].wentDown; });
  }

  DeliveryReport report;
  report.firstRouteTrouble = firstRouteTrouble;
  report.gaveWay = gaveWay;
  if (gaveWay) {
    const auto untried = std::count_if(items.begin(), items.end(), [](const Item& i) {
      return i.state == Item::State::Pending && i.tries == 0;
    });
    log.write("Sendevorgang unterbrochen: eine Alarmierung hat Vorrang und wartet auf das Modem; " +
              std::to_string(untried) + (untried == 1 ? " Nachricht bleibt" : " Nachrichten bleiben") +
              " im Postausgang.");
  }
  const bool noRoute = !anyUsable();
  std::string noRouteReason;
  for (size_t r = 0; r < routes.size(); ++r)
    if (!routeTrouble[r].empty()) noRouteReason = routeTrouble[r];
  for (Item& item : items) {
    OutboxEntry& e = *item.entry;
    report.outcomes.push_back({item.state == Item::State::Sent, false, false, false, {}});
    if (item.state == Item::State::Sent) {
      ++report.sent;
      if (!routes.empty() && item.deliveredBy != routes.front().name) {
        report.fallbackUsed = item.deliveredBy;
        report.outcomes.back().viaFallback = true;
      }
      continue;
    }
    const std::string label = labelOf(e, routes.empty() ? 1 : partsFor(routes.front().kind, e).size());
    if (item.state == Item::State::MaybeSent) {
      log.write("VIELLEICHT GESENDET an " + label + " nach " + attempts(item.tries) + ": " + item.lastReason +
                " Die Anfrage ging hinaus, die Antwort kam nicht rechtzeitig; vielleicht gesendet. "
                "Die Nachricht wird nicht wiederholt.");
      report.lastReason = item.lastReason;
      report.outcomes.back().reason = report.lastReason;
      report.outcomes.back().maybe = true;
      ++report.failed;
      outbox.remove(e);
      continue;
    }
    if (gaveWay && item.state == Item::State::Pending && item.tries == 0) {
      // Not tried: it stays as it is for the next run, told once above.
      report.lastReason = std::string(kGaveWayReason);
      report.outcomes.back().reason = report.lastReason;
      if (outbox.keeping() && e.kind != OutboxEntry::Kind::Test) {
        ++report.kept;
        report.outcomes.back().waiting = true;
      } else {
        ++report.failed;
        outbox.remove(e);
      }
      continue;
    }
    const bool forGood = item.state == Item::State::Refused || noRoute || e.kind == OutboxEntry::Kind::Test;
    std::string line;
    if (item.tries == 0) {
      if (outOfTime && (item.lastReason.empty() || !noRoute)) {
        line = "FEHLGESCHLAGEN an " + label + ": das Zeitlimit war erreicht, bevor ein Versuch möglich war";
        if (item.lastReason.empty()) item.lastReason = "Das Zeitlimit war erreicht.";
      } else {
        if (item.lastReason.empty()) item.lastReason = noRouteReason;
        line = "FEHLGESCHLAGEN an " + label + " ohne Versuch: " + item.lastReason;
      }
    } else {
      line = "FEHLGESCHLAGEN an " + label + " nach " + attempts(item.tries) + ": " + item.lastReason;
      if (outOfTime && item.state == Item::State::Pending) line += " (Zeitlimit erreicht)";
    }
    if (item.state == Item::State::Refused || noRoute) {
      line += " Die Nachricht wird nicht wiederholt.";
    } else if (!forGood && outbox.keeping()) {
      line += " Sie bleibt im Postausgang und wird beim nächsten Lauf von S.exe erneut versucht.";
    }
    log.write(line);
    report.lastReason = item.lastReason;
    report.outcomes.back().reason = item.lastReason;
    if (forGood || !outbox.keeping()) {
      ++report.failed;
      outbox.remove(e);
    } else {
      ++report.kept;
      report.outcomes.back().waiting = true;
    }
  }
  return report;
}

namespace {

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

RunResult SendRun::deliver(const std::vector<Route>& routes, SenderClock& clock, int64_t deadlineMs,
                           const WallTime& now, const std::function<bool()>& giveWay) {
  if (!tookOver_) late_ = outbox_.takeOver(now, config_.outbox.maxAgeHours);
  // Alarms before notices: the run's own alarm (or test) first, then the
  // alarms earlier runs left, oldest first, so a pile of yesterday's
  // messages cannot hold today's back; then the run's own notice, then the
  // notices earlier runs left.
  std::vector<OutboxEntry> all;
  std::vector<bool> own;
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
  const size_t ownCount = own_.size();
  const size_t late = late_.size();
  // Notices and resends try each message once: Kantiq starts the resend
  // again a few minutes later, and neither may keep the modem from an alarm.
  RetrySettings retry = config_.retry;
  if (givesWay()) retry.maxAttempts = 1;
  const DeliveryReport report =
      deliverMessages(all, routes, retry, clock, log_, outbox_, deadlineMs, givesWay() ? giveWay : nullptr);
  const std::string trouble = report.firstRouteTrouble.empty() ? "" : " Störung " + report.firstRouteTrouble;

  // The run's own messages decide its outcome; what it sent for earlier
  // runs is told apart.
  size_t lateSent = 0, lateWaiting = 0, ownSent = 0, ownWaiting = 0, ownMaybe = 0, ownViaFallback = 0;
  std::string ownReason;
  for (size_t i = 0; i < all.size(); ++i) {
    const MessageOutcome& outcome = report.outcomes[i];
    if (!own[i]) {
      lateSent += outcome.sent ? 1 : 0;
      lateWaiting += outcome.waiting ? 1 : 0;
      continue;
    }
    ownSent += outcome.sent ? 1 : 0;
    ownWaiting += outcome.waiting ? 1 : 0;
    ownMaybe += outcome.maybe ? 1 : 0;
    ownViaFallback += outcome.viaFallback ? 1 : 0;
    if (!outcome.sent) ownReason = outcome.reason;
  }
  if (late > 0)
    log_.write("Nachgesendet: " + std::to_string(lateSent) + " von " + std::to_string(late) +
               " Nachrichten aus früheren Läufen.");

  if (request_.kind == SendRequest::Kind::Resend) {
    std::string line = "Nachgesendet: " + std::to_string(lateSent) + " von " + std::to_string(late) + " SMS gesendet";
    if (lateWaiting > 0) line += ", " + waitCount(lateWaiting) + " weiter im Postausgang";
    const size_t givenUp = late - lateSent - lateWaiting;
    if (givenUp > 0) line += ", " + std::to_string(givenUp) + " endgültig nicht gesendet";
    log_.write("Ende: " + line.substr(std::string_view("Nachgesendet: ").size()) + ".");
    // Waiting notices count as well: Kantiq starts the resend again while
    // anything waits.
    result_ = {lateWaiting > 0 ? kExitSomeWaiting : kExitAllSent, line + "." + trouble};
    return result_;
  }

  const std::string what = request_.kind == SendRequest::Kind::Notice ? "Hinweis" : "SMS";
  const std::string lateNote =
      late == 0 ? std::string()
                : " Dazu " + std::to_string(lateSent) + " von " + std::to_string(late) + " SMS aus früheren Läufen nachgesendet.";
  if (ownSent == ownCount) {
    log_.write("Ende: " + std::string(ownCount == 1 ? "die Nachricht wurde" : "alle " + std::to_string(ownCount) +
                                                                            " Nachrichten wurden") +
               " gesendet.");
    if (request_.kind == SendRequest::Kind::Test) {
      const std::string via = report.fallbackUsed.empty() ? "" : " über den Ersatzweg " + report.fallbackUsed;
      result_ = {kExitAllSent, subject() + via + " gesendet." + trouble};
      return result_;
    }
    std::string via;
    if (ownViaFallback == ownCount)
      via = " über " + report.fallbackUsed + " (Ersatzweg)";
    std::string line = what + " an " + recipients(ownSent, ownCount) + via + " gesendet";
    if (ownViaFallback > 0 && ownViaFallback < ownCount)
      line += ", " + std::to_string(ownViaFallback) + " davon über " + report.fallbackUsed + " (Ersatzweg)";
    result_ = {kExitAllSent, line + "." + lateNote + trouble};
    return result_;
  }
  log_.write("Ende: " + std::to_string(ownSent) + " von " + std::to_string(ownCount) + " Nachrichten gesendet, " +
             std::to_string(ownCount - ownSent) + " fehlgeschlagen.");
  if (request_.kind == SendRequest::Kind::Test) {
    result_ = {kExitSomeFailed, subject() + " nicht gesendet: " + ownReason + trouble};
    return result_;
  }
  const size_t forGood = ownCount - ownSent - ownWaiting - ownMaybe;
  std::string line = ownSent > 0    ? what + " an " + recipients(ownSent, ownCount) + " gesendet"
                     : ownMaybe > 0 ? what + " NICHT sicher gesendet"
                                    : what + " NICHT gesendet";
  if (ownWaiting > 0) line += ", " + waitCount(ownWaiting) + " im Postausgang";
  if (ownMaybe > 0) line += ", " + std::to_string(ownMaybe) + " vielleicht gesendet";
  if (forGood > 0 && ownSent + ownWaiting + ownMaybe > 0)
    line += ", " + std::to_string(forGood) + " endgültig nicht gesendet";
  result_ = {ownWaiting > 0 ? kExitSomeWaiting : kExitNotSentForGood, line + ": " + ownReason + lateNote + trouble};
  return result_;
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

std::string formatStamp(int year, int month, int day, int hour, int minute, int second) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%04d %02d:%02d:%02d", day % 100, month % 100, year % 10000,
                hour % 100, minute % 100, second % 100);
  return stamp;
}

std::string formatSendLogLine(int year, int month, int day, int hour, int minute, int second,
                              std::string_view text) {
  std::string line = formatStamp(year, month, day, hour, minute, second) + ": ";
  for (char ch : text) line += static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
  line += "\r\n";
  return line;
}

std::string cappedWaitNote(const RetrySettings& retry) {
  if (retry.maxDelayMs <= kMaxRetryWaitMs) return {};
  return "Hinweis: \"laengste_wartezeit_s\" = " + std::to_string(retry.maxDelayMs / 1000) +
         " zählt als " + std::to_string(kMaxRetryWaitMs / 1000) +
         " Sekunden; länger wartet S.exe zwischen zwei Runden nie.";
}

}  // namespace kantiq::sender
