#include "config/kantiq_settings.h"

#include <charconv>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

namespace kantiq {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kInputName = "input_name";
constexpr std::string_view kInputPosition = "input_position";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The settings written as whole numbers. scale is how many of the stored
// unit one written unit is. A new number needs a row here and nothing else.
struct NumberSetting {
  std::string_view name;
  int64_t minimum;
  int64_t maximum;
  int64_t scale;
  int64_t (*get)(const KantiqSettings&);
  void (*set)(KantiqSettings&, int64_t);
  const char* comment;  // composeSettings puts it above the line
};

const NumberSetting kNumbers[] = {
    {kInputPosition, 1, kMaxInputPosition, 1,
     [](const KantiqSettings& s) -> int64_t { return s.inputPosition; },
     [](KantiqSettings& s, int64_t v) { s.inputPosition = static_cast<int32_t>(v); },
     "# Der wievielte Eingang dieses Namens, von 1 an gezählt (1 bis 99): Zwei\n"
     "# gleiche USB-Soundkarten haben denselben Namen. Vorgabe 1.\n"},
    {"silence_limit_s", 0, kMaxSilenceLimitS, 1000,
     [](const KantiqSettings& s) -> int64_t { return s.silenceLimitMs; },
     [](KantiqSettings& s, int64_t v) { s.silenceLimitMs = v; },
     "# Trägt der Eingang so viele Sekunden lang gar kein Signal, meldet Kantiq\n"
     "# eine Störung (0 bis 86400). 0 schaltet diese Prüfung ab. Vorgabe 120\n"
     "# (2 Minuten). Ein Empfänger, der seinen Ausgang zwischen den Durchsagen\n"
     "# stumm schaltet, macht auch den Line-in-Eingang still: Dann einen\n"
     "# längeren Wert eintragen oder 0.\n"},
    {"sms_retry_s", kMinSmsRetryS, kMaxSmsRetryS, 1000,
     [](const KantiqSettings& s) -> int64_t { return s.smsRetryMs; },
     [](KantiqSettings& s, int64_t v) { s.smsRetryMs = v; },
     "# Warten SMS eines Alarms noch im Postausgang von S.exe (Modem oder\n"
     "# Gateway gestört), lässt Kantiq S.exe so viele Sekunden nach dem letzten\n"
     "# Versuch wieder senden (30 bis 86400). Vorgabe 180 (3 Minuten).\n"},
    {"notice_delay_s", kMinNoticeDelayS, kMaxNoticeDelayS, 1000,
     [](const KantiqSettings& s) -> int64_t { return s.noticeDelayMs; },
     [](KantiqSettings& s, int64_t v) { s.noticeDelayMs = v; },
     "# Hört Kantiq so viele Sekunden lang nicht zu (Aufnahmegerät fehlt oder\n"
     "# gestört, Eingang stumm, von Hand ausgeschaltet), bekommen die Gruppen mit\n"
     "# \"hinweise = true\" in S.toml eine SMS (10 bis 86400). Vorgabe 600\n"
     "# (10 Minuten).\n"},
    {"sign_of_life_day", 0, 7, 1,
     [](const KantiqSettings& s) -> int64_t { return s.signOfLifeDay; },
     [](KantiqSettings& s, int64_t v) { s.signOfLifeDay = static_cast<int32_t>(v); },
     "# Das wöchentliche Lebenszeichen an die Gruppen mit \"hinweise = true\":\n"
     "# Wochentag 1 (Montag) bis 7 (Sonntag), 0 schaltet es ab. Vorgabe 1.\n"},
    {"sign_of_life_minute", 0, 1439, 1,
     [](const KantiqSettings& s) -> int64_t { return s.signOfLifeMinute; },
     [](KantiqSettings& s, int64_t v) { s.signOfLifeMinute = static_cast<int32_t>(v); },
     "# Die Uhrzeit des Lebenszeichens in Minuten nach Mitternacht (0 bis 1439),\n"
     "# z. B. 600 für 10:00. Vorgabe 600.\n"},
};

constexpr size_t kNumberCount = std::size(kNumbers);

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string_view withoutBom(std::string_view text) {
  return text.starts_with(kUtf8Bom) ? text.substr(kUtf8Bom.size()) : text;
}

// The lines of a text without their line ends ("\n" or "\r\n").
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}

  // The next line: its content, and the content with its line end.
  bool next(std::string_view& content, std::string_view& whole) {
    if (rest_.empty()) return false;
    const size_t end = rest_.find('\n');
    const size_t length = end == std::string_view::npos ? rest_.size() : end + 1;
    whole = rest_.substr(0, length);
    content = rest_.substr(0, end == std::string_view::npos ? rest_.size() : end);
    if (content.ends_with('\r')) content.remove_suffix(1);
    rest_.remove_prefix(length);
    return true;
  }

 private:
  std::string_view rest_;
};

