#pragma once

// The capture chain and the worker thread that analyses it: for every filled
// capture buffer the worker slides its samples into the spectrum transform,
// transforms them and hands the transform to the frame consumer (detector and
// waveform). One recursive lock, the analysis lock, serialises the worker's
// frames against the user interface's start, stop and reconfiguration.
// While monitoring is on, the worker also watches that buffers keep coming
// and restarts capture when they stop, whether or not frames run.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_observer.h"
#include "capture/input_choice.h"
#include "capture/capture_supervision.h"
#include "capture/frame_consumer.h"
#include "capture/recorder_win.h"
#include "capture/wave_in_win.h"
#include "dsp/spectrum_transform.h"
#include "win32/owners_win.h"

namespace kantiq {

// How long stopThread waits for the worker to end.
constexpr DWORD kStopThreadTimeoutMs = 2000;
// How often the worker looks at capture when no buffer wakes it.
constexpr DWORD kSupervisionPollMs = 250;

// GetTickCount64.
TickSource& systemTicks();

class AnalysisThread {
 public:
  // What the capture chain looks like from outside, read under the lock.
  struct Status {
    bool recording = false;
    int32_t openStatus = Recorder::kClosed;
    int32_t currentBuffer = 0;
    int32_t samplesPerBuffer = 0;
    int32_t sampleRate = 0;
    int32_t points = 0;
    int32_t bitsPerSample = 0;
    uint64_t framesProcessed = 0;
    uint64_t framesFailed = 0;  // frames whose consumer threw
    CaptureSupervision::State supervision = CaptureSupervision::State::Off;
    int32_t restartAttempts = 0;  // in the present outage
  };

  // Whether capture delivers, read without the lock (the window asks often,
  // and must not wait behind a long frame).
  struct Health {
    CaptureSupervision::State state = CaptureSupervision::State::Off;
    // The worker's last pass through its loop, on the tick source.
    int64_t heartbeatMs = 0;
    // The input carries no signal at all, longer than the silence limit.
    bool silent = false;
    // The last start found no input to open.
    bool inputMissing = false;
  };

  // Builds the lock, the event, a 16-bit mono Recorder and the transform,
  // then the worker thread, suspended. Throws WinException when a system
  // object cannot be created; nothing is left behind then.
  AnalysisThread(FrameConsumer& consumer, int32_t samplesPerBuffer, int32_t sampleRateHz,
                 int32_t points, WaveInApi& api = systemWaveIn(), RecorderWarningBox& box = systemWarningBox(),
                 TickSource& ticks = systemTicks(), SupervisionTiming timing = {});
  // Stops the worker if stopThread was never called, then tears down the
  // transform, the recorder, the event and the lock.
  ~AnalysisThread();
  AnalysisThread(const AnalysisThread&) = delete;
  AnalysisThread& operator=(const AnalysisThread&) = delete;

  // Told of outages and of failed restarts; set before resume. It must stay
  // alive as long as the worker may run.
  void setObserver(CaptureObserver* observer);
  // A beat the worker changes on every pass through its loop, for a watcher
  // outside the process (win32/life_signs_win.h); set before resume. It
  // must stay alive as long as the worker may run.
  void setBeat(uint32_t* beat);

  // The input to open, by name (empty: the system's default, kept by name
  // once found), and the silence limit (0: no silence check). Set before
  // the first start.
  void setInput(const InputRequest& input);
  void setSilenceLimit(int64_t limitMs);
  // The input capture last opened, as the window names it; empty before.
  // Never waits for the analysis lock.
  std::string inputLabel() const;
  // The input asked for now (the default one once found). Never waits for
  // the analysis lock.
  InputRequest wantedInput() const;

  // Lets the suspended worker run.
  void resume();

  // Switch monitoring on and off. Start shows the recorder's box itself, on
  // the calling thread; capture is supervised from then on, and a device
  // that did not open (missing, busy, refusing) is retried like any outage.
  // False only when there is no capture chain to start.
  bool startCapture();
  void stopCapture();
  // Stop and start again without switching monitoring: the watchdogs and
  // the dispatch jobs ask for it through the detector, the supervision by
  // itself. A failed start is tried again later, and its box is handed to
  // the observer once per outage instead of being shown here.
  bool restartCapture();
  // New capture settings; false when the new recorder or transform could
  // not be built (the user has been told). Capture that was running is
  // started again; a device that refuses is retried like any failed restart.
  bool reconfigure(int32_t samplesPerBuffer, int32_t sampleRateHz, int32_t points,
                   int32_t bitsPerSample);

  // Asks the worker to end, wakes it and waits up to kStopThreadTimeoutMs.
  // True once the worker has ended. When it has not (a frame hangs), the
  // capture chain stays alive for it until it leaves; so must the consumer.
  bool stopThread();

  // Sets the event as the driver does for a filled buffer.
  void wake();

  Status status();
  Health health() const;
  // Capture is switched on, buffers arrive and the worker is not stuck.
  // Never waits for the lock.
  bool delivering() const;

 private:
  struct Shared;
  static DWORD WINAPI workerEntry(LPVOID parameter);

  std::shared_ptr<Shared> shared_;
  UniqueHandle thread_;
  DWORD threadId_ = 0;
  bool resumed_ = false;
  bool stopAsked_ = false;
  bool ended_ = false;
};

}  // namespace kantiq
