// deliverMessages: rounds over the messages, attempts through the routes,
// and the report at the end.

#include "sender/delivery/delivery.h"

#include <algorithm>

namespace kantiq::sender {
namespace {

// A request that may have reached the gateway is repeated once, no more.
constexpr uint32_t kMaxMaybeSent = 2;

std::string attempts(int n) { return n == 1 ? "1 Versuch" : std::to_string(n) + " Versuchen"; }

std::string labelOf(const OutboxEntry& e, size_t parts) {
  if (parts <= 1) return e.number;
  const size_t k = std::min<size_t>(e.partsSent, parts - 1);
  return e.number + " (Teil " + std::to_string(k + 1) + "/" + std::to_string(parts) + ")";
}

// One message's state in this run: the outbox entry it goes out as, the
// tries on its current part, and where it stands.
struct PendingMessage {
  enum class State { Pending, Sent, Refused, MaybeSent };

  explicit PendingMessage(OutboxEntry& e) : entry(&e) {}
  bool pending() const { return state == State::Pending; }
  // A notice is tried in the first round only; it waits in the outbox instead.
  bool onceOnly() const { return entry->kind == OutboxEntry::Kind::Notice; }
  bool untried() const { return pending() && tries == 0; }

  OutboxEntry* entry;
  int tries = 0;          // on the current part
  bool wentDown = false;  // its channel went down under it in this round
  std::string lastReason;
  State state = State::Pending;
  std::string deliveredBy;
};

// What the routes are worth in this run: the ones that cannot work at all,
// those down for the current round, and what went wrong on each.
class RouteStates {
 public:
  RouteStates(const std::vector<Route>& routes, SendLog& log)
      : routes_(routes), log_(log), unusable_(routes.size(), false), down_(routes.size(), false),
        trouble_(routes.size()) {}

  void newRound() { down_.assign(routes_.size(), false); }
  bool anyUsable() const { return std::find(unusable_.begin(), unusable_.end(), false) != unusable_.end(); }
  // The first route this message may take now, or routes.size().
  size_t next(const std::vector<bool>& triedHere) const {
    size_t r = 0;
    while (r < routes_.size() && (unusable_[r] || down_[r] || triedHere[r])) ++r;
    return r;
  }
  void markUnusable(size_t r, const std::string& reason) {
    unusable_[r] = true;
    trouble_[r] = reason;
    announce(r, true);
  }
  void markDown(size_t r, const std::string& reason) {
    down_[r] = true;
    trouble_[r] = reason;
    announce(r, false);
  }
  // Why the last route that failed failed; empty if none did.
  std::string lastTrouble() const {
    std::string reason;
    for (const std::string& t : trouble_)
      if (!t.empty()) reason = t;
    return reason;
  }

 private:
  // Says where the messages go now that route r failed.
  void announce(size_t r, bool forThisRun) {
    size_t other = routes_.size();
    for (size_t i = 0; i < routes_.size(); ++i)
      if (i != r && !unusable_[i] && !down_[i]) other = i;
    const std::string state = forThisRun ? " ist in diesem Lauf nicht nutzbar" : " ist gestört";
    if (other < routes_.size())
      log_.write(routes_[r].name + state + "; weiter über " + routes_[other].name + ".");
    else if (forThisRun && !anyUsable())
      log_.write(routes_[r].name + state + "; die Nachrichten werden nicht gesendet.");
  }

  const std::vector<Route>& routes_;
  SendLog& log_;
  std::vector<bool> unusable_;
  std::vector<bool> down_;
  std::vector<std::string> trouble_;
};

class MessageDelivery {
 public:
  MessageDelivery(std::vector<OutboxEntry>& messages, const std::vector<Route>& routes, const RetrySettings& retry,
                  SenderClock& clock, SendLog& log, Outbox& outbox, int64_t deadlineMs,
                  const std::function<bool()>& giveWay)
      : routes_(routes), retry_(retry), clock_(clock), log_(log), outbox_(outbox), deadlineMs_(deadlineMs),
        giveWay_(giveWay), routeStates_(routes, log) {
    for (OutboxEntry& m : messages) messages_.emplace_back(m);
    for (size_t i = 0; i < messages_.size(); ++i) order_.push_back(i);
  }

