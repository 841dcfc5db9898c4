#include "capture/analysis_thread_win.h"

#include <atomic>
#include <utility>

#include "capture/win_exception.h"

namespace kantiq {

// Everything the worker touches. The worker holds a share of it, so a worker
// that does not end in time never finds it freed under it; the last share to
// go tears it down: transform, recorder, event, lock (reverse of declaration).
struct AnalysisThread::Shared {
  Shared(FrameConsumer& c, WaveInApi& a, RecorderWarningBox& b) : consumer(c), api(a), box(b) {}

  void run();
  void frame();

  std::atomic<int32_t> stopRequest{0};
  FrameConsumer& consumer;
  WaveInApi& api;
  RecorderWarningBox& box;
  int32_t samplesPerBuffer = 0;
  int32_t sampleRate = 0;
  int32_t points = 0;
  int32_t bitsPerSample = 16;
  uint64_t framesProcessed = 0;
  uint64_t framesFailed = 0;
  CriticalSection lock;
  UniqueHandle event;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<SpectrumTransform> transform;
};

void AnalysisThread::Shared::run() {
  for (;;) {
    WaitForSingleObject(event.get(), INFINITE);
    if (stopRequest.load() != 0) return;
    ScopedLock held(lock);
    try {
      frame();
    } catch (...) {
      // Out of memory while raising an alarm, say: this frame is lost, but
      // the worker must live on, or monitoring ends without a word.
      ++framesFailed;
    }
  }
}

// One buffer per wake: completions that arrived meanwhile are taken one per
// later wake, in ring order.
void AnalysisThread::Shared::frame() {
  // Missing after a failed reconfiguration.
  if (!recorder || !transform) return;
  if (!recorder->currentBufferDone()) return;  // a stale wake
  Recorder& r = *recorder;
  const uint8_t* data = r.currentBufferData();
  r.recycle();
  // A buffer larger than the transform cannot be slid into it; it is handed
  // back unanalysed rather than transforming last frame's spectrum again.
  if (r.samplesPerBuffer() > transform->points()) return;
  loadCaptureBuffer(*transform, r.bitsPerSample(), data, r.samplesPerBuffer());
  transform->transform();
  ++framesProcessed;
  consumer.onFrame(*transform);
}

DWORD WINAPI AnalysisThread::workerEntry(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<Shared>> share(static_cast<std::shared_ptr<Shared>*>(parameter));
  (*share)->run();
  return 0;
}

AnalysisThread::AnalysisThread(FrameConsumer& consumer, int32_t samplesPerBuffer,
                               int32_t sampleRateHz, int32_t points, WaveInApi& api,
                               RecorderWarningBox& box)
    : shared_(std::make_shared<Shared>(consumer, api, box)) {
  Shared& s = *shared_;
  s.samplesPerBuffer = samplesPerBuffer;
  s.sampleRate = sampleRateHz;
  s.points = points;
  s.bitsPerSample = 16;
  s.event = UniqueHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!s.event) throw WinException{static_cast<int32_t>(GetLastError()), "CreateEvent"};
  s.recorder = std::make_unique<Recorder>(samplesPerBuffer, sampleRateHz, 16, api, box);
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

void AnalysisThread::resume() {
  if (resumed_ || !thread_) return;
  ResumeThread(thread_.get());
  resumed_ = true;
}

bool AnalysisThread::startCapture() {
  ScopedLock held(shared_->lock);
  if (!shared_->recorder) return false;
  return shared_->recorder->start(shared_->event.get());
}

void AnalysisThread::stopCapture() {
  ScopedLock held(shared_->lock);
  if (shared_->recorder) shared_->recorder->stop();
}

bool AnalysisThread::restartCapture() {
  ScopedLock held(shared_->lock);
  stopCapture();
  return startCapture();
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
    s.recorder.reset();
    s.recorder = std::make_unique<Recorder>(samplesPerBuffer, sampleRateHz, recorderBits, s.api,
                                            s.box);
  } catch (const WinException& e) {
    char text[512];
    formatWinException(e, text, sizeof text);
    s.box.show(text, "Exception");
    return false;
  } catch (...) {
    s.box.show("Unknown", "Exception");
    return false;
  }

  if (wasRecording) return s.recorder->start(s.event.get());
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
  return st;
}

}  // namespace kantiq
