#pragma once

#include <cstdint>

namespace kantiq {

// Where the frequency scale is drawn: the program draws into an enhanced
// metafile, tests into memory.
class ScaleCanvas {
 public:
  virtual ~ScaleCanvas() = default;
  // A line from (x0, y0) to (x1, y1), the end point left out.
  virtual void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) = 0;
};

// Tick spacing of the scale for a transform of `points` bins at `sampleRate`.
struct ScaleLayout {
  int32_t rowsPerKHz = 0;
  int32_t rowsPer100Hz = 0;
  int32_t half = 0;      // bins up to half the sample rate
  bool fine = false;     // 100 Hz ticks; otherwise 1 kHz ticks
  int32_t spacing = 0;   // rows between two ticks
};

ScaleLayout scaleLayout(int32_t points, int32_t sampleRate);

constexpr int32_t kLongTickPx = 6;
constexpr int32_t kShortTickPx = 3;

// Draws the scale into a client rectangle of width `right` and height
// `bottom`: the vertical line at x = right and the ticks from the bottom row
// upwards, one per spacing, while above row 0 and below half the sample rate.
// A spacing below one row draws no ticks. Returns the number of ticks drawn.
int32_t drawFrequencyScale(ScaleCanvas& canvas, int32_t right, int32_t bottom,
                           const ScaleLayout& layout);

}  // namespace kantiq
