#include "sender/modem/modem_session.h"

#include <algorithm>
#include <array>

#include "sender/modem/modem_errors.h"
#include "sender/text/sms_text.h"

namespace kantiq::sender {
namespace {

constexpr int32_t kReadChunkBytes = 256;
constexpr int32_t kPinSettleStepMs = 1000;  // SIMs take a moment to report READY after the PIN
// The longest wait for READY after the modem took the PIN.
constexpr int32_t kPinReadyWaitMs = 20'000;
// A SIM that is still busy after power-up gets the PIN again, a few times.
constexpr int kPinEntryTries = 4;
constexpr int32_t kSimBusyWaitMs = 2000;
constexpr int kProbeTries = 2;
// A working modem answers AT at once; a dead one should not hold an alarm
// long before the other channel takes over.
constexpr int32_t kProbeTimeoutMs = 2500;
// The attempt-counter queries are tried in turn; a modem that does not know
// one answers ERROR at once.
constexpr int32_t kQueryTimeoutMs = 2000;
constexpr int32_t kEscapeSettleMs = 300;  // a modem that just woke up may swallow the first AT

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool isFinalError(std::string_view line) {
  return line == "ERROR" || startsWith(line, "+CMS ERROR") || startsWith(line, "+CME ERROR") ||
         line == "COMMAND NOT SUPPORT";
}

// Lines a modem sends on its own: a call, an incoming message, a change of
// network or signal, a vendor's status report. None ends a command.
bool isUnsolicited(std::string_view line) {
  static constexpr std::array<std::string_view, 22> kPrefixes{
      "RING",    "+CRING:", "+CLIP:",  "+CCWA:",   "+CMTI:",  "+CMT:",     "+CDSI:",   "+CDS:",
      "+CBMI:",  "+CBM:",   "+CREG:",  "+CGREG:",  "+CEREG:", "+CIEV:",    "+CUSD:",   "+CTZV:",
      "+PBREADY", "+QIND:", "+STIN:",  "NO CARRIER", "^",     "+CPIN: READY"};
  return std::any_of(kPrefixes.begin(), kPrefixes.end(), [&](std::string_view p) { return startsWith(line, p); });
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '"')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '"')) s.remove_suffix(1);
  return std::string(s);
}

