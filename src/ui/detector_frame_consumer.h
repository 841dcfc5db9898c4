#pragma once

// What the running program does with each transformed capture buffer. It
// joins the detector and the waveform view, so it lives with the window that
// owns both; the capture chain knows only the FrameConsumer it implements.

#include "capture/frame_consumer.h"
#include "detector/tone_detector.h"
#include "ui/waveform_view.h"

namespace kantiq {

// The running program's frame: the detector takes the spectrum (and may
// restart capture at its end), then the waveform is redrawn.
class DetectorFrameConsumer final : public FrameConsumer {
 public:
  DetectorFrameConsumer(ToneDetector& detector, WaveformView* waveform)
      : detector_(detector), waveform_(waveform) {}

  void onFrame(const SpectrumTransform& transform) override {
    detector_.processFrame(transform);
    if (waveform_ != nullptr) waveform_->draw(transform);
  }

 private:
  ToneDetector& detector_;
  WaveformView* waveform_;
};

}  // namespace kantiq