struct Assignment {
  std::string_view name;
  std::string_view value;
};

// Blank and comment lines are ignored; any other line is an assignment
// (classify gives its trimmed name and value) or, without '=', malformed.
enum class LineKind { Ignored, Assignment, Malformed };

LineKind classify(std::string_view content, Assignment& out) {
  const std::string_view trimmed = trim(content);
  if (trimmed.empty() || trimmed.front() == '#') return LineKind::Ignored;
  const size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return LineKind::Malformed;
  out = {trim(trimmed.substr(0, equals)), trim(trimmed.substr(equals + 1))};
  return LineKind::Assignment;
}

// A piece of the file as a message shows it: short, without control bytes.
std::string shown(std::string_view s) {
  constexpr size_t kLongest = 40;
  std::string out;
  for (char c : s.substr(0, kLongest)) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(b < 0x20 || b == 0x7F ? '?' : c);
  }
  if (s.size() > kLongest) out += "…";
  return out;
}

std::string inQuotes(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(b < 0x20 || b == 0x7F ? ' ' : c);
  }
  return out + "\"";
}

std::optional<int64_t> wholeNumber(std::string_view s) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

std::string problemAt(size_t line) {
  return std::string("EINSTELLUNGEN: ") + kSettingsFileName + ", Zeile " + std::to_string(line) + ": ";
}

class Parser {
 public:
  SettingsReading run(std::string_view text) {
    Lines lines(withoutBom(text));
    std::string_view content;
    std::string_view whole;
    while (lines.next(content, whole)) {
      ++line_;
      Assignment a;
      switch (classify(content, a)) {
        case LineKind::Ignored: break;
        case LineKind::Malformed:
          problem(std::string("\"") + shown(trim(content)) + "\" hat nicht die Form Name = Wert. Die Zeile bleibt unbeachtet.");
          break;
        case LineKind::Assignment: assign(a); break;
      }
    }
    return std::move(reading_);
  }

 private:
  // Per setting (0: the input name, then kNumbers): the first line that
  // named it and the line its value came from (0: none, the default).
  struct Seen {
    size_t firstLine = 0;
    size_t valueLine = 0;
  };

  void problem(const std::string& text) { reading_.problems.push_back(problemAt(line_) + text); }

  std::string fallback(size_t index) const {
    const KantiqSettings& s = reading_.settings;
    const size_t from = seen_[index].valueLine;
    if (index == 0) {
      return from == 0 ? "Kantiq nimmt die Vorgabe: den voreingestellten Eingang."
                       : "Kantiq nimmt den Eingang " + inQuotes(s.inputName) + " aus Zeile " + std::to_string(from) + ".";
    }
    const NumberSetting& n = kNumbers[index - 1];
    const std::string value = std::to_string(n.get(s) / n.scale);
    return from == 0 ? "Kantiq nimmt die Vorgabe " + value + "."
                     : "Kantiq nimmt den Wert " + value + " aus Zeile " + std::to_string(from) + ".";
  }

  void assign(const Assignment& a) {
    size_t index = 0;
    if (a.name != kInputName) {
      while (index < kNumberCount && kNumbers[index].name != a.name) ++index;
      if (index == kNumberCount) {
        std::string known(kInputName);
        for (const NumberSetting& n : kNumbers) known += ", " + std::string(n.name);
        problem("Unbekannter Name \"" + shown(a.name) + "\" (bekannt: " + known + "). Die Zeile bleibt unbeachtet.");
        return;
      }
      ++index;
    }
    Seen& seen = seen_[index];
    if (seen.firstLine != 0) {
      problem(std::string(a.name) + " steht schon in Zeile " + std::to_string(seen.firstLine) + ". " + fallback(index));
      return;
    }
    seen.firstLine = line_;
    if (index == 0) {
      assignName(a.value);
    } else {
      assignNumber(kNumbers[index - 1], index, a.value);
    }
  }

