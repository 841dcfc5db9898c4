#include "dispatch/dispatch_handover.h"

#include <chrono>
#include <thread>

#include "detector/detector_ports.h"
#include "detector/tone_detector.h"

namespace kantiq {

HandedOverAlarm takeHandover(DispatchHandover& handover, ToneDetector& detector) {
  HandedOverAlarm alarm;
  alarm.turn = handover.raisedAlarmCount;
  try {
    alarm.text = handover.pendingAlarmText;
  } catch (...) {
    alarm.textLost = true;
  }
  detector.requestRestart();
  handover.handoverPending.store(false);
  return alarm;
}

void waitForTurn(const DispatchHandover& handover, int32_t turn, int32_t pollMs) {
  // An alarm whose turn it is goes out at once.
  while (handover.completedDispatchCount.load() < turn - 1 && !handover.closing.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

void DispatchHandover::tellMonitor(const std::string& line, const std::string& stamp) {
  std::lock_guard<std::mutex> held(deliveryMutex);
  if (monitor == nullptr || line.empty()) return;
  monitor->appendResultLine(line);
  monitor->appendResultLine(stamp);
}

}  // namespace kantiq
