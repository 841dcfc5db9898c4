#pragma once

// What the analysis thread tells the window about capture itself, apart from
// the frames: that listening stopped or resumed, and why a restart failed.

#include <string>

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
};

// A monotonic millisecond count, for timing the supervision.
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual int64_t nowMs() = 0;
};

}  // namespace kantiq
