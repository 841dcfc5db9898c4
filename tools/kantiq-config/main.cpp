// kantiq-config: writes, shows and checks the configuration files that Kantiq
// reads at start ("SMSConfig1.dat" and "SMSConfig2.dat"), and writes Kantiq's
// own settings file ("Kantiq.ini") beside them. It talks German.
//
// Exit codes: 0 done; 1 the source or the file is not fit for the program
// (nothing written), or for "inputs": the input asked for is not there; 2 bad
// command line; 3 a file could not be read or written.

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "command_line.h"
#include "common/cp1252.h"
#include "common/tone_sets.h"
#include "config/configuration_messages.h"
#include "config/configuration_text.h"
#include "config/configuration_writer.h"
#include "config/kantiq_settings.h"
#include "config/startup.h"
#include "config_source.h"
#include "detector/tone_detector.h"
#include "installation_files.h"
#include "tool_platform.h"

namespace fs = std::filesystem;
using namespace kantiq;
using namespace kantiq::tool;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;

// A file named on the command line: the name as given (UTF-8) for messages,
// and the path to open.
struct NamedPath {
  std::string name;
  fs::path path;

  explicit NamedPath(std::string utf8) : name(std::move(utf8)), path(pathFromUtf8(name)) {}
  explicit NamedPath(const fs::path& p) : name(utf8FromPath(p)), path(p) {}
};