  void assignName(std::string_view value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
      problem("Der Name muss in Anführungszeichen stehen (input_name = \"Name\"); hier steht " +
              (value.empty() ? std::string("nichts") : shown(value)) + ". " + fallback(0));
      return;
    }
    const std::string_view name = value.substr(1, value.size() - 2);
    if (name.size() > kMaxInputNameLength) {
      problem("input_name = \"" + shown(name) + "\" ist länger als " + std::to_string(kMaxInputNameLength) +
              " Zeichen. " + fallback(0));
      return;
    }
    reading_.settings.inputName = std::string(name);
    seen_[0].valueLine = line_;
  }

  void assignNumber(const NumberSetting& n, size_t index, std::string_view value) {
    const std::optional<int64_t> v = wholeNumber(value);
    if (!v || *v < n.minimum || *v > n.maximum) {
      problem(std::string(n.name) + " = \"" + shown(value) + "\" ist keine Zahl von " + std::to_string(n.minimum) +
              " bis " + std::to_string(n.maximum) + ". " + fallback(index));
      return;
    }
    n.set(reading_.settings, *v * n.scale);
    seen_[index].valueLine = line_;
  }

  SettingsReading reading_;
  Seen seen_[1 + kNumberCount];
  size_t line_ = 0;
};

// Up to limit bytes of the file; false when it cannot be opened or read.
// whole says whether that was all of it.
bool readUpTo(const fs::path& file, size_t limit, std::string& text, bool& whole) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text.resize(limit + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return false;
  text.resize(static_cast<size_t>(in.gcount()));
  whole = text.size() <= limit;
  if (!whole) text.resize(limit);
  return true;
}

enum class Presence { Missing, Unreadable, Read };

// The file's text, at most kMaxSettingsBytes of it.
Presence readFile(const fs::path& file, std::string& text, bool& whole) {
  std::error_code ec;
  const fs::file_type type = fs::status(file, ec).type();
  if (type == fs::file_type::not_found) return Presence::Missing;
  if (type != fs::file_type::regular || !readUpTo(file, kMaxSettingsBytes, text, whole)) return Presence::Unreadable;
  return Presence::Read;
}

// Removes the file in its destructor unless kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  fs::path path_;
};

}  // namespace

// Writes a temporary file beside target and renames it over target (which
// on Windows replaces an existing file as well).
bool replaceFileWith(const fs::path& target, std::string_view bytes) {
  std::error_code ec;
  fs::path temporaryPath;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = target;
    candidate += ".";
    candidate += std::to_string(attempt);
    candidate += ".tmp";
    if (!fs::exists(candidate, ec) && !ec) {
      temporaryPath = std::move(candidate);
      break;
    }
  }
  if (temporaryPath.empty()) return false;
  TemporaryFile temporary(temporaryPath);
  {
    std::ofstream out(temporary.path(), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return false;
  }
  fs::rename(temporary.path(), target, ec);
  if (ec) return false;
  temporary.keep();
  return true;
}


bool readSmallFile(const fs::path& file, std::string& text) {
  bool whole = true;
  return readFile(file, text, whole) == Presence::Read;
}

SettingsReading parseSettings(std::string_view text) { return Parser().run(text); }

SettingsReading readSettingsFile(const fs::path& folder) {
  std::string text;
  bool whole = true;
  switch (readFile(folder / kSettingsFileName, text, whole)) {
    case Presence::Missing: return {};
    case Presence::Unreadable: {
      SettingsReading r;
      r.unreadable = true;
      r.problems.push_back(std::string("EINSTELLUNGEN: ") + kSettingsFileName +
                           " kann nicht gelesen werden. Kantiq nimmt für alle Einstellungen die Vorgaben.");
      return r;
    }
    case Presence::Read: break;
  }
  // A line cut by the limit is left out rather than misread.
  if (!whole) text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  SettingsReading r = parseSettings(text);
  r.found = true;
  if (!whole) {
    r.problems.push_back(std::string("EINSTELLUNGEN: ") + kSettingsFileName + " ist länger als " +
                         std::to_string(kMaxSettingsBytes) + " Bytes. Kantiq liest nur die Zeilen darin, " +
                         "die in den ersten " + std::to_string(kMaxSettingsBytes) + " Bytes stehen.");
  }
  return r;
}

