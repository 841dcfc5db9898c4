#include "ui/deferred_spectrogram_canvas.h"

namespace kantiq {

void DeferredSpectrogramCanvas::beginFrame(int32_t& width, int32_t& height) {
  if (!sized_) present();
  width = width_;
  height = height_;
}

void DeferredSpectrogramCanvas::verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) {
  keep({true, x, yFrom, yTo, colour});
}

void DeferredSpectrogramCanvas::setPixel(int32_t x, int32_t y, Rgb colour) { keep({false, x, y, 0, colour}); }

void DeferredSpectrogramCanvas::keep(const Stroke& stroke) {
  if (count_ == static_cast<int32_t>(strokes_.size())) present();
  strokes_[static_cast<std::size_t>(count_++)] = stroke;
}

void DeferredSpectrogramCanvas::present() {
  screen_.beginFrame(width_, height_);
  sized_ = true;
  for (int32_t i = 0; i < count_; ++i) {
    const Stroke& s = strokes_[static_cast<std::size_t>(i)];
    if (s.line) {
      screen_.verticalLine(s.x, s.y, s.yTo, s.colour);
    } else {
      screen_.setPixel(s.x, s.y, s.colour);
    }
  }
  count_ = 0;
  screen_.endFrame();
}

}  // namespace kantiq
