#include "sender/config/sender_config.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <set>

#include "common/toml_values.h"
#include "sender/config/url.h"
#include "sender/text/sms_text.h"

namespace kantiq::sender {
namespace {

// Thrown inside the parser only; parseSenderConfig turns it into a result.
struct ConfigError {
  std::string message;
};

std::string where(const toml::node& node) { return tool::linePrefix(node); }

[[noreturn]] void fail(std::string message) { throw ConfigError{std::move(message)}; }

// The shared reading of a value, its fault thrown: the text is UTF-8, the
// sender's messages are Windows-1252 and end with a full stop.
template <typename T>
std::optional<T> orFail(tool::TomlValue<T> read) {
  if (read.fault) {
    const std::string utf8 = read.fault->text() + ".";
    std::string message;
    if (!utf8ToCp1252(utf8, message)) message = utf8;
    fail(message);
  }
  return std::move(read.value);
}

// Key names and messages are ASCII/German; config texts are UTF-8 and become
// Windows-1252 where the sender works with them.
std::string toCp1252(const toml::node& node, std::string_view utf8, std::string_view key) {
  std::string out;
  if (!utf8ToCp1252(utf8, out))
    fail(where(node) + "\"" + std::string(key) +
         "\" enthält Zeichen, die der Windows-Zeichensatz nicht kennt.");
  return out;
}

void rejectUnknownKeys(const toml::table& table, std::string_view section,
                       std::initializer_list<std::string_view> known) {
  for (const auto& [key, node] : table) {
    if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
      std::string name;
      if (!utf8ToCp1252(key.str(), name)) name = "?";
      fail(where(node) + "Unbekannter Eintrag \"" + name + "\"" +
           (section.empty() ? std::string() : " in [" + std::string(section) + "]") + ".");
    }
  }
}

const toml::table* optionalTable(const toml::table& parent, std::string_view key) {
  return orFail(tool::tableAt(parent, key)).value_or(nullptr);
}

std::optional<std::string> optionalString(const toml::table& table, std::string_view key) {
  return orFail(tool::stringAt(table, key));
}

std::string requiredString(const toml::table& table, std::string_view key, std::string_view section) {
  auto value = optionalString(table, key);
  if (!value || value->empty())
    fail(where(table) + "In [" + std::string(section) + "] fehlt \"" + std::string(key) + "\".");
  return *value;
}

std::optional<bool> optionalBool(const toml::table& table, std::string_view key) {
  return orFail(tool::booleanAt(table, key));
}

// An integer in [lo, hi]; absent: `fallback`.
int64_t boundedInteger(const toml::table& table, std::string_view key, int64_t lo, int64_t hi,
                       int64_t fallback) {
  return orFail(tool::integerAt(table, key, lo, hi)).value_or(fallback);
}

std::vector<std::string> stringList(const toml::table& table, std::string_view key) {
  return orFail(tool::stringsAt(table, key)).value_or(std::vector<std::string>());
}

ModemSettings readModem(const toml::table& t) {
  rejectUnknownKeys(t, "modem", {"anschluss", "baudrate", "pin", "antwortzeit_s", "sendezeit_s"});
  ModemSettings m;
  std::string port = requiredString(t, "anschluss", "modem");
  std::string upper = port;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
  bool valid = upper.size() >= 4 && upper.size() <= 6 && upper.compare(0, 3, "COM") == 0 &&
               upper[3] != '0' &&
               std::all_of(upper.begin() + 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (valid) valid = std::stoi(upper.substr(3)) <= 256;
  if (!valid) fail(where(*t.get("anschluss")) + "\"anschluss\" muss ein serieller Anschluss wie \"COM3\" sein.");
  m.port = upper;
  m.baudRate = static_cast<uint32_t>(boundedInteger(t, "baudrate", 300, 921600, 115200));
  if (auto pin = optionalString(t, "pin")) {
    const bool digits = std::all_of(pin->begin(), pin->end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!pin->empty() && (!digits || pin->size() < 4 || pin->size() > 8))
      fail(where(*t.get("pin")) + "\"pin\" muss aus 4 bis 8 Ziffern bestehen.");
    m.pin = *pin;
  }
  m.replyTimeoutMs = static_cast<int32_t>(boundedInteger(t, "antwortzeit_s", 1, 120, 10)) * 1000;
  m.sendTimeoutMs = static_cast<int32_t>(boundedInteger(t, "sendezeit_s", 5, 300, 60)) * 1000;
  return m;
}

bool isHeaderNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// "methode", "format" and "inhalt": what the request looks like.
void readRequestForm(const toml::table& t, HttpSettings& h) {
  if (auto method = optionalString(t, "methode")) {
    std::string m = *method;
    for (char& c : m) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
    if (m != "GET" && m != "POST" && m != "PUT")
      fail(where(*t.get("methode")) + "\"methode\" muss \"GET\", \"POST\" oder \"PUT\" sein.");
    h.method = m;
  }
  if (auto format = optionalString(t, "format")) {
    if (*format == "form")
      h.format = BodyFormat::Form;
    else if (*format == "json")
      h.format = BodyFormat::Json;
    else if (*format == "text")
      h.format = BodyFormat::Text;
    else
      fail(where(*t.get("format")) + "\"format\" muss \"form\", \"json\" oder \"text\" sein.");
  }
  if (auto body = optionalString(t, "inhalt")) h.bodyTemplate = *body;
  if (h.format != BodyFormat::None && h.bodyTemplate.empty())
    fail(where(t) + "In [http] ist ein \"format\" angegeben, aber kein \"inhalt\".");
  if (h.format == BodyFormat::None && !h.bodyTemplate.empty())
    fail(where(t) + "In [http] ist ein \"inhalt\" angegeben, aber kein \"format\".");
  if (h.method == "GET" && h.format != BodyFormat::None)
    fail(where(t) + "Eine Anfrage mit \"methode\" = \"GET\" hat keinen \"inhalt\".");
}

// [http.kopfzeilen]: extra header lines, e.g. for an API key.
void readHeaders(const toml::table& t, HttpSettings& h) {
  const toml::table* headers = optionalTable(t, "kopfzeilen");
  if (!headers) return;
  for (const auto& [key, node] : *headers) {
    const std::string_view name = key.str();
    if (name.empty() || !std::all_of(name.begin(), name.end(), isHeaderNameChar))
      fail(where(node) + "Ungültiger Name einer Kopfzeile in [http.kopfzeilen].");
    if (!node.is_string()) fail(where(node) + "Kopfzeilen müssen Texte sein.");
    const std::string& value = node.as_string()->get();
    if (value.find_first_of("\r\n") != std::string::npos)
      fail(where(node) + "Kopfzeilen dürfen keinen Zeilenumbruch enthalten.");
    h.headers.emplace_back(std::string(name), value);
  }
}

// "erfolg_status" and "erfolg_text": what counts as sent.
void readSuccess(const toml::table& t, HttpSettings& h) {
  if (const toml::node* node = t.get("erfolg_status")) {
    const toml::array* array = node->as_array();
    if (!array) fail(where(*node) + "\"erfolg_status\" muss eine Liste von Zahlen sein, z. B. [200, 202].");
    for (const toml::node& item : *array) {
      const auto v = item.value<int64_t>();
      if (!item.is_integer() || !v || *v < 100 || *v > 599)
        fail(where(item) + "\"erfolg_status\" enthält keinen gültigen HTTP-Status (100 bis 599).");
      h.successStatuses.push_back(static_cast<int32_t>(*v));
    }
  }
  if (auto pattern = optionalString(t, "erfolg_text")) h.successPattern = *pattern;
}

// "host:port", an optional "http://" before it and '/' after it dropped.
bool isProxyAddress(std::string_view p) {
  const size_t colon = p.rfind(':');
  const std::string_view port = colon == std::string_view::npos ? std::string_view() : p.substr(colon + 1);
  return colon != std::string_view::npos && colon > 0 && !port.empty() && port.size() <= 5 &&
         std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         std::stoi(std::string(port)) >= 1 && std::stoi(std::string(port)) <= 65535 &&
         std::none_of(p.begin(), p.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@'; });
}

void readProxy(const toml::table& t, HttpSettings& h) {
  const auto proxy = optionalString(t, "proxy");
  if (!proxy) return;
  if (*proxy == "system") {
    h.proxyMode = HttpSettings::Proxy::System;
    return;
  }
  if (*proxy == "direkt") {
    h.proxyMode = HttpSettings::Proxy::Direct;
    return;
  }
  std::string_view p = *proxy;
  if (p.substr(0, 7) == "http://") p.remove_prefix(7);
  while (!p.empty() && p.back() == '/') p.remove_suffix(1);
  if (!isProxyAddress(p))
    fail(where(*t.get("proxy")) +
         "\"proxy\" muss \"system\", \"direkt\" oder ein Proxy wie \"proxy.example.net:8080\" sein.");
  h.proxyMode = HttpSettings::Proxy::Named;
  h.proxy = std::string(p);
}

HttpSettings readHttp(const toml::table& t) {
  rejectUnknownKeys(t, "http", {"url", "methode", "format", "inhalt", "kopfzeilen", "erfolg_status",
                                "erfolg_text", "zeitlimit_s", "gsm_umschreiben", "proxy"});
  HttpSettings h;
  h.url = requiredString(t, "url", "http");
  ParsedUrl parsed;
  if (!parseUrl(h.url, parsed))
    fail(where(*t.get("url")) + "\"url\" ist keine gültige Adresse (http://... oder https://...).");
  readRequestForm(t, h);
  readHeaders(t, h);
  readSuccess(t, h);
  h.timeoutMs = static_cast<int32_t>(boundedInteger(t, "zeitlimit_s", 1, 120, 30)) * 1000;
  if (auto b = optionalBool(t, "gsm_umschreiben")) h.gsmSafeText = *b;
  readProxy(t, h);
  return h;
}

RetrySettings readRetry(const toml::table& t) {
  rejectUnknownKeys(t, "wiederholung", {"versuche", "erste_wartezeit_s", "laengste_wartezeit_s", "gesamtzeit_min"});
  RetrySettings r;
  r.maxAttempts = static_cast<int32_t>(boundedInteger(t, "versuche", 1, 100, 5));
  r.firstDelayMs = static_cast<int32_t>(boundedInteger(t, "erste_wartezeit_s", 1, 600, 10)) * 1000;
  r.maxDelayMs = static_cast<int32_t>(boundedInteger(t, "laengste_wartezeit_s", 1, 1800, 120)) * 1000;
  if (r.maxDelayMs < r.firstDelayMs)
    fail(where(t) + "\"laengste_wartezeit_s\" darf nicht kleiner als \"erste_wartezeit_s\" sein.");
  r.totalLimitMs = static_cast<int32_t>(boundedInteger(t, "gesamtzeit_min", 1, 60, 15)) * 60'000;
  return r;
}

OutboxSettings readOutbox(const toml::table& t) {
  rejectUnknownKeys(t, "postausgang", {"hoechstalter_h"});
  OutboxSettings o;
  o.maxAgeHours = static_cast<int32_t>(boundedInteger(t, "hoechstalter_h", 1, 24 * 14, 24));
  return o;
}

ChannelKind channelNamed(const toml::table& root, std::string_view key) {
  const auto value = optionalString(root, key);
  if (*value == "modem") return ChannelKind::Modem;
  if (*value == "http") return ChannelKind::Http;
  fail(where(*root.get(key)) + "\"" + std::string(key) + "\" muss \"modem\" oder \"http\" sein.");
}

RecipientGroup readGroup(const toml::table& t, size_t index) {
  rejectUnknownKeys(t, "gruppe", {"name", "alle_alarme", "stichworte", "nummern", "hinweise"});
  RecipientGroup g;
  if (auto name = optionalString(t, "name"))
    g.name = toCp1252(t, *name, "name");
  else
    g.name = "Gruppe " + std::to_string(index + 1);
  g.allAlarms = optionalBool(t, "alle_alarme").value_or(false);
  for (const std::string& keyword : stringList(t, "stichworte")) {
    if (keyword.find_first_not_of(' ') == std::string::npos)
      fail(where(t) + "Gruppe \"" + g.name + "\": ein Stichwort ist leer.");
    g.keywords.push_back(foldCaseCp1252(toCp1252(t, keyword, "stichworte")));
  }
  g.notices = optionalBool(t, "hinweise").value_or(false);
  // A group for notices only gets no alarms; one that gets neither is a mistake.
  if (!g.allAlarms && g.keywords.empty() && !g.notices)
    fail(where(t) + "Gruppe \"" + g.name +
         "\" hat weder \"alle_alarme = true\" noch \"stichworte\" noch \"hinweise = true\" und würde nie "
         "benachrichtigt.");
  for (const std::string& typed : stringList(t, "nummern")) {
    std::string number;
    if (!normalisePhoneNumber(typed, number)) {
      std::string shown;
      if (!utf8ToCp1252(typed, shown)) shown = "?";
      fail(where(t) + "Gruppe \"" + g.name + "\": \"" + shown + "\" ist keine gültige Mobilfunknummer.");
    }
    g.numbers.push_back(number);
  }
  if (g.numbers.empty()) fail(where(t) + "Gruppe \"" + g.name + "\" hat keine \"nummern\".");
  return g;
}

SenderConfig readConfig(const toml::table& root) {
  rejectUnknownKeys(root, "", {"kanal", "ersatzkanal", "test_text", "modem", "http", "wiederholung",
                               "postausgang", "gruppe"});
  SenderConfig c;
  if (!optionalString(root, "kanal")) fail("Es fehlt \"kanal\" (\"modem\" oder \"http\").");
  c.channel = channelNamed(root, "kanal");
  if (optionalString(root, "ersatzkanal")) {
    c.fallback = channelNamed(root, "ersatzkanal");
    if (*c.fallback == c.channel)
      fail(where(*root.get("ersatzkanal")) + "\"ersatzkanal\" muss der andere Weg sein als \"kanal\".");
  }

  const toml::table* modem = optionalTable(root, "modem");
  const toml::table* http = optionalTable(root, "http");
  const auto uses = [&](ChannelKind k) { return c.channel == k || c.fallback == k; };
  const auto key = [&](ChannelKind k) { return c.channel == k ? "kanal" : "ersatzkanal"; };
  if (uses(ChannelKind::Modem)) {
    if (!modem) fail("\"" + std::string(key(ChannelKind::Modem)) + "\" ist \"modem\", aber der Abschnitt [modem] fehlt.");
    c.modem = readModem(*modem);
  }
  if (uses(ChannelKind::Http)) {
    if (!http) fail("\"" + std::string(key(ChannelKind::Http)) + "\" ist \"http\", aber der Abschnitt [http] fehlt.");
    c.http = readHttp(*http);
  }
  if (const toml::table* retry = optionalTable(root, "wiederholung")) c.retry = readRetry(*retry);
  if (const toml::table* outbox = optionalTable(root, "postausgang")) c.outbox = readOutbox(*outbox);

  if (auto text = optionalString(root, "test_text")) {
    c.testText = toCp1252(*root.get("test_text"), *text, "test_text");
    if (c.testText.empty()) fail(where(*root.get("test_text")) + "\"test_text\" ist leer.");
  } else {
    c.testText = std::string(kDefaultTestText);
  }

  const toml::array* list = orFail(tool::tablesAt(root, "gruppe")).value_or(nullptr);
  if (!list) fail("Es ist keine Empfängergruppe ([[gruppe]]) eingetragen.");
  for (size_t i = 0; i < list->size(); ++i) c.groups.push_back(readGroup(*list->get(i)->as_table(), i));
  return c;
}

}  // namespace

ConfigResult parseSenderConfig(std::string_view tomlText) {
  ConfigResult result;
  try {
    const toml::table root = toml::parse(tomlText);
    result.config = readConfig(root);
    result.ok = true;
  } catch (const toml::parse_error& e) {
    std::string description;
    if (!utf8ToCp1252(e.description(), description)) description = std::string(e.description());
    result.error = "Zeile " + std::to_string(e.source().begin.line) + ": Die Datei ist kein gültiges TOML (" +
                   description + ").";
  } catch (const ConfigError& e) {
    result.error = e.message;
  } catch (const std::exception&) {
    result.error = "Die Datei konnte nicht gelesen werden.";
  }
  return result;
}

bool normalisePhoneNumber(std::string_view typed, std::string& out) {
  out.clear();
  for (size_t i = 0; i < typed.size(); ++i) {
    const char c = typed[i];
    if (c == ' ' || c == '/' || c == '-' || c == '.' || c == '(' || c == ')') continue;
    if (c == '+' && out.empty()) {
      out += c;
      continue;
    }
    if (c < '0' || c > '9') return false;
    out += c;
  }
  const size_t digits = out.size() - (!out.empty() && out[0] == '+' ? 1 : 0);
  return digits >= 3 && digits <= 20;
}

bool isPlainPhoneNumber(std::string_view number) {
  std::string normalised;
  return normalisePhoneNumber(number, normalised) && normalised == number;
}

std::vector<Recipient> selectRecipients(const SenderConfig& config, std::string_view alarmText) {
  const std::string folded = foldCaseCp1252(alarmText);
  std::vector<Recipient> out;
  std::set<std::string> seen;
  for (const RecipientGroup& g : config.groups) {
    bool chosen = g.allAlarms;
    for (const std::string& keyword : g.keywords)
      if (!chosen && folded.find(keyword) != std::string::npos) chosen = true;
    if (!chosen) continue;
    for (const std::string& number : g.numbers)
      if (seen.insert(number).second) out.push_back({number, g.name});
  }
  return out;
}

std::vector<Recipient> selectNoticeRecipients(const SenderConfig& config) {
  std::vector<Recipient> out;
  std::set<std::string> seen;
  for (const RecipientGroup& g : config.groups) {
    if (!g.notices) continue;
    for (const std::string& number : g.numbers)
      if (seen.insert(number).second) out.push_back({number, g.name});
  }
  return out;
}

}  // namespace kantiq::sender
