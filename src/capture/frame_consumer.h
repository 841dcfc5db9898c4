#pragma once

#include "dsp/spectrum_transform.h"

namespace kantiq {

// What the analysis does with each transformed capture buffer: run the
// detector and draw the waveform. Called on the analysis thread with the
// analysis lock held, once per frame.
class FrameConsumer {
 public:
  virtual ~FrameConsumer() = default;
  virtual void onFrame(const SpectrumTransform& transform) = 0;
};

}  // namespace kantiq
