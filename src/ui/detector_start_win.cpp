#include "ui/detector_start_win.h"

#include "config/startup_win.h"

namespace kantiq {

void startToneDetector(ToneDetector& detector, SpectrogramCanvas* canvas) {
  // Alarm raising's counters start at 0 with a new raiser, made just before.
  constructToneDetector(detector, canvas, {});
}

}  // namespace kantiq