  DeliveryReport run() {
    const int64_t longestWait = std::min<int64_t>(retry_.maxDelayMs, kMaxRetryWaitMs);
    int64_t delayMs = std::min<int64_t>(retry_.firstDelayMs, longestWait);
    for (int round = 1; round <= retry_.maxAttempts && !outOfTime_ && !gaveWay_; ++round) {
      runRound(round);
      if (finished() || round == retry_.maxAttempts) break;
      if (!waitForNextRound(round, delayMs)) break;
      delayMs = std::min<int64_t>(delayMs * 2, longestWait);
      // One whose channel went down under it goes last in the next round,
      // so it cannot hold the others back for good.
      std::stable_partition(order_.begin(), order_.end(), [&](size_t i) { return !messages_[i].wentDown; });
    }
    return report();
  }

 private:
  // Every message still pending is tried once through the routes.
  void runRound(int round) {
    routeStates_.newRound();
    for (size_t position : order_) {
      PendingMessage& message = messages_[position];
      message.wentDown = false;
      if (!message.pending()) continue;
      if (round > 1 && message.onceOnly()) continue;
      if (!routeStates_.anyUsable()) break;
      if (giveWay_ && giveWay_()) {
        gaveWay_ = true;
        break;
      }
      tryMessage(message);
      if (outOfTime_) break;
    }
  }

  bool finished() const {
    const bool allDone = std::none_of(messages_.begin(), messages_.end(),
                                      [](const PendingMessage& m) { return m.pending() && !m.onceOnly(); });
    return allDone || outOfTime_ || gaveWay_ || !routeStates_.anyUsable();
  }

  // False when no time is left for another round after the wait.
  bool waitForNextRound(int round, int64_t delayMs) {
    const int64_t left = deadlineMs_ - clock_.nowMs();
    if (left <= delayMs) {
      outOfTime_ = true;
      return false;
    }
    if (round == 1) {
      if (const std::string note = cappedWaitNote(retry_); !note.empty()) log_.write(note);
    }
    clock_.sleepMs(delayMs);
    return true;
  }

  // The message's attempts in this round: through each route that may take
  // it, until it is sent, refused or has to wait for the next round.
  void tryMessage(PendingMessage& message) {
    std::vector<bool> triedHere(routes_.size(), false);
    while (message.pending()) {
      if (clock_.nowMs() >= deadlineMs_) {
        outOfTime_ = true;
        return;
      }
      const size_t r = routeStates_.next(triedHere);
      if (r == routes_.size()) return;  // this message waits for the next round
      if (r > 0 && firstRouteTrouble_.empty() && !firstRouteFailure_.empty())
        firstRouteTrouble_ = routes_.front().name + ": " + firstRouteFailure_;
      attempt(message, r, triedHere);
    }
  }

  // One try of the message's current part through route r.
  void attempt(PendingMessage& message, size_t r, std::vector<bool>& triedHere) {
    const Route& route = routes_[r];
    OutboxEntry& e = *message.entry;
    const std::vector<std::string> parts = partsFor(route.kind, e);
    const std::string label = labelOf(e, parts.size());
    ++message.tries;

    bool committed = false;
    route.channel->setCommitHook([&] {
      e.underWay = route.name;
      outbox_.update(e);
      committed = true;
    });
    const SendOutcome outcome = route.channel->send(e.number, parts[std::min<size_t>(e.partsSent, parts.size() - 1)]);
    route.channel->setCommitHook(nullptr);
    e.underWay.clear();

    const std::string via = routes_.size() > 1 ? " über " + route.name + (r > 0 ? " (Ersatzweg)" : "") : "";
    if (outcome.sent) {
      log_.write("gesendet an " + label + " (Versuch " + std::to_string(message.tries) +
                 (e.late ? ", verspätet" : "") + ")" + via + ": " + outcome.detail);
      partSent(message, route, parts.size(), triedHere);
      return;
    }
    if (outcome.mayHaveArrived) ++e.maybeSent;
    if (committed || outcome.mayHaveArrived) outbox_.update(e);  // no longer under way
    message.lastReason = outcome.detail;
    if (r == 0) firstRouteFailure_ = outcome.detail;
    log_.write("Versuch " + std::to_string(message.tries) + " an " + label + via + " fehlgeschlagen: " +
               outcome.detail);
    failed(message, r, outcome, triedHere);
  }

