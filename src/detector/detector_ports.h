#pragma once

// The small interfaces through which the tone detector reaches the world
// outside it: the clock, the application that owns it, the alarm raising and
// the watchdog start. Live, each is the real thing; offline tools and tests
// plug in their own.

#include <cstdint>
#include <string>

#include "detector/time_value.h"

namespace kantiq {

class ToneDetector;

// Where the detector and alarm raising take the time from. Two readings,
// given consistently: local wall time, for stamps and texts only, since it
// goes back at the end of summer time or when someone sets the clock; and a
// monotonic millisecond count, which never goes back, for measuring how long
// something has lasted.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimeValue now() = 0;
  virtual int64_t tickMs() = 0;
};

// The operating system's local time and monotonic tick.
class SystemClock final : public Clock {
 public:
  TimeValue now() override { return TimeValue::now(); }
  int64_t tickMs() override { return readMonotonicMs(); }
};

// The application object seen from the detector and from alarm raising.
class MonitorInterface {
 public:
  virtual ~MonitorInterface() = default;
  // Stops and starts capture again; true when capture is running afterwards.
  virtual bool restartCapture() = 0;
  // Adds one line on top of the result box.
  virtual void appendResultLine(const std::string& line) = 0;
};

// Raising a recognised alarm: the result box, the alarm log and the hand-over
// to the dispatch job.
class AlarmSink {
 public:
  virtual ~AlarmSink() = default;
  virtual void raiseAlarm(ToneDetector& detector, std::string text) = 0;
};

// Starts the watchdog threads; called once per process, by the first frame.
class WatchdogStarter {
 public:
  virtual ~WatchdogStarter() = default;
  virtual void startWatchdogs(ToneDetector& detector) = 0;
  // The detector is being destroyed: nothing may reach it any more.
  virtual void detectorGone(const ToneDetector& /*detector*/) {}
};

}  // namespace kantiq
