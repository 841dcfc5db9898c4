#include "check_report.h"

#include "delivery.h"

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

bool reportGateway(const GatewayProbe& g, std::vector<std::string>& out) {
  out.push_back("  Server: " + g.host + " (Port " + std::to_string(g.port) + ", " +
                (g.secure ? "verschlüsselt über TLS" : "unverschlüsselt über http") + ")");
  if (!g.proxy.empty()) out.push_back("  Proxy: " + g.proxy);
  out.push_back("  Name: " + std::string(g.resolved ? "aufgelöst (" + g.addresses + ")" : "nicht aufgelöst: " + g.addresses));
  if (g.answered) {
    out.push_back("  Verbindung: Der Server antwortet" + std::string(g.secure ? " über TLS" : "") + " (HTTP " +
                  std::to_string(g.status) + ").");
    out.push_back("  => Über das HTTP-Gateway kann eine SMS gesendet werden (ob die Zugangsdaten stimmen, "
                  "zeigt erst eine Test-SMS).");
    return true;
  }
  out.push_back("  => Über das HTTP-Gateway kann keine SMS gesendet werden: " + g.problem);
  return false;
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
  out.push_back("Empfängergruppen: " + std::to_string(config.groups.size()));
  for (const RecipientGroup& g : config.groups) {
    std::string line = "  \"" + g.name + "\": ";
    if (g.allAlarms) {
      line += "alle Alarmierungen";
    } else {
      line += "Stichworte";
      for (size_t i = 0; i < g.keywords.size(); ++i) line += (i == 0 ? " \"" : ", \"") + g.keywords[i] + "\"";
    }
    line += "; " + count(g.numbers.size(), "Nummer", "Nummern");
    out.push_back(line);
  }
  std::vector<std::string> working;
  std::vector<std::string> problems;
  const auto channel = [&](ChannelKind kind) {
    out.push_back(routeName(config, kind) + ":");
    bool ok = false;
    if (kind == ChannelKind::Modem && modem != nullptr) {
      ok = reportModem(config, *modem, out);
      if (!ok) problems.push_back(modem->problem);
    } else if (kind == ChannelKind::Http && gateway != nullptr) {
      ok = reportGateway(*gateway, out);
      if (!ok) problems.push_back(gateway->problem);
    } else {
      out.push_back("  nicht geprüft");
    }
    if (ok) working.push_back(routeName(config, kind));
  };
  channel(config.channel);
  if (config.fallback) channel(*config.fallback);

  r.canSend = !working.empty();
  if (r.canSend) {
    r.summary = "Prüfung: Eine Alarmierung kann gesendet werden (über " + working.front() + ").";
    if (working.size() < (config.fallback ? 2u : 1u))
      r.summary += " Der andere Weg geht nicht: " + (problems.empty() ? std::string("?") : problems.front());
  } else {
    r.summary = "Prüfung: Es kann keine SMS gesendet werden: " + (problems.empty() ? std::string("?") : problems.front());
  }
  out.push_back("Ergebnis: " + r.summary.substr(r.summary.find(':') + 2));
  return r;
}

}  // namespace kantiq::sender
