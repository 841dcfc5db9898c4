#include "modem_session.h"

#include <algorithm>

#include "sms_text.h"

namespace kantiq::sender {
namespace {

constexpr int32_t kReadChunkBytes = 256;
constexpr int32_t kPinSettleStepMs = 1000;  // SIMs take a moment to report READY after the PIN
constexpr int kProbeTries = 2;
constexpr int32_t kEscapeSettleMs = 300;              // a modem that just woke up may swallow the first AT

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool isFinalError(std::string_view line) {
  return line == "ERROR" || startsWith(line, "+CMS ERROR") || startsWith(line, "+CME ERROR") ||
         line == "NO CARRIER";
}

}  // namespace

std::string ModemSession::wireText(std::string_view textCp1252) { return toGsmSafeText(textCp1252); }

std::string ModemSession::describe(const Reply& reply, std::string_view what) const {
  switch (reply.kind) {
    case Reply::Kind::Timeout:
      return "Das Modem antwortet nicht auf " + std::string(what) + ".";
    case Reply::Kind::LineFailed:
      return "Die Verbindung zum Modem an " + settings_.port + " ist unterbrochen.";
    case Reply::Kind::Error:
      return "Das Modem meldet \"" + reply.final + "\" auf " + std::string(what) + ".";
    case Reply::Kind::Ok:
      break;
  }
  return "Unerwartete Antwort des Modems auf " + std::string(what) + ".";
}

SendOutcome ModemSession::failAndReset(std::string reason) {
  // Esc abandons a message the modem may still be collecting.
  line_.write(std::string_view(&kEscape, 1));
  line_.close();
  prepared_ = false;
  pending_.clear();
  return {false, std::move(reason)};
}

bool ModemSession::nextLine(int64_t deadlineMs, std::string& line, bool& lineFailed) {
  lineFailed = false;
  for (;;) {
    const size_t end = pending_.find_first_of("\r\n");
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty()) return true;
      continue;
    }
    const int64_t remaining = deadlineMs - clock_.nowMs();
    if (remaining <= 0) return false;
    char buffer[kReadChunkBytes];
    const int32_t n = line_.read(buffer, kReadChunkBytes, static_cast<int32_t>(remaining));
    if (n < 0) {
      lineFailed = true;
      return false;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

ModemSession::Reply ModemSession::awaitFinal(int32_t timeoutMs) {
  Reply reply;
  const int64_t deadline = clock_.nowMs() + timeoutMs;
  std::string line;
  bool lineFailed = false;
  while (nextLine(deadline, line, lineFailed)) {
    if (line == "OK") {
      reply.kind = Reply::Kind::Ok;
      reply.final = line;
      return reply;
    }
    if (isFinalError(line)) {
      reply.kind = Reply::Kind::Error;
      reply.final = line;
      return reply;
    }
    reply.lines.push_back(line);
  }
  reply.kind = lineFailed ? Reply::Kind::LineFailed : Reply::Kind::Timeout;
  return reply;
}

ModemSession::Reply ModemSession::command(std::string_view text, int32_t timeoutMs) {
  if (!line_.write(std::string(text) + "\r")) {
    Reply reply;
    reply.kind = Reply::Kind::LineFailed;
    return reply;
  }
  return awaitFinal(timeoutMs);
}

bool ModemSession::awaitPrompt(int32_t timeoutMs) {
  const int64_t deadline = clock_.nowMs() + timeoutMs;
  for (;;) {
    // The prompt "> " has no line end; any complete line before it is
    // an echo or, if it is an error, the end of the attempt.
    const size_t prompt = pending_.find('>');
    const size_t end = pending_.find_first_of("\r\n");
    if (prompt != std::string::npos && (end == std::string::npos || prompt < end)) {
      pending_.erase(0, prompt + 1);
      if (!pending_.empty() && pending_[0] == ' ') pending_.erase(0, 1);
      return true;
    }
    if (end != std::string::npos) {
      const std::string line = pending_.substr(0, end);
      if (isFinalError(line)) return false;  // left in pending_ for awaitFinal to report
      pending_.erase(0, end + 1);
      continue;
    }
    const int64_t remaining = deadline - clock_.nowMs();
    if (remaining <= 0) return false;
    char buffer[kReadChunkBytes];
    const int32_t n = line_.read(buffer, kReadChunkBytes, static_cast<int32_t>(remaining));
    if (n < 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ModemSession::unlockSim(std::string& reason) {
  if (pinRejected_) {
    reason = "Die SIM-Karte verlangt erneut die PIN; sie wird nicht noch einmal eingegeben, "
             "damit die Karte nicht gesperrt wird.";
    return false;
  }
  if (settings_.pin.empty()) {
    reason = "Die SIM-Karte verlangt eine PIN, aber in [modem] ist keine \"pin\" eingetragen.";
    return false;
  }
  // One entry per run at most, whatever the answer.
  pinRejected_ = true;
  const Reply entered = command("AT+CPIN=\"" + settings_.pin + "\"", settings_.replyTimeoutMs);
  if (entered.kind == Reply::Kind::Error) {
    reason = "Die SIM-Karte hat die PIN abgelehnt (\"" + entered.final +
             "\"). Bitte die PIN in der Konfiguration prüfen.";
    return false;
  }
  if (entered.kind != Reply::Kind::Ok) {
    reason = describe(entered, "die PIN");
    return false;
  }
  const int64_t deadline = clock_.nowMs() + settings_.replyTimeoutMs;
  for (;;) {
    const Reply state = command("AT+CPIN?", settings_.replyTimeoutMs);
    if (state.kind == Reply::Kind::Ok &&
        std::any_of(state.lines.begin(), state.lines.end(),
                    [](const std::string& l) { return startsWith(l, "+CPIN: READY"); })) {
      pinRejected_ = false;  // accepted: a later reset of the modem may ask again
      return true;
    }
    if (clock_.nowMs() + kPinSettleStepMs > deadline) {
      reason = "Die SIM-Karte ist nach der PIN-Eingabe nicht bereit.";
      return false;
    }
    clock_.sleepMs(kPinSettleStepMs);
  }
}

bool ModemSession::prepare(std::string& reason) {
  pending_.clear();
  if (!line_.open(reason)) return false;
  // A sender that was stopped half-way may have left the modem waiting for
  // a message text; Esc abandons it (and means nothing otherwise).
  if (!line_.write(std::string_view(&kEscape, 1))) {
    reason = describe({Reply::Kind::LineFailed, {}, {}}, "");
    return false;
  }
  // Whatever answers the Esc is dropped, so it is not taken for the answer to AT.
  const int64_t settled = clock_.nowMs() + kEscapeSettleMs;
  char buffer[kReadChunkBytes];
  for (int64_t now = clock_.nowMs(); now < settled; now = clock_.nowMs())
    if (line_.read(buffer, kReadChunkBytes, static_cast<int32_t>(settled - now)) <= 0) break;

  Reply probe;
  for (int i = 0; i < kProbeTries; ++i) {
    probe = command("AT", settings_.replyTimeoutMs);
    if (probe.kind != Reply::Kind::Timeout) break;
  }
  if (probe.kind != Reply::Kind::Ok) {
    reason = describe(probe, "AT");
    return false;
  }
  const Reply echoOff = command("ATE0", settings_.replyTimeoutMs);
  if (echoOff.kind == Reply::Kind::Timeout || echoOff.kind == Reply::Kind::LineFailed) {
    reason = describe(echoOff, "ATE0");
    return false;
  }

  const Reply pin = command("AT+CPIN?", settings_.replyTimeoutMs);
  if (pin.kind != Reply::Kind::Ok) {
    reason = pin.kind == Reply::Kind::Error
                 ? "Die SIM-Karte ist nicht bereit (\"" + pin.final + "\" auf AT+CPIN?)."
                 : describe(pin, "AT+CPIN?");
    return false;
  }
  std::string state;
  for (const std::string& l : pin.lines)
    if (startsWith(l, "+CPIN:")) state = l.substr(6);
  state.erase(0, state.find_first_not_of(' '));
  if (state == "SIM PIN") {
    if (!unlockSim(reason)) return false;
  } else if (state != "READY") {
    reason = "Die SIM-Karte ist nicht bereit (+CPIN: " + (state.empty() ? std::string("?") : state) + ").";
    return false;
  }

  const Reply textMode = command("AT+CMGF=1", settings_.replyTimeoutMs);
  if (textMode.kind != Reply::Kind::Ok) {
    reason = describe(textMode, "AT+CMGF=1");
    return false;
  }
  prepared_ = true;
  return true;
}

SendOutcome ModemSession::send(const std::string& number, const std::string& textCp1252) {
  std::string reason;
  if (!prepared_ && !prepare(reason)) return failAndReset(reason);

  if (!line_.write("AT+CMGS=\"" + number + "\"\r")) return failAndReset(describe({Reply::Kind::LineFailed, {}, {}}, ""));
  if (!awaitPrompt(settings_.replyTimeoutMs)) {
    const Reply after = awaitFinal(0);
    if (after.kind == Reply::Kind::Error) return failAndReset(describe(after, "AT+CMGS"));
    return failAndReset("Das Modem fordert den Nachrichtentext nicht an (keine Eingabeaufforderung \">\").");
  }
  if (!line_.write(wireText(textCp1252) + kCtrlZ)) return failAndReset(describe({Reply::Kind::LineFailed, {}, {}}, ""));

  const Reply result = awaitFinal(settings_.sendTimeoutMs);
  if (result.kind != Reply::Kind::Ok) return failAndReset(describe(result, "den Nachrichtentext"));
  std::string reference;
  for (const std::string& l : result.lines)
    if (startsWith(l, "+CMGS:")) reference = l.substr(6);
  reference.erase(0, reference.find_first_not_of(' '));
  return {true, reference.empty() ? std::string("OK") : "Referenz " + reference};
}

}  // namespace kantiq::sender
