// capture_probe SCENARIO [ARGS]
//
// Runs the real capture chain (Recorder and AnalysisThread on the system's
// wave-input driver) for the live capture tests and prints what it saw, one
// "key=value" summary line per check, for capture_live_test.sh to judge.
// Message boxes are printed ("box: caption | text") instead of shown.
//
//   capture BITS RATE SECONDS   capture at a width and rate; strongest tone found
//   reconfigure                 same values, a new rate while recording, a new one while stopped
//   stall                       slow frames, then a restart from inside a frame
//   stopthread                  stop thread during capture, and a wake after stop
//   nodevice                    what start does without a sound card
//   detect SECONDS RESTART_MS CODE...
//                               the real detector and watchdogs on live audio; one
//                               ZVEI1 alarm per code, texts "Löschzug CODE"
//   detect-dispatch SECONDS RESTART_MS CODE...
//                               the same, alarms raised for real: the alarm log
//                               and "S.exe" in the probe's own folder
//
// Prints "recording" once capture runs, so the script knows when to play.

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/analysis_thread_win.h"
#include "capture/watchdogs_win.h"
#include "detector/tone_detector.h"
#include "dispatch/alarm_raiser.h"
#include "dispatch/dispatch_job_win.h"
#include "ui/detector_frame_consumer.h"
#include "ui/waveform_view.h"
#include "capture/wave_in_win.h"
#include "capture/win_exception.h"
#include "win32/executable_path_win.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The system driver, with a count of the buffers handed to it and not yet
// taken back, and of the devices opened and closed.
class CountingWaveIn final : public kantiq::WaveInApi {
 public:
  MMRESULT open(UINT id, HWAVEIN* device, const WAVEFORMATEX& format, HANDLE event, DWORD flags) override {
    const MMRESULT rc = real().open(id, device, format, event, flags);
    if ((flags & WAVE_FORMAT_QUERY) == 0 && rc == MMSYSERR_NOERROR) {
      std::lock_guard<std::mutex> g(m_);
      ++opens_;
      openedRate_ = static_cast<int>(format.nSamplesPerSec);
      openedBits_ = format.wBitsPerSample;
    }
    return rc;
  }
  MMRESULT prepareHeader(HWAVEIN d, WAVEHDR* h) override { return real().prepareHeader(d, h); }
  MMRESULT unprepareHeader(HWAVEIN d, WAVEHDR* h) override {
    const MMRESULT rc = real().unprepareHeader(d, h);
    std::lock_guard<std::mutex> g(m_);
    if (rc == MMSYSERR_NOERROR) queued_.erase(h);
    return rc;
  }
  MMRESULT addBuffer(HWAVEIN d, WAVEHDR* h) override {
    const MMRESULT rc = real().addBuffer(d, h);
    std::lock_guard<std::mutex> g(m_);
    if (rc == MMSYSERR_NOERROR) queued_.insert(h);
    return rc;
  }
  MMRESULT start(HWAVEIN d) override { return real().start(d); }
  MMRESULT reset(HWAVEIN d) override { return real().reset(d); }
  MMRESULT close(HWAVEIN d) override {
    const MMRESULT rc = real().close(d);
    std::lock_guard<std::mutex> g(m_);
    if (rc == MMSYSERR_NOERROR) {
      ++closes_;
      queued_.clear();
    }
    return rc;
  }
  MMRESULT errorText(MMRESULT c, char* t, UINT s) override { return real().errorText(c, t, s); }
  UINT deviceCount() override { return real().deviceCount(); }
  bool deviceName(UINT id, std::string& name) override { return real().deviceName(id, name); }
  bool defaultDevice(UINT& id) override { return real().defaultDevice(id); }

  int queued() {
    std::lock_guard<std::mutex> g(m_);
    return static_cast<int>(queued_.size());
  }
  int opens() {
    std::lock_guard<std::mutex> g(m_);
    return opens_;
  }
  int closes() {
    std::lock_guard<std::mutex> g(m_);
    return closes_;
  }
  int openedRate() {
    std::lock_guard<std::mutex> g(m_);
    return openedRate_;
  }
  int openedBits() {
    std::lock_guard<std::mutex> g(m_);
    return openedBits_;
  }

