#include "ui/frequency_scale.h"

namespace kantiq {

ScaleLayout scaleLayout(int32_t points, int32_t sampleRate) {
  ScaleLayout s;
  if (points <= 0 || sampleRate <= 0) return s;
  s.rowsPerKHz = static_cast<int32_t>(int64_t{points} * 1000 / sampleRate);
  s.rowsPer100Hz = s.rowsPerKHz / 10;
  s.half = points / 2;
  s.fine = s.rowsPer100Hz >= 3;
  s.spacing = s.fine ? s.rowsPer100Hz : s.rowsPerKHz;
  return s;
}

int32_t drawFrequencyScale(ScaleCanvas& canvas, int32_t right, int32_t bottom,
                           const ScaleLayout& layout) {
  canvas.line(right, 0, right, bottom);
  // Without a whole row between ticks the loop would not advance.
  if (layout.spacing < 1) return 0;
  int32_t ticks = 0;
  int32_t count = 0;
  for (int32_t y = bottom - 1; y > 0; y -= layout.spacing) {
    const bool long_ = !layout.fine || ticks % 10 == 0;
    canvas.line(right - (long_ ? kLongTickPx : kShortTickPx), y, right, y);
    ++ticks;
    count += layout.spacing;
    if (count >= layout.half) break;
  }
  return ticks;
}

}  // namespace kantiq
