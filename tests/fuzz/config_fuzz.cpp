// libFuzzer target for the configuration loader: stored bytes through the
// text delivery, the decoder and the parser. The first input byte picks the
// mode: even, the rest is a stored file; odd, the rest is a plain text that
// is scrambled first, which lets the fuzzer work on the grammar directly.
// Traps when an invariant breaks; the sanitizers catch the rest.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/configuration_parser.h"
#include "config/configuration_text.h"
#include "config/configuration_writer.h"
#include "detector/tone_detector.h"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

void checkTable(const kantiq::ToneDetector& d) {
  require(d.alarmCount >= 0 && d.alarmCount <= kantiq::ToneDetector::kMaxAlarms);
  for (int32_t a = 0; a < d.alarmCount; ++a) {
    const kantiq::AlarmDefinition& alarm = d.alarms[static_cast<size_t>(a)];
    require(alarm.stepCount >= 0 && alarm.stepCount <= kantiq::AlarmDefinition::kMaxSteps);
    require(!alarm.raised && !alarm.raisedMs.has_value());
    for (const kantiq::ToneStep& step : alarm.steps) {
      for (bool hit : step.hits) require(!hit);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* detector = new kantiq::ToneDetector;
  static auto* again = new kantiq::ToneDetector;
  if (size == 0) return 0;
  const std::span<const uint8_t> rest(data + 1, size - 1);

  std::string text;
  if ((data[0] & 1) != 0) {
    text.assign(rest.begin(), rest.end());
    const std::vector<uint8_t> stored = kantiq::encodeConfiguration(text);
    const std::string back = kantiq::decodeConfiguration(kantiq::deliverStoredBytes(stored));
    // The hazard check is exact: a text comes back unchanged exactly when it finds nothing.
    require((back == text) == kantiq::findStorageHazards(text).empty());
  } else {
    const std::vector<uint8_t> delivered = kantiq::deliverStoredBytes(rest);
    require(delivered.size() <= rest.size());
    if (delivered.size() > kantiq::kMaxConfigurationBytes) return 0;
    text = kantiq::decodeConfiguration(delivered);
    require(text.size() <= delivered.size());
    require(text.find('\0') == std::string::npos);
  }

  const kantiq::ParseResult result = kantiq::parseConfiguration(text, *detector);
  checkTable(*detector);
  require(result.ok() == result.findings.empty());
  if (result.ok()) {
    require(detector->requiredHits >= 1 && detector->requiredHits <= 5);
    for (int32_t a = 0; a < detector->alarmCount; ++a) {
      require(detector->alarms[static_cast<size_t>(a)].stepCount >= 1);
    }
    // What loaded, written again, loads to the same.
    const kantiq::Configuration loaded = kantiq::configurationOf(*detector);
    const kantiq::ParseResult second =
        kantiq::parseConfiguration(kantiq::composeConfiguration(loaded), *again);
    require(second.ok());
    require(kantiq::configurationOf(*again) == loaded);
  }
  return 0;
}
