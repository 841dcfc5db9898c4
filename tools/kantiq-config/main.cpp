// kantiq-config: writes, shows and checks the configuration files that Kantiq
// reads at start ("SMSConfig1.dat" and "SMSConfig2.dat").
//
// Exit codes: 0 done; 1 the source or the file is not fit for the program
// (nothing written); 2 bad command line; 3 a file could not be read or written.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "config/configuration_messages.h"
#include "config/configuration_text.h"
#include "config/configuration_writer.h"
#include "config/startup.h"
#include "config_source.h"
#include "common/cp1252.h"
#include "detector/tone_detector.h"
#include "tone_sets.h"

namespace fs = std::filesystem;
using namespace kantiq;
using namespace kantiq::tool;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;

// The sender takes at most this many bytes of an alarm's text.
constexpr size_t kSenderTextBytes = 499;

bool readWholeFile(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeWholeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// Writes next to the target and renames, so a failed write leaves the old file.
bool replaceFile(const fs::path& target, const std::vector<uint8_t>& bytes) {
  fs::path temporary = target;
  temporary += ".new";
  if (!writeWholeFile(temporary, bytes)) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return false;
  }
  std::error_code ec;
  fs::rename(temporary, target, ec);
  if (ec) {
    // Some platforms refuse to rename over an existing file.
    fs::remove(target, ec);
    fs::rename(temporary, target, ec);
  }
  return !ec;
}

std::string utf8(const std::string& cp1252) { return cp1252ToUtf8(cp1252); }

int runWrite(const std::string& sourcePath, const std::string& folder) {
  std::string source;
  if (!readWholeFile(sourcePath, source)) {
    std::cerr << sourcePath << ": error: cannot read the file\n";
    return kExitIo;
  }
  SourceReading reading = readConfigurationSource(source, sourcePath);
  std::string text;
  if (reading.ok()) text = composeCheckedText(reading);
  std::cerr << formatDiagnostics(reading.diagnostics, sourcePath);
  if (!reading.ok()) {
    std::cerr << sourcePath << ": nothing written\n";
    return kExitRefused;
  }
  // Load what would be stored exactly as the program does and compare.
  const std::vector<uint8_t> stored = encodeConfiguration(text);
  auto detector = std::make_unique<ToneDetector>();
  ParseResult details;
  const auto refusal = loadStoredConfiguration(stored, *detector, &details);
  if (refusal || configurationOf(*detector) != reading.configuration) {
    std::cerr << sourcePath << ": error: the stored file would not load back as written"
              << (refusal ? ": " + utf8(refusal->text) : std::string()) << "\n"
              << sourcePath << ": nothing written\n";
    return kExitRefused;
  }

  const fs::path dir(folder);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) {
    std::cerr << folder << ": error: not a folder and cannot be made one\n";
    return kExitIo;
  }
  const fs::path config = dir / kConfigurationFileName;
  const fs::path presence = dir / kPresenceFileName;
  if (!replaceFile(config, stored)) {
    std::cerr << config.string() << ": error: cannot write the file\n";
    return kExitIo;
  }
  // Only its presence counts: an existing one is left as it is.
  if (!fs::exists(presence, ec) && !writeWholeFile(presence, {})) {
    std::cerr << presence.string() << ": error: cannot write the file\n";
    return kExitIo;
  }
  std::cout << "wrote " << config.string() << " (" << reading.configuration.alarms.size()
            << " alarms, " << stored.size() << " bytes) and " << presence.string() << "\n";
  return kExitOk;
}

// The file as the program would load it.
struct LoadedFile {
  std::unique_ptr<ToneDetector> detector = std::make_unique<ToneDetector>();
  std::optional<StartupRefusal> refusal;
  ParseResult details;
  size_t deliveredBytes = 0;
  size_t textBytes = 0;
};

