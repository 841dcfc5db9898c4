#include "detector/spectrogram.h"

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
