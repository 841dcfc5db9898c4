#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <new>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "capture/analysis_thread_win.h"
#include "fake_wave_in.h"
#include "lib/eventually.h"

namespace kantiq {
namespace {

using namespace std::chrono_literals;
using testing::CapturedBoxes;
using testing::FakeWaveIn;
using testing::textWithCode;

// Generous: only a broken worker ever waits this long.
constexpr auto kPatience = 10s;

// Keeps the newest sample of every frame; can hold a frame until released and
// run an action inside a chosen frame.
class RecordingConsumer final : public FrameConsumer {
 public:
  void onFrame(const SpectrumTransform& transform) override {
    std::unique_lock<std::mutex> l(m_);
    newest_.push_back(static_cast<int32_t>(transform.window().back()));
    rates_.push_back(transform.sampleRate());
    const size_t frame = newest_.size();
    std::function<void()> action = actionFrame_ == frame ? action_ : nullptr;
    cv_.notify_all();
    cv_.wait(l, [&] { return !holding_; });
    l.unlock();
    if (action) action();
    l.lock();
    ++finished_;
    cv_.notify_all();
  }

  // Waits until n frames have finished; false if they do not come.
  bool waitFinished(size_t n) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, kPatience, [&] { return finished_ >= n; });
  }
  bool waitEntered(size_t n) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, kPatience, [&] { return newest_.size() >= n; });
  }
  void hold() {
    std::lock_guard<std::mutex> l(m_);
    holding_ = true;
  }
  void release() {
    std::lock_guard<std::mutex> l(m_);
    holding_ = false;
    cv_.notify_all();
  }
  void runInFrame(size_t frame, std::function<void()> action) {
    std::lock_guard<std::mutex> l(m_);
    actionFrame_ = frame;
    action_ = std::move(action);
  }
  std::vector<int32_t> newest() {
    std::lock_guard<std::mutex> l(m_);
    return newest_;
  }
  std::vector<int32_t> rates() {
    std::lock_guard<std::mutex> l(m_);
    return rates_;
  }
  size_t finished() {
    std::lock_guard<std::mutex> l(m_);
    return finished_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int32_t> newest_;
  std::vector<int32_t> rates_;
  size_t finished_ = 0;
  bool holding_ = false;
  size_t actionFrame_ = 0;
  std::function<void()> action_;
};

struct Rig {
  FakeWaveIn driver;
  CapturedBoxes boxes;
  RecordingConsumer consumer;
};

// Capture buffers in ring order: each frame shows the buffer filled for it,
// with seven buffers queued behind it.
TEST(AnalysisThreadTest, ProcessesOneBufferPerWakeInRingOrder) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  EXPECT_EQ(rig.driver.queued(), 7u);

  std::vector<int32_t> sent;
  for (int32_t k = 0; k < 18; ++k) {
    sent.push_back(100 * (k + 1));
    ASSERT_NE(rig.driver.fill(sent.back()), nullptr);
    ASSERT_TRUE(rig.consumer.waitFinished(static_cast<size_t>(k + 1))) << k;
    EXPECT_EQ(rig.driver.queued(), 7u) << k;
  }
  EXPECT_EQ(rig.consumer.newest(), sent);
  EXPECT_EQ(thread.status().framesProcessed, 18u);
  EXPECT_EQ(thread.status().currentBuffer, 18 % 8);
  EXPECT_TRUE(thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

// Completions during a long frame collapse into one wake; that wake takes
// every buffer done by then, oldest first, none left waiting for a later one.
TEST(AnalysisThreadTest, CollapsedWakesTakeEveryDoneBufferAtOnceInOrder) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 256, 11025, 256, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  rig.consumer.hold();
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitEntered(1));
  rig.driver.fill(2);
  rig.driver.fill(3);
  rig.consumer.release();
  // No later fill: buffer 3 is taken on the same wake as buffer 2.
  ASSERT_TRUE(rig.consumer.waitFinished(3));
  // Three buffers done before one wake, the event set only by the last.
  rig.driver.fill(4, false);
  rig.driver.fill(5, false);
  rig.driver.fill(6);
  ASSERT_TRUE(rig.consumer.waitFinished(6));
  EXPECT_EQ(rig.consumer.newest(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_TRUE(thread.stopThread());
}

TEST(AnalysisThreadTest, StaleWakeAndWakeAfterStopProcessNothing) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  thread.wake();  // nothing filled
  rig.driver.fill(7);
  ASSERT_TRUE(rig.consumer.waitFinished(1));

  // Stopping hands the queued buffers back marked done; none of them is a frame.
  thread.stopCapture();
  thread.wake();
  thread.wake();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(rig.consumer.finished(), 1u);
  EXPECT_EQ(thread.status().framesProcessed, 1u);
  EXPECT_FALSE(thread.status().recording);
  EXPECT_TRUE(thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(AnalysisThreadTest, StopThreadEndsTheWorkerAfterItsFrame) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  rig.consumer.hold();
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitEntered(1));
  rig.driver.fill(2);
  auto stopped = std::async(std::launch::async, [&] { return thread.stopThread(); });
  std::this_thread::sleep_for(200ms);
  rig.consumer.release();
  EXPECT_TRUE(stopped.get());
  // The frame in progress finished; buffer 2 was never taken.
  EXPECT_EQ(rig.consumer.finished(), 1u);
  EXPECT_EQ(thread.status().framesProcessed, 1u);
}

