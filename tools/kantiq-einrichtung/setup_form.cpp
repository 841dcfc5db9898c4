#include "setup_form.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "common/cp1252.h"
#include "common/tone_sets.h"
#include "common/toml_values.h"
#include "config_source.h"
#include "example_texts.h"
#include "sender/config/sender_config.h"

namespace kantiq::setup {
namespace {

using tool::Diagnostic;

// --- Lines of the example files --------------------------------------------

std::string trimmed(std::string_view s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  const size_t b = s.find_last_not_of(" \t");
  return std::string(s.substr(a, b - a + 1));
}

bool isKeyChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }

// "name = value   # comment" split into its parts; nullopt for any other line.
struct KeyLine {
  std::string name;
  std::string value;     // TOML as written
  std::string trailing;  // "# comment", or empty
  size_t commentColumn = 0;
};

std::optional<KeyLine> splitKeyLine(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && isKeyChar(line[i])) ++i;
  if (i == 0 || line.substr(i, 3) != " = ") return std::nullopt;
  KeyLine k;
  k.name = std::string(line.substr(0, i));
  size_t j = i + 3;
  char quote = 0;
  for (; j < line.size(); ++j) {
    const char c = line[j];
    if (quote != 0) {
      if (c == '\\' && quote == '"') {
        ++j;
      } else if (c == quote) {
        quote = 0;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#') {
      break;
    }
  }
  k.value = trimmed(line.substr(i + 3, j - i - 3));
  if (j < line.size()) {
    k.trailing = std::string(line.substr(j));
    k.commentColumn = j;
  }
  return k;
}

// "# [name]" or "[name]"; "[[name]]" is an entry header.
std::optional<std::string> headerName(std::string_view line) {
  if (line.size() < 3 || line.front() != '[' || line.back() != ']' || line.substr(0, 2) == "[[") return std::nullopt;
  return std::string(line.substr(1, line.size() - 2));
}

std::string uncommented(std::string_view line) {
  if (line == "#") return {};
  if (line.substr(0, 2) == "# ") return std::string(line.substr(2));
  return std::string(line);
}

std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string withoutBomAndReturns(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out.push_back(c);
  }
  return out;
}

// What the walk over an example sees on one line: the line itself, and for
// a line of a section that is set in the form but commented in the example,
// the line one comment level less.
struct ExampleLine {
  std::string text;
  std::string section;
  bool inCommentedSection = false;
  bool header = false;
  bool commentedHeader = false;
  bool entriesStart = false;
};

std::vector<ExampleLine> walkExample(std::string_view example) {
  std::vector<ExampleLine> out;
  std::string section;
  bool commentedSection = false;
  for (const std::string& line : linesOf(example)) {
    ExampleLine e;
    e.text = line;
    if (line.empty()) commentedSection = false;
    if (line.rfind("[[", 0) == 0) {
      e.entriesStart = true;
      out.push_back(e);
      break;
    }
    if (const auto name = headerName(line)) {
      section = *name;
      commentedSection = false;
      e.header = true;
    } else if (line.rfind("# [", 0) == 0 && headerName(line.substr(2))) {
      section = *headerName(line.substr(2));
      commentedSection = true;
      e.commentedHeader = true;
    } else {
      e.inCommentedSection = commentedSection;
    }
    e.section = section;
    out.push_back(std::move(e));
  }
  return out;
}

std::string_view exampleText(FileId file) { return file == FileId::Monitor ? kMonitorExample : kSenderExample; }

std::string fullKey(const std::string& section, const std::string& name) {
  return section.empty() ? name : section + "." + name;
}

// The key line a line of the example holds once its section is in use, and
// whether it is commented there.
struct KeyAt {
  KeyLine key;
  bool commented = false;
};

std::optional<KeyAt> keyOf(const ExampleLine& e) {
  if (e.header || e.commentedHeader || e.entriesStart) return std::nullopt;
  const std::string inner = e.inCommentedSection ? uncommented(e.text) : e.text;
  if (auto k = splitKeyLine(inner)) return KeyAt{*k, false};
  if (inner.rfind("# ", 0) == 0) {
    if (auto k = splitKeyLine(std::string_view(inner).substr(2))) return KeyAt{*k, true};
  }
  return std::nullopt;
}

