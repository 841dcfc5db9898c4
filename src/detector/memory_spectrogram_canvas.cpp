#include "detector/memory_spectrogram_canvas.h"

#include <algorithm>

namespace kantiq {

MemorySpectrogramCanvas::MemorySpectrogramCanvas(int32_t width, int32_t height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), kBlack) {}

void MemorySpectrogramCanvas::beginFrame(int32_t& width, int32_t& height) {
  ++framesBegun_;
  width = width_;
  height = height_;
}

void MemorySpectrogramCanvas::verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) {
  if (x < 0 || x >= width_) return;
  const int32_t top = std::max(0, std::min(yFrom, yTo));
  const int32_t end = std::min(height_, std::max(yFrom, yTo));
  for (int32_t y = top; y < end; ++y) {
    pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = colour;
  }
}

void MemorySpectrogramCanvas::setPixel(int32_t x, int32_t y, Rgb colour) {
  ++pixelsSet_;
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
  pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = colour;
}

void MemorySpectrogramCanvas::endFrame() { ++framesEnded_; }

Rgb MemorySpectrogramCanvas::pixel(int32_t x, int32_t y) const {
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return kBlack;
  return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

void MemorySpectrogramCanvas::fill(Rgb colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }

}  // namespace kantiq