 private:
  static kantiq::WaveInApi& real() { return kantiq::systemWaveIn(); }
  std::mutex m_;
  std::set<WAVEHDR*> queued_;
  int opens_ = 0, closes_ = 0, openedRate_ = 0, openedBits_ = 0;
};

class PrintedBoxes final : public kantiq::RecorderWarningBox {
 public:
  void show(const char* text, const char* caption) override {
    std::printf("box: %s | %s\n", caption, text);
    std::fflush(stdout);
  }
};

// Per frame: the strongest bin's frequency, the ring position, the queue.
class Analyser final : public kantiq::FrameConsumer {
 public:
  Analyser(CountingWaveIn& driver) : driver_(driver) {}
  kantiq::AnalysisThread* thread = nullptr;

  void onFrame(const kantiq::SpectrumTransform& t) override {
    const int32_t n = t.points();
    int32_t best = 0;
    double bestMag = 0;
    for (int32_t i = 2; i < n / 2; ++i) {
      const double m = std::abs(t.bins()[static_cast<size_t>(i)]) / t.normaliser() / 256.0;
      if (m > bestMag) {
        bestMag = m;
        best = i;
      }
    }
    const int32_t hz = static_cast<int32_t>(static_cast<int64_t>(t.sampleRate()) * best / n);
    const int32_t buffer = (thread->status().currentBuffer + 7) % 8;  // the one just taken
    const int queued = driver_.queued();

    std::lock_guard<std::mutex> g(m_);
    ++frames_;
    const auto now = Clock::now();
    if (frames_ > 1) maxGap_ = std::max(maxGap_, now - lastFrame_);
    lastFrame_ = now;
    if (lastBuffer_ >= 0 && buffer != (lastBuffer_ + 1) % 8 && !(afterRestart_ && buffer == 0)) {
      ringBreaks_++;
    }
    afterRestart_ = false;
    lastBuffer_ = buffer;
    queuedMin_ = std::min(queuedMin_, queued);
    queuedMax_ = std::max(queuedMax_, queued);
    lastRate_ = t.sampleRate();
    if (bestMag > 8.0) {
      ++toneFrames_;
      ++histogram_[hz];
      lastHz_ = hz;
    } else {
      lastHz_ = 0;
    }
    binHz_ = static_cast<double>(t.sampleRate()) / n;
    if (slowFrames_ > 0) {
      --slowFrames_;
      ++slowStarted_;
      m_.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(slowMs_));
      m_.lock();
    }
    if (restartInFrame_) {
      restartInFrame_ = false;
      afterRestart_ = true;
      restartResult_ = thread->restartCapture() ? 1 : 0;
    }
    ++finished_;
  }

  // The next `count` frames each take `ms`.
  void slowDown(int count, int ms) {
    std::lock_guard<std::mutex> g(m_);
    slowFrames_ = count;
    slowMs_ = ms;
  }
  void restartAtNextFrame() {
    std::lock_guard<std::mutex> g(m_);
    restartInFrame_ = true;
  }
  void expectRestart() {
    std::lock_guard<std::mutex> g(m_);
    afterRestart_ = true;
  }
  void clearStats() {
    std::lock_guard<std::mutex> g(m_);
    histogram_.clear();
    toneFrames_ = 0;
    lastHz_ = 0;
    queuedMin_ = 1000;
    queuedMax_ = -1;
    maxGap_ = {};
  }
  int frames() {
    std::lock_guard<std::mutex> g(m_);
    return frames_;
  }
  int finished() {
    std::lock_guard<std::mutex> g(m_);
    return finished_;
  }
  // Waits until `count` frames have been processed in all.
  bool waitFrames(int count, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (frames() >= count) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  bool waitSlowStarted(int count, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      {
        std::lock_guard<std::mutex> g(m_);
        if (slowStarted_ >= count) return true;
      }
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }
  int lastHz() {
    std::lock_guard<std::mutex> g(m_);
    return lastHz_;
  }
  int restartResult() {
    std::lock_guard<std::mutex> g(m_);
    return restartResult_;
  }
  bool restartPending() {
    std::lock_guard<std::mutex> g(m_);
    return restartInFrame_;
  }
  // Waits until the strongest tone of a frame is near hz.
  bool waitTone(int hz, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      {
        std::lock_guard<std::mutex> g(m_);
        if (lastHz_ != 0 && std::abs(lastHz_ - hz) <= 2 * binHz_ + 1) return true;
      }
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  void print(const char* tag) {
    std::lock_guard<std::mutex> g(m_);
    int peak = 0, most = 0;
    for (auto [hz, count] : histogram_) {
      if (count > most) {
        most = count;
        peak = hz;
      }
    }
    std::printf("%s: frames=%d tone_frames=%d peak_hz=%d bin_hz=%.1f queued_min=%d queued_max=%d "
                "ring_breaks=%d rate=%d max_gap_ms=%d\n",
                tag, frames_, toneFrames_, peak, binHz_, queuedMin_, queuedMax_, ringBreaks_,
                lastRate_,
                static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(maxGap_).count()));
    std::fflush(stdout);
  }

 private:
  CountingWaveIn& driver_;
  std::mutex m_;
  int frames_ = 0, finished_ = 0, slowStarted_ = 0, toneFrames_ = 0, lastHz_ = 0, lastRate_ = 0;
  int queuedMin_ = 1000, queuedMax_ = -1;
  int lastBuffer_ = -1, ringBreaks_ = 0;
  bool afterRestart_ = false, restartInFrame_ = false;
  int restartResult_ = -1;
  int slowFrames_ = 0, slowMs_ = 0;
  double binHz_ = 0;
  std::map<int, int> histogram_;
  Clock::time_point lastFrame_{};
  Clock::duration maxGap_{};
};

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

