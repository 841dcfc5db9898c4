#pragma once

// Keeps monitoring honest: while capture should be running, notices when no
// capture buffer has completed for a while or a restart could not reopen the
// device, and decides when to stop and start capture again, with a growing
// pause, until buffers flow. Bookkeeping only, over a millisecond clock: the
// analysis thread feeds it and carries out what it decides.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kantiq {

struct SupervisionTiming {
  // No completed buffer for this long while capture should run is an
  // outage. The longest buffer the program can be set to is 2048 samples at
  // 11025 Hz (186 ms), a full queue of seven 1.3 s; a PulseAudio device
  // reopened under Wine stays silent for up to about 2 s. Five seconds stay
  // clear of all of these and still notice a lost device within seconds.
  int64_t stallLimitMs = 5000;
  // A device that refuses to open is asked again soon and often: a refused
  // open costs nothing, and the device may be back any second.
  int64_t firstRefusedRetryMs = 1000;
  int64_t maxRefusedRetryMs = 5000;
  // A device that opened but brings no buffers is given longer each time,
  // so that a broken driver is not reset over and over.
  int64_t firstSilentRetryMs = 5000;
  int64_t maxSilentRetryMs = 30000;
};

class CaptureSupervision {
 public:
  enum class State { Off, Listening, Outage };

  // A change of listening to report: when listening stopped (the last
  // buffer, or the failed restart when there was none since switching on),
  // or when it resumed (the first buffer after the outage).
  struct Change {
    bool listening = false;
    int64_t atMs = 0;
  };

  explicit CaptureSupervision(SupervisionTiming timing = {}) : timing_(timing) {}

  // Monitoring was switched on (capture started) or off.
  void switchedOn(int64_t nowMs);
  void switchedOff();
  // A capture buffer has completed.
  void bufferCompleted(int64_t nowMs);
  // A stop and start of capture has been made, by the watchdogs, a dispatch
  // job or this supervision; started tells whether the device opened.
  void restarted(bool started, int64_t nowMs);

  // True when capture should be stopped and started again now. Entering an
  // outage by a stall is noticed here.
  bool restartDue(int64_t nowMs);

  // The oldest change not yet taken, if any.
  std::optional<Change> takeChange();

  // The first failed start of an outage may tell the user why; later ones in
  // the same outage may not. True once per outage.
  bool mayWarn();

  // Whether the window may say that capture is listening: the supervision
  // says so and the analysis thread, which keeps it, last went through its
  // loop (heartbeatMs) within the stall limit; a thread stuck in a frame
  // hears nothing either.
  static bool delivering(State state, int64_t heartbeatMs, int64_t nowMs, const SupervisionTiming& timing) {
    return state == State::Listening && nowMs - heartbeatMs <= timing.stallLimitMs;
  }

  State state() const { return state_; }
  const SupervisionTiming& timing() const { return timing_; }
  bool listening() const { return state_ == State::Listening; }
  // Restarts made in the present outage.
  int32_t attempts() const { return attempts_; }

 private:
  void beginOutage(int64_t sinceMs);
  void report(bool listening, int64_t atMs);

  SupervisionTiming timing_;
  State state_ = State::Off;
  int64_t lastBufferMs_ = 0;
  int64_t lastOpenMs_ = 0;
  int64_t nextAttemptMs_ = 0;
  int64_t refusedPauseMs_ = 0;
  int64_t silentPauseMs_ = 0;
  int32_t attempts_ = 0;
  bool warned_ = false;
  // Changes not yet taken, oldest first. Each call makes at most one and the
  // analysis thread takes them after every call; should they pile up, the
  // oldest go.
  std::array<Change, 4> changes_{};
  std::size_t changeCount_ = 0;
};

}  // namespace kantiq
