#pragma once

// The small interfaces through which the tone detector reaches the world
// outside it: the clock, the application that owns it, the alarm raising and
// the watchdog start. Live, each is the real thing; offline tools and tests
// plug in their own.

#include <string>

#include "detector/time_value.h"

namespace kantiq {

class ToneDetector;

// Where the detector takes the time of a frame from.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimeValue now() = 0;
};

// The operating system's local time.
class SystemClock final : public Clock {
 public:
  TimeValue now() override { return TimeValue::now(); }
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