// Runs the chain with the running configuration's buffer size for a rate:
// 2048 points, 1472 samples per buffer (fewer for the lower rates keeps
// frames coming at a similar pace).
struct Chain {
  CountingWaveIn driver;
  PrintedBoxes boxes;
  Analyser analyser{driver};
  kantiq::AnalysisThread thread{analyser, 512, 11025, 1024, driver, boxes};
  Chain() {
    analyser.thread = &thread;
    thread.resume();
  }
};

int capture(int bits, int rate, int seconds) {
  Chain c;
  const int samples = rate == 44100 ? 1472 : rate == 22050 ? 1024 : 512;
  const int points = rate == 44100 ? 2048 : rate == 22050 ? 1024 : 512;
  if (!c.thread.reconfigure(samples, rate, points, bits)) return 2;
  if (!c.thread.startCapture()) return 2;
  std::printf("opened: rate=%d bits=%d queued_after_start=%d\n", c.driver.openedRate(),
              c.driver.openedBits(), c.driver.queued());
  say("recording");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  c.analyser.print("capture");
  c.thread.stopCapture();
  std::printf("stopped: queued=%d closes=%d\n", c.driver.queued(), c.driver.closes());
  std::printf("stop_thread=%d\n", c.thread.stopThread() ? 1 : 0);
  return 0;
}

// Wine's capture through PulseAudio may take up to about two seconds to
// deliver the first buffer after a device is opened; waits allow for that.
constexpr auto kFirstBufferLimit = 6000ms;

