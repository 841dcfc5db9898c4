#pragma once

#include <array>
#include <cstdint>

namespace kantiq {

// Scroll codes of a horizontal scroll bar, as the window system numbers them.
enum ScrollCode : int32_t {
  kScrollLineLeft = 0,
  kScrollLineRight = 1,
  kScrollPageLeft = 2,
  kScrollPageRight = 3,
  kScrollThumbPosition = 4,
  kScrollThumbTrack = 5,
  kScrollLeft = 6,
  kScrollRight = 7,
};

// The speed selector's scroll bar: the samples per capture buffer
// selectable by position, from the transform size down in steps of 64.
class StepScrollBar {
 public:
  static constexpr int32_t kMaxSteps = 32;
  static constexpr int32_t kStepSamples = 64;

  // Refills the list for a transform size and moves to position 0.
  void rebuild(int32_t pointsPerTransform);

  // New position for a scroll code (the thumb position for the two thumb
  // codes); codes 8 and above leave it unchanged. True when it moved.
  bool scroll(int32_t code, int32_t thumbPosition);

  int32_t position() const { return position_; }
  int32_t count() const { return count_; }
  int32_t pageStep() const { return pageStep_; }
  // Samples per buffer at the current position.
  int32_t samples() const;
  int32_t stepAt(int32_t index) const { return steps_[static_cast<std::size_t>(index)]; }

 private:
  int32_t position_ = 0;
  int32_t count_ = 0;
  int32_t pageStep_ = 1;
  std::array<int32_t, kMaxSteps> steps_{};
};

// Transforms per second for the speed box; 0 for an empty buffer size.
int32_t transformsPerSecond(int32_t sampleRate, int32_t samplesPerBuffer);

}  // namespace kantiq
