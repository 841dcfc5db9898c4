#pragma once

// Raising a recognised alarm: two lines in the result box, one line in the
// alarm log, the hand-over to a new dispatch job.

#include <memory>
#include <string>

#include "detector/detector_ports.h"
#include "dispatch/dispatch_handover.h"

namespace kantiq {

class AlarmRaiser final : public AlarmSink {
 public:
  static constexpr int32_t kHandoverPollMs = 5;

  // logPath: the alarm log's full path. clock: where the log's time stamp
  // comes from (the system clock when null). Counters start at 0.
  AlarmRaiser(std::string logPath, DispatchJobLauncher& launcher, Clock* clock = nullptr);
  AlarmRaiser(const AlarmRaiser&) = delete;
  AlarmRaiser& operator=(const AlarmRaiser&) = delete;

  // Returns once the new job has taken the text. When no job can be started,
  // the alarm is marked in the result box and the log as not dispatched, and
  // its turn number is given back so later jobs are not held up.
  void raiseAlarm(ToneDetector& detector, std::string text) override;

  const DispatchHandover& handover() const { return *handover_; }
  // For those that follow the jobs up: the outbox retries, the closing.
  const std::shared_ptr<DispatchHandover>& sharedHandover() const { return handover_; }

 private:
  std::string logPath_;
  DispatchJobLauncher& launcher_;
  SystemClock systemClock_;
  Clock& clock_;
  std::shared_ptr<DispatchHandover> handover_;
};

}  // namespace kantiq