// Needs a 1000 Hz tone playing throughout (about 12 s).
int reconfigure() {
  Chain c;
  if (!c.thread.reconfigure(1472, 44100, 2048, 8) || !c.thread.startCapture()) return 2;
  say("recording");
  if (!c.analyser.waitTone(1000, kFirstBufferLimit)) {
    say("no tone before reconfiguring");
    return 3;
  }
  // Unchanged values: the same device, frames carry on through the ring.
  c.analyser.clearStats();
  const int opens = c.driver.opens();
  const int before = c.analyser.frames();
  std::printf("same_result=%d\n", c.thread.reconfigure(1472, 44100, 2048, 8) ? 1 : 0);
  std::this_thread::sleep_for(700ms);
  std::printf("same: opens_added=%d frames_added=%d recording=%d\n", c.driver.opens() - opens,
              c.analyser.frames() - before, c.thread.status().recording ? 1 : 0);
  c.analyser.print("same");

  // A new rate while recording: one new open at that rate, the tone still found.
  c.analyser.expectRestart();
  std::printf("rate_result=%d\n", c.thread.reconfigure(1024, 22050, 1024, 16) ? 1 : 0);
  std::printf("rate: opens_added=%d opened_rate=%d opened_bits=%d recording=%d\n",
              c.driver.opens() - opens, c.driver.openedRate(), c.driver.openedBits(),
              c.thread.status().recording ? 1 : 0);
  const int framesAtRate = c.analyser.frames();
  c.analyser.waitFrames(framesAtRate + 1, kFirstBufferLimit);
  c.analyser.clearStats();
  std::this_thread::sleep_for(1000ms);
  c.analyser.print("rate");

  // Stopped: a new rate keeps it stopped.
  c.thread.stopCapture();
  const int opens2 = c.driver.opens();
  std::this_thread::sleep_for(200ms);
  const int frames2 = c.analyser.frames();
  std::printf("stopped_result=%d\n", c.thread.reconfigure(512, 11025, 512, 8) ? 1 : 0);
  std::this_thread::sleep_for(700ms);
  std::printf("stopped: opens_added=%d frames_added=%d recording=%d rate=%d\n",
              c.driver.opens() - opens2, c.analyser.frames() - frames2,
              c.thread.status().recording ? 1 : 0, c.thread.status().sampleRate);
  std::printf("stop_thread=%d\n", c.thread.stopThread() ? 1 : 0);
  return 0;
}

// Needs 1000 Hz, then 2000 Hz from "switch" on (the script plays them).
int stall() {
  Chain c;
  if (!c.thread.reconfigure(512, 11025, 512, 16) || !c.thread.startCapture()) return 2;
  say("recording");
  if (!c.analyser.waitTone(1000, kFirstBufferLimit)) {
    say("no first tone");
    return 3;
  }
  // Three frames of 1.5 s each: every queued buffer fills long before.
  c.analyser.slowDown(3, 1500);
  if (!c.analyser.waitSlowStarted(1, 2000ms)) return 3;
  say("switch");
  c.analyser.waitSlowStarted(3, 6000ms);
  std::this_thread::sleep_for(1500ms);
  const int f0 = c.analyser.frames();
  std::this_thread::sleep_for(1000ms);
  std::printf("before_restart: frames_in_1s=%d last_hz=%d\n", c.analyser.frames() - f0,
              c.analyser.lastHz());
  // What the detector does for a watchdog's request: restart at the end of a
  // frame, on the worker. Should no frame come, the main thread restarts.
  c.analyser.restartAtNextFrame();
  std::this_thread::sleep_for(500ms);
  const bool inFrame = !c.analyser.restartPending();
  if (!inFrame) {
    c.analyser.expectRestart();
    std::printf("restart_from_main=%d\n", c.thread.restartCapture() ? 1 : 0);
  }
  std::printf("restart_in_frame=%d restart_result=%d\n", inFrame ? 1 : 0, c.analyser.restartResult());
  c.analyser.clearStats();
  const bool second = c.analyser.waitTone(2000, kFirstBufferLimit);
  const int f1 = c.analyser.frames();
  std::this_thread::sleep_for(1000ms);
  std::printf("after_restart: frames_in_1s=%d second_tone=%d\n", c.analyser.frames() - f1,
              second ? 1 : 0);
  c.analyser.print("after");
  std::printf("stop_thread=%d\n", c.thread.stopThread() ? 1 : 0);
  return 0;
}

