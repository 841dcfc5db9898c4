#include "configuration_source.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "config/configuration_messages.h"
#include "config/configuration_parser.h"
#include "config/startup.h"
#include "text_output.h"

namespace kantiq::scan {
namespace {

bool readWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string describe(const StartupRefusal& refusal) {
  return cp1252ToUtf8(refusal.caption + ": " + refusal.text);
}

}  // namespace

bool parseConfigurationText(std::string_view text, ToneDetector& detector, std::string& error) {
  const ParseResult result = parseConfiguration(text, detector);
  if (result.ok()) return true;
  error = result.findings.empty() ? "the configuration cannot run" : describe(refusalFor(result.findings.front()));
  return false;
}

bool loadConfigurationText(const std::string& path, ToneDetector& detector, std::string& error) {
  std::string text;
  if (!readWhole(path, text)) {
    error = "cannot read " + path;
    return false;
  }
  return parseConfigurationText(text, detector, error);
}

bool loadScrambledConfiguration(const std::string& path, ToneDetector& detector, std::string& error) {
  std::string bytes;
  if (!readWhole(path, bytes)) {
    error = "cannot read " + path;
    return false;
  }
  const std::vector<uint8_t> stored(bytes.begin(), bytes.end());
  if (const auto refusal = loadStoredConfiguration(stored, detector)) {
    error = describe(*refusal);
    return false;
  }
  return true;
}

}  // namespace kantiq::scan