struct KnownKey {
  ValueKind kind;
  std::string exampleValue;  // as the example writes it (TOML)
};

ValueKind kindOfValue(const std::string& value) {
  if (value.empty()) return ValueKind::Toml;
  if (value.front() == '"' || value.front() == '\'') return ValueKind::Text;
  if (value == "true" || value == "false") return ValueKind::Flag;
  if (value.find_first_not_of("-0123456789") == std::string::npos) return ValueKind::Number;
  return ValueKind::Toml;
}

// Every key an example names, first mention first.
const std::map<std::string, KnownKey>& knownKeys(FileId file) {
  static const auto build = [](FileId f) {
    std::map<std::string, KnownKey> keys;
    for (const ExampleLine& e : walkExample(exampleText(f))) {
      if (const auto k = keyOf(e)) {
        keys.try_emplace(fullKey(e.section, k->key.name), KnownKey{kindOfValue(k->key.value), k->key.value});
      }
    }
    return keys;
  };
  static const std::map<std::string, KnownKey> monitor = build(FileId::Monitor);
  static const std::map<std::string, KnownKey> sender = build(FileId::Sender);
  return file == FileId::Monitor ? monitor : sender;
}

// --- Writing values ---------------------------------------------------------

std::string tomlString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      static const char hex[] = "0123456789ABCDEF";
      out += "\\u00";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string textList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + tomlString(items[i]);
  return out + "]";
}

// A value as TOML. A number or flag that is not one is written as a text,
// so the file stays readable and its reader names the key.
std::string tomlValue(ValueKind kind, const std::string& typed) {
  const std::string t = trimmed(typed);
  switch (kind) {
    case ValueKind::Text: return tomlString(typed);
    case ValueKind::Number: return checkNumberValue(t).empty() ? t : tomlString(typed);
    case ValueKind::Flag: return t == "true" || t == "false" ? t : tomlString(typed);
    case ValueKind::Toml: return t.empty() ? tomlString(typed) : t;
  }
  return tomlString(typed);
}

std::string keyLineText(const std::string& name, const std::string& value, const KeyLine& model) {
  std::string line = name + " = " + value;
  if (!model.trailing.empty()) {
    const size_t column = std::max(line.size() + 2, model.commentColumn);
    line.resize(column, ' ');
    line += model.trailing;
  }
  return line;
}

// --- Rendering --------------------------------------------------------------

struct Rendered {
  std::vector<std::string> lines;
  std::vector<Place> places;  // one per line
  void add(std::string line, Place place) {
    lines.push_back(std::move(line));
    places.push_back(std::move(place));
  }
  std::string text() const {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  }
};