std::string composeSettings(const KantiqSettings& settings) {
  std::string text =
      "# Kantiq.ini: Einstellungen von Kantiq, die nicht in SMSConfig1.dat stehen.\n"
      "# kantiq-config schreibt diese Datei aus dem Abschnitt [input] von\n"
      "# kantiq.toml; Kantiq liest sie nur beim Start. Jede Zeile hat die Form\n"
      "# Name = Wert; Zeilen, die mit # beginnen, sind Kommentare. Fehlt eine\n"
      "# Zeile, gilt ihre Vorgabe. Eine Zeile, die Kantiq nicht lesen kann,\n"
      "# nennt Kantiq beim Start, und es nimmt dafür ebenfalls die Vorgabe.\n"
      "\n"
      "# Der Aufnahme-Eingang, auf dem Kantiq hört: sein Name, wie Windows ihn\n"
      "# zeigt, in Anführungszeichen, höchstens 31 Zeichen. Vorgabe \"\" (leer):\n"
      "# Kantiq nimmt den Eingang, den Windows voreingestellt hat, und merkt ihn\n"
      "# sich hier beim ersten Start.\n";
  text += std::string(kInputName) + " = " + inQuotes(settings.inputName) + "\n";
  for (const NumberSetting& n : kNumbers) {
    text += "\n";
    text += n.comment;
    text += std::string(n.name) + " = " + std::to_string(n.get(settings) / n.scale) + "\n";
  }
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  return crlf;
}

std::string withRememberedInput(std::string_view text, std::string_view name, int32_t position) {
  const std::string nameLine = std::string(kInputName) + " = " + inQuotes(name);
  const std::string positionLine = std::string(kInputPosition) + " = " + std::to_string(position);
  const size_t firstEnd = text.find('\n');
  const std::string_view lineEnd = firstEnd != std::string_view::npos && (firstEnd == 0 || text[firstEnd - 1] != '\r')
                                       ? "\n"
                                       : "\r\n";
  const std::string_view body = withoutBom(text);
  std::string out(text.substr(0, text.size() - body.size()));
  bool nameDone = false;
  bool positionDone = false;
  Lines lines(body);
  std::string_view content;
  std::string_view whole;
  while (lines.next(content, whole)) {
    Assignment a;
    const bool assignment = classify(content, a) == LineKind::Assignment;
    const std::string_view ending = whole.substr(content.size());
    if (assignment && a.name == kInputName && !nameDone) {
      out += nameLine;
      out += ending;
      nameDone = true;
    } else if (assignment && a.name == kInputPosition && !positionDone) {
      out += positionLine;
      out += ending;
      positionDone = true;
    } else {
      out += whole;
    }
  }
  if (nameDone && positionDone) return out;
  if (!out.empty() && !out.ends_with('\n')) out += lineEnd;
  out += "# Von Kantiq beim ersten Start gemerkt: der Eingang, den Windows damals voreingestellt hatte.";
  out += lineEnd;
  for (const auto& [done, line] : {std::pair{nameDone, &nameLine}, std::pair{positionDone, &positionLine}}) {
    if (done) continue;
    out += *line;
    out += lineEnd;
  }
  return out;
}

bool rememberInput(const fs::path& folder, std::string_view name, int32_t position) {
  const fs::path file = folder / kSettingsFileName;
  std::string text;
  bool whole = true;
  switch (readFile(file, text, whole)) {
    case Presence::Missing: text.clear(); break;
    case Presence::Unreadable: return false;
    case Presence::Read:
      if (!whole) return false;
      break;
  }
  return replaceFileWith(file, withRememberedInput(text, name, position));
}

}  // namespace kantiq