bool readWholeFile(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string utf8(const std::string& cp1252) { return cp1252ToUtf8(cp1252); }

void reportUnreadable(const NamedPath& file) {
  std::cerr << file.name << ": Fehler: Die Datei kann nicht gelesen werden.\n";
}

// Replaces the file in one step, or says why not (the old file is then as it was).
bool writeFile(const NamedPath& file, std::span<const uint8_t> bytes) {
  if (const auto failure = replaceFile(file.path, bytes)) {
    std::cerr << file.name << ": Fehler: " << failure->step << ": " << failure->systemText << " (Fehler "
              << failure->code << "). Die alte Datei ist unverändert.\n";
    return false;
  }
  return true;
}

std::string countOf(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "Eingang "Line 1" (der 2. dieses Namens), Stille-Prüfung nach 120 s"
std::string describeSettings(const KantiqSettings& s, bool remembered) {
  std::string out = "Eingang: der voreingestellte";
  if (!s.inputName.empty()) {
    out = "Eingang \"" + utf8(s.inputName) + "\"";
    if (s.inputPosition != 1) out += " (der " + std::to_string(s.inputPosition) + ". dieses Namens)";
    if (remembered) out += ", von Kantiq gemerkt und beibehalten";
  }
  return out + (s.silenceLimitMs == 0 ? ", Stille-Prüfung aus"
                                      : ", Stille-Prüfung nach " + std::to_string(s.silenceLimitMs / 1000) + " s");
}

int runWrite(const NamedPath& source, const NamedPath& folder) {
  std::string text;
  if (!readWholeFile(source.path, text)) {
    reportUnreadable(source);
    return kExitIo;
  }
  // Only consulted when the source names no input; reading it is harmless
  // where the folder is not there yet.
  const InstallationFiles files = composeInstallation(text, source.name, readSettingsFile(folder.path));
  std::cerr << formatDiagnostics(files.diagnostics, source.name);
  if (files.problem == InstallationProblem::Source) {
    std::cerr << source.name << ": Nichts geschrieben.\n";
    return kExitRefused;
  }
  if (files.problem == InstallationProblem::LoadBack) {
    std::cerr << source.name << ": Fehler: Die gespeicherte Datei würde nicht so geladen, wie sie geschrieben wurde"
              << (files.loadBackFailure.empty() ? std::string(".") : ": " + files.loadBackFailure) << "\n"
              << source.name << ": Nichts geschrieben.\n";
    return kExitRefused;
  }

  std::error_code ec;
  fs::create_directories(folder.path, ec);
  if (!fs::is_directory(folder.path, ec)) {
    std::cerr << folder.name << ": Fehler: Das ist kein Ordner, und er kann nicht angelegt werden.\n";
    return kExitIo;
  }
  const NamedPath config(folder.path / kConfigurationFileName);
  const NamedPath presence(folder.path / kPresenceFileName);
  const NamedPath settingsFile(folder.path / kSettingsFileName);
  if (files.problem == InstallationProblem::SettingsUnreadable) {
    std::cerr << settingsFile.name << ": Fehler: Die Datei kann nicht gelesen werden; ein Eingang, den Kantiq "
              << "darin gemerkt hat, ginge verloren. Nichts geschrieben.\n";
    return kExitIo;
  }
  const std::string& settingsText = files.settingsText;
  if (!writeFile(config, files.storedConfiguration)) return kExitIo;
  // Only its presence counts: an existing one is left as it is.
  if (!fs::exists(presence.path, ec) && !writeFile(presence, {})) return kExitIo;
  if (!writeFile(settingsFile, std::span(reinterpret_cast<const uint8_t*>(settingsText.data()), settingsText.size()))) {
    return kExitIo;
  }
  std::cout << "Geschrieben: " << config.name << " ("
            << countOf(files.configuration.alarms.size(), "Alarm", "Alarme") << ", "
            << countOf(files.storedConfiguration.size(), "Byte", "Bytes") << "), " << presence.name << " und "
            << settingsFile.name << " (" << describeSettings(files.settings, files.rememberedInputKept) << ")\n";
  return kExitOk;
}

// A .toml file dropped onto the program: written into the program's own
// folder, where Kantiq.exe lives, and the window stays until a key is pressed.
int runDrop(const NamedPath& source) {
  const fs::path folder = programFolder();
  int status = kExitIo;
  if (folder.empty()) {
    std::cerr << "Fehler: Der Ordner dieses Programms lässt sich nicht bestimmen.\n";
  } else {
    const NamedPath target(folder);
    std::cout << "Einrichtung übernehmen: " << source.name << "\n  nach " << target.name << "\n\n" << std::flush;
    status = runWrite(source, target);
    std::cerr << std::flush;
    if (status == kExitOk) {
      std::cout << "\nFertig. Kantiq liest die neue Einrichtung beim nächsten Start.\n";
    } else {
      std::cout << "\nDie Einrichtung wurde nicht übernommen. Bitte beheben Sie die genannten Fehler.\n";
    }
  }
  std::cout << "\nZum Schließen eine Taste drücken ..." << std::endl;
  waitForKey();
  return status;
}

// The file as the program would load it.
struct LoadedFile {
  std::unique_ptr<ToneDetector> detector = std::make_unique<ToneDetector>();
  std::optional<StartupRefusal> refusal;
  ParseResult details;
  size_t deliveredBytes = 0;
  size_t textBytes = 0;
};

bool loadFile(const NamedPath& file, LoadedFile& loaded) {
  std::string raw;
  if (!readWholeFile(file.path, raw)) {
    reportUnreadable(file);
    return false;
  }
  // The program reads no more than this; the verdict is the same.
  if (raw.size() > kMaxStoredBytesRead) raw.resize(kMaxStoredBytesRead);
  const std::vector<uint8_t> bytes(raw.begin(), raw.end());
  const std::vector<uint8_t> delivered = deliverStoredBytes(bytes);
  loaded.deliveredBytes = delivered.size();
  loaded.textBytes = decodeConfiguration(delivered).size();
  loaded.refusal = loadStoredConfiguration(bytes, *loaded.detector, &loaded.details);
  return true;
}

bool formatKnown(const ParseResult& r) {
  return r.status != ConfigurationProblem::FormatZero &&
         r.status != ConfigurationProblem::FormatUnknown &&
         r.status != ConfigurationProblem::DataTooLong;
}

void printRefusal(const NamedPath& file, const StartupRefusal& refusal) {
  std::cerr << file.name << ": abgelehnt: Kantiq würde die Meldung \"" << utf8(refusal.caption)
            << "\" zeigen:\n" << utf8(refusal.text) << "\n";
}

// One line per problem: the reason Kantiq's box would give.
void printFindings(std::ostream& out, const NamedPath& file, const ParseResult& r) {
  for (const ConfigurationFinding& f : r.findings) {
    std::string text = utf8(refusalFor(f).text);
    const size_t reason = text.find("Grund: ");
    if (reason != std::string::npos) {
      text = text.substr(reason + 7);
      text = text.substr(0, text.find('\n'));
    }
    for (char& c : text) {
      if (c == '\n') c = ' ';
    }
    out << file.name << ": Problem: " << text << "\n";
  }
}

int runShow(const NamedPath& file) {
  LoadedFile loaded;
  if (!loadFile(file, loaded)) return kExitIo;
  if (formatKnown(loaded.details)) {
    std::cout << writeConfigurationSource(configurationOf(*loaded.detector));
  }
  if (loaded.refusal) {
    printFindings(std::cerr, file, loaded.details);
    printRefusal(file, *loaded.refusal);
    return kExitRefused;
  }
  return kExitOk;
}

int runCheck(const NamedPath& file) {
  LoadedFile loaded;
  if (!loadFile(file, loaded)) return kExitIo;
  const ToneDetector& d = *loaded.detector;
  const ParseResult& r = loaded.details;
  std::vector<std::string> warnings;

  std::cout << file.name << ": " << countOf(loaded.deliveredBytes, "Byte", "Bytes") << " gelesen, Text von "
            << countOf(loaded.textBytes, "Byte", "Bytes");
  if (r.status != ConfigurationProblem::DataTooLong) std::cout << ", Formatnummer " << r.formatNumber;
  std::cout << "\n";
  if (!formatKnown(r)) {
    printRefusal(file, *loaded.refusal);
    return kExitRefused;
  }

  const Configuration c = configurationOf(d);
  std::cout << "Erkennungsparameter" << (r.parametersRead == 0 ? " (keine in der Datei: Vorgaben)" : "") << ":\n";
  std::cout << listParameters(c.parameters);
  std::cout << countOf(c.alarms.size(), "Alarm", "Alarme") << ":\n";
  for (size_t a = 0; a < c.alarms.size(); ++a) {
    const ConfiguredAlarm& alarm = c.alarms[a];
    std::cout << "  " << a + 1 << ". \"" << utf8(alarm.text) << "\": ";
    std::vector<int32_t> plain;
    for (size_t s = 0; s < alarm.steps.size(); ++s) {
      const ConfiguredStep& step = alarm.steps[s];
      std::cout << (s ? " " : "") << step.frequency1Hz;
      if (step.dualTone) std::cout << "+" << step.frequency2Hz;
      plain.push_back(step.dualTone ? -1 : step.frequency1Hz);
    }
    if (auto code = codeInAnySet(plain)) std::cout << " (" << code->set->name << " " << code->code << ")";
    std::cout << "\n";
  }
  for (const Diagnostic& undetectable : findUndetectableTones(c, {})) warnings.push_back(undetectable.message);
  if (!r.formatTested && loaded.textBytes > 0) {
    warnings.push_back("Der Text enthält weniger als zwei '#': Seine Formatnummer wird nie geprüft, und Kantiq "
                       "startet mit den Vorgaben");
  }
  if (c.alarms.empty()) warnings.push_back("keine Alarme: Kantiq läuft, löst aber nie einen aus");
  if (r.ignoredTrailingBytes > 0) {
    warnings.push_back(countOf(r.ignoredTrailingBytes, "Byte", "Bytes") + " nach dem letzten '#' bleiben unbeachtet");
  }
  if (loaded.textBytes < loaded.deliveredBytes) {
    warnings.push_back("Der Text endet an einem Byte, das zu 0 entschlüsselt wird; " +
                       countOf(loaded.deliveredBytes - loaded.textBytes - 1, "Byte", "Bytes") +
                       " danach bleiben unbeachtet");
  }
  std::error_code ec;
  if (!fs::exists(file.path.parent_path() / kPresenceFileName, ec)) {
    warnings.push_back("Neben der Datei liegt keine " + std::string(kPresenceFileName) +
                       "; ohne sie startet Kantiq nicht");
  }
  for (const std::string& w : warnings) std::cout << file.name << ": Warnung: " << w << "\n";
  // Kantiq's own settings, when they lie beside the file.
  const NamedPath settingsFile(file.path.parent_path() / kSettingsFileName);
  const SettingsReading settings = readSettingsFile(file.path.parent_path());
  if (settings.found) std::cout << settingsFile.name << ": " << describeSettings(settings.settings, false) << "\n";
  for (const std::string& problem : settings.problems) {
    std::cout << settingsFile.name << ": Warnung: Kantiq würde melden: " << utf8(problem) << "\n";
  }
  if (loaded.refusal) {
    printFindings(std::cout, file, r);
    std::cout << file.name << ": Kantiq würde diese Datei ablehnen und die Meldung \""
              << utf8(loaded.refusal->caption) << "\" zeigen:\n" << utf8(loaded.refusal->text) << "\n";
    return kExitRefused;
  }
  std::cout << file.name << ": Kantiq würde diese Datei laden.\n";
  return kExitOk;
}

// The raw stored form, without any checks: for making test files.
int runEncode(const NamedPath& textFile, const NamedPath& out) {
  std::string text;
  if (!readWholeFile(textFile.path, text)) {
    reportUnreadable(textFile);
    return kExitIo;
  }
  return writeFile(out, encodeConfiguration(text)) ? kExitOk : kExitIo;
}

int runDecode(const NamedPath& file) {
  std::string raw;
  if (!readWholeFile(file.path, raw)) {
    reportUnreadable(file);
    return kExitIo;
  }
  const std::vector<uint8_t> bytes(raw.begin(), raw.end());
  std::cout << decodeConfiguration(deliverStoredBytes(bytes)) << std::flush;
  return kExitOk;
}

// The recording inputs there are now, as [input] names them. With a name:
// 0 when that input is there; without: 0 when there is any.
int runInputs(const std::vector<std::string>& operands) {
  const std::vector<std::string> names = soundInputNames();
  if (names.empty()) {
    std::cout << "Keine Aufnahmegeräte gefunden.\n";
    return kExitRefused;
  }
  std::cout << "Aufnahmegeräte (für [input] in kantiq.toml):\n";
  for (size_t id = 0; id < names.size(); ++id) {
    const auto position = std::count(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(id) + 1, names[id]);
    std::cout << "  name = \"" << names[id] << "\"";
    if (position > 1) std::cout << ", position = " << position;
    std::cout << "\n";
  }
  if (operands.empty()) return kExitOk;
  int64_t wanted = 1;
  if (operands.size() > 1) {
    const std::string& text = operands[1];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wanted);
    if (error != std::errc{} || end != text.data() + text.size() || wanted < 1) {
      std::cerr << "Fehler: POSITION muss eine Zahl ab 1 sein, nicht '" << text << "'.\n";
      return kExitUsage;
    }
  }
  const auto present = std::count(names.begin(), names.end(), operands[0]);
  const bool found = present >= wanted;
  std::cout << "Eingang \"" << operands[0] << "\"" << (wanted > 1 ? " (" + std::to_string(wanted) + ".)" : "")
            << (found ? " ist da.\n" : " fehlt.\n");
  return found ? kExitOk : kExitRefused;
}

}  // namespace

int main(int argc, char** argv) {
  prepareConsole();
  const Command command = parseCommandLine(commandLineArguments(argc, argv));
  const std::vector<std::string>& operands = command.operands;
  switch (command.kind) {
    case CommandKind::Help:
      std::cout << command.text;
      return kExitOk;
    case CommandKind::Usage:
      std::cerr << command.text;
      return kExitUsage;
    case CommandKind::Write: return runWrite(NamedPath(operands[0]), NamedPath(operands[1]));
    case CommandKind::Show: return runShow(NamedPath(operands[0]));
    case CommandKind::Check: return runCheck(NamedPath(operands[0]));
    case CommandKind::Encode: return runEncode(NamedPath(operands[0]), NamedPath(operands[1]));
    case CommandKind::Decode: return runDecode(NamedPath(operands[0]));
    case CommandKind::Drop: return runDrop(NamedPath(operands[0]));
    case CommandKind::Inputs: return runInputs(operands);
  }
  return kExitUsage;
}