  void partSent(PendingMessage& message, const Route& route, size_t parts, std::vector<bool>& triedHere) {
    OutboxEntry& e = *message.entry;
    message.deliveredBy = route.name;
    ++e.partsSent;
    if (e.partsSent >= parts) {
      message.state = PendingMessage::State::Sent;
      outbox_.remove(e);
    } else {
      outbox_.update(e);
      message.tries = 0;
      triedHere.assign(routes_.size(), false);
    }
  }

  void failed(PendingMessage& message, size_t r, const SendOutcome& outcome, std::vector<bool>& triedHere) {
    if (message.entry->maybeSent >= kMaxMaybeSent) {
      // A third copy of a request the gateway may have taken twice helps
      // nobody: sending more could only make the phones ring again.
      message.state = PendingMessage::State::MaybeSent;
      return;
    }
    switch (outcome.failure) {
      case Failure::MessageRejected:
        message.state = PendingMessage::State::Refused;
        break;
      case Failure::ChannelUnusable:
        routeStates_.markUnusable(r, outcome.detail);
        break;
      case Failure::ChannelDown:
        message.wentDown = true;
        routeStates_.markDown(r, outcome.detail);
        break;
      case Failure::MessageRetry:
        triedHere[r] = true;
        break;
    }
  }

  // Each message's outcome, in the log, the outbox and the report.
  DeliveryReport report() {
    DeliveryReport report;
    report.firstRouteTrouble = firstRouteTrouble_;
    report.gaveWay = gaveWay_;
    if (gaveWay_) {
      const auto untried =
          std::count_if(messages_.begin(), messages_.end(), [](const PendingMessage& m) { return m.untried(); });
      log_.write("Sendevorgang unterbrochen: eine Alarmierung hat Vorrang und wartet auf das Modem; " +
                 std::to_string(untried) + (untried == 1 ? " Nachricht bleibt" : " Nachrichten bleiben") +
                 " im Postausgang.");
    }
    for (PendingMessage& message : messages_) {
      report.outcomes.push_back({message.state == PendingMessage::State::Sent, false, false, false, {}});
      if (message.state == PendingMessage::State::Sent)
        reportSent(message, report);
      else if (message.state == PendingMessage::State::MaybeSent)
        reportMaybeSent(message, report);
      else if (gaveWay_ && message.untried())
        reportLeftForNextRun(message, report);
      else
        reportNotSent(message, report);
    }
    return report;
  }

  std::string labelForReport(const OutboxEntry& e) const {
    return labelOf(e, routes_.empty() ? 1 : partsFor(routes_.front().kind, e).size());
  }

  void reportSent(const PendingMessage& message, DeliveryReport& report) const {
    ++report.sent;
    if (!routes_.empty() && message.deliveredBy != routes_.front().name) {
      report.fallbackUsed = message.deliveredBy;
      report.outcomes.back().viaFallback = true;
    }
  }

  void reportMaybeSent(const PendingMessage& message, DeliveryReport& report) {
    log_.write("VIELLEICHT GESENDET an " + labelForReport(*message.entry) + " nach " + attempts(message.tries) +
               ": " + message.lastReason +
               " Die Anfrage ging hinaus, die Antwort kam nicht rechtzeitig; vielleicht gesendet. "
               "Die Nachricht wird nicht wiederholt.");
    report.lastReason = message.lastReason;
    report.outcomes.back().reason = report.lastReason;
    report.outcomes.back().maybe = true;
    ++report.failed;
    outbox_.remove(*message.entry);
  }