bool loadFile(const std::string& path, LoadedFile& loaded) {
  std::string raw;
  if (!readWholeFile(path, raw)) {
    std::cerr << path << ": error: cannot read the file\n";
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

void printRefusal(const std::string& path, const StartupRefusal& refusal) {
  std::cerr << path << ": refused: Kantiq would show the box \"" << utf8(refusal.caption)
            << "\":\n" << utf8(refusal.text) << "\n";
}

// One line per problem: the reason Kantiq's box would give.
void printFindings(std::ostream& out, const std::string& path, const ParseResult& r) {
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
    out << path << ": problem: " << text << "\n";
  }
}

int runShow(const std::string& path) {
  LoadedFile loaded;
  if (!loadFile(path, loaded)) return kExitIo;
  if (formatKnown(loaded.details)) {
    std::cout << writeConfigurationSource(configurationOf(*loaded.detector));
  }
  if (loaded.refusal) {
    printFindings(std::cerr, path, loaded.details);
    printRefusal(path, *loaded.refusal);
    return kExitRefused;
  }
  return kExitOk;
}

int runCheck(const std::string& path) {
  LoadedFile loaded;
  if (!loadFile(path, loaded)) return kExitIo;
  const ToneDetector& d = *loaded.detector;
  const ParseResult& r = loaded.details;
  std::vector<std::string> warnings;

  std::cout << path << ": " << loaded.deliveredBytes << " bytes delivered, text of "
            << loaded.textBytes << " bytes";
  if (r.status != ConfigurationProblem::DataTooLong) std::cout << ", format number " << r.formatNumber;
  std::cout << "\n";
  if (!formatKnown(r)) {
    printRefusal(path, *loaded.refusal);
    return kExitRefused;
  }

  const Configuration c = configurationOf(d);
  std::cout << "detector parameters" << (r.parametersRead == 0 ? " (none in the file: defaults)" : "")
            << ":\n";
  std::cout << listParameters(c.parameters);
  std::cout << c.alarms.size() << " alarms:\n";
  const ToneSet* zvei = findToneSet("ZVEI1");
  for (size_t a = 0; a < c.alarms.size(); ++a) {
    const ConfiguredAlarm& alarm = c.alarms[a];
    std::cout << "  " << a + 1 << ". \"" << utf8(alarm.text) << "\": ";
    std::vector<int32_t> plain;
    for (size_t s = 0; s < alarm.steps.size(); ++s) {
      const ConfiguredStep& step = alarm.steps[s];
      std::cout << (s ? " " : "") << step.frequency1Hz;
      if (step.dualTone) std::cout << "+" << step.frequency2Hz;
      plain.push_back(step.dualTone ? -1 : step.frequency1Hz);
      for (int32_t hz : {step.frequency1Hz, step.dualTone ? step.frequency2Hz : step.frequency1Hz}) {
        if (hz <= c.parameters.minimumFrequencyHz || hz > kHighestToneHz) {
          warnings.push_back("alarm " + std::to_string(a + 1) + ": " + std::to_string(hz) +
                             " Hz can never be detected (at or below minimum_frequency_hz, or "
                             "above what 44100 Hz sampling can hold)");
        }
      }
    }
    if (auto code = codeOfTones(plain, *zvei)) std::cout << " (ZVEI1 " << *code << ")";
    std::cout << "\n";
    if (alarm.text.size() > kSenderTextBytes) {
      warnings.push_back("alarm " + std::to_string(a + 1) + ": the text has " +
                         std::to_string(alarm.text.size()) + " bytes; the sender gets only the first " +
                         std::to_string(kSenderTextBytes));
    }
  }
  if (!r.formatTested && loaded.textBytes > 0) {
    warnings.push_back("the text holds fewer than two '#': its format number is never tested and "
                       "the program starts with the default parameters");
  }
  if (c.alarms.empty()) warnings.push_back("no alarms: the program will run but never raise one");
  if (r.ignoredTrailingBytes > 0) {
    warnings.push_back(std::to_string(r.ignoredTrailingBytes) + " bytes after the last '#' are ignored");
  }
  if (loaded.textBytes < loaded.deliveredBytes) {
    warnings.push_back("the text ends at a byte that decodes to 0; " +
                       std::to_string(loaded.deliveredBytes - loaded.textBytes - 1) +
                       " delivered bytes after it are ignored");
  }
  std::error_code ec;
  const fs::path presence = fs::path(path).parent_path() / kPresenceFileName;
  if (!fs::exists(presence, ec)) {
    warnings.push_back("there is no " + std::string(kPresenceFileName) +
                       " beside the file; the program will not start without it");
  }
  for (const std::string& w : warnings) std::cout << path << ": warning: " << w << "\n";
  if (loaded.refusal) {
    printFindings(std::cout, path, r);
    std::cout << path << ": the program would refuse this file and show the box \""
              << utf8(loaded.refusal->caption) << "\":\n" << utf8(loaded.refusal->text) << "\n";
    return kExitRefused;
  }
  std::cout << path << ": the program would load this file\n";
  return kExitOk;
}

// The raw stored form, without any checks: for making test files.
int runEncode(const std::string& textPath, const std::string& outPath) {
  std::string text;
  if (!readWholeFile(textPath, text)) {
    std::cerr << textPath << ": error: cannot read the file\n";
    return kExitIo;
  }
  if (!writeWholeFile(outPath, encodeConfiguration(text))) {
    std::cerr << outPath << ": error: cannot write the file\n";
    return kExitIo;
  }
  return kExitOk;
}

int runDecode(const std::string& path) {
  std::string raw;
  if (!readWholeFile(path, raw)) {
    std::cerr << path << ": error: cannot read the file\n";
    return kExitIo;
  }
  const std::vector<uint8_t> bytes(raw.begin(), raw.end());
  std::cout << decodeConfiguration(deliverStoredBytes(bytes)) << std::flush;
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Binary, so that decode hands out the text's bytes unchanged.
  SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  CLI::App app{
      "Writes, shows and checks the configuration files Kantiq reads at start.\n"
      "Exit codes: 0 done, 1 source or file not fit for the program (nothing written),\n"
      "2 bad command line, 3 a file could not be read or written."};
  app.name("kantiq-config");
  app.require_subcommand(1);
  app.allow_windows_style_options(false);  // "/tmp/x" is a path, not an option

  std::string source;
  std::string folder;
  std::string file;
  CLI::App* write = app.add_subcommand(
      "write", "Reads a TOML configuration and writes SMSConfig1.dat and SMSConfig2.dat into DIR");
  write->add_option("SOURCE", source, "TOML configuration (see examples/)")->required();
  write->add_option("DIR", folder, "folder of Kantiq.exe; made when missing")->required();

  CLI::App* show = app.add_subcommand("show", "Decodes SMSConfig1.dat and prints it as TOML");
  show->add_option("FILE", file, "an SMSConfig1.dat")->required();

  CLI::App* check = app.add_subcommand(
      "check", "Reports what Kantiq would load from SMSConfig1.dat and every problem");
  check->add_option("FILE", file, "an SMSConfig1.dat")->required();

  std::string textFile;
  CLI::App* encode = app.add_subcommand(
      "encode", "Scrambles a raw configuration text into OUT without any checks (for test files)");
  encode->add_option("TEXT", textFile, "the configuration text, e.g. 100#25#...#")->required();
  encode->add_option("OUT", source, "the stored file to write")->required();
  CLI::App* decode = app.add_subcommand(
      "decode", "Prints the raw configuration text of FILE as the program decodes it");
  decode->add_option("FILE", file, "an SMSConfig1.dat")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (write->parsed()) return runWrite(source, folder);
  if (show->parsed()) return runShow(file);
  if (encode->parsed()) return runEncode(textFile, source);
  if (decode->parsed()) return runDecode(file);
  return runCheck(file);
}
