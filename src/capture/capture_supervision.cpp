#include "capture/capture_supervision.h"

#include <algorithm>

namespace kantiq {

void CaptureSupervision::switchedOn(int64_t nowMs) {
  state_ = State::Listening;
  // The device has just opened: it has the stall limit to bring its first buffer.
  lastBufferMs_ = nowMs;
  lastOpenMs_ = nowMs;
  attempts_ = 0;
  warned_ = false;
}

void CaptureSupervision::switchedOff() {
  // Switched off by the user: nothing more to watch, and no resumption to
  // report; the window shows the switched-off state.
  state_ = State::Off;
  attempts_ = 0;
}

void CaptureSupervision::bufferCompleted(int64_t nowMs) {
  lastBufferMs_ = nowMs;
  if (state_ != State::Outage) return;
  state_ = State::Listening;
  attempts_ = 0;
  report(true, nowMs);
}

void CaptureSupervision::restarted(bool started, int64_t nowMs) {
  if (state_ == State::Off) return;
  if (state_ == State::Listening) {
    // A restart that reopened the device: it has the stall limit to bring
    // its first buffer, as after any start.
    if (started) {
      lastOpenMs_ = nowMs;
      return;
    }
    // Listening ended with the last buffer before this restart.
    beginOutage(lastBufferMs_);
  }
  ++attempts_;
  if (started) {
    refusedPauseMs_ = 0;
    silentPauseMs_ = silentPauseMs_ == 0 ? timing_.firstSilentRetryMs
                                         : std::min(silentPauseMs_ * 2, timing_.maxSilentRetryMs);
    nextAttemptMs_ = nowMs + silentPauseMs_;
  } else {
    refusedPauseMs_ = refusedPauseMs_ == 0 ? timing_.firstRefusedRetryMs
                                           : std::min(refusedPauseMs_ * 2, timing_.maxRefusedRetryMs);
    nextAttemptMs_ = nowMs + refusedPauseMs_;
  }
}

bool CaptureSupervision::restartDue(int64_t nowMs) {
  switch (state_) {
    case State::Off:
      return false;
    case State::Listening:
      if (nowMs - std::max(lastBufferMs_, lastOpenMs_) <= timing_.stallLimitMs) return false;
      beginOutage(lastBufferMs_);
      return true;
    case State::Outage:
      return nowMs >= nextAttemptMs_;
  }
  return false;
}

void CaptureSupervision::beginOutage(int64_t sinceMs) {
  state_ = State::Outage;
  attempts_ = 0;
  warned_ = false;
  refusedPauseMs_ = 0;
  silentPauseMs_ = 0;
  nextAttemptMs_ = sinceMs;
  report(false, sinceMs);
}

bool CaptureSupervision::mayWarn() {
  if (state_ != State::Outage || warned_) return false;
  warned_ = true;
  return true;
}

void CaptureSupervision::report(bool listening, int64_t atMs) {
  if (changeCount_ == changes_.size()) {
    std::move(changes_.begin() + 1, changes_.end(), changes_.begin());
    --changeCount_;
  }
  changes_[changeCount_++] = Change{listening, atMs};
}

std::optional<CaptureSupervision::Change> CaptureSupervision::takeChange() {
  if (changeCount_ == 0) return std::nullopt;
  const Change first = changes_[0];
  std::move(changes_.begin() + 1, changes_.begin() + static_cast<std::ptrdiff_t>(changeCount_), changes_.begin());
  --changeCount_;
  return first;
}

}  // namespace kantiq
