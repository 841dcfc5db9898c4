#include "config_source.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

#include "config/configuration_text.h"
#include "common/cp1252.h"
#include "common/toml_values.h"
#include "detector/tone_detector.h"
#include "common/tone_sets.h"

namespace kantiq::tool {

namespace {

// The ten detector parameters by name, in the order of the file. The limits
// are what makes sense for the program, not what the loader accepts.
struct ParameterDescription {
  const char* key;
  const char* comment;
  int32_t minimum;
  int32_t maximum;
};

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

constexpr ParameterDescription kParameters[kDetectorParameterCount] = {
    {"frequency_tolerance_hz", "eine Spitze zählt als Ton, wenn sie weniger als so viele Hz von ihm entfernt liegt", 1, kMaxInt},
    {"minimum_frequency_hz", "Spektrallinien bis einschließlich dieser Frequenz sind nie Spitzen", 0, kMaxInt},
    {"required_hits", "passende Spitzen, die ein Ton braucht, bevor der nächste gesucht wird (1 bis 5)", 1, 5},
    {"sequence_timeout_ms", "ein Ruf muss innerhalb dieser Zeit nach seinem ersten Ton vollständig sein", 0, kMaxInt},
    {"peaks_examined", "die stärksten Spitzen jedes Spektrums, die mit den Tönen verglichen werden", 1, 1000},
    {"magnitude_threshold", "Spektrallinien bis einschließlich dieser Stärke sind nie Spitzen", 0, kMaxInt},
    {"retrigger_delay_ms", "ein ausgelöster Alarm wird innerhalb dieser Zeit nicht erneut ausgelöst", 0, kMaxInt},
    {"load_high_percent", "Prozessorlast, ab der die Lastüberwachung scharf wird", 0, 100},
    {"load_low_percent", "Last, unter der eine scharfe Lastüberwachung die Aufnahme neu startet", 0, 100},
    {"restart_interval_ms", "so oft wird die Aufnahme neu gestartet", 1000, kMaxInt},
};

class Reader {
 public:
  explicit Reader(SourceReading& out) : out_(out) {}

  void error(const toml::source_region& at, std::string message) {
    out_.diagnostics.push_back({at.begin.line, at.begin.column, std::move(message), false});
  }
  void warning(const toml::source_region& at, std::string message) {
    out_.diagnostics.push_back({at.begin.line, at.begin.column, std::move(message), true});
  }

  void error(const TomlFault& fault) {
    out_.diagnostics.push_back({fault.line, fault.column, fault.message, false});
  }

  void readDocument(const toml::table& root) {
    for (auto&& [key, node] : root) {
      const std::string name(key.str());
      if (name == "alarm") {
        const TomlValue<const toml::array*> alarms = tablesIn(node, name);
        if (alarms.fault) error(*alarms.fault);
        else readAlarms(**alarms.value);
      } else if (name == "detector" || name == "input" || name == "sms" || name == "notices") {
        const TomlValue<const toml::table*> section = tableIn(node, name);
        if (section.fault) error(*section.fault);
        else readSection(name, **section.value);
      } else {
        error(key.source(),
              "unbekannter Schlüssel '" + name + "' (erwartet: [detector], [input], [sms], [notices] oder [[alarm]])");
      }
    }
    if (out_.configuration.alarms.empty()) {
      warning({}, "keine [[alarm]]-Einträge: Kantiq läuft, löst aber nie einen Alarm aus");
    }
    for (Diagnostic& d : findUndetectableTones(out_.configuration, out_.alarmLines)) {
      out_.diagnostics.push_back(std::move(d));
    }
  }

 private:
  void readSection(const std::string& name, const toml::table& t) {
    if (name == "detector") readDetector(t);
    else if (name == "input") readInput(t);
    else if (name == "sms") readSms(t);
    else readNotices(t);
  }

  // A value of the wrong kind is named; one out of range is given with the
  // range allowed.
  std::optional<int32_t> readInteger(const toml::node& node, const std::string& what, int64_t minimum,
                                     int64_t maximum) {
    const TomlValue<int64_t> read = integerIn(node, what, minimum, maximum);
    if (read.fault && read.fault->wrongKind) {
      error(node.source(), read.fault->message + ", nicht " + tomlKindName(node));
    } else if (read.fault) {
      error(node.source(), what + " ist " + std::to_string(node.as_integer()->get()) + ", erlaubt ist " +
                               std::to_string(minimum) + " bis " + std::to_string(maximum));
    }
    if (!read.value) return std::nullopt;
    return static_cast<int32_t>(*read.value);
  }

