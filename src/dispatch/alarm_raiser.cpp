#include "dispatch/alarm_raiser.h"

#include <chrono>
#include <thread>
#include <utility>

#include "detector/tone_detector.h"
#include "dispatch/alarm_log.h"

namespace kantiq {

AlarmRaiser::AlarmRaiser(std::string logPath, DispatchJobLauncher& launcher, Clock* clock)
    : logPath_(std::move(logPath)),
      launcher_(launcher),
      clock_(clock != nullptr ? *clock : systemClock_),
      handover_(std::make_shared<DispatchHandover>()) {}

void AlarmRaiser::raiseAlarm(ToneDetector& detector, std::string text) {
  const std::string stamp = formatAlarmStamp(clock_.now());
  // Shown in the box (newest line first, so the stamp ends up above the
  // line) and appended to the log. A log that cannot be written loses its
  // entry; the alarm still goes out.
  const auto record = [&](std::string_view prefix) {
    if (detector.monitor != nullptr) {
      std::string line(prefix);
      line += text;
      detector.monitor->appendResultLine(line);
      detector.monitor->appendResultLine(stamp);
    }
    appendToFile(logPath_, buildAlarmLogLine(stamp, prefix, text));
  };
  record(kAlarmPrefix);

  DispatchHandover& h = *handover_;
  h.pendingAlarmText = text;
  ++h.raisedAlarmCount;
  h.handoverPending.store(true);

  if (!launcher_.startJob(detector, handover_)) {
    // Nobody will take this turn: give it back, or every later job would
    // wait for it forever, and say so rather than drop the alarm silently.
    h.handoverPending.store(false);
    --h.raisedAlarmCount;
    record(kNotDispatchedPrefix);
    return;
  }

  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(kHandoverPollMs));
  } while (h.handoverPending.load());
}

}  // namespace kantiq
