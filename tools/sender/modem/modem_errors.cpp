#include "sender/modem/modem_errors.h"

#include <algorithm>
#include <array>

namespace kantiq::sender {
namespace {

struct KnownCode {
  int code;
  const char* description;
  Failure failure;
};

using F = Failure;

// +CMS ERROR: the network's causes for a refused message (below 256) and
// the modem's own (300 and up).
constexpr std::array kMessageCodes{
    KnownCode{1, "Nummer nicht vergeben", F::MessageRejected},
    KnownCode{8, "vom Netzbetreiber gesperrt", F::ChannelUnusable},
    KnownCode{10, "Sendesperre der SIM-Karte", F::ChannelUnusable},
    KnownCode{21, "das Netz hat die SMS abgewiesen", F::MessageRejected},
    KnownCode{22, "Speicher des Empfängers voll", F::MessageRetry},
    KnownCode{27, "Empfänger nicht erreichbar", F::MessageRetry},
    KnownCode{28, "Teilnehmer unbekannt", F::MessageRejected},
    KnownCode{29, "vom Netz abgelehnt", F::MessageRetry},
    KnownCode{30, "Teilnehmer unbekannt", F::MessageRejected},
    KnownCode{38, "Netz gestört", F::ChannelDown},
    KnownCode{41, "vorübergehender Netzfehler", F::ChannelDown},
    KnownCode{42, "Netz überlastet", F::ChannelDown},
    KnownCode{47, "keine Netzkapazität frei", F::ChannelDown},
    KnownCode{50, "SMS-Dienst nicht freigeschaltet", F::ChannelUnusable},
    KnownCode{69, "vom Netz nicht unterstützt", F::ChannelUnusable},
    KnownCode{95, "ungültige Nachricht", F::MessageRejected},
    KnownCode{96, "ungültige Nachricht", F::MessageRejected},
    KnownCode{97, "ungültige Nachricht", F::MessageRejected},
    KnownCode{99, "ungültige Nachricht", F::MessageRejected},
    KnownCode{111, "Protokollfehler", F::MessageRetry},
    KnownCode{127, "Fehler beim Übergang in ein anderes Netz", F::MessageRetry},
    KnownCode{192, "SMS-Zentrale beschäftigt", F::ChannelDown},
    KnownCode{193, "keine Berechtigung für die SMS-Zentrale", F::ChannelUnusable},
    KnownCode{194, "Störung der SMS-Zentrale", F::ChannelDown},
    KnownCode{195, "ungültige Empfängernummer", F::MessageRejected},
    KnownCode{196, "Empfänger gesperrt", F::MessageRejected},
    KnownCode{300, "Modemfehler", F::MessageRetry},
    KnownCode{301, "SMS-Dienst des Modems belegt", F::ChannelDown},
    KnownCode{302, "Vorgang nicht erlaubt", F::MessageRetry},
    KnownCode{303, "Vorgang nicht unterstützt", F::ChannelUnusable},
    KnownCode{304, "ungültige Angabe im PDU-Modus", F::MessageRejected},
    KnownCode{305, "ungültige Nummer oder ungültiger Text", F::MessageRejected},
    KnownCode{310, "keine SIM-Karte eingelegt", F::ChannelUnusable},
    KnownCode{311, "die SIM-Karte verlangt die PIN", F::ChannelUnusable},
    KnownCode{312, "das Modem verlangt die PIN einer anderen SIM-Karte", F::ChannelUnusable},
    KnownCode{313, "SIM-Karte defekt", F::ChannelUnusable},
    KnownCode{314, "SIM-Karte beschäftigt", F::ChannelDown},
    KnownCode{315, "falsche SIM-Karte", F::ChannelUnusable},
    KnownCode{316, "die SIM-Karte verlangt die PUK", F::ChannelUnusable},
    KnownCode{317, "die SIM-Karte verlangt die PIN2", F::ChannelUnusable},
    KnownCode{318, "die SIM-Karte verlangt die PUK2", F::ChannelUnusable},
    KnownCode{320, "Speicherfehler", F::MessageRetry},
    KnownCode{322, "Speicher voll", F::MessageRetry},
    KnownCode{330, "Nummer der SMS-Zentrale unbekannt", F::ChannelUnusable},
    KnownCode{331, "kein Netz", F::ChannelDown},
    KnownCode{332, "Zeitüberschreitung im Netz", F::ChannelDown},
    KnownCode{500, "unbekannter Fehler", F::MessageRetry},
};

// +CME ERROR: the modem and its SIM.
constexpr std::array kEquipmentCodes{
    KnownCode{0, "Modemfehler", F::MessageRetry},
    KnownCode{3, "Vorgang nicht erlaubt", F::MessageRetry},
    KnownCode{4, "Vorgang nicht unterstützt", F::ChannelUnusable},
    KnownCode{kCmeSimNotInserted, "keine SIM-Karte eingelegt", F::ChannelUnusable},
    KnownCode{kCmeSimPinRequired, "die SIM-Karte verlangt die PIN", F::ChannelUnusable},
    KnownCode{kCmeSimPukRequired, "die SIM-Karte verlangt die PUK", F::ChannelUnusable},
    KnownCode{kCmeSimFailure, "SIM-Karte defekt", F::ChannelUnusable},
    KnownCode{kCmeSimBusy, "SIM-Karte beschäftigt", F::ChannelDown},
    KnownCode{kCmeSimWrong, "falsche SIM-Karte", F::ChannelUnusable},
    KnownCode{kCmeIncorrectPassword, "falsche PIN", F::ChannelUnusable},
    KnownCode{17, "die SIM-Karte verlangt die PIN2", F::ChannelUnusable},
    KnownCode{18, "die SIM-Karte verlangt die PUK2", F::ChannelUnusable},
    KnownCode{20, "Speicher voll", F::MessageRetry},
    KnownCode{30, "kein Netz", F::ChannelDown},
    KnownCode{31, "Zeitüberschreitung im Netz", F::ChannelDown},
    KnownCode{32, "nur Notrufe erlaubt", F::ChannelDown},
    KnownCode{100, "unbekannter Fehler", F::MessageRetry},
};

// The words a modem answers with when extended codes are set to text.
struct KnownWords {
  const char* words;
  int messageCode;
  int equipmentCode;
};
constexpr std::array kWords{
    KnownWords{"sim not inserted", 310, kCmeSimNotInserted},
    KnownWords{"sim pin required", 311, kCmeSimPinRequired},
    KnownWords{"sim puk required", 316, kCmeSimPukRequired},
    KnownWords{"sim failure", 313, kCmeSimFailure},
    KnownWords{"sim busy", 314, kCmeSimBusy},
    KnownWords{"sim wrong", 315, kCmeSimWrong},
    KnownWords{"incorrect password", -1, kCmeIncorrectPassword},
    KnownWords{"no network service", 331, 30},
    KnownWords{"network timeout", 332, 31},
    KnownWords{"operation not allowed", 302, 3},
    KnownWords{"operation not supported", 303, 4},
    KnownWords{"invalid text mode parameter", 305, -1},
    KnownWords{"smsc address unknown", 330, -1},
    KnownWords{"unknown error", 500, 100},
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

template <size_t N>
const KnownCode* find(const std::array<KnownCode, N>& table, int code) {
  const auto it = std::find_if(table.begin(), table.end(), [&](const KnownCode& k) { return k.code == code; });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace

ModemError interpretModemError(std::string_view finalLine) {
  ModemError error;
  std::string_view rest;
  if (finalLine.substr(0, 10) == "+CMS ERROR") {
    error.family = ModemError::Family::Message;
    rest = finalLine.substr(10);
  } else if (finalLine.substr(0, 10) == "+CME ERROR") {
    error.family = ModemError::Family::Equipment;
    rest = finalLine.substr(10);
  } else {
    return error;
  }
  if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
  rest = trim(rest);

  std::optional<int> code;
  if (!rest.empty() && rest.size() <= 4 && std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    code = std::stoi(std::string(rest));
  } else {
    const std::string words = lower(rest);
    for (const KnownWords& w : kWords) {
      if (words != w.words) continue;
      const int c = error.family == ModemError::Family::Message ? w.messageCode : w.equipmentCode;
      if (c >= 0) code = c;
      break;
    }
  }
  error.code = code;
  if (!code) return error;
  const KnownCode* known = error.family == ModemError::Family::Message ? find(kMessageCodes, *code)
                                                                       : find(kEquipmentCodes, *code);
  if (known != nullptr) {
    error.description = known->description;
    error.failure = known->failure;
  }
  return error;
}

std::string quoteModemError(std::string_view finalLine) {
  const ModemError error = interpretModemError(finalLine);
  std::string out = "\"" + std::string(finalLine) + "\"";
  if (!error.description.empty()) out += " (" + error.description + ")";
  return out;
}

}  // namespace kantiq::sender