  void readDetector(const toml::table& t) {
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      int n = 0;
      for (int i = 0; i < kDetectorParameterCount; ++i) {
        if (name == kParameters[i].key) n = i + 1;
      }
      if (n == 0) {
        std::string known;
        for (const ParameterDescription& p : kParameters) known += std::string(known.empty() ? "" : ", ") + p.key;
        error(key.source(), "unbekannter Parameter '" + name + "' in [detector] (bekannt: " + known + ")");
        continue;
      }
      const ParameterDescription& parameter = kParameters[n - 1];
      if (auto v = readInteger(node, "detector." + name, parameter.minimum, parameter.maximum)) {
        detectorParameter(out_.configuration.parameters, n) = *v;
      }
    }
  }

  // How Kantiq follows up SMS that did not go out; into Kantiq.ini.
  void readSms(const toml::table& t) {
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      if (name == "retry_interval_s") {
        if (auto v = readInteger(node, "sms.retry_interval_s", kMinSmsRetryS, kMaxSmsRetryS)) {
          out_.settings.smsRetryMs = int64_t{*v} * 1000;
        }
      } else {
        error(key.source(), "unbekannter Schlüssel '" + name + "' in [sms] (bekannt: retry_interval_s)");
      }
    }
  }

  // Notices to whoever looks after the PC; into Kantiq.ini.
  void readNotices(const toml::table& t) {
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      if (name == "delay_s") {
        if (auto v = readInteger(node, "notices.delay_s", kMinNoticeDelayS, kMaxNoticeDelayS)) {
          out_.settings.noticeDelayMs = int64_t{*v} * 1000;
        }
      } else if (name == "sign_of_life") {
        readSignOfLife(node);
      } else {
        error(key.source(), "unbekannter Schlüssel '" + name + "' in [notices] (bekannt: delay_s, sign_of_life)");
      }
    }
  }

  // "Montag 10:00" (any case, the day may be cut to two letters) or "aus".
  void readSignOfLife(const toml::node& node) {
    static constexpr const char* kDays[] = {"montag", "dienstag", "mittwoch", "donnerstag", "freitag", "samstag", "sonntag"};
    const auto* s = node.as_string();
    const std::string expected = "notices.sign_of_life muss \"aus\" oder Wochentag und Uhrzeit sein, z. B. \"Montag 10:00\"";
    if (s == nullptr) {
      error(node.source(), expected + ", nicht " + std::string(tomlKindName(node)));
      return;
    }
    std::string text;
    for (char c : s->get()) text.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c));
    if (text == "aus") {
      out_.settings.signOfLifeDay = 0;
      return;
    }
    const size_t blank = text.find(' ');
    int hour = -1;
    int minute = -1;
    char end = 0;
    const std::string day = text.substr(0, blank);
    int found = 0;
    for (int i = 0; i < 7; ++i) {
      if (day.size() >= 2 && std::string_view(kDays[i]).starts_with(day)) found = i + 1;
    }
    if (found == 0 || blank == std::string::npos ||
        std::sscanf(text.c_str() + blank + 1, "%2d:%2d%c", &hour, &minute, &end) != 2 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59) {
      error(node.source(), expected + " (gelesen: \"" + s->get() + "\")");
      return;
    }
    out_.settings.signOfLifeDay = found;
    out_.settings.signOfLifeMinute = hour * 60 + minute;
  }

  // Kantiq's own settings, written into Kantiq.ini.
  void readInput(const toml::table& t) {
    KantiqSettings& settings = out_.settings;
    const toml::node* position = nullptr;
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      if (name == "name") {
        readInputName(node);
      } else if (name == "position") {
        position = &node;
        if (auto v = readInteger(node, "input.position", 1, kMaxInputPosition)) settings.inputPosition = *v;
      } else if (name == "silence_limit_s") {
        if (auto v = readInteger(node, "input.silence_limit_s", 0, kMaxSilenceLimitS)) {
          settings.silenceLimitMs = int64_t{*v} * 1000;
        }
      } else {
        error(key.source(), "unbekannter Schlüssel '" + name + "' in [input] (bekannt: name, position, silence_limit_s)");
      }
    }
    if (position != nullptr && t.get("name") == nullptr) {
      error(position->source(), "input.position gilt nur zusammen mit input.name");
    }
  }

  void readInputName(const toml::node& node) {
    const auto* s = node.as_string();
    if (s == nullptr) {
      error(node.source(), "input.name muss eine Zeichenkette sein, nicht " + std::string(tomlKindName(node)));
      return;
    }
    const Utf8Conversion converted = utf8ToCp1252(s->get());
    if (!converted.ok) {
      error(node.source(), "input.name enthält " +
                               (converted.malformed ? std::string("Bytes, die kein UTF-8 sind")
                                                    : describeCodePoint(converted.badCodePoint) +
                                                          ", das es in Windows-1252 nicht gibt"));
      return;
    }
    for (char c : converted.text) {
      const auto b = static_cast<uint8_t>(c);
      if (b < 0x20 || b == 0x7F) {
        error(node.source(), "input.name enthält " + describeCodePoint(b) + "; ein Eingangsname hat keine Steuerzeichen");
        return;
      }
    }
    if (converted.text.size() > kMaxInputNameLength) {
      error(node.source(), "input.name hat " + std::to_string(converted.text.size()) + " Zeichen; Windows nennt " +
                               "Eingänge mit höchstens " + std::to_string(kMaxInputNameLength) + " Zeichen");
      return;
    }
    out_.settings.inputName = converted.text;
    out_.inputNamed = true;
  }

  void readAlarms(const toml::array& alarms) {
    int index = 0;
    for (const toml::node& node : alarms) {
      ++index;
      const toml::table& t = *node.as_table();
      if (index == ToneDetector::kMaxAlarms + 1) {
        error(t.source(), "Alarm " + std::to_string(index) + ": mehr als " +
                              std::to_string(ToneDetector::kMaxAlarms) + " Alarme");
      }
      readAlarm(t, index);
    }
  }

  void readAlarm(const toml::table& t, int index) {
    const std::string where = "Alarm " + std::to_string(index);
    ConfiguredAlarm alarm;
    bool haveText = false;
    const toml::node* code = nullptr;
    const toml::node* toneSet = nullptr;
    const toml::node* steps = nullptr;
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      if (name == "text") {
        haveText = readText(node, where, alarm.text);
      } else if (name == "code") {
        code = &node;
      } else if (name == "tone_set") {
        toneSet = &node;
      } else if (name == "steps") {
        steps = &node;
      } else {
        error(key.source(), where + ": unbekannter Schlüssel '" + name + "' (bekannt: text, code, tone_set, steps)");
      }
    }
    if (!haveText && t.get("text") == nullptr) error(t.source(), where + ": 'text' fehlt");
    if (code != nullptr && steps != nullptr) {
      error(steps->source(), where + ": entweder 'code' oder 'steps' angeben, nicht beides");
    } else if (code != nullptr) {
      readCode(*code, toneSet, where, alarm);
    } else if (steps != nullptr) {
      if (toneSet != nullptr) error(toneSet->source(), where + ": 'tone_set' gilt nur zusammen mit 'code'");
      readSteps(*steps, where, alarm);
    } else {
      error(t.source(), where + ": keine Töne: 'code' (z. B. code = \"23345\") oder 'steps' angeben");
    }
    out_.configuration.alarms.push_back(std::move(alarm));
    out_.alarmLines.push_back(t.source().begin.line);
  }

  bool readText(const toml::node& node, const std::string& where, std::string& text) {
    const auto* s = node.as_string();
    if (s == nullptr) {
      error(node.source(), where + ": 'text' muss eine Zeichenkette sein, nicht " + tomlKindName(node));
      return false;
    }
    const std::string& utf8 = s->get();
    const Utf8Conversion converted = utf8ToCp1252(utf8);
    if (!converted.ok) {
      error(node.source(), where + ": 'text' enthält " +
                               (converted.malformed ? std::string("Bytes, die kein UTF-8 sind")
                                                    : describeCodePoint(converted.badCodePoint) +
                                                          ", das es in Windows-1252 nicht gibt"));
      return false;
    }
    bool fine = true;
    for (size_t i = 0; i < converted.text.size(); ++i) {
      const char c = converted.text[i];
      if (c == '#') {
        error(node.source(), where + ": 'text' enthält '#' an Zeichen " + std::to_string(i + 1) +
                                 "; '#' beendet ein Feld der Einrichtungsdatei");
        fine = false;
      } else if (c == '\0') {
        error(node.source(), where + ": 'text' enthält " + describeCodePoint(0) +
                                 ", das den Einrichtungstext beenden würde");
        fine = false;
      }
    }
    text = converted.text;
    return fine;
  }

  void readCode(const toml::node& node, const toml::node* toneSetNode, const std::string& where,
                ConfiguredAlarm& alarm) {
    const ToneSet* set = &defaultToneSet();
    if (toneSetNode != nullptr) {
      const auto* name = toneSetNode->as_string();
      if (name == nullptr) {
        error(toneSetNode->source(), where + ": 'tone_set' muss eine Zeichenkette sein, nicht " + tomlKindName(*toneSetNode));
        return;
      }
      set = findToneSet(name->get());
      if (set == nullptr) {
        error(toneSetNode->source(), where + ": unbekanntes Tonsystem '" + name->get() + "' (bekannt: " +
                                         toneSetNames() + ")");
        return;
      }
    }
    const auto* s = node.as_string();
    if (s == nullptr) {
      error(node.source(), where + ": 'code' muss eine Ziffernfolge wie \"23345\" sein, nicht " +
                               tomlKindName(node));
      return;
    }
    const std::string& digits = s->get();
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
      error(node.source(), where + ": 'code' \"" + digits + "\" darf nur die Ziffern 0 bis 9 enthalten");
      return;
    }
    if (digits.size() > AlarmDefinition::kMaxSteps) {
      error(node.source(), where + ": 'code' hat " + std::to_string(digits.size()) + " Ziffern, möglich sind höchstens " +
                               std::to_string(AlarmDefinition::kMaxSteps) + " Töne");
      return;
    }
    for (int32_t hz : expandCode(digits, *set)) alarm.steps.push_back({hz, 0, false});
  }

  std::optional<int32_t> readTone(const toml::node& node, const std::string& what) {
    return readInteger(node, what, 1, kHighestToneHz);
  }

  void readSteps(const toml::node& node, const std::string& where, ConfiguredAlarm& alarm) {
    const toml::array* steps = node.as_array();
    if (steps == nullptr) {
      error(node.source(), where + ": 'steps' muss eine Liste wie [1060, [1160, 1270]] sein, nicht " +
                               tomlKindName(node));
      return;
    }
    if (steps->empty()) {
      error(node.source(), where + ": 'steps' ist leer; ein Alarm ohne Töne würde ständig ausgelöst");
      return;
    }
    if (steps->size() > static_cast<size_t>(AlarmDefinition::kMaxSteps)) {
      error(node.source(), where + ": 'steps' hat " + std::to_string(steps->size()) + " Töne, möglich sind höchstens " +
                               std::to_string(AlarmDefinition::kMaxSteps));
      return;
    }
    int number = 0;
    for (const toml::node& step : *steps) {
      const std::string what = where + ", Schritt " + std::to_string(++number);
      ConfiguredStep out;
      if (step.is_integer()) {
        auto f = readTone(step, what);
        if (!f) continue;
        out.frequency1Hz = *f;
      } else if (const toml::array* pair = step.as_array()) {
        if (pair->size() != 2) {
          error(step.source(), what + ": ein Doppelton ist ein Paar von Frequenzen wie [675, 1240]");
          continue;
        }
        auto f1 = readTone(*pair->get(0), what + ", erster Ton");
        auto f2 = readTone(*pair->get(1), what + ", zweiter Ton");
        if (!f1 || !f2) continue;
        out = {*f1, *f2, true};
      } else if (const toml::table* raw = step.as_table()) {
        if (!readRawStep(*raw, what, out)) continue;
      } else {
        error(step.source(), what + ": ein Schritt ist eine Frequenz (1060) oder ein Paar von Frequenzen "
                                    "([675, 1240]), nicht " + tomlKindName(step));
        continue;
      }
      alarm.steps.push_back(out);
    }
  }

  // { frequency1_hz = ..., frequency2_hz = ..., dual_tone = ... }: every field
  // of a step as the file holds it.
  bool readRawStep(const toml::table& t, const std::string& what, ConfiguredStep& out) {
    bool fine = true;
    bool haveFirst = false;
    for (auto&& [key, node] : t) {
      const std::string name(key.str());
      constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
      if (name == "frequency1_hz" || name == "frequency2_hz") {
        auto v = readInteger(node, what + ": " + name, kMin, kMaxInt);
        if (!v) fine = false;
        else if (name == "frequency1_hz") out.frequency1Hz = *v, haveFirst = true;
        else out.frequency2Hz = *v;
      } else if (name == "dual_tone") {
        const TomlValue<bool> dual = booleanIn(node, what + ": dual_tone");
        if (dual.value) out.dualTone = *dual.value;
        else error(node.source(), dual.fault->message + ", nicht " + tomlKindName(node)), fine = false;
      } else {
        error(key.source(), what + ": unbekannter Schlüssel '" + name + "' (bekannt: frequency1_hz, frequency2_hz, dual_tone)");
        fine = false;
      }
    }
    if (!haveFirst && fine) {
      error(t.source(), what + ": 'frequency1_hz' fehlt");
      fine = false;
    }
    return fine;
  }

  SourceReading& out_;
};

