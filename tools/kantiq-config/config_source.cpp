#include "config_source.h"

#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>

#include "config/configuration_text.h"
#include "common/cp1252.h"
#include "detector/tone_detector.h"
#include "tone_sets.h"

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
    {"frequency_tolerance_hz", "a peak counts as a tone when it lies less than this many Hz from it", 1, kMaxInt},
    {"minimum_frequency_hz", "spectrum lines at or below this frequency are never peaks", 0, kMaxInt},
    {"required_hits", "matching peaks a tone needs before the next tone is looked for (1 to 5)", 1, 5},
    {"sequence_timeout_ms", "a call must complete within this time after its first tone", 0, kMaxInt},
    {"peaks_examined", "strongest peaks of each spectrum compared with the tones", 1, 1000},
    {"magnitude_threshold", "spectrum lines at or below this magnitude are never peaks", 0, kMaxInt},
    {"retrigger_delay_ms", "a raised alarm is not raised again within this time", 0, kMaxInt},
    {"load_high_percent", "processor load above which the load watcher arms itself", 0, 100},
    {"load_low_percent", "load below which an armed load watcher restarts capture", 0, 100},
    {"restart_interval_ms", "capture is restarted this often", 1000, kMaxInt},
};

const char* typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "a boolean";
    default: return "a date or time";
  }
}

class Reader {
 public:
  explicit Reader(SourceReading& out) : out_(out) {}

  void error(const toml::source_region& at, std::string message) {
    out_.diagnostics.push_back({at.begin.line, at.begin.column, std::move(message), false});
  }
  void warning(const toml::source_region& at, std::string message) {
    out_.diagnostics.push_back({at.begin.line, at.begin.column, std::move(message), true});
  }

  void readDocument(const toml::table& root) {
    for (auto&& [key, node] : root) {
      const std::string name(key.str());
      if (name == "detector") {
        if (const toml::table* t = node.as_table()) {
          readDetector(*t);
        } else {
          error(node.source(), "'detector' must be a table ([detector]), not " + std::string(typeName(node)));
        }
      } else if (name == "alarm") {
        if (const toml::array* a = node.as_array(); a != nullptr && a->is_array_of_tables()) {
          readAlarms(*a);
        } else {
          error(node.source(), "'alarm' must be a list of tables ([[alarm]]), not " + std::string(typeName(node)));
        }
      } else {
        error(key.source(), "unknown key '" + name + "' (expected [detector] or [[alarm]])");
      }
    }
    if (out_.configuration.alarms.empty()) {
      warning({}, "no [[alarm]] entries: the program will run but never raise an alarm");
    }
  }