TEST(AnalysisThreadTest, StopThreadEndsAWorkerNeverResumed) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  EXPECT_TRUE(thread.stopThread());
}

// A frame that hangs past the limit: stopThread gives up, the AnalysisThread
// is destroyed, and the recorder it still uses lives until the frame returns.
TEST(AnalysisThreadTest, HungWorkerKeepsTheCaptureChainUntilItLeaves) {
  Rig rig;
  {
    AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
    thread.resume();
    ASSERT_TRUE(thread.startCapture());
    rig.consumer.hold();
    rig.driver.fill(1);
    ASSERT_TRUE(rig.consumer.waitEntered(1));
    EXPECT_FALSE(thread.stopThread());
  }
  EXPECT_TRUE(rig.driver.isOpen());
  EXPECT_EQ(rig.driver.closes(), 0);
  rig.consumer.release();
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  for (int i = 0; i < 100 && rig.driver.isOpen(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(rig.driver.isOpen());
  EXPECT_EQ(rig.driver.closes(), 1);
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(AnalysisThreadTest, ReconfigureWithTheSameValuesKeepsCaptureRunning) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_TRUE(thread.reconfigure(512, 11025, 1024, 16));
  EXPECT_EQ(rig.driver.opens(), 1);
  EXPECT_EQ(rig.driver.resets(), 0);
  EXPECT_TRUE(thread.status().recording);
  // The ring carries on where it was.
  EXPECT_EQ(thread.status().currentBuffer, 1);
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_EQ(rig.consumer.newest(), (std::vector<int32_t>{1, 2}));
  EXPECT_TRUE(thread.stopThread());
}

TEST(AnalysisThreadTest, ReconfigureWhileRecordingRestartsAtTheNewSettings) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  rig.driver.fill(64);
  ASSERT_TRUE(rig.consumer.waitFinished(1));

  EXPECT_TRUE(thread.reconfigure(1472, 44100, 2048, 8));
  EXPECT_EQ(rig.driver.opens(), 2);
  EXPECT_EQ(rig.driver.closes(), 1);
  const WAVEFORMATEX f = rig.driver.openedFormat();
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.wBitsPerSample, 8);
  const AnalysisThread::Status s = thread.status();
  EXPECT_TRUE(s.recording);
  EXPECT_EQ(s.currentBuffer, 0);
  EXPECT_EQ(s.samplesPerBuffer, 1472);
  EXPECT_EQ(s.points, 2048);
  EXPECT_EQ(rig.driver.queued(), 7u);

  rig.driver.fill(640);  // 8-bit: 640 / 64 + 128 reads back as 640
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_EQ(rig.consumer.newest().back(), 640);
  EXPECT_EQ(rig.consumer.rates().back(), 44100);
  EXPECT_TRUE(thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(AnalysisThreadTest, ReconfigureWhileStoppedStaysStopped) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  EXPECT_TRUE(thread.reconfigure(1024, 22050, 1024, 8));
  EXPECT_EQ(rig.driver.opens(), 0);
  EXPECT_FALSE(thread.status().recording);
  EXPECT_EQ(thread.status().sampleRate, 22050);
  ASSERT_TRUE(thread.startCapture());
  EXPECT_EQ(rig.driver.openedFormat().nSamplesPerSec, 22050u);
  EXPECT_EQ(rig.driver.openedFormat().wBitsPerSample, 8);
  EXPECT_TRUE(thread.stopThread());
}

TEST(AnalysisThreadTest, FailedReconfigureReportsAndLeavesNothingToTrip) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());

  EXPECT_FALSE(thread.reconfigure(0, 11025, 1024, 16));  // the recorder refuses
  auto boxes = rig.boxes.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, textWithCode("Recorder, Error ", MMSYSERR_INVALPARAM));
  EXPECT_EQ(boxes[0].caption, "Exception");
  EXPECT_FALSE(rig.driver.isOpen());  // capture is not started again

  // The worker and the buttons cope with the missing recorder.
  thread.wake();
  EXPECT_FALSE(thread.startCapture());
  thread.stopCapture();
  EXPECT_FALSE(thread.restartCapture());

  EXPECT_FALSE(thread.reconfigure(512, 11025, 1000, 16));  // not a power of two
  boxes = rig.boxes.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, "Unknown");
  EXPECT_EQ(boxes[1].caption, "Exception");

  // A good reconfiguration brings everything back.
  EXPECT_TRUE(thread.reconfigure(512, 11025, 1024, 16));
  ASSERT_TRUE(thread.startCapture());
  rig.driver.fill(9);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_TRUE(thread.stopThread());
}

