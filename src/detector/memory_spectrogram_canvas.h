#pragma once

#include <cstdint>
#include <vector>

#include "detector/spectrogram.h"

namespace kantiq {

// A spectrogram image in memory. Drawing outside the image is clipped, as
// on the screen.
class MemorySpectrogramCanvas final : public SpectrogramCanvas {
 public:
  MemorySpectrogramCanvas(int32_t width, int32_t height);

  void beginFrame(int32_t& width, int32_t& height) override;
  void verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) override;
  void setPixel(int32_t x, int32_t y, Rgb colour) override;
  void endFrame() override;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // Black outside the image.
  Rgb pixel(int32_t x, int32_t y) const;
  void fill(Rgb colour);

  int32_t framesBegun() const { return framesBegun_; }
  int32_t framesEnded() const { return framesEnded_; }
  // Pixels set with setPixel since the canvas was made (inside or outside).
  int32_t pixelsSet() const { return pixelsSet_; }

 private:
  int32_t width_;
  int32_t height_;
  std::vector<Rgb> pixels_;
  int32_t framesBegun_ = 0;
  int32_t framesEnded_ = 0;
  int32_t pixelsSet_ = 0;
};

}  // namespace kantiq
