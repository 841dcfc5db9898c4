#include "ui/step_scroll_bar.h"

#include <algorithm>

namespace kantiq {

void StepScrollBar::rebuild(int32_t pointsPerTransform) {
  steps_.fill(0);
  count_ = 0;
  position_ = 0;
  for (int32_t n = pointsPerTransform; n > 0 && count_ < kMaxSteps; n -= kStepSamples) {
    steps_[static_cast<std::size_t>(count_++)] = n;
  }
  pageStep_ = 1;
}

bool StepScrollBar::scroll(int32_t code, int32_t thumbPosition) {
  const int32_t last = std::max(count_ - 1, 0);
  int32_t next = position_;
  switch (code) {
    case kScrollLineLeft: next = position_ - 1; break;
    case kScrollLineRight: next = position_ + 1; break;
    case kScrollPageLeft: next = position_ - pageStep_; break;
    case kScrollPageRight: next = position_ + pageStep_; break;
    case kScrollThumbPosition:
    case kScrollThumbTrack: next = thumbPosition; break;
    case kScrollLeft: next = 0; break;
    case kScrollRight: next = last; break;
    default: return false;
  }
  // A thumb position outside the list would index past the steps.
  next = std::clamp(next, 0, last);
  if (next == position_) return false;
  position_ = next;
  return true;
}

int32_t StepScrollBar::samples() const {
  return count_ > 0 ? steps_[static_cast<std::size_t>(position_)] : 0;
}

int32_t transformsPerSecond(int32_t sampleRate, int32_t samplesPerBuffer) {
  return samplesPerBuffer > 0 ? sampleRate / samplesPerBuffer : 0;
}

}  // namespace kantiq
