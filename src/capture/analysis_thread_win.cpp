#include "capture/analysis_thread_win.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "capture/capture_buffer_loader.h"
#include "capture/capture_ring.h"
#include "capture/win_exception.h"
#include "win32/life_signs_win.h"

namespace kantiq {
namespace {

class SystemTicks final : public TickSource {
 public:
  int64_t nowMs() override { return readMonotonicMs(); }
};

// The recorder's boxes: shown at once when the user started capture, kept
// for later during a restart nobody asked for, so that no box is shown
// while the analysis lock is held on a thread the window may wait for.
class RoutedWarningBox final : public RecorderWarningBox {
 public:
  explicit RoutedWarningBox(RecorderWarningBox& target) : target_(target) {}
  void show(const char* text, const char* caption) override {
    if (!holding_) {
      target_.show(text, caption);
      return;
    }
    text_ = text != nullptr ? text : "";
    caption_ = caption != nullptr ? caption : "";
    held_ = true;
  }
  void hold() {
    holding_ = true;
    held_ = false;
  }
  // Back to showing at once; true and the kept box when one came meanwhile.
  bool release(std::string& text, std::string& caption) {
    holding_ = false;
    if (!held_) return false;
    held_ = false;
    text = std::move(text_);
    caption = std::move(caption_);
    return true;
  }

 private:
  RecorderWarningBox& target_;
  bool holding_ = false;
  bool held_ = false;
  std::string text_;
  std::string caption_;
};

// The result box's line for an input that is not there.
std::string missingInputLine(const InputRequest& wanted) {
  if (wanted.name.empty()) {
    return "STÖRUNG: Kein Aufnahmegerät gefunden. Kantiq wartet darauf und hört mit, sobald eines da ist.";
  }
  return "STÖRUNG: Der Eingang \"" + inputLabel(wanted) +
         "\" fehlt. Kantiq wartet darauf und hört mit, sobald er wieder da ist.";
}

TimeValue localTimeOfTick(TickSource& ticks, int64_t atMs) {
  // The moment was some milliseconds ago on the tick source.
  const int64_t agoMs = ticks.nowMs() - atMs;
  TimeValue at = TimeValue::now();
  at.ticks -= agoMs * TimeValue::kTicksPerMillisecond;
  return at;
}

}  // namespace

TickSource& systemTicks() {
  static SystemTicks ticks;
  return ticks;
}

// Everything the worker touches. The worker holds a share of it, so a worker
// that does not end in time never finds it freed under it; the last share to
// go tears it down: transform, recorder, event, lock (reverse of declaration).
struct AnalysisThread::Shared {
  Shared(FrameConsumer& c, WaveInApi& a, RecorderWarningBox& b, TickSource& t, SupervisionTiming timing)
      : consumer(c), api(a), box(b), ticks(t), routedBox(b), supervision(timing) {}

  void run();
  // True when a filled buffer was taken.
  bool frame();
  bool start();
  bool restart();
  // Closes the recorder left behind by new settings, if any; false while
  // its device still refuses.
  bool closeUnclosed();
  void supervise();
  // Hands the supervision's changes to the observer and publishes its state.
  void reportChanges();
  // After a start: publishes the input and whether it was missing, hands a
  // newly chosen default input and, once per outage, a missing one to the
  // observer.
  void reportInput(bool started);
  // A new recorder, asking for the input the old one asked for.
  std::unique_ptr<Recorder> makeRecorder(int32_t samples, int32_t rate, int32_t bits);

