#pragma once

// What the analysis thread tells the window about capture itself, apart from
// the frames: that listening stopped or resumed, why a restart failed, that
// the input is missing or silent, and which input it found.

#include <string>

#include "capture/input_choice.h"
#include "detector/time_value.h"

namespace kantiq {

class CaptureObserver {
 public:
  virtual ~CaptureObserver() = default;
  // Listening stopped (no buffers, or the device could not be reopened) or
  // resumed, at a local time. Called on the analysis thread with the
  // analysis lock held: it must never wait for the window's thread.
  virtual void listeningChanged(bool listening, const TimeValue& at) = 0;
  // The recorder's reason for a failed restart, once per outage. The same
  // rule: hand it on, never show it from here.
  virtual void captureWarning(const std::string& text, const std::string& caption) = 0;
  // A line for the result box about capture (the input is missing), once
  // per outage. The same rule.
  virtual void captureNotice(const std::string& line) = 0;
  // The input became silent (no signal at all since at) or carries signal
  // again (at). The same rule.
  virtual void inputSilenceChanged(bool silent, const TimeValue& at) = 0;
  // No input was asked for by name and the default one was found: it is
  // the one to keep from now on. The same rule.
  virtual void inputChosen(const InputRequest& input) = 0;
};

// A monotonic millisecond count, for timing the supervision.
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual int64_t nowMs() = 0;
};

}  // namespace kantiq