std::string tomlString(std::string_view cp1252) {
  const std::string utf8 = cp1252ToUtf8(cp1252);
  std::string out = "\"";
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04X", b);
          out += esc;
        } else {
          out.push_back(c);
        }
    }
  }
  // C1 controls (from bytes Windows-1252 leaves undefined) are valid in TOML
  // strings as they are, but an escape keeps them visible.
  std::string visible;
  for (size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    const auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
    if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04X", next);
      visible += esc;
      ++i;
    } else {
      visible.push_back(out[i]);
    }
  }
  return visible + "\"";
}

bool isPlainTone(int32_t hz) { return hz >= 1 && hz <= kHighestToneHz; }

std::string stepSource(const ConfiguredStep& s) {
  if (!s.dualTone && s.frequency2Hz == 0 && isPlainTone(s.frequency1Hz)) {
    return std::to_string(s.frequency1Hz);
  }
  if (s.dualTone && isPlainTone(s.frequency1Hz) && isPlainTone(s.frequency2Hz)) {
    return "[" + std::to_string(s.frequency1Hz) + ", " + std::to_string(s.frequency2Hz) + "]";
  }
  return "{ frequency1_hz = " + std::to_string(s.frequency1Hz) + ", frequency2_hz = " +
         std::to_string(s.frequency2Hz) + ", dual_tone = " + (s.dualTone ? "true" : "false") + " }";
}

}  // namespace