 private:
  std::optional<int32_t> readInteger(const toml::node& node, const std::string& what, int64_t minimum,
                                     int64_t maximum) {
    const auto* value = node.as_integer();
    if (value == nullptr) {
      error(node.source(), what + " must be an integer, not " + typeName(node));
      return std::nullopt;
    }
    const int64_t v = value->get();
    if (v < minimum || v > maximum) {
      error(node.source(), what + " is " + std::to_string(v) + ", must be between " +
                               std::to_string(minimum) + " and " + std::to_string(maximum));
      return std::nullopt;
    }
    return static_cast<int32_t>(v);
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
        error(key.source(), "unknown detector parameter '" + name + "' (known: " + known + ")");
        continue;
      }
      const ParameterDescription& parameter = kParameters[n - 1];
      if (auto v = readInteger(node, "detector." + name, parameter.minimum, parameter.maximum)) {
        detectorParameter(out_.configuration.parameters, n) = *v;
      }
    }
  }

  void readAlarms(const toml::array& alarms) {
    int index = 0;
    for (const toml::node& node : alarms) {
      ++index;
      const toml::table& t = *node.as_table();
      if (index == ToneDetector::kMaxAlarms + 1) {
        error(t.source(), "alarm " + std::to_string(index) + ": more than " +
                              std::to_string(ToneDetector::kMaxAlarms) + " alarms");
      }
      readAlarm(t, index);
    }
  }

  void readAlarm(const toml::table& t, int index) {
    const std::string where = "alarm " + std::to_string(index);
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
        error(key.source(), where + ": unknown key '" + name + "' (known: text, code, tone_set, steps)");
      }
    }
    if (!haveText && t.get("text") == nullptr) error(t.source(), where + ": 'text' is missing");
    if (code != nullptr && steps != nullptr) {
      error(steps->source(), where + ": give either 'code' or 'steps', not both");
    } else if (code != nullptr) {
      readCode(*code, toneSet, where, alarm);
    } else if (steps != nullptr) {
      if (toneSet != nullptr) error(toneSet->source(), where + ": 'tone_set' only goes with 'code'");
      readSteps(*steps, where, alarm);
    } else {
      error(t.source(), where + ": no tones: give 'code' (e.g. code = \"23345\") or 'steps'");
    }
    out_.configuration.alarms.push_back(std::move(alarm));
    out_.alarmLines.push_back(t.source().begin.line);
  }

  bool readText(const toml::node& node, const std::string& where, std::string& text) {
    const auto* s = node.as_string();
    if (s == nullptr) {
      error(node.source(), where + ": 'text' must be a string, not " + typeName(node));
      return false;
    }
    const std::string& utf8 = s->get();
    const Utf8Conversion converted = utf8ToCp1252(utf8);
    if (!converted.ok) {
      error(node.source(), where + ": 'text' holds " +
                               (converted.malformed ? std::string("bytes that are not UTF-8")
                                                    : describeCodePoint(converted.badCodePoint) +
                                                          ", which Windows-1252 lacks"));
      return false;
    }
    bool fine = true;
    for (size_t i = 0; i < converted.text.size(); ++i) {
      const char c = converted.text[i];
      if (c == '#') {
        error(node.source(), where + ": 'text' holds '#' at character " + std::to_string(i + 1) +
                                 ", which ends a field of the configuration file");
        fine = false;
      } else if (c == '\0') {
        error(node.source(), where + ": 'text' holds " + describeCodePoint(0) +
                                 ", which would end the configuration text");
        fine = false;
      }
    }
    text = converted.text;
    return fine;
  }

  void readCode(const toml::node& node, const toml::node* toneSetNode, const std::string& where,
                ConfiguredAlarm& alarm) {
    const ToneSet* set = findToneSet("ZVEI1");
    if (toneSetNode != nullptr) {
      const auto* name = toneSetNode->as_string();
      if (name == nullptr) {
        error(toneSetNode->source(), where + ": 'tone_set' must be a string, not " + typeName(*toneSetNode));
        return;
      }
      set = findToneSet(name->get());
      if (set == nullptr) {
        error(toneSetNode->source(), where + ": unknown tone set '" + name->get() + "' (known: " +
                                         toneSetNames() + ")");
        return;
      }
    }
    const auto* s = node.as_string();
    if (s == nullptr) {
      error(node.source(), where + ": 'code' must be a string of digits such as \"23345\", not " +
                               typeName(node));
      return;
    }
    const std::string& digits = s->get();
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
      error(node.source(), where + ": 'code' \"" + digits + "\" must consist of the digits 0 to 9");
      return;
    }
    if (digits.size() > AlarmDefinition::kMaxSteps) {
      error(node.source(), where + ": 'code' has " + std::to_string(digits.size()) +
                               " digits, at most " + std::to_string(AlarmDefinition::kMaxSteps) + " tones are possible");
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
      error(node.source(), where + ": 'steps' must be an array such as [1060, [1160, 1270]], not " +
                               typeName(node));
      return;
    }
    if (steps->empty()) {
      error(node.source(), where + ": 'steps' is empty; an alarm without tones would be raised all the time");
      return;
    }
    if (steps->size() > static_cast<size_t>(AlarmDefinition::kMaxSteps)) {
      error(node.source(), where + ": 'steps' has " + std::to_string(steps->size()) +
                               " tones, at most " + std::to_string(AlarmDefinition::kMaxSteps) + " are possible");
      return;
    }
    int number = 0;
    for (const toml::node& step : *steps) {
      const std::string what = where + " step " + std::to_string(++number);
      ConfiguredStep out;
      if (step.is_integer()) {
        auto f = readTone(step, what);
        if (!f) continue;
        out.frequency1Hz = *f;
      } else if (const toml::array* pair = step.as_array()) {
        if (pair->size() != 2) {
          error(step.source(), what + ": a dual tone is a pair of frequencies such as [675, 1240]");
          continue;
        }
        auto f1 = readTone(*pair->get(0), what + " first tone");
        auto f2 = readTone(*pair->get(1), what + " second tone");
        if (!f1 || !f2) continue;
        out = {*f1, *f2, true};
      } else if (const toml::table* raw = step.as_table()) {
        if (!readRawStep(*raw, what, out)) continue;
      } else {
        error(step.source(), what + ": a step is a frequency (1060) or a pair of frequencies "
                                    "([675, 1240]), not " + typeName(step));
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
        auto v = readInteger(node, what + " " + name, kMin, kMaxInt);
        if (!v) fine = false;
        else if (name == "frequency1_hz") out.frequency1Hz = *v, haveFirst = true;
        else out.frequency2Hz = *v;
      } else if (name == "dual_tone") {
        if (const auto* b = node.as_boolean()) out.dualTone = b->get();
        else error(node.source(), what + " dual_tone must be true or false, not " + typeName(node)), fine = false;
      } else {
        error(key.source(), what + ": unknown key '" + name + "' (known: frequency1_hz, frequency2_hz, dual_tone)");
        fine = false;
      }
    }
    if (!haveFirst && fine) {
      error(t.source(), what + ": 'frequency1_hz' is missing");
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
    reading.diagnostics.push_back(
        {e.source().begin.line, e.source().begin.column, std::string(e.description()), false});
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
      case StorageHazard::Kind::TextByteZero: why = "would end the configuration text"; break;
      case StorageHazard::Kind::StoredEndOfFile:
        why = "would be stored as the end-of-file mark 0x1A, so everything after it would be lost";
        break;
      case StorageHazard::Kind::StoredCrLf:
        why = "would be stored as a carriage return right before a line feed, which the program "
              "reads as one line break";
        break;
    }
    reading.diagnostics.push_back(
        {line, 0,
         "alarm " + std::to_string(alarm + 1) + " " +
             tomlString(c.alarms.empty() ? "" : c.alarms[alarm].text) + ": " + describeCodePoint(byte) + " at character " + std::to_string(charIndex + 1) + " " +
             why + "; the file would load differently. Remove or move the character.",
         false});
  }
  if (text.size() > kMaxConfigurationBytes) {
    reading.diagnostics.push_back({0, 0,
                                   "the configuration text is " + std::to_string(text.size()) +
                                       " bytes long; the program reads at most " +
                                       std::to_string(kMaxConfigurationBytes),
                                   false});
  }
  return text;
}