bool sectionUsed(const Settings& settings, const std::string& section) {
  const std::string prefix = section + ".";
  const auto it = settings.lower_bound(prefix);
  return it != settings.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void renderSettings(FileId file, const Settings& settings, Rendered& out) {
  std::set<std::string> written;
  const Place wholeFile = Place::ofFile(file);
  bool used = true;
  for (const ExampleLine& e : walkExample(exampleText(file))) {
    if (e.entriesStart) break;
    if (e.header || e.commentedHeader) {
      used = sectionUsed(settings, e.section);
      out.add(used ? "[" + e.section + "]" : "# [" + e.section + "]", wholeFile);
      continue;
    }
    if (e.inCommentedSection && !used) {
      out.add(e.text, wholeFile);
      continue;
    }
    const std::string inner = e.inCommentedSection ? uncommented(e.text) : e.text;
    const auto k = keyOf(e);
    if (!k) {
      out.add(inner, wholeFile);
      continue;
    }
    const std::string key = fullKey(e.section, k->key.name);
    if (!written.insert(key).second) {
      out.add(k->commented ? inner : "# " + inner, wholeFile);
      continue;
    }
    const auto value = settings.find(key);
    if (value != settings.end()) {
      out.add(keyLineText(k->key.name, tomlValue(knownKeys(file).at(key).kind, value->second), k->key),
              Place::ofKey(file, key));
    } else {
      // Not set: the example's line as a comment (a section not in use
      // keeps its keys' lines as they are).
      out.add(k->commented ? inner : "# " + inner, Place::ofKey(file, key));
    }
  }
}

void renderAlarms(const std::vector<AlarmEntry>& alarms, Rendered& out) {
  for (size_t i = 0; i < alarms.size(); ++i) {
    const AlarmEntry& a = alarms[i];
    const int index = static_cast<int>(i);
    auto at = [&](const char* field) { return Place::ofAlarm(index, field); };
    if (i > 0) out.add("", at(""));
    out.add("[[alarm]]", at(""));
    out.add("text = " + tomlString(a.text), at("text"));
    if (!a.code.empty() || a.steps.empty()) out.add("code = " + tomlString(a.code), at("code"));
    if (!a.toneSet.empty()) out.add("tone_set = " + tomlString(a.toneSet), at("tone_set"));
    if (!a.steps.empty()) out.add("steps = " + tomlValue(ValueKind::Toml, a.steps), at("steps"));
  }
}

void renderGroups(const std::vector<GroupEntry>& groups, Rendered& out) {
  for (size_t i = 0; i < groups.size(); ++i) {
    const GroupEntry& g = groups[i];
    const int index = static_cast<int>(i);
    auto at = [&](const char* field) { return Place::ofGroup(index, field); };
    out.add("", at(""));
    out.add("[[gruppe]]", at(""));
    out.add("name = " + tomlString(g.name), at("name"));
    if (g.allAlarms) out.add("alle_alarme = true", at("alle_alarme"));
    if (!g.keywords.empty()) out.add("stichworte = " + textList(g.keywords), at("stichworte"));
    if (g.notices) out.add("hinweise = true", at("hinweise"));
    out.add("nummern = " + textList(g.numbers), at("nummern"));
  }
}

Rendered renderMonitor(const SetupForm& form) {
  Rendered out;
  renderSettings(FileId::Monitor, form.monitor, out);
  renderAlarms(form.alarms, out);
  return out;
}

Rendered renderSender(const SetupForm& form) {
  Rendered out;
  renderSettings(FileId::Sender, form.sender, out);
  // The example's last comment block is followed by a blank line before
  // each group; drop the one the walk already wrote.
  if (!out.lines.empty() && out.lines.back().empty()) {
    out.lines.pop_back();
    out.places.pop_back();
  }
  renderGroups(form.groups, out);
  return out;
}

// --- Reading ----------------------------------------------------------------

// The text a node was written as, from the source itself.
std::string sourceText(const std::vector<std::string>& lines, const toml::node& node) {
  const toml::source_region r = node.source();
  if (r.begin.line == 0 || r.end.line == 0 || r.end.line > lines.size()) return {};
  std::string out;
  for (auto line = r.begin.line; line <= r.end.line; ++line) {
    const std::string& l = lines[line - 1];
    const size_t from = line == r.begin.line ? r.begin.column - 1 : 0;
    const size_t to = line == r.end.line ? std::min<size_t>(r.end.column - 1, l.size()) : l.size();
    if (from < to) out += l.substr(from, to - from);
    if (line != r.end.line) out += "\n";
  }
  return trimmed(out);
}

struct FileReading {
  Settings settings;
  std::vector<AlarmEntry> alarms;
  std::vector<GroupEntry> groups;
  std::vector<Problem> problems;
};

class FileReader {
 public:
  FileReader(FileId file, const std::string& text) : file_(file), lines_(linesOf(text)) {}

  FileReading read(const std::string& text) {
    try {
      const toml::table root = toml::parse(text);
      readTable(root, "");
    } catch (const toml::parse_error& e) {
      problem(e.source().begin.line, "TOML-Syntaxfehler: " + std::string(e.description()));
    }
    return std::move(out_);
  }

 private:
  void problem(uint32_t line, std::string message) {
    out_.problems.emplace_back(Place::ofFile(file_), std::move(message), line);
  }

  void readTable(const toml::table& table, const std::string& section) {
    for (const auto& [k, node] : table) {
      const std::string name(k.str());
      const std::string key = fullKey(section, name);
      const uint32_t line = node.source().begin.line;
      if (section.empty() && node.is_array_of_tables()) {
        readEntries(name, *node.as_array());
      } else if (section.empty() && node.is_table()) {
        readTable(*node.as_table(), name);
      } else {
        readValue(key, node, line);
      }
    }
  }

  void readValue(const std::string& key, const toml::node& node, uint32_t line) {
    const auto known = knownKeys(file_).find(key);
    if (known == knownKeys(file_).end()) {
      problem(line, "Unbekannter Eintrag \"" + key + "\".");
      return;
    }
    std::string typed;
    bool fits = true;
    switch (known->second.kind) {
      case ValueKind::Text:
        fits = node.is_string();
        if (fits) typed = node.as_string()->get();
        break;
      case ValueKind::Number:
        fits = node.is_integer();
        if (fits) typed = std::to_string(node.as_integer()->get());
        break;
      case ValueKind::Flag:
        fits = node.is_boolean();
        if (fits) typed = node.as_boolean()->get() ? "true" : "false";
        break;
      case ValueKind::Toml: typed = sourceText(lines_, node); break;
    }
    if (!fits) {
      problem(line, "\"" + key + "\" hat die falsche Art von Wert (Beispiel: " + known->second.exampleValue + ").");
      return;
    }
    out_.settings[key] = typed;
  }

  // A value read by the shared reader; a fault is told and makes the entry
  // not `fine`. Absent or faulty: the type's empty value.
  template <typename T>
  T take(tool::TomlValue<T> read, bool& fine) {
    if (read.fault) {
      problem(read.fault->line, read.fault->message + ".");
      fine = false;
    }
    return std::move(read.value).value_or(T{});
  }

  std::string text(const toml::table& t, const char* name, bool& fine) { return take(tool::stringAt(t, name), fine); }
  bool flag(const toml::table& t, const char* name, bool& fine) { return take(tool::booleanAt(t, name), fine); }
  std::vector<std::string> texts(const toml::table& t, const char* name, bool& fine) {
    return take(tool::stringsAt(t, name), fine);
  }

  bool onlyKnown(const toml::table& t, std::initializer_list<std::string_view> names, const std::string& what) {
    bool fine = true;
    for (const auto& [k, node] : t) {
      if (std::find(names.begin(), names.end(), k.str()) == names.end()) {
        problem(node.source().begin.line, what + ": unbekannter Eintrag \"" + std::string(k.str()) + "\".");
        fine = false;
      }
    }
    return fine;
  }

  void readEntries(const std::string& name, const toml::array& entries) {
    const bool alarms = file_ == FileId::Monitor && name == "alarm";
    const bool groups = file_ == FileId::Sender && name == "gruppe";
    if (!alarms && !groups) {
      problem(entries.source().begin.line, "Unbekannter Eintrag \"[[" + name + "]]\".");
      return;
    }
    for (const toml::node& node : entries) {
      const toml::table& t = *node.as_table();
      bool fine = true;
      if (alarms) {
        fine = onlyKnown(t, {"text", "code", "tone_set", "steps"}, "Alarm " + std::to_string(out_.alarms.size() + 1));
        AlarmEntry a{text(t, "text", fine), text(t, "code", fine), text(t, "tone_set", fine), {}};
        if (const toml::node* steps = t.get("steps")) a.steps = sourceText(lines_, *steps);
        if (fine) out_.alarms.push_back(std::move(a));
      } else {
        fine = onlyKnown(t, {"name", "alle_alarme", "stichworte", "hinweise", "nummern"},
                         "Gruppe " + std::to_string(out_.groups.size() + 1));
        GroupEntry g{text(t, "name", fine), flag(t, "alle_alarme", fine), flag(t, "hinweise", fine),
                     texts(t, "stichworte", fine), texts(t, "nummern", fine)};
        if (fine) out_.groups.push_back(std::move(g));
      }
    }
  }

  FileId file_;
  std::vector<std::string> lines_;
  FileReading out_;
};

// --- Checking ---------------------------------------------------------------

Place placeOfLine(const Rendered& r, uint32_t line, FileId file) {
  if (line >= 1 && line <= r.places.size()) return r.places[line - 1];
  return Place::ofFile(file);
}

std::string senderReason(const std::string& cp1252Error, uint32_t& line) {
  std::string message = tool::cp1252ToUtf8(cp1252Error);
  line = 0;
  if (message.rfind("Zeile ", 0) == 0) {
    const size_t colon = message.find(": ");
    if (colon != std::string::npos) {
      line = static_cast<uint32_t>(std::strtoul(message.c_str() + 6, nullptr, 10));
      message = message.substr(colon + 2);
    }
  }
  return message;
}

std::optional<std::vector<int32_t>> tonesOfCode(const AlarmEntry& a) {
  if (a.code.empty() || !a.steps.empty() || !checkCode(a.code, a.toneSet).empty()) return std::nullopt;
  const tool::ToneSet* set = a.toneSet.empty() ? &tool::defaultToneSet() : tool::findToneSet(a.toneSet);
  if (set == nullptr) return std::nullopt;
  return tool::expandCode(a.code, *set);
}

void checkValues(const SetupForm& form, std::vector<Problem>& problems) {
  const std::pair<FileId, const Settings*> files[] = {{FileId::Monitor, &form.monitor},
                                                      {FileId::Sender, &form.sender}};
  for (const auto& [file, settings] : files) {
    for (const auto& [key, value] : *settings) {
      const auto kind = kindOf(file, key);
      if (!kind) {
        problems.push_back({Place::ofKey(file, key), "Unbekannter Eintrag \"" + key + "\"."});
      } else if (*kind == ValueKind::Number) {
        if (std::string why = checkNumberValue(value); !why.empty()) problems.push_back({Place::ofKey(file, key), why});
      }
    }
  }
  for (size_t i = 0; i < form.alarms.size(); ++i) {
    const AlarmEntry& a = form.alarms[i];
    const int index = static_cast<int>(i);
    if (a.steps.empty()) {
      if (std::string why = checkCode(a.code, a.toneSet); !why.empty()) {
        problems.push_back({Place::ofAlarm(index, "code"), why});
      } else if (const int other = duplicateCodeOf(form, a, index); other >= 0 && other < index) {
        problems.push_back({Place::ofAlarm(index, "code"),
                            "Dieser Code ist schon bei Alarm " + std::to_string(other + 1) + " eingetragen."});
      }
    }
  }
  for (size_t i = 0; i < form.groups.size(); ++i) {
    for (const std::string& n : form.groups[i].numbers) {
      if (std::string why = checkPhoneNumber(n); !why.empty()) {
        problems.push_back({Place::ofGroup(static_cast<int>(i), "nummern"), why});
      }
    }
  }
}

}  // namespace

