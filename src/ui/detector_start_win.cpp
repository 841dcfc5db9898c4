#include "ui/detector_start_win.h"

#include <cstdlib>

#include "config/startup_win.h"
#include "ui/running_instance_win.h"

namespace kantiq {

void startToneDetector(ToneDetector& detector, SpectrogramCanvas* canvas) {
  // Alarm raising's counters start at 0 with a new raiser, made just before.
  Win32StartupPlatform platform;
  const std::optional<StartupRefusal> refusal = prepareDetector(detector, canvas, {}, platform);
  if (!refusal) return;
  Win32WarningBox box;
  if (*refusal != alreadyRunningRefusal()) refuseStart(box, *refusal);
  // Whoever starts Kantiq a second time is looking for its window: after the
  // box, show the running one.
  box.show(refusal->caption, refusal->text);
  showRunningInstance();
  std::exit(0);
}

}  // namespace kantiq
