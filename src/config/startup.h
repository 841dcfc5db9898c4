#pragma once

// The detector's start-up: the single-instance guard, the configuration files
// and the refusals, behind small interfaces so that the order of the steps
// can be checked without Windows.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/configuration_messages.h"
#include "config/configuration_parser.h"

namespace kantiq {

class SpectrogramCanvas;
class ToneDetector;

inline constexpr char kConfigurationFileName[] = "SMSConfig1.dat";
inline constexpr char kPresenceFileName[] = "SMSConfig2.dat";
inline constexpr char kSingleInstanceMutexName[] = "BREVALOKANTIQ";

// What start-up needs from the operating system.
class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;
  // Takes the single-instance guard for the rest of the process; false when
  // another instance holds it. Any other failure lets the start go on.
  virtual bool takeSingleInstanceGuard() = 0;
  // Opens "SMSConfig1.dat" and then "SMSConfig2.dat" in the program's folder
  // for reading, closes the second unread and reads at most maxBytes of the
  // first into bytes. False when either file cannot be opened.
  virtual bool readStoredConfiguration(std::vector<uint8_t>& bytes, size_t maxBytes) = 0;
};

// Shows a warning box (no owner, warning icon, OK only) and returns once the
// user has closed it.
class WarningBox {
 public:
  virtual ~WarningBox() = default;
  virtual void show(const std::string& caption, const std::string& text) = 0;
};

// Delivers, checks the length, decodes and parses the stored bytes of
// "SMSConfig1.dat" into the detector. Returns the refusal to show, or nothing
// when the detector may run. details, when given, receives the parse result.
std::optional<StartupRefusal> loadStoredConfiguration(std::span<const uint8_t> fileBytes,
                                                      ToneDetector& detector,
                                                      ParseResult* details = nullptr);

// Loading as a whole: the two files, then loadStoredConfiguration.
std::optional<StartupRefusal> loadConfigurationFrom(StartupPlatform& platform,
                                                    ToneDetector& detector);

// The detector's construction steps, in their order: the spectrogram canvas,
// the default alarm records, the cursor and the restart flag, the hand-over
// counters (resetHandoverCounters, owned by alarm raising; may be empty), the
// single-instance guard and last the configuration. The guard comes before any
// access to the files, so a second instance never reads them. Returns the
// refusal to show, or nothing when the detector may run.
std::optional<StartupRefusal> prepareDetector(ToneDetector& detector, SpectrogramCanvas* canvas,
                                              const std::function<void()>& resetHandoverCounters,
                                              StartupPlatform& platform);

// Shows the refusal and ends the process through the normal exit, with
// kExitAlreadyRunning for a second instance and kExitStartRefused for a
// configuration that is missing or cannot be used (config/program_exit.h).
[[noreturn]] void refuseStart(WarningBox& box, const StartupRefusal& refusal);

}  // namespace kantiq