int stopthread() {
  Chain c;
  if (!c.thread.reconfigure(512, 11025, 512, 16) || !c.thread.startCapture()) return 2;
  say("recording");
  c.analyser.waitFrames(3, kFirstBufferLimit);
  // A wake after stop finds no buffer to take.
  c.thread.stopCapture();
  std::this_thread::sleep_for(200ms);
  const int frames = c.analyser.frames();
  for (int i = 0; i < 5; ++i) c.thread.wake();
  std::this_thread::sleep_for(300ms);
  std::printf("wake_after_stop: frames_before=%d frames_added=%d\n", frames,
              c.analyser.frames() - frames);
  // Stop thread in the middle of a slow frame.
  if (!c.thread.startCapture()) return 2;
  c.analyser.slowDown(1, 600);
  const bool slow = c.analyser.waitSlowStarted(1, kFirstBufferLimit);
  const int during = c.analyser.frames();
  const bool ended = c.thread.stopThread();
  const int finished = c.analyser.finished();
  std::this_thread::sleep_for(300ms);
  std::printf("stop_thread=%d slow_frame=%d unfinished=%d frames_after=%d\n", ended ? 1 : 0,
              slow ? 1 : 0, during - finished, c.analyser.frames() - during);
  return 0;
}

// The application seen from the detector: restarts go to the analysis thread.
class ProbeMonitor final : public kantiq::MonitorInterface {
 public:
  explicit ProbeMonitor(Clock::time_point start) : start_(start) {}
  kantiq::AnalysisThread* thread = nullptr;
  std::atomic<int> restarts{0};
  std::atomic<int> failedRestarts{0};
  bool restartCapture() override {
    ++restarts;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    std::printf("restart: at_ms=%lld\n", static_cast<long long>(ms));
    std::fflush(stdout);
    const bool ok = thread->restartCapture();
    if (!ok) ++failedRestarts;
    return ok;
  }
  void appendResultLine(const std::string& line) override {
    std::printf("result line: %s\n", line.c_str());
    std::fflush(stdout);
  }

 private:
  Clock::time_point start_;
};

class PrintingAlarms final : public kantiq::AlarmSink {
 public:
  PrintingAlarms(Clock::time_point start, kantiq::AlarmSink* next) : start_(start), next_(next) {}
  std::atomic<int> count{0};
  void raiseAlarm(kantiq::ToneDetector& detector, std::string text) override {
    ++count;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    std::printf("alarm: %s | at_ms=%lld\n", text.c_str(), static_cast<long long>(ms));
    std::fflush(stdout);
    if (next_ != nullptr) next_->raiseAlarm(detector, std::move(text));
  }

 private:
  Clock::time_point start_;
  kantiq::AlarmSink* next_;
};

// Passes frames on and reports every pause of capture longer than 150 ms.
class GapWatch final : public kantiq::FrameConsumer {
 public:
  GapWatch(kantiq::FrameConsumer& next, Clock::time_point start) : next_(next), start_(start) {}
  void onFrame(const kantiq::SpectrumTransform& t) override {
    const auto now = Clock::now();
    if (last_ != Clock::time_point{} && now - last_ > 150ms) {
      std::printf("gap: ms=%lld at_ms=%lld\n",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - last_).count()),
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count()));
      std::fflush(stdout);
    }
    last_ = now;
    next_.onFrame(t);
  }

 private:
  kantiq::FrameConsumer& next_;
  Clock::time_point start_;
  Clock::time_point last_{};
};

