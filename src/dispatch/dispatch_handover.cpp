#include "dispatch/dispatch_handover.h"

#include <chrono>
#include <thread>

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
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  } while (handover.completedDispatchCount.load() < turn - 1);
}

}  // namespace kantiq