std::vector<Diagnostic> findUndetectableTones(const Configuration& c, const std::vector<uint32_t>& alarmLines) {
  std::vector<Diagnostic> found;
  for (size_t a = 0; a < c.alarms.size(); ++a) {
    std::vector<int32_t> reported;
    for (const ConfiguredStep& step : c.alarms[a].steps) {
      for (int32_t hz : {step.frequency1Hz, step.dualTone ? step.frequency2Hz : step.frequency1Hz}) {
        const bool tooLow = hz <= c.parameters.minimumFrequencyHz;
        if ((!tooLow && hz <= kHighestToneHz) || std::find(reported.begin(), reported.end(), hz) != reported.end()) {
          continue;
        }
        reported.push_back(hz);
        found.push_back({a < alarmLines.size() ? alarmLines[a] : 0, 0,
                         "Alarm " + std::to_string(a + 1) + ": " + std::to_string(hz) + " Hz kann nie erkannt werden (" +
                             (tooLow ? "nicht über minimum_frequency_hz = " + std::to_string(c.parameters.minimumFrequencyHz)
                                     : "über dem, was die Abtastung mit 44100 Hz fassen kann") +
                             ")",
                         true});
      }
    }
  }
  return found;
}

bool SourceReading::ok() const {
  for (const Diagnostic& d : diagnostics) {
    if (!d.warning) return false;
  }
  return true;
}

