// The window's field table and the words for a problem's place. Built with
// UTF-8 as the execution character set: every text here is UTF-8, as the
// form's are.

#include "setup_fields.h"

#include <algorithm>
#include <array>

#include "einrichtung_ids.h"

namespace kantiq::setup {
namespace {

constexpr std::array<std::string_view, kPageCount> kPageTitles = {"Alarme", "Empfänger", "SMS-Weg",
                                                                  "Eingang und Hinweise", "Erweitert"};

constexpr Choice kRoutes[] = {{"modem", "modem (GSM-Modem)"}, {"http", "http (SMS-Dienst im Internet)"}};
constexpr Choice kFallbacks[] = {
    {"", "(kein Ersatzweg)"}, {"modem", "modem (GSM-Modem)"}, {"http", "http (SMS-Dienst im Internet)"}};
constexpr Choice kMethods[] = {{"", "(Vorgabe: POST)"}, {"GET", "GET"}, {"POST", "POST"}, {"PUT", "PUT"}};
constexpr Choice kFormats[] = {{"", "(Vorgabe: form)"}, {"form", "form"}, {"json", "json"}, {"text", "text"}};
constexpr Choice kFlags[] = {{"", "(Vorgabe: nein)"}, {"true", "ja"}, {"false", "nein"}};

using enum FileId;
using enum Page;
using enum FieldKind;

const Field kFields[] = {
    {IDC_KANAL, Sender, "kanal", Route, "SMS-Weg:", ChoiceOf, kRoutes},
    {IDC_ERSATZKANAL, Sender, "ersatzkanal", Route, "Ersatzweg:", ChoiceOf, kFallbacks},
    {IDC_TEST_TEXT, Sender, "test_text", Route, "Text der Test-SMS:"},
    {IDC_MODEM_PORT, Sender, "modem.anschluss", Route, "Anschluss:", Combo},
    {IDC_MODEM_BAUD, Sender, "modem.baudrate", Route, "Baudrate:"},
    {IDC_MODEM_PIN, Sender, "modem.pin", Route, "PIN der SIM-Karte:", Secret},
    {IDC_MODEM_REPLY, Sender, "modem.antwortzeit_s", Route, "Antwortzeit (s):"},
    {IDC_MODEM_SEND, Sender, "modem.sendezeit_s", Route, "Sendezeit (s):"},
    {IDC_HTTP_URL, Sender, "http.url", Route, "Adresse (URL):"},
    {IDC_HTTP_METHOD, Sender, "http.methode", Route, "Methode:", ChoiceOf, kMethods},
    {IDC_HTTP_FORMAT, Sender, "http.format", Route, "Format:", ChoiceOf, kFormats},
    {IDC_HTTP_BODY, Sender, "http.inhalt", Route, "Inhalt:"},
    {IDC_HTTP_HEADERS, Sender, "http.kopfzeilen", Route, "Kopfzeilen:"},
    {IDC_HTTP_STATUS, Sender, "http.erfolg_status", Route, "Erfolg bei Status:"},
    {IDC_HTTP_TEXT, Sender, "http.erfolg_text", Route, "Erfolg bei Text:"},
    {IDC_HTTP_TIMEOUT, Sender, "http.zeitlimit_s", Route, "Zeitlimit (s):"},
    {IDC_HTTP_GSM, Sender, "http.gsm_umschreiben", Route, "Umlaute umschreiben:", ChoiceOf, kFlags},
    {IDC_HTTP_PROXY, Sender, "http.proxy", Route, "Proxy:"},

    {IDC_INPUT_NAME, Monitor, "input.name", Input, "Aufnahme-Eingang:", Combo},
    {IDC_INPUT_POSITION, Monitor, "input.position", Input, "Der wievielte dieses Namens:"},
    {IDC_INPUT_SILENCE, Monitor, "input.silence_limit_s", Input, "Störung nach Stille von (s):"},
    {IDC_SMS_RETRY, Monitor, "sms.retry_interval_s", Input, "Liegengebliebene SMS erneut senden nach (s):"},
    {IDC_NOTICE_DELAY, Monitor, "notices.delay_s", Input, "Hinweis nach einer Unterbrechung von (s):"},
    {IDC_SIGN_OF_LIFE, Monitor, "notices.sign_of_life", Input, "Wöchentliches Lebenszeichen:"},

    {IDC_DET_TOLERANCE, Monitor, "detector.frequency_tolerance_hz", Advanced, "Frequenztoleranz (Hz):"},
    {IDC_DET_MIN_FREQUENCY, Monitor, "detector.minimum_frequency_hz", Advanced, "Tiefste Frequenz (Hz):"},
    {IDC_DET_HITS, Monitor, "detector.required_hits", Advanced, "Treffer je Ton:"},
    {IDC_DET_SEQUENCE, Monitor, "detector.sequence_timeout_ms", Advanced, "Zeit für einen Ruf (ms):"},
    {IDC_DET_PEAKS, Monitor, "detector.peaks_examined", Advanced, "Geprüfte Spitzen:"},
    {IDC_DET_MAGNITUDE, Monitor, "detector.magnitude_threshold", Advanced, "Mindeststärke:"},
    {IDC_DET_RETRIGGER, Monitor, "detector.retrigger_delay_ms", Advanced, "Sperrzeit nach Alarm (ms):"},
    {IDC_DET_LOAD_HIGH, Monitor, "detector.load_high_percent", Advanced, "Hohe Prozessorlast (%):"},
    {IDC_DET_LOAD_LOW, Monitor, "detector.load_low_percent", Advanced, "Niedrige Prozessorlast (%):"},
    {IDC_DET_RESTART, Monitor, "detector.restart_interval_ms", Advanced, "Aufnahme neu starten alle (ms):"},
    {IDC_RETRY_ROUNDS, Sender, "wiederholung.versuche", Advanced, "Runden je SMS:"},
    {IDC_RETRY_FIRST, Sender, "wiederholung.erste_wartezeit_s", Advanced, "Erste Wartezeit (s):"},
    {IDC_RETRY_LONGEST, Sender, "wiederholung.laengste_wartezeit_s", Advanced, "Längste Wartezeit (s):"},
    {IDC_RETRY_TOTAL, Sender, "wiederholung.gesamtzeit_min", Advanced, "Aufgeben nach (min):"},
    {IDC_OUTBOX_AGE, Sender, "postausgang.hoechstalter_h", Advanced, "Höchstalter im Postausgang (h):"},
};

// The entries' own fields, by the key the file gives them.
struct EntryField {
  std::string_view key;
  std::string_view shown;
};
constexpr EntryField kEntryFields[] = {
    {"text", "Text"},         {"code", "Code"},       {"tone_set", "Tonsystem"},    {"steps", "Schritte"},
    {"name", "Name"},         {"nummern", "Nummern"}, {"stichworte", "Stichworte"}, {"alle_alarme", "alle Alarme"},
    {"hinweise", "Hinweise"},
};

std::string_view entryFieldText(std::string_view key) {
  for (const EntryField& f : kEntryFields)
    if (f.key == key) return f.shown;
  return key;
}

std::string_view fileName(FileId file) { return file == Monitor ? kMonitorFileName : kSenderFileName; }

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string_view pageTitle(Page page) { return kPageTitles[static_cast<size_t>(page)]; }

std::span<const Field> allFields() { return kFields; }

const Field* fieldById(int id) {
  for (const Field& f : kFields)
    if (f.id == id) return &f;
  return nullptr;
}

const Field* fieldByKey(FileId file, std::string_view key) {
  for (const Field& f : kFields)
    if (f.file == file && f.key == key) return &f;
  return nullptr;
}

std::string_view shownOf(const Field& field, std::string_view value) {
  for (const Choice& c : field.choices)
    if (c.value == value) return c.shown;
  return value;
}

std::string_view valueOf(const Field& field, std::string_view shown) {
  for (const Choice& c : field.choices)
    if (c.shown == shown) return c.value;
  return shown;
}

std::string placeText(const Problem& problem) {
  const Place& p = problem.place;
  std::string text;
  if (p.alarm >= 0) {
    text = "Alarme, Alarm " + std::to_string(p.alarm + 1);
  } else if (p.group >= 0) {
    text = "Empfänger, Gruppe " + std::to_string(p.group + 1);
  } else if (const Field* f = p.key.empty() ? nullptr : fieldByKey(p.file, p.key)) {
    std::string_view label = f->label;
    if (label.ends_with(':')) label.remove_suffix(1);
    return std::string(pageTitle(f->page)) + ", " + std::string(label);
  } else {
    text = std::string(fileName(p.file));
    if (!p.key.empty()) text += ", " + p.key;
    if (problem.line > 0) text += ", Zeile " + std::to_string(problem.line);
    return text;
  }
  if (!p.field.empty()) text += " (" + std::string(entryFieldText(p.field)) + ")";
  return text;
}

std::string problemLine(const Problem& problem) { return placeText(problem) + ": " + problem.message; }

Page pageOf(const Place& place) {
  if (place.alarm >= 0) return Alarms;
  if (place.group >= 0) return Groups;
  if (const Field* f = place.key.empty() ? nullptr : fieldByKey(place.file, place.key)) return f->page;
  return place.file == Monitor ? Alarms : Route;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    if (!line.empty()) lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

}  // namespace kantiq::setup
