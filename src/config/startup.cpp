#include "config/startup.h"

#include <cstdlib>

#include "config/configuration_text.h"
#include "config/program_exit.h"
#include "detector/tone_detector.h"

namespace kantiq {

std::optional<StartupRefusal> loadStoredConfiguration(std::span<const uint8_t> fileBytes,
                                                      ToneDetector& detector,
                                                      ParseResult* details) {
  const std::vector<uint8_t> delivered = deliverStoredBytes(fileBytes);
  if (delivered.size() > kMaxConfigurationBytes) {
    ParseResult tooLong;
    tooLong.status = ConfigurationProblem::DataTooLong;
    tooLong.findings.push_back(
        {ConfigurationProblem::DataTooLong, -1, static_cast<int32_t>(delivered.size()), {}});
    if (details != nullptr) *details = tooLong;
    return refusalFor(tooLong.findings.front());
  }
  ParseResult result = parseConfiguration(decodeConfiguration(delivered), detector);
  std::optional<StartupRefusal> refusal;
  if (!result.ok()) refusal = refusalFor(result.findings.front());
  if (details != nullptr) *details = std::move(result);
  return refusal;
}

std::optional<StartupRefusal> loadConfigurationFrom(StartupPlatform& platform,
                                                    ToneDetector& detector) {
  std::vector<uint8_t> bytes;
  if (!platform.readStoredConfiguration(bytes, kMaxStoredBytesRead)) {
    return missingConfigurationRefusal();
  }
  return loadStoredConfiguration(bytes, detector);
}

std::optional<StartupRefusal> prepareDetector(ToneDetector& detector, SpectrogramCanvas* canvas,
                                              const std::function<void()>& resetHandoverCounters,
                                              StartupPlatform& platform) {
  detector.spectrogramWindow = canvas;
  for (AlarmDefinition& alarm : detector.alarms) alarm = AlarmDefinition{};
  detector.alarmCount = 0;
  detector.cursorColumn = 0;
  detector.restartRequested.store(0);
  if (resetHandoverCounters) resetHandoverCounters();
  if (!platform.takeSingleInstanceGuard()) return alreadyRunningRefusal();
  return loadConfigurationFrom(platform, detector);
}

void refuseStart(WarningBox& box, const StartupRefusal& refusal) {
  box.show(refusal.caption, refusal.text);
  std::exit(static_cast<int>(refusal == alreadyRunningRefusal() ? kExitAlreadyRunning : kExitStartRefused));
}

}  // namespace kantiq