  std::atomic<int32_t> stopRequest{0};
  FrameConsumer& consumer;
  WaveInApi& api;
  RecorderWarningBox& box;
  TickSource& ticks;
  RoutedWarningBox routedBox;
  CaptureObserver* observer = nullptr;
  uint32_t* beat = nullptr;
  CaptureSupervision supervision;
  std::atomic<int32_t> publishedState{static_cast<int32_t>(CaptureSupervision::State::Off)};
  std::atomic<int64_t> heartbeatMs{0};
  std::atomic<bool> silent{false};
  std::atomic<bool> inputMissing{false};
  SilenceWatch silence;
  InputRequest wantedInput;
  mutable std::mutex labelMutex;
  std::string label;  // of the input last opened
  InputRequest wantedShown;  // wantedInput, for readers without the lock
  int32_t samplesPerBuffer = 0;
  int32_t sampleRate = 0;
  int32_t points = 0;
  int32_t bitsPerSample = 16;
  uint64_t framesProcessed = 0;
  uint64_t framesFailed = 0;
  CriticalSection lock;
  UniqueHandle event;
  std::unique_ptr<Recorder> recorder;
  // The recorder new settings replaced while its device would not close: it
  // may still fill that ring, so ring and device are kept until the device
  // closes, and no other device opens before.
  std::unique_ptr<Recorder> unclosed;
  std::unique_ptr<SpectrumTransform> transform;
};

void AnalysisThread::Shared::run() {
  for (;;) {
    // Not only buffers wake the worker: capture that stopped delivering
    // sets no event, and must still be noticed.
    const DWORD woken = WaitForSingleObject(event.get(), kSupervisionPollMs);
    if (stopRequest.load() != 0) return;
    ScopedLock held(lock);
    heartbeatMs.store(ticks.nowMs());
    if (woken == WAIT_OBJECT_0) {
      // One wake may stand for several completions (the event is set again
      // while it is still set, or during a long frame): take every buffer
      // done by now, oldest first, or those behind are heard late. No more
      // than the ring holds, so that a stop is never kept waiting.
      for (int32_t n = 0; n < kCaptureBufferCount && stopRequest.load() == 0; ++n) {
        bool taken = true;
        try {
          taken = frame();
        } catch (...) {
          // Out of memory while raising an alarm, say: this frame is lost, but
          // the worker must live on, or monitoring ends without a word.
          ++framesFailed;
        }
        if (!taken) break;
      }
    }
    try {
      supervise();
    } catch (...) {
      // The next pass tries again.
    }
    heartbeatMs.store(ticks.nowMs());
    beatOnce(beat);
  }
}

// The current buffer, if done: one frame.
bool AnalysisThread::Shared::frame() {
  // Missing after a failed reconfiguration.
  if (!recorder || !transform) return false;
  if (!recorder->currentBufferDone()) return false;  // a stale wake
  Recorder& r = *recorder;
  const uint8_t* data = r.currentBufferData();
  r.recycle();
  // The buffer counts as delivered before the frame runs: a restart asked
  // for inside it must find capture listening.
  const int64_t nowMs = ticks.nowMs();
  supervision.bufferCompleted(nowMs);
  reportChanges();
  if (const auto change = silence.buffer(bufferIsFlat(r.bitsPerSample(), data, r.samplesPerBuffer()), nowMs)) {
    silent.store(change->silent);
    if (observer != nullptr) observer->inputSilenceChanged(change->silent, localTimeOfTick(ticks, change->atMs));
  }
  // A buffer larger than the transform cannot be slid into it; it is handed
  // back unanalysed rather than transforming last frame's spectrum again.
  if (r.samplesPerBuffer() > transform->points()) return true;
  loadCaptureBuffer(*transform, r.bitsPerSample(), data, r.samplesPerBuffer());
  transform->transform();
  ++framesProcessed;
  consumer.onFrame(*transform);
  return true;
}

bool AnalysisThread::Shared::closeUnclosed() {
  if (!unclosed) return true;
  if (!unclosed->close()) return false;
  unclosed.reset();
  return true;
}

std::unique_ptr<Recorder> AnalysisThread::Shared::makeRecorder(int32_t samples, int32_t rate, int32_t bits) {
  auto made = std::make_unique<Recorder>(samples, rate, bits, api, routedBox);
  made->setInput(wantedInput);
  return made;
}

void AnalysisThread::Shared::reportInput(bool started) {
  if (!recorder) return;
  if (auto chosen = recorder->takeChosenInput()) {
    wantedInput = *chosen;
    {
      std::lock_guard<std::mutex> held(labelMutex);
      wantedShown = *chosen;
    }
    if (observer != nullptr) observer->inputChosen(*chosen);
  }
  inputMissing.store(!started && recorder->inputMissing());
  if (started && recorder->inputInUse()) {
    std::lock_guard<std::mutex> held(labelMutex);
    label = kantiq::inputLabel(*recorder->inputInUse());
  }
  if (!started && recorder->inputMissing() && supervision.mayWarn() && observer != nullptr) {
    observer->captureNotice(missingInputLine(recorder->wantedInput()));
  }
}

bool AnalysisThread::Shared::start() {
  if (!recorder) return false;
  const bool started = closeUnclosed() && recorder->start(event.get());
  // Monitoring is on either way: a device that did not open now (not there
  // yet, busy, refusing) is retried until it does, and the window shows the
  // fault meanwhile. Giving up here would leave nobody listening.
  const int64_t nowMs = ticks.nowMs();
  supervision.switchedOn(nowMs);
  silence.reset();
  silent.store(false);
  if (!started) {
    supervision.restarted(false, nowMs);
    // The recorder's box has been shown on the spot: none again this outage.
    if (!recorder->inputMissing()) static_cast<void>(supervision.mayWarn());
  }
  reportChanges();
  reportInput(started);
  return true;
}

bool AnalysisThread::Shared::restart() {
  // Switched off meanwhile: a restart asked for earlier must not switch it on.
  if (supervision.state() == CaptureSupervision::State::Off && !(recorder && recorder->recording())) {
    return false;
  }
  if (recorder) recorder->stop();
  routedBox.hold();
  const bool started = recorder && closeUnclosed() && recorder->start(event.get());
  std::string text;
  std::string caption;
  const bool boxed = routedBox.release(text, caption);
  supervision.restarted(started, ticks.nowMs());
  reportChanges();
  if (!started && boxed && supervision.mayWarn() && observer != nullptr) {
    observer->captureWarning(text, caption);
  }
  reportInput(started);
  return started;
}

void AnalysisThread::Shared::supervise() {
  if (supervision.restartDue(ticks.nowMs())) {
    reportChanges();
    restart();
  }
  reportChanges();
}

void AnalysisThread::Shared::reportChanges() {
  while (const auto change = supervision.takeChange()) {
    if (observer == nullptr) continue;
      observer->listeningChanged(change->listening, localTimeOfTick(ticks, change->atMs));
  }
  publishedState.store(static_cast<int32_t>(supervision.state()));
}

DWORD WINAPI AnalysisThread::workerEntry(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<Shared>> share(static_cast<std::shared_ptr<Shared>*>(parameter));
  (*share)->run();
  return 0;
}

AnalysisThread::AnalysisThread(FrameConsumer& consumer, int32_t samplesPerBuffer,
                               int32_t sampleRateHz, int32_t points, WaveInApi& api,
                               RecorderWarningBox& box, TickSource& ticks, SupervisionTiming timing)
    : shared_(std::make_shared<Shared>(consumer, api, box, ticks, timing)) {
  Shared& s = *shared_;
  s.samplesPerBuffer = samplesPerBuffer;
  s.sampleRate = sampleRateHz;
  s.points = points;
  s.bitsPerSample = 16;
  s.event = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!s.event) throw WinException{static_cast<int32_t>(GetLastError()), "CreateEvent"};
  s.recorder = s.makeRecorder(samplesPerBuffer, sampleRateHz, 16);
  s.heartbeatMs.store(ticks.nowMs());
  s.transform = std::make_unique<SpectrumTransform>(points, sampleRateHz);