// The comma-separated fields after "<prefix>".
std::vector<std::string> fieldsAfter(const std::vector<std::string>& lines, std::string_view prefix) {
  for (const std::string& l : lines) {
    if (!startsWith(l, prefix)) continue;
    std::vector<std::string> fields;
    std::string_view rest = std::string_view(l).substr(prefix.size());
    for (;;) {
      const size_t comma = rest.find(',');
      fields.push_back(trimmed(rest.substr(0, comma)));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return fields;
  }
  return {};
}

std::optional<int> smallNumber(const std::string& s, int hi) {
  if (s.empty() || s.size() > 3 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int v = std::stoi(s);
  if (v > hi) return std::nullopt;
  return v;
}

struct AttemptQuery {
  const char* command;
  const char* prefix;
};
constexpr std::array kAttemptQueries{
    AttemptQuery{"AT+CPINR=\"SIM PIN\"", "+CPINR:"},  // 27.007
    AttemptQuery{"AT+QPINC=\"SC\"", "+QPINC:"},        // Quectel
    AttemptQuery{"AT^SPIC", "^SPIC:"},                // Cinterion
    AttemptQuery{"AT+CPINC?", "+CPINC:"},             // Sierra Wireless
    AttemptQuery{"AT^CPIN?", "^CPIN:"},               // Huawei
    AttemptQuery{"AT#PCT", "#PCT:"},                  // Telit
};
constexpr int kMaxReportedAttempts = 10;

const std::string kPukReason = "Die SIM-Karte verlangt die PUK.";

}  // namespace

std::string ModemSession::wireText(std::string_view textCp1252) { return toGsmSafeText(textCp1252); }

std::optional<int> ModemSession::parsePinAttempts(std::string_view query, const std::vector<std::string>& lines) {
  const auto it = std::find_if(kAttemptQueries.begin(), kAttemptQueries.end(),
                               [&](const AttemptQuery& q) { return query == q.command; });
  if (it == kAttemptQueries.end()) return std::nullopt;
  const std::vector<std::string> f = fieldsAfter(lines, it->prefix);
  if (f.empty()) return std::nullopt;
  const std::string_view prefix = it->prefix;
  if (prefix == "+CPINR:") {
    // +CPINR: SIM PIN,<retries>,<default retries>
    if (f.size() < 2 || f[0] != "SIM PIN") return std::nullopt;
    return smallNumber(f[1], kMaxReportedAttempts);
  }
  if (prefix == "+QPINC:") {
    // +QPINC: "SC",<pin counter>,<puk counter>
    if (f.size() < 2 || f[0] != "SC") return std::nullopt;
    return smallNumber(f[1], kMaxReportedAttempts);
  }
  if (prefix == "^CPIN:") {
    // ^CPIN: <code>,<times>,<puk times>,<pin times>,<puk2 times>,<pin2 times>
    if (f.size() >= 4) return smallNumber(f[3], kMaxReportedAttempts);
    return std::nullopt;
  }
  // ^SPIC: <n> (for the code the SIM asks for now), +CPINC: <pin1>,..., #PCT: <n>
  return smallNumber(f[0], kMaxReportedAttempts);
}

std::optional<int> ModemSession::parseRegistration(const std::vector<std::string>& lines) {
  const std::vector<std::string> f = fieldsAfter(lines, "+CREG:");
  if (f.empty()) return std::nullopt;
  // The answer to the query is "<n>,<stat>[,<lac>,<ci>...]"; a modem that
  // sends only the state answers "<stat>".
  return smallNumber(f.size() >= 2 ? f[1] : f[0], 10);
}

std::optional<int> ModemSession::parseSignal(const std::vector<std::string>& lines) {
  const std::vector<std::string> f = fieldsAfter(lines, "+CSQ:");
  if (f.empty()) return std::nullopt;
  return smallNumber(f[0], 99);
}

std::string ModemSession::parseOperator(const std::vector<std::string>& lines) {
  const std::vector<std::string> f = fieldsAfter(lines, "+COPS:");
  return f.size() >= 3 ? f[2] : std::string();
}

std::string describeSignal(int rssi) {
  if (rssi == 99 || rssi < 0 || rssi > 31) return "unbekannt (kein Netz?)";
  const int dbm = -113 + 2 * rssi;
  std::string words;
  if (rssi <= 1)
    words = "kein brauchbares Signal";
  else if (rssi <= 9)
    words = "schwach";
  else if (rssi <= 14)
    words = "ausreichend";
  else if (rssi <= 19)
    words = "gut";
  else
    words = "sehr gut";
  return (rssi == 0 ? "-113 dBm oder weniger" : rssi == 31 ? "-51 dBm oder mehr" : std::to_string(dbm) + " dBm") +
         " (" + words + ")";
}

std::string describeRegistration(int stat) {
  switch (stat) {
    case 0:
      return "nicht eingebucht, sucht kein Netz";
    case 1:
      return "eingebucht im Heimatnetz";
    case 2:
      return "nicht eingebucht, sucht ein Netz";
    case 3:
      return "Einbuchen vom Netz abgelehnt";
    case 5:
      return "eingebucht (Roaming)";
    default:
      return "unbekannt";
  }
}

std::string ModemSession::describe(const Reply& reply, std::string_view what) const {
  switch (reply.kind) {
    case Reply::Kind::Timeout:
      return "Das Modem antwortet nicht auf " + std::string(what) + ".";
    case Reply::Kind::LineFailed:
      return "Die Verbindung zum Modem an " + settings_.port + " ist unterbrochen.";
    case Reply::Kind::Error:
      return "Das Modem meldet " + quoteModemError(reply.final) + " auf " + std::string(what) + ".";
    case Reply::Kind::Ok:
      break;
  }
  return "Unerwartete Antwort des Modems auf " + std::string(what) + ".";
}

void ModemSession::note(const std::string& line) {
  if (notes_ != nullptr && noted_.insert(line).second) notes_->write(line);
}

SendOutcome ModemSession::failAndReset(Failure failure, std::string reason) {
  // Esc abandons a message the modem may still be collecting.
  line_.write(std::string_view(&kEscape, 1));
  line_.close();
  prepared_ = false;
  pending_.clear();
  return failed(failure, std::move(reason));
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

ModemSession::Reply ModemSession::awaitFinal(int32_t timeoutMs, std::string_view expected) {
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
    if (isUnsolicited(line) && (expected.empty() || !startsWith(line, expected))) continue;
    reply.lines.push_back(line);
  }
  reply.kind = lineFailed ? Reply::Kind::LineFailed : Reply::Kind::Timeout;
  return reply;
}

ModemSession::Reply ModemSession::command(std::string_view text, int32_t timeoutMs, std::string_view expected) {
  if (!line_.write(std::string(text) + "\r")) {
    Reply reply;
    reply.kind = Reply::Kind::LineFailed;
    return reply;
  }
  return awaitFinal(timeoutMs, expected);
}

bool ModemSession::awaitPrompt(int32_t timeoutMs) {
  const int64_t deadline = clock_.nowMs() + timeoutMs;
  for (;;) {
    // The prompt "> " has no line end; a complete line before it is an
    // echo or an unsolicited report, or, if it is an error, the end of the
    // attempt.
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

std::optional<int> ModemSession::queryPinAttempts(std::string& source) {
  const int32_t timeout = std::min(settings_.replyTimeoutMs, kQueryTimeoutMs);
  for (const AttemptQuery& q : kAttemptQueries) {
    const Reply r = command(q.command, timeout, q.prefix);
    if (r.kind == Reply::Kind::Timeout || r.kind == Reply::Kind::LineFailed) break;  // it will not say
    if (r.kind != Reply::Kind::Ok) continue;
    if (const auto left = parsePinAttempts(q.command, r.lines)) {
      source = q.command;
      return left;
    }
  }
  return std::nullopt;
}

bool ModemSession::unlockSim(std::string& reason, Failure& failure) {
  failure = Failure::ChannelUnusable;
  std::string counted;
  if (!mayEnterPin(reason, counted)) return false;
  note("SIM-Karte: verlangt die PIN, sie wird eingegeben (" + counted + ").");
  for (int entry = 1;; ++entry) {
    const Reply entered = command("AT+CPIN=\"" + settings_.pin + "\"", settings_.replyTimeoutMs);
    if (entered.kind != Reply::Kind::Error) return awaitReadyAfterPin(entered, reason, failure);
    const PinEntryStep step = afterPinError(entered.final, entry, counted, reason, failure);
    if (step != PinEntryStep::EnterAgain) return step == PinEntryStep::Unlocked;
  }
}

// Whether the PIN from S.toml may be entered now (the PinGuard's rules);
// `counted` says how many attempts are left and who says so.
bool ModemSession::mayEnterPin(std::string& reason, std::string& counted) {
  if (settings_.pin.empty()) {
    reason = "Die SIM-Karte verlangt eine PIN, aber in [modem] ist keine \"pin\" eingetragen.";
    simState_ = "verlangt die PIN (in S.toml ist keine eingetragen)";
    note(reason);
    return false;
  }
  if (pins_.refusedBefore(settings_.pin)) {
    pins_.beginEntry(settings_.pin, std::nullopt, reason);
    simState_ = "verlangt die PIN; die PIN aus S.toml wurde schon abgelehnt";
    note(reason);
    return false;
  }
  std::string source;
  attemptsLeft_ = queryPinAttempts(source);
  if (attemptsLeft_) {
    counted = "noch " + std::to_string(*attemptsLeft_) + " Versuche laut " + source;
  } else if (const auto own = pins_.countedAttemptsLeft()) {
    counted = "das Modem meldet die verbleibenden Versuche nicht, nach S.exe noch " + std::to_string(*own);
  } else {
    counted = "die verbleibenden Versuche sind unbekannt";
  }
  if (!pins_.beginEntry(settings_.pin, attemptsLeft_, reason)) {
    simState_ = "verlangt die PIN; sie wird nicht eingegeben (" + counted + ")";
    note(reason + " (" + counted + ")");
    return false;
  }
  return true;
}

// The modem answered the PIN entry with an error: the SIM wants the PUK,
// refused the PIN, or did not look at it (then it may be entered again).
ModemSession::PinEntryStep ModemSession::afterPinError(const std::string& final, int entry, const std::string& counted,
                                                       std::string& reason, Failure& failure) {
  const ModemError error = interpretModemError(final);
  if (error.family == ModemError::Family::Equipment && error.code == kCmeSimPukRequired) {
    simState_ = "gesperrt, verlangt die PUK";
    reason = kPukReason;
    return PinEntryStep::Failed;
  }
  if (!entryTaken(final)) return afterPinNotTaken(final, entry, counted, reason, failure);
  reason = "Die SIM-Karte hat die PIN abgelehnt: " + quoteModemError(final) + ". Bitte die PIN in S.toml prüfen.";
  simState_ = "hat die PIN aus S.toml abgelehnt";
  note("SIM-Karte: Die PIN aus S.toml wurde abgelehnt: " + quoteModemError(final) +
       ". Sie wird nicht noch einmal eingegeben, bis in S.toml eine andere PIN steht.");
  return PinEntryStep::Failed;
}

// The SIM did not look at the PIN (it was busy, its counter did not drop):
// nothing is remembered against it, and after a pause it is entered again,
// a few times at most.
ModemSession::PinEntryStep ModemSession::afterPinNotTaken(const std::string& final, int entry,
                                                          const std::string& counted, std::string& reason,
                                                          Failure& failure) {
  pins_.notTaken();
  if (entry >= kPinEntryTries) {
    failure = Failure::ChannelDown;
    reason = "Die SIM-Karte nimmt die PIN noch nicht entgegen (" + quoteModemError(final) + ").";
    simState_ = "verlangt die PIN, ist aber noch nicht bereit";
    return PinEntryStep::Failed;
  }
  note("SIM-Karte: noch nicht bereit (" + quoteModemError(final) + " auf die PIN); die Eingabe wird gleich wiederholt.");
  clock_.sleepMs(kSimBusyWaitMs);
  const SimAnswer now = askSim();
  if (now == SimAnswer::Ready) {
    pins_.simReady();
    simState_ = "bereit";
    return PinEntryStep::Unlocked;
  }
  if (now != SimAnswer::WantsPin && now != SimAnswer::Busy) {
    failure = Failure::ChannelDown;
    reason = "Die SIM-Karte ist nach der PIN-Eingabe nicht bereit.";
    simState_ = "nach der PIN-Eingabe nicht bereit";
    return PinEntryStep::Failed;
  }
  if (!pins_.beginEntry(settings_.pin, attemptsLeft_, reason)) {
    simState_ = "verlangt die PIN; sie wird nicht eingegeben (" + counted + ")";
    note(reason + " (" + counted + ")");
    return PinEntryStep::Failed;
  }
  return PinEntryStep::EnterAgain;
}

// After an entry the modem took (OK) or did not answer: waits for READY.
// Without an answer the SIM may still have taken it: it says so here. A SIM
// may take many seconds to report READY after a right PIN.
bool ModemSession::awaitReadyAfterPin(const Reply& entered, std::string& reason, Failure& failure) {
  const int64_t deadline = clock_.nowMs() + std::max(settings_.replyTimeoutMs, kPinReadyWaitMs);
  for (;;) {
    const SimAnswer state = askSim();
    if (state == SimAnswer::Ready) {
      pins_.accepted();
      simState_ = "bereit (PIN eingegeben und angenommen)";
      note("SIM-Karte: PIN angenommen.");
      return true;
    }
    if (entered.kind != Reply::Kind::Ok) {
      pins_.awaitingReady();
      failure = Failure::ChannelDown;
      reason = describe(entered, "die PIN");
      simState_ = "verlangt die PIN; das Modem hat auf die Eingabe nicht geantwortet";
      return false;
    }
    if (clock_.nowMs() + kPinSettleStepMs > deadline) {
      // Still counted as refused; a READY seen later clears it.
      pins_.awaitingReady();
      failure = Failure::ChannelDown;
      reason = "Die SIM-Karte ist nach der PIN-Eingabe nicht bereit.";
      simState_ = "nach der PIN-Eingabe nicht bereit";
      return false;
    }
    clock_.sleepMs(kPinSettleStepMs);
  }
}

// Whether the SIM looked at the PIN an error answered: "incorrect password"
// says it did; "SIM busy" says it did not; for anything else a counter that
// did not drop says it did not, and without a counter it counts as a refusal.
bool ModemSession::entryTaken(const std::string& final) {
  const ModemError error = interpretModemError(final);
  if (error.family == ModemError::Family::Equipment) {
    if (error.code == kCmeIncorrectPassword) return true;
    if (error.code == kCmeSimBusy) return false;
  }
  if (!attemptsLeft_) return true;
  std::string source;
  const std::optional<int> now = queryPinAttempts(source);
  if (!now || *now < *attemptsLeft_) return true;
  return false;
}

ModemSession::SimAnswer ModemSession::askSim() {
  const Reply state = command("AT+CPIN?", settings_.replyTimeoutMs, "+CPIN:");
  if (state.kind == Reply::Kind::Error) {
    const ModemError error = interpretModemError(state.final);
    return error.family == ModemError::Family::Equipment && error.code == kCmeSimBusy ? SimAnswer::Busy
                                                                                     : SimAnswer::Other;
  }
  if (state.kind != Reply::Kind::Ok) return SimAnswer::Other;
  for (const std::string& l : state.lines) {
    if (startsWith(l, "+CPIN: READY")) return SimAnswer::Ready;
    if (trimmed(std::string_view(l).substr(std::min<size_t>(l.size(), 6))) == "SIM PIN") return SimAnswer::WantsPin;
  }
  return SimAnswer::Other;
}

bool ModemSession::readySim(std::string& reason, Failure& failure) {
  const Reply pin = command("AT+CPIN?", settings_.replyTimeoutMs, "+CPIN:");
  if (pin.kind == Reply::Kind::Timeout || pin.kind == Reply::Kind::LineFailed) {
    reason = describe(pin, "AT+CPIN?");
    failure = Failure::ChannelDown;
    return false;
  }
  std::string state;
  if (pin.kind == Reply::Kind::Error) {
    const ModemError error = interpretModemError(pin.final);
    const bool equipment = error.family == ModemError::Family::Equipment;
    if (equipment && error.code == kCmeSimPinRequired) {
      state = "SIM PIN";
    } else if (equipment && error.code == kCmeSimPukRequired) {
      state = "SIM PUK";
    } else {
      reason = "Die SIM-Karte ist nicht bereit (" + quoteModemError(pin.final) + " auf AT+CPIN?).";
      simState_ = error.description.empty() ? "nicht bereit" : error.description;
      failure = error.failure == Failure::ChannelUnusable ? Failure::ChannelUnusable : Failure::ChannelDown;
      if (failure == Failure::ChannelUnusable) note(reason);
      return false;
    }
  } else {
    for (const std::string& l : pin.lines)
      if (startsWith(l, "+CPIN:")) state = trimmed(std::string_view(l).substr(6));
  }

  if (state == "READY") {
    pins_.simReady();
    simState_ = "bereit";
    return true;
  }
  if (state == "SIM PIN") return unlockSim(reason, failure);
  if (state == "SIM PUK") {
    simState_ = "gesperrt, verlangt die PUK";
    reason = kPukReason;
    failure = Failure::ChannelUnusable;
    note("SIM-Karte: Die Karte ist gesperrt und verlangt die PUK (die PIN wurde zu oft falsch eingegeben). "
         "S.exe gibt keine PUK ein: bitte die Karte in einem Handy mit der PUK entsperren und die richtige "
         "PIN in S.toml eintragen.");
    return false;
  }
  if (state == "SIM PIN2" || state == "SIM PUK2") {
    // The second PIN guards other functions; SMS go out without it.
    simState_ = "bereit (verlangt die PIN2, die für SMS nicht nötig ist)";
    return true;
  }
  reason = "Die SIM-Karte ist nicht bereit (+CPIN: " + (state.empty() ? std::string("?") : state) + ").";
  simState_ = "nicht bereit (+CPIN: " + (state.empty() ? std::string("?") : state) + ")";
  // Codes for the modem itself (PH-SIM PIN, PH-NET PIN, ...) need a person.
  failure = startsWith(state, "PH") ? Failure::ChannelUnusable : Failure::ChannelDown;
  if (failure == Failure::ChannelUnusable) note(reason + " S.exe gibt diesen Code nicht ein.");
  return false;
}

bool ModemSession::openAndProbe(std::string& reason) {
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
  const int32_t probeTimeout = std::min(settings_.replyTimeoutMs, kProbeTimeoutMs);
  for (int i = 0; i < kProbeTries; ++i) {
    probe = command("AT", probeTimeout);
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
  // Numbered error codes instead of a bare ERROR; a modem that does not
  // know the command still works.
  const Reply codes = command("AT+CMEE=1", settings_.replyTimeoutMs);
  if (codes.kind == Reply::Kind::Timeout || codes.kind == Reply::Kind::LineFailed) {
    reason = describe(codes, "AT+CMEE=1");
    return false;
  }
  return true;
}

bool ModemSession::prepare(std::string& reason, Failure& failure) {
  failure = Failure::ChannelDown;
  if (!openAndProbe(reason)) return false;
  if (!readySim(reason, failure)) return false;
  failure = Failure::ChannelDown;
  const Reply textMode = command("AT+CMGF=1", settings_.replyTimeoutMs);
  if (textMode.kind != Reply::Kind::Ok) {
    reason = describe(textMode, "AT+CMGF=1");
    return false;
  }
  // The texts use only characters that read the same in every character
  // set, so a modem that refuses GSM still sends them right.
  const Reply charset = command("AT+CSCS=\"GSM\"", settings_.replyTimeoutMs);
  if (charset.kind == Reply::Kind::Timeout || charset.kind == Reply::Kind::LineFailed) {
    reason = describe(charset, "AT+CSCS");
    return false;
  }
  prepared_ = true;
  return true;
}

SendOutcome ModemSession::send(const std::string& number, const std::string& textCp1252) {
  // The number goes inside a command: nothing but a plain number may.
  if (!isPlainPhoneNumber(number))
    return failed(Failure::MessageRejected, "\"" + toGsmSafeText(number) + "\" ist keine gültige Mobilfunknummer.");
  std::string reason;
  Failure failure = Failure::ChannelDown;
  if (!prepared_ && !prepare(reason, failure)) return failAndReset(failure, reason);

  if (!line_.write("AT+CMGS=\"" + number + "\"\r"))
    return failAndReset(Failure::ChannelDown, describe({Reply::Kind::LineFailed, {}, {}}, ""));
  if (!awaitPrompt(settings_.replyTimeoutMs)) {
    const Reply after = awaitFinal(0);
    if (after.kind == Reply::Kind::Error) {
      return failAndReset(interpretModemError(after.final).failure, describe(after, "AT+CMGS"));
    }
    return failAndReset(Failure::ChannelDown,
                        "Das Modem fordert den Nachrichtentext nicht an (keine Eingabeaufforderung \">\").");
  }
  // From here the modem may send the message even if no answer comes back.
  committing();
  if (!line_.write(wireText(textCp1252) + kCtrlZ))
    return failAndReset(Failure::MessageRetry, describe({Reply::Kind::LineFailed, {}, {}}, ""));

  const Reply result = awaitFinal(settings_.sendTimeoutMs, "+CMGS:");
  if (result.kind == Reply::Kind::Error)
    return failAndReset(interpretModemError(result.final).failure, describe(result, "den Nachrichtentext"));
  if (result.kind != Reply::Kind::Ok) return failAndReset(Failure::MessageRetry, describe(result, "den Nachrichtentext"));
  std::string reference;
  for (const std::string& l : result.lines)
    if (startsWith(l, "+CMGS:")) reference = trimmed(std::string_view(l).substr(6));
  return {true, reference.empty() ? std::string("OK") : "Referenz " + reference, Failure::MessageRetry};
}

ModemInspection ModemSession::inspect() {
  ModemInspection out;
  std::string reason;
  Failure failure = Failure::ChannelDown;
  pending_.clear();
  const auto finish = [&](std::string problem) {
    out.problem = std::move(problem);
    line_.write(std::string_view(&kEscape, 1));
    line_.close();
    prepared_ = false;
    return out;
  };
  if (!line_.open(reason)) return finish(reason);
  line_.close();
  out.opened = true;
  if (!openAndProbe(reason)) return finish(reason);
  out.answers = true;
  for (const char* ask : {"AT+CGMI", "AT+CGMM"}) {
    const Reply r = command(ask, settings_.replyTimeoutMs);
    if (r.kind == Reply::Kind::Ok && !r.lines.empty()) {
      std::string value = trimmed(r.lines.front());
      for (const char* prefix : {"+CGMI:", "+CGMM:"})
        if (startsWith(value, prefix)) value = trimmed(std::string_view(value).substr(6));
      out.identity += (out.identity.empty() ? "" : " ") + value;
    }
  }
  const bool simReady = readySim(reason, failure);
  out.simState = simState_;
  out.pinAttemptsLeft = attemptsLeft_;
  out.simReady = simReady;
  if (!simReady) return finish(reason);

  const Reply reg = command("AT+CREG?", settings_.replyTimeoutMs, "+CREG:");
  if (reg.kind == Reply::Kind::Ok) out.registration = parseRegistration(reg.lines);
  const Reply csq = command("AT+CSQ", settings_.replyTimeoutMs, "+CSQ:");
  if (csq.kind == Reply::Kind::Ok) out.signal = parseSignal(csq.lines);
  const Reply cops = command("AT+COPS?", settings_.replyTimeoutMs, "+COPS:");
  if (cops.kind == Reply::Kind::Ok) out.operatorName = parseOperator(cops.lines);
  const Reply textMode = command("AT+CMGF=1", settings_.replyTimeoutMs);
  out.textMode = textMode.kind == Reply::Kind::Ok;

  if (!out.textMode) return finish(describe(textMode, "AT+CMGF=1"));
  if (!out.registration) return finish("Das Modem sagt nicht, ob es im Netz eingebucht ist (AT+CREG?).");
  if (*out.registration != 1 && *out.registration != 5)
    return finish("Das Modem ist nicht im Netz eingebucht (" + describeRegistration(*out.registration) + ").");
  return finish("");
}

}  // namespace kantiq::sender