int detect(int seconds, int restartMs, const std::vector<std::string>& codes, bool dispatch) {
  // ZVEI1: digits 1..9, 0 and the repeat tone for a digit equal to the one before.
  static const int kDigitHz[10] = {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200};
  constexpr int kRepeatHz = 2600;
  const auto start = Clock::now();

  auto detector = std::make_unique<kantiq::ToneDetector>();
  kantiq::ToneDetector& d = *detector;
  d.frequencyTolerance = 40;
  d.minimumFrequency = 300;
  d.requiredHits = 2;
  d.sequenceTimeout = 1000;
  d.retriggerDelay = 2000;
  d.peaksExamined = 4;
  d.magnitudeThreshold = 8;
  d.loadHighThreshold = 100;  // a load never exceeds 100 %: the load watcher stays idle
  d.loadLowThreshold = 0;
  d.restartInterval = restartMs;
  for (const std::string& code : codes) {
    kantiq::AlarmDefinition& a = d.alarms[static_cast<size_t>(d.alarmCount++)];
    a.text = "Löschzug " + code;
    for (char ch : code) {
      int hz = kDigitHz[ch - '0'];
      if (a.stepCount > 0 && a.steps[static_cast<size_t>(a.stepCount - 1)].frequency1 == hz) {
        hz = kRepeatHz;
      }
      a.steps[static_cast<size_t>(a.stepCount++)].frequency1 = hz;
    }
    a.makeIdle();
  }

  ProbeMonitor monitor(start);
  const std::string folder = kantiq::executableFolder();
  // Launcher and alarm raiser live until the process ends: jobs may still run.
  auto* launcher = new kantiq::ThreadDispatchJobLauncher(folder);
  auto* raiser = dispatch ? new kantiq::AlarmRaiser(folder + "\\KantiqLog.txt", *launcher) : nullptr;
  PrintingAlarms alarms(start, raiser);
  kantiq::SystemWatchdogStarter watchdogs;
  kantiq::MemoryWaveformCanvas canvas(300, 100);
  kantiq::WaveformView waveform(canvas);
  d.alarmSink = &alarms;
  d.watchdogStarter = &watchdogs;
  kantiq::DetectorFrameConsumer detectorFrame(d, &waveform);
  GapWatch frame(detectorFrame, start);
  CountingWaveIn driver;
  PrintedBoxes boxes;
  // The order the application keeps: thread built suspended, monitor set,
  // worker resumed, then the running configuration and capture on.
  kantiq::AnalysisThread thread(frame, 512, 11025, 1024, driver, boxes);
  monitor.thread = &thread;
  d.monitor = &monitor;
  thread.resume();
  if (!thread.reconfigure(1472, 44100, 2048, 8) || !thread.startCapture()) return 2;
  say("recording");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const bool ended = thread.stopThread();
  std::printf("summary: alarms=%d restarts=%d failed_restarts=%d frames=%llu watchdogs=%d "
              "opens=%d stop_thread=%d\n",
              alarms.count.load(), monitor.restarts.load(), monitor.failedRestarts.load(),
              static_cast<unsigned long long>(thread.status().framesProcessed),
              watchdogs.threadsStarted(), driver.opens(), ended ? 1 : 0);
  std::fflush(stdout);
  // A worker that did not end in time may still use the detector: leave it
  // to the end of the process.
  static_cast<void>(detector.release());
  return 0;
}

int nodevice() {
  Chain c;
  std::printf("devices=%u\n", c.driver.deviceCount());
  std::printf("start=%d\n", c.thread.startCapture() ? 1 : 0);
  std::printf("missing=%d\n", c.thread.health().inputMissing ? 1 : 0);
  std::printf("delivering=%d\n", c.thread.delivering() ? 1 : 0);
  std::printf("stop_thread=%d\n", c.thread.stopThread() ? 1 : 0);
  return 0;
}

}  // namespace

namespace {

int runScenario(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  try {
    if (scenario == "capture" && argc == 5) return capture(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    if (scenario == "reconfigure") return reconfigure();
    if (scenario == "stall") return stall();
    if (scenario == "stopthread") return stopthread();
    if (scenario == "nodevice") return nodevice();
    if (scenario == "detect" && argc >= 5) {
      return detect(std::atoi(argv[2]), std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc),
                    false);
    }
    if (scenario == "detect-dispatch" && argc >= 5) {
      return detect(std::atoi(argv[2]), std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc),
                    true);
    }
  } catch (const kantiq::WinException& e) {
    std::printf("exception: %s %d\n", e.message, e.code);
    return 5;
  }
  std::fprintf(stderr, "usage: capture_probe capture BITS RATE SECONDS | reconfigure | stall | stopthread | nodevice\n");
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  const int rc = runScenario(argc, argv);
  // Every capture object of the scenario is gone by now: a crash after this
  // line happened while the process itself was ending.
  std::printf("finished: rc=%d\n", rc);
  std::fflush(stdout);
  return rc;
}