// The detector restarts capture from inside a frame, on the worker, under the
// lock the worker already holds.
TEST(AnalysisThreadTest, RestartFromInsideAFrameStartsTheRingAgain) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  bool restarted = false;
  rig.consumer.runInFrame(3, [&] { restarted = thread.restartCapture(); });
  for (int32_t k = 1; k <= 3; ++k) {
    rig.driver.fill(k);
    ASSERT_TRUE(rig.consumer.waitFinished(static_cast<size_t>(k)));
  }
  EXPECT_TRUE(restarted);
  EXPECT_EQ(rig.driver.opens(), 2);
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_EQ(thread.status().currentBuffer, 0);
  rig.driver.fill(4);
  ASSERT_TRUE(rig.consumer.waitFinished(4));
  EXPECT_EQ(rig.consumer.newest(), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_TRUE(thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

// Every queued buffer filled without a wake getting through: capture stands
// still until a restart queues the ring afresh.
TEST(AnalysisThreadTest, StalledCaptureComesBackAfterARestart) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  for (int i = 0; i < 7; ++i) rig.driver.fill(1, false);
  EXPECT_EQ(rig.driver.fill(1), nullptr);  // nothing left to fill
  EXPECT_EQ(rig.driver.queued(), 0u);
  ASSERT_TRUE(thread.restartCapture());
  EXPECT_EQ(rig.driver.queued(), 7u);
  rig.driver.fill(77);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_EQ(rig.consumer.newest(), (std::vector<int32_t>{77}));
  EXPECT_TRUE(thread.stopThread());
}

class ThrowingConsumer final : public FrameConsumer {
 public:
  void onFrame(const SpectrumTransform&) override {
    if (++calls == 1) throw std::bad_alloc();
  }
  std::atomic<int> calls{0};
};

// A frame that throws (out of memory while raising an alarm) is lost; the
// worker carries on with the next buffer and the lock is free again.
TEST(AnalysisThreadTest, FrameThatThrowsDoesNotEndTheWorker) {
  FakeWaveIn driver;
  CapturedBoxes boxes;
  ThrowingConsumer consumer;
  AnalysisThread thread(consumer, 512, 11025, 1024, driver, boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  driver.fill(1);
  for (int i = 0; i < 200 && thread.status().framesFailed == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(thread.status().framesFailed, 1u);
  driver.fill(2);
  for (int i = 0; i < 200 && consumer.calls.load() < 2; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(consumer.calls.load(), 2);
  EXPECT_EQ(driver.queued(), 7u);
  EXPECT_TRUE(thread.stopThread());
}

// A buffer larger than the transform is handed back without a frame.
TEST(AnalysisThreadTest, BufferLargerThanTheTransformIsSkipped) {
  Rig rig;
  AnalysisThread thread(rig.consumer, 512, 11025, 256, rig.driver, rig.boxes);
  thread.resume();
  ASSERT_TRUE(thread.startCapture());
  rig.driver.fill(5);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(rig.consumer.finished(), 0u);
  EXPECT_EQ(rig.driver.queued(), 7u);  // handed back all the same
  EXPECT_EQ(thread.status().currentBuffer, 1);
  EXPECT_TRUE(thread.stopThread());
}

// --- supervision: capture that stops delivering, on a clock turned by hand ---

class HandTurnedTicks final : public TickSource {
 public:
  int64_t nowMs() override { return now.load(); }
  std::atomic<int64_t> now{0};
};

class RecordingObserver final : public CaptureObserver {
 public:
  void listeningChanged(bool listening, const TimeValue&) override {
    std::lock_guard<std::mutex> l(m_);
    events_.push_back(listening ? "resumed" : "stopped");
  }
  void captureWarning(const std::string& text, const std::string& caption) override {
    std::lock_guard<std::mutex> l(m_);
    events_.push_back("box " + caption + ": " + text);
  }
  void captureNotice(const std::string& line) override {
    std::lock_guard<std::mutex> l(m_);
    events_.push_back("line " + line);
  }
  void inputSilenceChanged(bool silent, const TimeValue&) override {
    std::lock_guard<std::mutex> l(m_);
    events_.push_back(silent ? "silent" : "signal");
  }
  // Kept apart: every first start chooses the default input.
  void inputChosen(const InputRequest& input) override {
    std::lock_guard<std::mutex> l(m_);
    chosen_.push_back(inputLabel(input));
  }
  std::vector<std::string> chosen() {
    std::lock_guard<std::mutex> l(m_);
    return chosen_;
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> l(m_);
    return events_;
  }

 private:
  std::mutex m_;
  std::vector<std::string> events_;
  std::vector<std::string> chosen_;
};

bool eventually(const std::function<bool()>& condition) {
  return test_support::eventually(condition, kPatience, 5ms);
}

struct SupervisedRig {
  FakeWaveIn driver;
  CapturedBoxes boxes;
  RecordingConsumer consumer;
  HandTurnedTicks ticks;
  RecordingObserver observer;
  AnalysisThread thread{consumer, 512, 11025, 1024, driver, boxes, ticks};

  SupervisedRig() {
    thread.setObserver(&observer);
    thread.resume();
  }
  // Moves the clock on and waits until the worker has looked at it.
  void turnTo(int64_t ms) {
    ticks.now = ms;
    eventually([&] { return thread.health().heartbeatMs == ms; });
    std::this_thread::sleep_for(std::chrono::milliseconds(kSupervisionPollMs + 50));
  }
};

// The sound server goes away: no buffer comes, no frame runs, nothing wakes
// the worker. It notices by itself, reopens until the device is back, and
// says so twice: when listening stopped and when it resumed.
TEST(AnalysisThreadSupervision, SilentCaptureIsRestartedWithoutAnyFrameUntilBuffersFlow) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_TRUE(rig.thread.delivering());

  rig.driver.openResult = MMSYSERR_ERROR;  // the device is gone
  rig.turnTo(4000);
  EXPECT_EQ(rig.driver.opens(), 1);  // within the limit: left alone
  EXPECT_TRUE(rig.thread.delivering());
  rig.turnTo(5100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 2; }));
  EXPECT_FALSE(rig.thread.delivering());
  EXPECT_EQ(rig.thread.status().supervision, CaptureSupervision::State::Outage);
  // Refused again and again: tried after 1, 2, 4 s, each time one open.
  struct Step {
    int64_t atMs;
    int opens;
  };
  for (const Step step : {Step{6000, 2}, Step{6200, 3}, Step{8100, 3}, Step{8300, 4}, Step{12400, 5}}) {
    SCOPED_TRACE(step.atMs);
    rig.turnTo(step.atMs);
    EXPECT_TRUE(eventually([&] { return rig.driver.opens() == step.opens; }));
  }

  rig.driver.openResult = MMSYSERR_NOERROR;  // back
  rig.turnTo(17500);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 6; }));
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_FALSE(rig.thread.delivering());  // open, but nothing heard yet
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));

  // One box for the whole outage, handed on rather than shown on the worker.
  EXPECT_EQ(rig.observer.events(),
            (std::vector<std::string>{"stopped", "box Recorder: fake error 1", "resumed"}));
  EXPECT_TRUE(rig.boxes.boxes().empty());
  EXPECT_TRUE(rig.thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

// No sound device when monitoring is switched on (a USB card not ready at
// log-on): monitoring is on all the same, the window hears of the missing
// device once, and listening starts by itself when the device appears. A
// device that is busy at the start is retried the same way, its box shown
// once, at the start.
TEST(AnalysisThreadSupervision, AMissingOrBusyDeviceAtTheStartIsWaitedFor) {
  for (const bool busy : {false, true}) {
    SCOPED_TRACE(busy ? "busy" : "missing");
    SupervisedRig rig;
    if (busy) {
      rig.driver.openResult = MMSYSERR_ALLOCATED;
    } else {
      rig.driver.setInputs({});
    }
    EXPECT_TRUE(rig.thread.startCapture());
    EXPECT_FALSE(rig.thread.delivering());
    EXPECT_EQ(rig.thread.status().supervision, CaptureSupervision::State::Outage);
    EXPECT_EQ(rig.thread.health().inputMissing, !busy);
    EXPECT_EQ(rig.boxes.boxes().size(), busy ? 1u : 0u);  // shown on the spot, by the caller's thread
    rig.turnTo(1100);
    rig.turnTo(3200);
    rig.driver.openResult = MMSYSERR_NOERROR;
    rig.driver.setInputs({"Line In (Fake Audio)"});
    rig.turnTo(7300);
    ASSERT_TRUE(eventually([&] { return rig.driver.isOpen(); }));
    EXPECT_FALSE(rig.thread.health().inputMissing);
    rig.driver.fill(1);
    ASSERT_TRUE(rig.consumer.waitFinished(1));
    EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));
    EXPECT_EQ(rig.thread.inputLabel(), "Line In (Fake Audio)");
    const std::vector<std::string> expected =
        busy ? std::vector<std::string>{"stopped", "resumed"}
             : std::vector<std::string>{"stopped",
                                        "line STÖRUNG: Kein Aufnahmegerät gefunden. Kantiq wartet darauf und "
                                        "hört mit, sobald eines da ist.",
                                        "resumed"};
    EXPECT_EQ(rig.observer.events(), expected);
    EXPECT_EQ(rig.boxes.boxes().size(), busy ? 1u : 0u);
    EXPECT_EQ(rig.observer.chosen(), (std::vector<std::string>{"Line In (Fake Audio)"}));
    EXPECT_TRUE(rig.thread.stopThread());
    EXPECT_EQ(rig.driver.violations(), 0);
  }
}

