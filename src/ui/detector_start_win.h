#pragma once

// The detector's start-up checks (single instance, configuration), kept in a
// file of their own: the configuration's and the capture's headers must not
// meet in one translation unit.

namespace kantiq {

class SpectrogramCanvas;
class ToneDetector;

// Returns only when the program may run; otherwise the refusal has been
// shown and the process has ended with status 0.
void startToneDetector(ToneDetector& detector, SpectrogramCanvas* canvas);

}  // namespace kantiq