  auto* share = new std::shared_ptr<Shared>(shared_);
  HANDLE thread = CreateThread(nullptr, 0, &AnalysisThread::workerEntry, share, CREATE_SUSPENDED,
                               &threadId_);
  if (thread == nullptr) {
    const auto code = static_cast<int32_t>(GetLastError());
    delete share;
    throw WinException{code, "CreateThread"};
  }
  thread_ = UniqueHandle(thread);
}

AnalysisThread::~AnalysisThread() {
  // After a stopThread that gave up, destruction goes ahead without waiting again.
  if (!stopAsked_) stopThread();
  // Frees the chain now if the worker has ended, else when it does.
  shared_.reset();
}

void AnalysisThread::setBeat(uint32_t* beat) {
  ScopedLock held(shared_->lock);
  shared_->beat = beat;
}

void AnalysisThread::setObserver(CaptureObserver* observer) {
  ScopedLock held(shared_->lock);
  shared_->observer = observer;
}

void AnalysisThread::setInput(const InputRequest& input) {
  ScopedLock held(shared_->lock);
  shared_->wantedInput = input;
  if (shared_->recorder) shared_->recorder->setInput(input);
  std::lock_guard<std::mutex> shown(shared_->labelMutex);
  shared_->wantedShown = input;
}

void AnalysisThread::setSilenceLimit(int64_t limitMs) {
  ScopedLock held(shared_->lock);
  shared_->silence = SilenceWatch(limitMs);
}

std::string AnalysisThread::inputLabel() const {
  std::lock_guard<std::mutex> held(shared_->labelMutex);
  return shared_->label;
}

