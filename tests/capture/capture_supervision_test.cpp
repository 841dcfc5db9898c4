// The supervision of capture over a clock the test turns by hand: when an
// outage is noticed, how restarts are paced while it lasts, and what is
// reported to the window.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_supervision.h"

namespace kantiq {
namespace {

using State = CaptureSupervision::State;

// Everything reported so far, as "stopped@ms" / "resumed@ms".
std::vector<std::string> changes(CaptureSupervision& s) {
  std::vector<std::string> out;
  while (const auto c = s.takeChange()) {
    out.push_back((c->listening ? "resumed@" : "stopped@") + std::to_string(c->atMs));
  }
  return out;
}

// Buffers every 33 ms from `from` to `to`.
void deliver(CaptureSupervision& s, int64_t from, int64_t to) {
  for (int64_t t = from; t <= to; t += 33) s.bufferCompleted(t);
}

// The times at which restarts fall due from `from` to `to`, checked every
// 10 ms; each due restart is made with the given outcome.
std::vector<int64_t> restartsBetween(CaptureSupervision& s, int64_t from, int64_t to, bool deviceOpens) {
  std::vector<int64_t> times;
  for (int64_t t = from; t <= to; t += 10) {
    if (!s.restartDue(t)) continue;
    times.push_back(t);
    s.restarted(deviceOpens, t);
  }
  return times;
}

TEST(CaptureSupervision, SilenceLongerThanTheLimitIsAnOutageFromTheLastBuffer) {
  CaptureSupervision s;
  s.switchedOn(0);
  deliver(s, 0, 990);
  EXPECT_FALSE(s.restartDue(990 + 5000));  // exactly the limit: still listening
  EXPECT_TRUE(s.listening());
  EXPECT_TRUE(s.restartDue(990 + 5001));
  EXPECT_EQ(s.state(), State::Outage);
  EXPECT_EQ(changes(s), std::vector<std::string>{"stopped@990"});

  s.restarted(true, 6000);
  s.bufferCompleted(6400);
  EXPECT_TRUE(s.listening());
  EXPECT_EQ(s.attempts(), 0);
  EXPECT_EQ(changes(s), std::vector<std::string>{"resumed@6400"});
}

TEST(CaptureSupervision, RestartsDuringAnOutageArePacedByWhatTheDeviceDoes) {
  struct Case {
    const char* what;
    bool deviceOpens;
    int64_t untilMs;
    std::vector<int64_t> restarts;
  };
  // A refused open is asked again soon (1, 2, 4, then every 5 s); a device
  // that opens but stays silent waits longer each time (5, 10, 20, then
  // every 30 s).
  const Case cases[] = {
      {"device refuses", false, 33000, {5010, 6010, 8010, 12010, 17010, 22010, 27010, 32010}},
      {"device silent", true, 110000, {5010, 10010, 20010, 40010, 70010, 100010}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CaptureSupervision s;
    s.switchedOn(0);
    // The first check after the limit restarts at once.
    EXPECT_EQ(restartsBetween(s, 10, c.untilMs, c.deviceOpens), c.restarts);
    EXPECT_EQ(changes(s), std::vector<std::string>{"stopped@0"});
    EXPECT_EQ(s.attempts(), static_cast<int32_t>(c.restarts.size()));
  }
}

TEST(CaptureSupervision, ADeviceThatComesBackIsHeardWithinSecondsOfItsReturn) {
  CaptureSupervision s;
  s.switchedOn(0);
  deliver(s, 0, 1000);
  // A minute of refused opens...
  restartsBetween(s, 1000, 61000, false);
  // ...then the device opens again: the next restart is at most 5 s away,
  // and its first buffer ends the outage.
  int64_t reopened = 0;
  for (int64_t t = 61000; t <= 70000 && reopened == 0; t += 10) {
    if (s.restartDue(t)) {
      s.restarted(true, t);
      reopened = t;
    }
  }
  ASSERT_NE(reopened, 0);
  EXPECT_LE(reopened - 61000, 5000);
  s.bufferCompleted(reopened + 300);
  EXPECT_EQ(changes(s), (std::vector<std::string>{"stopped@990", "resumed@" + std::to_string(reopened + 300)}));
}

TEST(CaptureSupervision, ARestartThatCannotReopenIsAnOutageAtOnceWithOneWarning) {
  CaptureSupervision s;
  s.switchedOn(0);
  deliver(s, 0, 2000);
  EXPECT_FALSE(s.mayWarn());  // nothing wrong yet
  // The periodic restart cannot reopen the device.
  s.restarted(false, 2010);
  EXPECT_EQ(s.state(), State::Outage);
  EXPECT_EQ(changes(s), std::vector<std::string>{"stopped@1980"});
  EXPECT_TRUE(s.mayWarn());
  // Retries in the same outage warn no more.
  restartsBetween(s, 2020, 20000, false);
  EXPECT_FALSE(s.mayWarn());
  s.bufferCompleted(21000);
  // A new outage may warn again.
  s.restarted(false, 22000);
  EXPECT_TRUE(s.mayWarn());
  EXPECT_FALSE(s.mayWarn());
}

TEST(CaptureSupervision, AReopenedDeviceHasTheFullLimitForItsFirstBuffer) {
  CaptureSupervision s;
  s.switchedOn(0);
  deliver(s, 0, 1000);
  s.restarted(true, 4000);  // periodic restart, device reopened
  EXPECT_FALSE(s.restartDue(8500));
  EXPECT_TRUE(s.restartDue(9001));
  // Listening stopped with the last real buffer, not with the reopening.
  EXPECT_EQ(changes(s), std::vector<std::string>{"stopped@990"});
}

TEST(CaptureSupervision, SwitchedOffWatchesNothingAndReportsNothing) {
  CaptureSupervision s;
  EXPECT_FALSE(s.restartDue(100000));  // never switched on
  s.switchedOn(0);
  s.restarted(false, 100);
  ASSERT_EQ(s.state(), State::Outage);
  s.switchedOff();
  EXPECT_EQ(s.state(), State::Off);
  EXPECT_EQ(restartsBetween(s, 200, 60000, false), std::vector<int64_t>{});
  s.bufferCompleted(60000);
  s.restarted(false, 60010);
  EXPECT_EQ(s.state(), State::Off);
  EXPECT_EQ(changes(s), std::vector<std::string>{"stopped@0"});  // only the one before switching off
  // Switched on again: a fresh start with the full limit.
  s.switchedOn(70000);
  EXPECT_FALSE(s.restartDue(75000));
  EXPECT_TRUE(s.restartDue(75001));
}

TEST(CaptureSupervision, DeliveringNeedsListeningAndARecentHeartbeat) {
  const SupervisionTiming timing;
  struct Case {
    State state;
    int64_t heartbeatAgoMs;
    bool delivering;
  };
  const Case cases[] = {
      {State::Listening, 0, true},
      {State::Listening, 5000, true},
      {State::Listening, 5001, false},  // the analysis thread is stuck in a frame
      {State::Outage, 0, false},
      {State::Off, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.state));
    SCOPED_TRACE(c.heartbeatAgoMs);
    EXPECT_EQ(CaptureSupervision::delivering(c.state, 100000 - c.heartbeatAgoMs, 100000, timing), c.delivering);
  }
}

}  // namespace
}  // namespace kantiq