// The input named in the settings is unplugged while monitoring: it is an
// outage that names it, though another input is there, and it is opened
// again when it returns.
TEST(AnalysisThreadSupervision, ANamedInputThatGoesAwayIsAnOutageUntilItReturns) {
  SupervisedRig rig;
  rig.driver.setInputs({"Mikrofon", "USB Audio"}, 0);
  rig.thread.setInput(InputRequest{"USB Audio", 1});
  ASSERT_TRUE(rig.thread.startCapture());
  EXPECT_EQ(rig.driver.openedInput(), 1u);
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  rig.driver.die();
  rig.driver.setInputs({"Mikrofon"}, 0);
  rig.turnTo(5100);
  ASSERT_TRUE(eventually([&] { return rig.thread.health().inputMissing; }));
  EXPECT_EQ(rig.driver.opens(), 1);  // never the microphone
  rig.driver.setInputs({"Mikrofon", "Line In", "USB Audio"}, 0);
  rig.turnTo(6200);
  ASSERT_TRUE(eventually([&] { return rig.driver.isOpen(); }));
  EXPECT_EQ(rig.driver.openedInput(), 2u);
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_EQ(rig.observer.events(),
            (std::vector<std::string>{"stopped",
                                      "line STÖRUNG: Der Eingang \"USB Audio\" fehlt. Kantiq wartet darauf und "
                                      "hört mit, sobald er wieder da ist.",
                                      "resumed"}));
  EXPECT_TRUE(rig.observer.chosen().empty());
  EXPECT_TRUE(rig.thread.stopThread());
}

