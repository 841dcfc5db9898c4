#pragma once

// What the running program does with each transformed capture buffer. It
// joins the detector and the waveform view, so it lives with the window that
// owns both; the capture chain knows only the FrameConsumer it implements.

#include <algorithm>
#include <cstdint>

#include "capture/frame_consumer.h"
#include "detector/tone_detector.h"
#include "ui/deferred_spectrogram_canvas.h"
#include "ui/waveform_view.h"

namespace kantiq {

// The running program's frame: the detector takes the spectrum (and may
// restart capture at its end); every framesPerPicture frames the window gets
// a new picture: the spectrogram strokes kept since the last one go to the
// screen and the waveform is redrawn from the frame's window.
class DetectorFrameConsumer final : public FrameConsumer {
 public:
  DetectorFrameConsumer(ToneDetector& detector, WaveformView* waveform,
                        DeferredSpectrogramCanvas* spectrogram = nullptr, int32_t framesPerPicture = 1)
      : detector_(detector),
        waveform_(waveform),
        spectrogram_(spectrogram),
        framesPerPicture_(std::clamp<int32_t>(framesPerPicture, 1, DeferredSpectrogramCanvas::kMaxFrames)) {}

  void onFrame(const SpectrumTransform& transform) override {
    detector_.processFrame(transform);
    if (++framesSincePicture_ < framesPerPicture_) return;
    framesSincePicture_ = 0;
    if (spectrogram_ != nullptr) spectrogram_->present();
    if (waveform_ != nullptr) waveform_->draw(transform);
  }

 private:
  ToneDetector& detector_;
  WaveformView* waveform_;
  DeferredSpectrogramCanvas* spectrogram_;
  int32_t framesPerPicture_;
  int32_t framesSincePicture_ = 0;
};

}  // namespace kantiq