SourceReading readConfigurationSource(std::string_view toml, std::string_view sourceName) {
  SourceReading reading;
  try {
    const toml::table root = toml::parse(toml, sourceName);
    Reader(reading).readDocument(root);
  } catch (const toml::parse_error& e) {
    // toml++ describes the fault in English; the place is what matters most.
    reading.diagnostics.push_back({e.source().begin.line, e.source().begin.column,
                                   "TOML-Syntaxfehler: " + std::string(e.description()), false});
  }
  return reading;
}

std::string composeCheckedText(SourceReading& reading) {
  const Configuration& c = reading.configuration;
  std::vector<size_t> textStart;
  const std::string text = composeConfiguration(c, &textStart);
  for (const StorageHazard& h : findStorageHazards(text)) {
    size_t alarm = 0;
    while (alarm + 1 < textStart.size() && textStart[alarm + 1] <= h.position) ++alarm;
    const uint32_t line = alarm < reading.alarmLines.size() ? reading.alarmLines[alarm] : 0;
    const size_t charIndex = alarm < textStart.size() ? h.position - textStart[alarm] : h.position;
    const auto byte = static_cast<uint8_t>(text[h.position]);
    std::string why;
    switch (h.kind) {
      case StorageHazard::Kind::TextByteZero: why = "würde den Einrichtungstext beenden"; break;
      case StorageHazard::Kind::StoredEndOfFile:
        why = "würde als Dateiende-Zeichen 0x1A gespeichert, alles danach ginge verloren";
        break;
      case StorageHazard::Kind::StoredCrLf:
        why = "würde als Wagenrücklauf direkt vor einem Zeilenvorschub gespeichert, die Kantiq "
              "als einen Zeilenumbruch liest";
        break;
    }
    reading.diagnostics.push_back(
        {line, 0,
         "Alarm " + std::to_string(alarm + 1) + " " + tomlString(c.alarms.empty() ? "" : c.alarms[alarm].text) +
             ": " + describeCodePoint(byte) + " an Zeichen " + std::to_string(charIndex + 1) + " " + why +
             "; die Datei würde anders geladen. Entfernen oder verschieben Sie das Zeichen.",
         false});
  }
  if (text.size() > kMaxConfigurationBytes) {
    reading.diagnostics.push_back({0, 0,
                                   "der Einrichtungstext ist " + std::to_string(text.size()) +
                                       " Bytes lang; Kantiq liest höchstens " +
                                       std::to_string(kMaxConfigurationBytes),
                                   false});
  }
  return text;
}

