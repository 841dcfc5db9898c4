#include "sender/sim/pin_guard.h"

#include <algorithm>
#include <random>

#include "sender/sim/sha256.h"

namespace kantiq::sender {
namespace {

constexpr std::string_view kHeader = "# Kantiq S.exe SIM-Status 1";
constexpr int kSaltBytes = 16;

bool isHex(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string newSalt() {
  static const char* hex = "0123456789abcdef";
  std::random_device random;
  std::string out;
  for (int i = 0; i < kSaltBytes; ++i) {
    const unsigned byte = random() & 0xFF;
    out += hex[byte >> 4];
    out += hex[byte & 15];
  }
  return out;
}

}  // namespace

std::string encodeSimRecord(const SimRecord& record) {
  std::string out(kHeader);
  out += "\r\n# S.exe merkt sich hier, ob die SIM-Karte eine PIN abgelehnt hat (nur als Pruefsumme,\r\n"
         "# nie die PIN selbst). Eine abgelehnte PIN wird nicht noch einmal eingegeben.\r\n"
         "# Diese Datei nur loeschen, wenn die PIN in S.toml sicher stimmt.\r\n";
  out += "salz=" + record.salt + "\r\n";
  out += "abgelehnt=" + record.refusedPinHash + "\r\n";
  out += "fehleingaben=" + std::to_string(record.refusedEntries) + "\r\n";
  if (record.awaitingReady) out += "offen=1\r\n";
  return out;
}

bool decodeSimRecord(std::string_view text, SimRecord& out) {
  out = SimRecord{};
  if (text.substr(0, kHeader.size()) != kHeader) return false;
  bool haveSalt = false, haveHash = false, haveCount = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "salz" && isHex(value) && !value.empty()) {
      out.salt = std::string(value);
      haveSalt = true;
    } else if (key == "abgelehnt" && isHex(value) && (value.empty() || value.size() == 64)) {
      out.refusedPinHash = std::string(value);
      haveHash = true;
    } else if (key == "fehleingaben" && value.size() == 1 && value[0] >= '0' && value[0] <= '9') {
      out.refusedEntries = value[0] - '0';
      haveCount = true;
    } else if (key == "offen" && (value == "0" || value == "1")) {
      out.awaitingReady = value == "1";
    } else {
      return false;
    }
  }
  return haveSalt && haveHash && haveCount;
}

PinGuard::PinGuard(StateFile& file) : file_(file) {
  std::string text;
  if (!file_.load(text)) {
    reliable_ = false;
  } else if (!text.empty() && !decodeSimRecord(text, record_)) {
    // Not ours or damaged: what it said is unknown.
    reliable_ = false;
    record_ = SimRecord{};
  }
  if (record_.salt.empty()) record_.salt = newSalt();
}

std::string PinGuard::hashOf(const std::string& pin) const { return sha256Hex(record_.salt + ":" + pin); }

bool PinGuard::refusedBefore(const std::string& pin) const {
  return !record_.refusedPinHash.empty() && record_.refusedPinHash == hashOf(pin);
}

std::optional<int> PinGuard::countedAttemptsLeft() const {
  if (!reliable_) return std::nullopt;
  return std::max(0, kSimPinAttempts - record_.refusedEntries);
}

bool PinGuard::store() {
  if (!file_.save(encodeSimRecord(record_))) reliable_ = false;
  return reliable_;
}

bool PinGuard::beginEntry(const std::string& pin, std::optional<int> attemptsLeft, std::string& reason) {
  if (refusedBefore(pin)) {
    reason = "Die SIM-Karte hat die PIN aus S.toml schon einmal abgelehnt; sie wird nicht noch einmal "
             "eingegeben, damit die Karte nicht gesperrt wird. Bitte die PIN in S.toml berichtigen.";
    return false;
  }
  const std::optional<int> left = attemptsLeft ? attemptsLeft : countedAttemptsLeft();
  if (!left) {
    reason = "S.exe kann sich nicht merken, ob die SIM-Karte eine PIN abgelehnt hat (" +
             std::string(kSimStateFileName) +
             " ist nicht les- oder schreibbar), und das Modem meldet die verbleibenden Versuche nicht; "
             "die PIN wird deshalb nicht eingegeben.";
    return false;
  }
  if (*left <= 1) {
    reason = "Die SIM-Karte hat nur noch " + std::string(*left == 1 ? "einen PIN-Versuch" : "keinen PIN-Versuch") +
             "; S.exe gibt die PIN nicht ein, damit die Karte nicht gesperrt wird. Bitte die PIN von Hand "
             "prüfen (z. B. in einem Handy).";
    return false;
  }
  beforeEntry_ = record_;
  record_.refusedPinHash = hashOf(pin);
  record_.awaitingReady = false;
  ++record_.refusedEntries;
  if (record_.refusedEntries > 9) record_.refusedEntries = 9;
  if (!store() && !attemptsLeft) {
    reason = "Der Zustand der SIM-Karte lässt sich nicht in " + std::string(kSimStateFileName) +
             " speichern, und das Modem meldet die verbleibenden Versuche nicht; die PIN wird deshalb nicht "
             "eingegeben.";
    return false;
  }
  return true;
}

void PinGuard::accepted() {
  record_.refusedPinHash.clear();
  record_.refusedEntries = 0;
  record_.awaitingReady = false;
  store();
}

void PinGuard::notTaken() {
  record_ = beforeEntry_;
  store();
}

void PinGuard::awaitingReady() {
  record_.awaitingReady = true;
  store();
}

void PinGuard::simReady() {
  if (record_.awaitingReady) {
    accepted();
    return;
  }
  if (record_.refusedEntries == 0) return;
  record_.refusedEntries = 0;
  store();
}

}  // namespace kantiq::sender