// Buffers that carry no signal (a muted source) make the input silent once
// the limit has passed, once however many follow; a buffer with signal ends
// it. Switching off forgets the period.
TEST(AnalysisThreadSupervision, AnInputWithoutSignalIsSilentOncePerPeriod) {
  SupervisedRig rig;
  rig.thread.setSilenceLimit(2000);
  ASSERT_TRUE(rig.thread.startCapture());
  int filled = 0;
  const auto fillAt = [&](int64_t ms, int32_t value) {
    rig.ticks.now = ms;
    rig.driver.fill(value, true, true);
    ASSERT_TRUE(rig.consumer.waitFinished(++filled));
  };
  fillAt(100, 0);
  fillAt(1500, 0);
  EXPECT_FALSE(rig.thread.health().silent);
  fillAt(2100, 1);  // within one step of 0: still nothing
  EXPECT_TRUE(rig.thread.health().silent);
  fillAt(3000, 0);
  fillAt(9000, 0);
  EXPECT_TRUE(rig.thread.delivering());  // buffers do come
  fillAt(9100, 3000);
  EXPECT_FALSE(rig.thread.health().silent);
  fillAt(9200, 0);
  fillAt(11300, 0);
  EXPECT_TRUE(rig.thread.health().silent);
  rig.thread.stopCapture();
  EXPECT_FALSE(rig.thread.health().silent);
  EXPECT_EQ(rig.observer.events(), (std::vector<std::string>{"silent", "signal", "silent"}));
  EXPECT_TRUE(rig.thread.stopThread());
}

