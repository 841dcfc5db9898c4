#pragma once

// The spectrogram's strokes kept for a few frames and then drawn on the
// screen together. Under Wine every picture that reaches the screen costs
// the process far more than drawing it (the window's surface is copied to
// the X server and waited for), so the window is updated every few frames:
// every column is still drawn, in order, only in groups.

#include <array>
#include <cstddef>
#include <cstdint>

#include "detector/spectrogram.h"

namespace kantiq {

class DeferredSpectrogramCanvas final : public SpectrogramCanvas {
 public:
  // The strokes of this many frames fit; more put the picture on the screen
  // early. A frame draws at most three lines and four pixels.
  static constexpr int32_t kMaxFrames = 8;
  static constexpr int32_t kStrokesPerFrame = 7;

  explicit DeferredSpectrogramCanvas(SpectrogramCanvas& screen) : screen_(screen) {}

  // Yields the size the screen had when the strokes last went to it (the
  // first frame asks it): the controls keep their size while the program
  // runs, so the detector sees the same size as when drawing directly.
  void beginFrame(int32_t& width, int32_t& height) override;
  void verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) override;
  void setPixel(int32_t x, int32_t y, Rgb colour) override;
  void endFrame() override {}

  // Draws the strokes kept since the last time on the screen, in the order
  // they came, as one frame of the screen's, and learns its size again.
  void present();
  int32_t strokesKept() const { return count_; }

 private:
  struct Stroke {
    bool line = false;
    int32_t x = 0;
    int32_t y = 0;
    int32_t yTo = 0;
    Rgb colour;
  };
  void keep(const Stroke& stroke);

  SpectrogramCanvas& screen_;
  bool sized_ = false;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::array<Stroke, kMaxFrames * kStrokesPerFrame> strokes_{};
  int32_t count_ = 0;
};

}  // namespace kantiq