std::string writeConfigurationSource(const Configuration& c) {
  std::string out;
  out += "# Kantiq configuration. Write it with: kantiq-config write THIS-FILE FOLDER\n\n";
  out += "[detector]\n";
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    const ParameterDescription& parameter = kParameters[n - 1];
    out += std::string("# ") + parameter.comment + "\n";
    out += std::string(parameter.key) + " = " + std::to_string(detectorParameter(c.parameters, n)) + "\n";
  }
  const ToneSet* zvei = findToneSet("ZVEI1");
  for (const ConfiguredAlarm& a : c.alarms) {
    out += "\n[[alarm]]\ntext = " + tomlString(a.text) + "\n";
    std::vector<int32_t> plain;
    bool allPlain = true;
    for (const ConfiguredStep& s : a.steps) {
      allPlain = allPlain && !s.dualTone && s.frequency2Hz == 0;
      plain.push_back(s.frequency1Hz);
    }
    if (allPlain) {
      if (auto code = codeOfTones(plain, *zvei)) {
        out += "code = \"" + *code + "\"\ntone_set = \"" + std::string(zvei->name) + "\"\n";
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
    out += d.warning ? ": warning: " : ": error: ";
    out += d.message + "\n";
  }
  return out;
}

}  // namespace kantiq::tool
