#pragma once

// A seam for tests: the process-wide flag through which the first frame of
// the process starts the watchdog threads (ToneDetector::processFrame). It
// starts out set and is cleared once, by the first processFrame of any
// detector. The program never reads or sets it from outside; tests look at
// it and put it back, to run a first frame again in the same process.

namespace kantiq {

bool watchdogFlagIsSet();
void resetWatchdogFlagForTesting();

}  // namespace kantiq