// A restart asked for inside a frame (the periodic one, say) cannot reopen
// the device: it is not left at that, and the user hears of it once.
TEST(AnalysisThreadSupervision, ARestartThatFailsInsideAFrameIsTriedAgain) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  bool restarted = true;
  rig.consumer.runInFrame(1, [&] {
    rig.driver.openResult = MMSYSERR_ALLOCATED;
    restarted = rig.thread.restartCapture();
  });
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_FALSE(restarted);
  EXPECT_FALSE(rig.thread.delivering());
  rig.turnTo(1100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 3; }));
  rig.driver.openResult = MMSYSERR_NOERROR;
  rig.turnTo(3200);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 4; }));
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));
  const auto events = rig.observer.events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "stopped");
  EXPECT_EQ(events[1].rfind("box Recorder: Fehler: Ihre Soundkarte wird zur Zeit", 0), 0u) << events[1];
  EXPECT_EQ(events[2], "resumed");
  EXPECT_TRUE(rig.boxes.boxes().empty());
  EXPECT_TRUE(rig.thread.stopThread());
}

// A device that died keeps the buffers it held and lets none of them be
// unprepared; only closing it works. The next device must still get a
// whole ring: every buffer, in order, round after round.
TEST(AnalysisThreadSupervision, ADeviceOpenedAfterADeadOneRunsTheWholeRing) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  for (int32_t k = 1; k <= 10; ++k) {  // past buffer 7, so every header has been in use
    rig.driver.fill(k);
    ASSERT_TRUE(rig.consumer.waitFinished(static_cast<size_t>(k)));
  }
  rig.driver.die();
  rig.turnTo(5100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 2; }));
  for (int32_t k = 11; k <= 30; ++k) {
    SCOPED_TRACE(k);
    ASSERT_NE(rig.driver.fill(k), nullptr);
    ASSERT_TRUE(rig.consumer.waitFinished(static_cast<size_t>(k)));
    ASSERT_EQ(rig.driver.queued(), 7u);
  }
  EXPECT_EQ(rig.consumer.newest().back(), 30);
  EXPECT_EQ(rig.observer.events(), (std::vector<std::string>{"stopped", "resumed"}));
  EXPECT_TRUE(rig.thread.stopThread());
}

// New settings while capture runs, and the device refuses to start again:
// the settings hold, and the refusal is an outage like any other instead of
// a reason to end the program.
TEST(AnalysisThreadSupervision, ADeviceRefusingAfterNewSettingsIsRetried) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.driver.openResult = MMSYSERR_ALLOCATED;
  EXPECT_TRUE(rig.thread.reconfigure(1472, 44100, 2048, 8));
  EXPECT_EQ(rig.driver.opens(), 2);
  EXPECT_FALSE(rig.thread.delivering());
  EXPECT_TRUE(rig.boxes.boxes().empty());  // not shown on the caller's thread under the lock
  rig.driver.openResult = MMSYSERR_NOERROR;
  rig.turnTo(1100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 3; }));
  EXPECT_EQ(rig.driver.openedFormat().nSamplesPerSec, 44100u);
  rig.driver.fill(5);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));
  const auto events = rig.observer.events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "stopped");
  EXPECT_EQ(events[2], "resumed");
  EXPECT_TRUE(rig.thread.stopThread());
}

