#pragma once

// The hand-over between alarm raising and the dispatch jobs, and the
// turn-taking of the jobs. Each raised alarm gets one job; the jobs run the
// sender one at a time, in the order the alarms were raised.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dispatch/alarm_delivery.h"

namespace kantiq {

class ToneDetector;
class MonitorInterface;

// How soon the sender is run again while messages wait in its outbox.
inline constexpr int64_t kDefaultOutboxRetryMs = 180000;

// Hears what the sender's runs did, for the notices to whoever looks after
// the PC. Called with deliveryMutex held; must not take it again.
class DeliveryListener {
 public:
  virtual ~DeliveryListener() = default;
  virtual void alarmRaised(const std::string& text) = 0;
  // summary: the sender's summary line, or why it did not run.
  virtual void alarmRun(const std::string& text, DeliveryState state, const std::string& summary) = 0;
  // waitingAfter: alarm messages still wait in the outbox.
  virtual void outboxRun(DeliveryState state, bool waitingAfter, const std::string& summary) = 0;
};

// Shared by alarm raising and every job it starts. Jobs hold it by
// shared_ptr, so it outlives a raiser that is torn down while senders run.
struct DispatchHandover {
  // Written by raising only while no job is taking over; read by the new job
  // before it clears handoverPending.
  std::string pendingAlarmText;
  int32_t raisedAlarmCount = 0;  // the new job's turn number
  std::atomic<int32_t> completedDispatchCount{0};
  std::atomic<bool> handoverPending{false};
  // Jobs that have started their sender, or gave up on it: once this
  // reaches raisedAlarmCount, every raised alarm is in the sender's hands.
  std::atomic<int32_t> handedToSender{0};
  // The program is closing: jobs waiting for their turn start their sender
  // at once (each sender keeps its messages in its outbox first thing, and
  // sends in turn).
  std::atomic<bool> closing{false};

  // What became of the messages, and where the window hears of it.
  std::mutex deliveryMutex;
  OutboxRetryPace pace{kDefaultOutboxRetryMs};
  MonitorInterface* monitor = nullptr;  // under deliveryMutex; null once closing
  DeliveryListener* listener = nullptr;  // under deliveryMutex; null once closing

  // A line for the result box (under its stamp), if the window is still there.
  void tellMonitor(const std::string& line, const std::string& stamp);
};

// What a job takes over.
struct HandedOverAlarm {
  std::string text;
  int32_t turn = 0;
  bool textLost = false;  // no memory for the copy: the text did not come over
};

// A job's first steps: copy the text and the turn number, ask the detector
// to restart capture, then release the raiser. The restart is asked for
// before the release so that no job touches the detector after raising has
// returned. Never throws: a job that could not copy the text still takes
// its turn and releases the raiser, which would otherwise wait for ever.
HandedOverAlarm takeHandover(DispatchHandover& handover, ToneDetector& detector);

// Returns once every earlier job has finished, or the program is closing;
// looks every pollMs.
void waitForTurn(const DispatchHandover& handover, int32_t turn, int32_t pollMs);

// Marks the job whose turn it is as finished.
inline void finishTurn(DispatchHandover& handover) { handover.completedDispatchCount.fetch_add(1); }

// Starts a dispatch job for the alarm just placed in the hand-over.
class DispatchJobLauncher {
 public:
  virtual ~DispatchJobLauncher() = default;
  // False when no job could be started; nobody will then take the hand-over.
  virtual bool startJob(ToneDetector& detector, std::shared_ptr<DispatchHandover> handover) = 0;
};

}  // namespace kantiq
