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
  std::string alarmLine(kAlarmPrefix);
  alarmLine += text;

  // The box shows the newest line first: the stamp ends up above the alarm.
  if (detector.monitor != nullptr) {
    detector.monitor->appendResultLine(alarmLine);
    detector.monitor->appendResultLine(stamp);
  }
  // A log that cannot be written loses its entry; the alarm still goes out.
  appendToFile(logPath_, buildAlarmLogLine(stamp, kAlarmPrefix, text));

  DispatchHandover& h = *handover_;
  h.pendingAlarmText = text;
  ++h.raisedAlarmCount;
  h.handoverPending.store(true);

  if (!launcher_.startJob(detector, handover_)) {
    // Nobody will take this turn: give it back, or every later job would
    // wait for it forever, and say so rather than drop the alarm silently.
    h.handoverPending.store(false);
    --h.raisedAlarmCount;
    std::string notDispatched(kNotDispatchedPrefix);
    notDispatched += text;
    if (detector.monitor != nullptr) {
      detector.monitor->appendResultLine(notDispatched);
      detector.monitor->appendResultLine(stamp);
    }
    appendToFile(logPath_, buildAlarmLogLine(stamp, kNotDispatchedPrefix, text));
    return;
  }

  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(kHandoverPollMs));
  } while (h.handoverPending.load());
}

}  // namespace kantiq