InputRequest AnalysisThread::wantedInput() const {
  std::lock_guard<std::mutex> held(shared_->labelMutex);
  return shared_->wantedShown;
}

void AnalysisThread::resume() {
  if (resumed_ || !thread_) return;
  ResumeThread(thread_.get());
  resumed_ = true;
}

bool AnalysisThread::startCapture() {
  ScopedLock held(shared_->lock);
  return shared_->start();
}

void AnalysisThread::stopCapture() {
  Shared& s = *shared_;
  ScopedLock held(s.lock);
  if (s.recorder) s.recorder->stop();
  s.supervision.switchedOff();
  s.silence.reset();
  s.silent.store(false);
  s.inputMissing.store(false);
  s.reportChanges();
}

bool AnalysisThread::restartCapture() {
  ScopedLock held(shared_->lock);
  return shared_->restart();
}

bool AnalysisThread::reconfigure(int32_t samplesPerBuffer, int32_t sampleRateHz, int32_t points,
                                 int32_t bitsPerSample) {
  Shared& s = *shared_;
  ScopedLock held(s.lock);
  const int32_t recorderBits = bitsPerSample == 8 ? 8 : 16;
  if (s.recorder && s.transform && s.recorder->bitsPerSample() == recorderBits &&
      s.recorder->sampleRate() == sampleRateHz && s.recorder->samplesPerBuffer() == samplesPerBuffer &&
      s.transform->points() == points) {
    return true;
  }
  s.samplesPerBuffer = samplesPerBuffer;
  s.sampleRate = sampleRateHz;
  s.points = points;
  s.bitsPerSample = bitsPerSample;

  const bool wasRecording = s.recorder && s.recorder->recording();
  if (wasRecording) s.recorder->stop();

  try {
    s.transform.reset();
    s.transform = std::make_unique<SpectrumTransform>(points, sampleRateHz);
    if (s.recorder && s.recorder->openStatus() == 0 && !s.unclosed) s.unclosed = std::move(s.recorder);
    s.recorder.reset();
    s.recorder = s.makeRecorder(samplesPerBuffer, sampleRateHz, recorderBits);
  } catch (const WinException& e) {
    char text[512];
    formatWinException(e, text, sizeof text);
    s.box.show(text, "Exception");
    return false;
  } catch (...) {
    s.box.show("Unknown", "Exception");
    return false;
  }

  // Capture was running: the new device is started as after any restart. One
  // that will not start is an outage like any other, retried, its box shown
  // once; ending the program over it would leave nobody listening at all.
  if (wasRecording) s.restart();
  return true;
}

bool AnalysisThread::stopThread() {
  if (ended_ || !thread_) return true;
  stopAsked_ = true;
  shared_->stopRequest.fetch_add(1);
  // A worker never resumed would otherwise wait out the limit and stay behind.
  resume();
  wake();
  ended_ = WaitForSingleObject(thread_.get(), kStopThreadTimeoutMs) == WAIT_OBJECT_0;
  return ended_;
}

void AnalysisThread::wake() { SetEvent(shared_->event.get()); }

AnalysisThread::Status AnalysisThread::status() {
  Shared& s = *shared_;
  ScopedLock held(s.lock);
  Status st;
  st.samplesPerBuffer = s.samplesPerBuffer;
  st.sampleRate = s.sampleRate;
  st.points = s.points;
  st.bitsPerSample = s.bitsPerSample;
  st.framesProcessed = s.framesProcessed;
  st.framesFailed = s.framesFailed;
  if (s.recorder) {
    st.recording = s.recorder->recording();
    st.openStatus = s.recorder->openStatus();
    st.currentBuffer = s.recorder->currentBuffer();
  }
  st.supervision = s.supervision.state();
  st.restartAttempts = s.supervision.attempts();
  return st;
}

AnalysisThread::Health AnalysisThread::health() const {
  Health h;
  h.state = static_cast<CaptureSupervision::State>(shared_->publishedState.load());
  h.heartbeatMs = shared_->heartbeatMs.load();
  h.silent = shared_->silent.load();
  h.inputMissing = shared_->inputMissing.load();
  return h;
}

bool AnalysisThread::delivering() const {
  const Health h = health();
  return CaptureSupervision::delivering(h.state, h.heartbeatMs, shared_->ticks.nowMs(),
                                        shared_->supervision.timing());
}

}  // namespace kantiq
