#include "detector/spectrogram.h"

#include <algorithm>

#include "detector/tone_detector.h"

namespace kantiq {

Rgb magnitudeColour(int32_t magnitude) {
  if (magnitude < 16) return kNavy;
  if (magnitude < 32) return kBlue;
  if (magnitude < 64) return kGreen;
  if (magnitude < 128) return kYellow;
  if (magnitude < 256) return kOrange;
  return kRed;
}

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

// --- the detector's spectrogram operations ---

void ToneDetector::eraseCursor() {
  if (spectrogramWindow == nullptr) {
    frameWidth_ = offlineWidth;
    frameHeight_ = offlineHeight;
    return;
  }
  spectrogramWindow->beginFrame(frameWidth_, frameHeight_);
  // The end row is left out, so rows 0 to H-1 are covered.
  spectrogramWindow->verticalLine(cursorColumn, 0, frameHeight_, kBlack);
  spectrogramWindow->verticalLine(cursorColumn + 1, 0, frameHeight_, kBlack);
}

void ToneDetector::paintPeak(int32_t bin, int32_t magnitude) {
  if (spectrogramWindow == nullptr) return;
  const Rgb colour = magnitudeColour(magnitude);
  const int32_t row = frameHeight_ - bin - 1;
  spectrogramWindow->setPixel(cursorColumn, row, colour);
  spectrogramWindow->setPixel(cursorColumn + 1, row, colour);
}

void ToneDetector::paintMatch(int32_t bin) {
  if (spectrogramWindow == nullptr) return;
  const int32_t row = frameHeight_ - bin - 1;
  spectrogramWindow->setPixel(cursorColumn, row, kMatchColour);
  spectrogramWindow->setPixel(cursorColumn + 1, row, kMatchColour);
}

void ToneDetector::advanceCursor() {
  cursorColumn += 2;
  if (cursorColumn >= frameWidth_) cursorColumn = 0;
  if (spectrogramWindow == nullptr) return;
  spectrogramWindow->verticalLine(cursorColumn, 0, frameHeight_, kWhite);
}

}  // namespace kantiq