// A restart whose device will not close opens no second device over the
// buffers it may still fill: an outage, told once, the close tried again by
// the retry, and capture back on a new device once the old one has closed.
TEST(AnalysisThreadSupervision, ADeviceThatWillNotCloseIsClosedBeforeAnotherOpens) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  rig.driver.refuseCloses = 3;  // the restart's stop and start, then the first retry's stop
  EXPECT_FALSE(rig.thread.restartCapture());
  EXPECT_EQ(rig.driver.opens(), 1);
  EXPECT_EQ(rig.thread.status().supervision, CaptureSupervision::State::Outage);
  rig.turnTo(1100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 2; }));
  EXPECT_EQ(rig.driver.closes(), 1);
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));
  EXPECT_EQ(rig.observer.events(),
            (std::vector<std::string>{"stopped", "box Recorder: fake error 1", "resumed"}));
  EXPECT_TRUE(rig.thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

// New settings while the device will not close: the new recorder's device
// opens only once the old one has closed, and the old ring is never freed
// or shared meanwhile.
TEST(AnalysisThreadSupervision, NewSettingsWaitForADeviceThatWillNotClose) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.driver.refuseCloses = 2;  // the reconfiguring stop and its restart
  EXPECT_TRUE(rig.thread.reconfigure(1472, 44100, 2048, 16));
  EXPECT_EQ(rig.driver.opens(), 1);
  EXPECT_EQ(rig.thread.status().supervision, CaptureSupervision::State::Outage);
  rig.turnTo(1100);
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 2; }));
  EXPECT_EQ(rig.driver.closes(), 1);
  EXPECT_EQ(rig.driver.openedFormat().nSamplesPerSec, 44100u);
  rig.driver.fill(5);
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_EQ(rig.consumer.rates(), (std::vector<int32_t>{44100}));
  EXPECT_TRUE(rig.thread.stopThread());
  EXPECT_EQ(rig.driver.violations(), 0);
}

// Switched off by the user: silence is what was asked for.
TEST(AnalysisThreadSupervision, CaptureSwitchedOffIsLeftAlone) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.thread.stopCapture();
  rig.turnTo(60000);
  EXPECT_EQ(rig.driver.opens(), 1);
  EXPECT_FALSE(rig.thread.delivering());
  EXPECT_TRUE(rig.observer.events().empty());
  EXPECT_TRUE(rig.thread.stopThread());
}

// A worker stuck in a frame hears nothing either: the window must not show
// it as listening, though buffers were flowing when it got stuck.
TEST(AnalysisThreadSupervision, AWorkerStuckInAFrameIsNotDelivering) {
  SupervisedRig rig;
  ASSERT_TRUE(rig.thread.startCapture());
  rig.consumer.hold();
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitEntered(1));
  EXPECT_TRUE(rig.thread.delivering());
  rig.ticks.now = 6000;
  EXPECT_FALSE(rig.thread.delivering());
  rig.consumer.release();
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  // Six seconds in one frame starve any ring: capture is started afresh.
  ASSERT_TRUE(eventually([&] { return rig.driver.opens() == 2; }));
  rig.driver.fill(2);
  ASSERT_TRUE(rig.consumer.waitFinished(2));
  EXPECT_TRUE(eventually([&] { return rig.thread.delivering(); }));
  EXPECT_TRUE(rig.thread.stopThread());
}

// The beat a watchdog outside the process reads: it changes while
// monitoring is switched off as while it runs, and stands still while a
// frame hangs.
TEST(AnalysisThreadTest, TheBeatGoesOnWhileSwitchedOffAndStandsStillWhileAFrameHangs) {
  Rig rig;
  uint32_t beat = 0;
  const auto read = [&beat] { return std::atomic_ref<uint32_t>(beat).load(); };
  AnalysisThread thread(rig.consumer, 512, 11025, 1024, rig.driver, rig.boxes);
  thread.setBeat(&beat);
  thread.resume();
  ASSERT_TRUE(eventually([&] { return read() >= 2; }));
  ASSERT_TRUE(thread.startCapture());
  rig.consumer.hold();
  rig.driver.fill(1);
  ASSERT_TRUE(rig.consumer.waitEntered(1));
  const uint32_t stuck = read();
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kSupervisionPollMs));
  EXPECT_EQ(read(), stuck);
  rig.consumer.release();
  ASSERT_TRUE(rig.consumer.waitFinished(1));
  EXPECT_TRUE(eventually([&] { return read() != stuck; }));
  EXPECT_TRUE(thread.stopThread());
}

}  // namespace
}  // namespace kantiq