std::string writeConfigurationSource(const Configuration& c) {
  std::string out;
  out += "# Einrichtung für Kantiq. Schreiben mit: kantiq-config write DIESE-DATEI ORDNER\n\n";
  out += "[detector]\n";
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    const ParameterDescription& parameter = kParameters[n - 1];
    out += std::string("# ") + parameter.comment + "\n";
    out += std::string(parameter.key) + " = " + std::to_string(detectorParameter(c.parameters, n)) + "\n";
  }
  for (const ConfiguredAlarm& a : c.alarms) {
    out += "\n[[alarm]]\ntext = " + tomlString(a.text) + "\n";
    std::vector<int32_t> plain;
    bool allPlain = true;
    for (const ConfiguredStep& s : a.steps) {
      allPlain = allPlain && !s.dualTone && s.frequency2Hz == 0;
      plain.push_back(s.frequency1Hz);
    }
    if (allPlain) {
      if (auto code = codeInAnySet(plain)) {
        out += "code = \"" + code->code + "\"\ntone_set = \"" + std::string(code->set->name) + "\"\n";
        continue;
      }
    }
    out += "steps = [";
    for (size_t i = 0; i < a.steps.size(); ++i) out += (i ? ", " : "") + stepSource(a.steps[i]);
    out += "]\n";
  }
  return out;
}

std::string listParameters(const DetectorParameters& parameters) {
  std::string out;
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    out += std::string("  ") + kParameters[n - 1].key + " = " +
           std::to_string(detectorParameter(parameters, n)) + "\n";
  }
  return out;
}

std::string formatDiagnostics(const std::vector<Diagnostic>& diagnostics, std::string_view sourceName) {
  // In the order of the source; remarks about the whole file last.
  std::vector<Diagnostic> sorted = diagnostics;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic& a, const Diagnostic& b) {
    const uint32_t la = a.line == 0 ? UINT32_MAX : a.line;
    const uint32_t lb = b.line == 0 ? UINT32_MAX : b.line;
    return la != lb ? la < lb : a.column < b.column;
  });
  std::string out;
  for (const Diagnostic& d : sorted) {
    out += sourceName;
    if (d.line != 0) {
      out += ":" + std::to_string(d.line);
      if (d.column != 0) out += ":" + std::to_string(d.column);
    }
    out += d.warning ? ": Warnung: " : ": Fehler: ";
    out += d.message + "\n";
  }
  return out;
}

}  // namespace kantiq::tool