  // Not tried because an alarm has the modem: it stays as it is for the
  // next run, told once in the report's first line.
  void reportLeftForNextRun(const PendingMessage& message, DeliveryReport& report) {
    report.lastReason = std::string(kGaveWayReason);
    report.outcomes.back().reason = report.lastReason;
    if (outbox_.keeping() && message.entry->kind != OutboxEntry::Kind::Test) {
      ++report.kept;
      report.outcomes.back().waiting = true;
    } else {
      ++report.failed;
      outbox_.remove(*message.entry);
    }
  }

  void reportNotSent(PendingMessage& message, DeliveryReport& report) {
    const OutboxEntry& e = *message.entry;
    const bool noRoute = !routeStates_.anyUsable();
    const bool forGood =
        message.state == PendingMessage::State::Refused || noRoute || e.kind == OutboxEntry::Kind::Test;
    std::string line = failureLine(message, noRoute);
    if (message.state == PendingMessage::State::Refused || noRoute) {
      line += " Die Nachricht wird nicht wiederholt.";
    } else if (!forGood && outbox_.keeping()) {
      line += " Sie bleibt im Postausgang und wird beim nächsten Lauf von S.exe erneut versucht.";
    }
    log_.write(line);
    report.lastReason = message.lastReason;
    report.outcomes.back().reason = message.lastReason;
    if (forGood || !outbox_.keeping()) {
      ++report.failed;
      outbox_.remove(e);
    } else {
      ++report.kept;
      report.outcomes.back().waiting = true;
    }
  }

  // "FEHLGESCHLAGEN an ..." with the reason; fills in the reason of a
  // message that was never tried.
  std::string failureLine(PendingMessage& message, bool noRoute) const {
    const std::string label = labelForReport(*message.entry);
    if (message.tries > 0) {
      std::string line = "FEHLGESCHLAGEN an " + label + " nach " + attempts(message.tries) + ": " + message.lastReason;
      if (outOfTime_ && message.pending()) line += " (Zeitlimit erreicht)";
      return line;
    }
    if (outOfTime_ && (message.lastReason.empty() || !noRoute)) {
      if (message.lastReason.empty()) message.lastReason = "Das Zeitlimit war erreicht.";
      return "FEHLGESCHLAGEN an " + label + ": das Zeitlimit war erreicht, bevor ein Versuch möglich war";
    }
    if (message.lastReason.empty()) message.lastReason = routeStates_.lastTrouble();
    return "FEHLGESCHLAGEN an " + label + " ohne Versuch: " + message.lastReason;
  }

  const std::vector<Route>& routes_;
  const RetrySettings& retry_;
  SenderClock& clock_;
  SendLog& log_;
  Outbox& outbox_;
  const int64_t deadlineMs_;
  const std::function<bool()>& giveWay_;
  RouteStates routeStates_;
  std::vector<PendingMessage> messages_;
  // The order messages are tried in.
  std::vector<size_t> order_;
  // The first route's latest failure, and the sentence for the summary once
  // a message went the other way after it.
  std::string firstRouteFailure_;
  std::string firstRouteTrouble_;
  bool gaveWay_ = false;
  bool outOfTime_ = false;
};

}  // namespace

DeliveryReport deliverMessages(std::vector<OutboxEntry>& messages, const std::vector<Route>& routes,
                               const RetrySettings& retry, SenderClock& clock, SendLog& log, Outbox& outbox,
                               int64_t deadlineMs, const std::function<bool()>& giveWay) {
  return MessageDelivery(messages, routes, retry, clock, log, outbox, deadlineMs, giveWay).run();
}

}  // namespace kantiq::sender