std::optional<ValueKind> kindOf(FileId file, std::string_view key) {
  const auto& keys = knownKeys(file);
  const auto it = keys.find(std::string(key));
  if (it == keys.end()) return std::nullopt;
  return it->second.kind;
}

std::string exampleValue(FileId file, std::string_view key) {
  const auto& keys = knownKeys(file);
  const auto it = keys.find(std::string(key));
  if (it == keys.end()) return {};
  const std::string& v = it->second.exampleValue;
  if (it->second.kind == ValueKind::Text && v.size() >= 2) return v.substr(1, v.size() - 2);
  return v;
}

LoadedSetup loadSetup(const std::optional<std::string>& monitorText, const std::optional<std::string>& senderText) {
  LoadedSetup loaded;
  const auto readFile = [&](FileId file, const std::optional<std::string>& given, bool& fromExample,
                            bool& handMade) {
    const std::string text = withoutBomAndReturns(given ? *given : std::string(exampleText(file)));
    FileReading r = FileReader(file, text).read(text);
    fromExample = !given || !r.problems.empty();
    if (!r.problems.empty()) {
      for (Problem& p : r.problems) loaded.problems.push_back(std::move(p));
      const std::string example(exampleText(file));
      r = FileReader(file, example).read(example);
    }
    if (file == FileId::Monitor) {
      loaded.form.monitor = std::move(r.settings);
      loaded.form.alarms = std::move(r.alarms);
    } else {
      loaded.form.sender = std::move(r.settings);
      loaded.form.groups = std::move(r.groups);
    }
    const std::string rendered =
        file == FileId::Monitor ? renderMonitorFile(loaded.form) : renderSenderFile(loaded.form);
    handMade = given.has_value() && rendered != text;
  };
  readFile(FileId::Monitor, monitorText, loaded.monitorFromExample, loaded.monitorHandMade);
  readFile(FileId::Sender, senderText, loaded.senderFromExample, loaded.senderHandMade);
  return loaded;
}

