#include "sender/delivery/check_report.h"

#include "sender/delivery/delivery.h"

namespace kantiq::sender {
namespace {

std::string count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Adds the modem's lines; true when a message could go out that way.
bool reportModem(const SenderConfig& config, const ModemInspection& m, std::vector<std::string>& out) {
  out.push_back("  Anschluss " + config.modem.port + ": " + (m.opened ? "geöffnet" : "lässt sich nicht öffnen"));
  if (m.opened)
    out.push_back(std::string("  Modem: ") + (m.answers ? "antwortet auf AT" : "antwortet nicht auf AT") +
                  (m.identity.empty() ? "" : " (" + m.identity + ")"));
  if (m.answers) {
    std::string sim = "  SIM-Karte: " + (m.simState.empty() ? std::string("unbekannt") : m.simState);
    if (m.pinAttemptsLeft) sim += "; noch " + std::to_string(*m.pinAttemptsLeft) + " PIN-Versuche";
    out.push_back(sim);
  }
  if (m.simReady) {
    out.push_back("  Netz (AT+CREG?): " +
                  (m.registration ? describeRegistration(*m.registration) : std::string("keine Angabe")));
    out.push_back("  Signal (AT+CSQ): " + (m.signal ? describeSignal(*m.signal) : std::string("keine Angabe")));
    if (!m.operatorName.empty()) out.push_back("  Netzbetreiber: " + m.operatorName);
    if (m.signal && (*m.signal < 10 || *m.signal == 99))
      out.push_back("  Hinweis: Das Signal ist schwach; eine andere Stelle für die Antenne kann helfen.");
  }
  if (m.problem.empty()) {
    out.push_back("  => Über das Modem kann eine SMS gesendet werden.");
    return true;
  }
  out.push_back("  => Über das Modem kann keine SMS gesendet werden: " + m.problem);
  return false;
}

// What an answer to the check's HEAD request says. Only faults are sure:
// no answer proves that sending works, short of sending.
enum class GatewayState { Fault, Answers };

GatewayState reportGateway(const GatewayProbe& g, std::vector<std::string>& out, std::string& problem) {
  out.push_back("  Server: " + g.host + " (Port " + std::to_string(g.port) + ", " +
                (g.secure ? "verschlüsselt über TLS" : "unverschlüsselt über http") + ")");
  if (!g.proxy.empty()) out.push_back("  Proxy: " + g.proxy);
  out.push_back("  Name: " + std::string(g.resolved ? "aufgelöst (" + g.addresses + ")" : "nicht aufgelöst: " + g.addresses));
  problem = g.problem;
  if (g.answered) {
    const int32_t s = g.status;
    const std::string status = "HTTP " + std::to_string(s);
    out.push_back("  Verbindung: Der Server antwortet" + std::string(g.secure ? " über TLS" : "") + " (" + status + ").");
    if (s == 401 || s == 403)
      problem = "Der Server lehnt den Zugang ab (" + status +
                "): Zugangsdaten oder API-Schlüssel in [http] \"url\" oder \"kopfzeilen\" prüfen.";
    else if (s == 407)
      problem = "Der Proxy verlangt eine Anmeldung (" + status +
                "); S.exe kann sich nicht am Proxy anmelden: [http] proxy prüfen.";
    else if (s >= 500 && s <= 599)
      problem = "Das Gateway meldet eine Störung (" + status + "); später noch einmal prüfen.";
    else if (s == 408 || s == 429)
      problem = "Das Gateway ist überlastet (" + status + "); später noch einmal prüfen.";
    if (problem.empty()) {
      out.push_back(s == 404 || s == 405
                        ? "  => Das HTTP-Gateway ist erreichbar. " + status +
                              " beweist weder, dass das Gateway SMS annimmt, noch das Gegenteil; "
                              "das zeigt erst eine Test-SMS."
                        : "  => Das HTTP-Gateway ist erreichbar; ob es SMS annimmt, zeigt erst eine Test-SMS.");
      return GatewayState::Answers;
    }
  }
  out.push_back("  => Über das HTTP-Gateway kann keine SMS gesendet werden: " + problem);
  return GatewayState::Fault;
}

}  // namespace

CheckReport buildCheckReport(const SenderConfig& config, const std::string& configPath,
                             const ModemInspection* modem, const GatewayProbe* gateway) {
  CheckReport r;
  auto& out = r.lines;
  out.push_back("S.exe: Prüfung der Einrichtung (es wird nichts gesendet)");
  out.push_back("Konfiguration: " + configPath + " ist in Ordnung.");
  std::string way = "Weg: " + routeName(config, config.channel);
  if (config.fallback) way += ", Ersatzweg: " + routeName(config, *config.fallback);
  out.push_back(way);
  if (const std::string note = cappedWaitNote(config.retry); !note.empty()) out.push_back(note);
  out.push_back("Empfängergruppen: " + std::to_string(config.groups.size()));
  for (const RecipientGroup& g : config.groups) {
    std::string line = "  \"" + g.name + "\": ";
    if (g.allAlarms) {
      line += "alle Alarmierungen";
    } else if (!g.keywords.empty()) {
      line += "Stichworte";
      for (size_t i = 0; i < g.keywords.size(); ++i) line += (i == 0 ? " \"" : ", \"") + g.keywords[i] + "\"";
    } else {
      line += "keine Alarmierungen";
    }
    if (g.notices) line += ", Hinweise";
    line += "; " + count(g.numbers.size(), "Nummer", "Nummern");
    out.push_back(line);
  }
  const std::vector<Recipient> noticed = selectNoticeRecipients(config);
  if (noticed.empty()) {
    out.push_back("Hinweise: Keine Gruppe bekommt Hinweise, also erfährt niemand per SMS von Störungen am "
                  "Alarm-PC. Dafür bei einer Gruppe (z. B. dem Gerätewart) \"hinweise = true\" eintragen.");
  } else {
    std::string groups;
    for (const RecipientGroup& g : config.groups)
      if (g.notices) groups += (groups.empty() ? "\"" : ", \"") + g.name + "\"";
    out.push_back("Hinweise an: " + groups + " (" + count(noticed.size(), "Nummer", "Nummern") + ")");
  }
  std::vector<std::string> working;
  std::vector<std::string> unproven;  // no fault seen, but nothing proven either
  std::vector<std::string> problems;
  const auto channel = [&](ChannelKind kind) {
    out.push_back(routeName(config, kind) + ":");
    bool ok = false;
    if (kind == ChannelKind::Modem && modem != nullptr) {
      ok = reportModem(config, *modem, out);
      if (!ok) problems.push_back(modem->problem);
    } else if (kind == ChannelKind::Http && gateway != nullptr) {
      std::string problem;
      if (reportGateway(*gateway, out, problem) == GatewayState::Answers)
        unproven.push_back(routeName(config, kind));
      else
        problems.push_back(problem);
    } else {
      out.push_back("  nicht geprüft");
    }
    if (ok) working.push_back(routeName(config, kind));
  };
  channel(config.channel);
  if (config.fallback) channel(*config.fallback);

  r.canSend = !working.empty() || !unproven.empty();
  if (working.empty() && r.canSend) {
    r.summary = "Prüfung: Keine Störung gefunden: " + unproven.front() +
                " ist erreichbar; ob es SMS annimmt, zeigt erst eine Test-SMS.";
    if (!problems.empty()) r.summary += " Der andere Weg geht nicht: " + problems.front();
  } else if (r.canSend) {
    r.summary = "Prüfung: Eine Alarmierung kann gesendet werden (über " + working.front() + ").";
    if (!problems.empty()) r.summary += " Der andere Weg geht nicht: " + problems.front();
  } else {
    r.summary = "Prüfung: Es kann keine SMS gesendet werden: " + (problems.empty() ? std::string("?") : problems.front());
  }
  out.push_back("Ergebnis: " + r.summary.substr(r.summary.find(':') + 2));
  return r;
}

}  // namespace kantiq::sender