SetupForm exampleForm() { return loadSetup(std::nullopt, std::nullopt).form; }

std::string renderMonitorFile(const SetupForm& form) { return renderMonitor(form).text(); }
std::string renderSenderFile(const SetupForm& form) { return renderSender(form).text(); }

std::vector<Problem> checkForm(const SetupForm& form) {
  std::vector<Problem> problems;
  checkValues(form, problems);
  if (!problems.empty()) return problems;

  const Rendered monitor = renderMonitor(form);
  tool::SourceReading reading = tool::readConfigurationSource(monitor.text(), kMonitorFileName);
  if (reading.ok()) tool::composeCheckedText(reading);
  for (const Diagnostic& d : reading.diagnostics) {
    problems.push_back({placeOfLine(monitor, d.line, FileId::Monitor), d.message, d.line, d.warning});
  }
  const Rendered sender = renderSender(form);
  const sender::ConfigResult parsed = sender::parseSenderConfig(sender.text());
  if (!parsed.ok) {
    uint32_t line = 0;
    std::string message = senderReason(parsed.error, line);
    problems.push_back({placeOfLine(sender, line, FileId::Sender), std::move(message), line});
  }
  return problems;
}

std::string checkCode(std::string_view code, std::string_view toneSet) {
  if (code.empty()) return "Bitte den Code eingeben, z. B. 23345.";
  std::string source = "[[alarm]]\ntext = \"x\"\ncode = " + tomlString(code) + "\n";
  if (!toneSet.empty()) source += "tone_set = " + tomlString(toneSet) + "\n";
  const tool::SourceReading reading = tool::readConfigurationSource(source, kMonitorFileName);
  for (const Diagnostic& d : reading.diagnostics) {
    if (d.warning) continue;
    // "Alarm 1: 'code' ..." without the alarm the reader numbered.
    const size_t colon = d.message.find(": ");
    return colon == std::string::npos ? d.message : d.message.substr(colon + 2);
  }
  return {};
}

std::string checkPhoneNumber(std::string_view number) {
  std::string normal;
  if (sender::normalisePhoneNumber(number, normal)) return {};
  return "\"" + std::string(number) +
         "\" ist keine gültige Mobilfunknummer: erlaubt sind ein + am Anfang und 3 bis 20 Ziffern, dazwischen "
         "Leerzeichen, /, -, . und Klammern.";
}

std::string checkNumberValue(std::string_view typed) {
  const std::string t = trimmed(typed);
  const size_t digits = t.rfind('-', 0) == 0 ? 1 : 0;
  if (t.size() == digits || t.size() > digits + 10 || t.find_first_not_of("0123456789", digits) != std::string::npos) {
    return "Bitte eine ganze Zahl eingeben.";
  }
  return {};
}

int duplicateCodeOf(const SetupForm& form, const AlarmEntry& alarm, int except) {
  const auto tones = tonesOfCode(alarm);
  if (!tones) return -1;
  for (size_t i = 0; i < form.alarms.size(); ++i) {
    if (static_cast<int>(i) == except) continue;
    if (tonesOfCode(form.alarms[i]) == tones) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace kantiq::setup
