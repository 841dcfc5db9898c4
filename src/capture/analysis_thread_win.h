#pragma once

// The capture chain and the worker thread that analyses it: for every filled
// capture buffer the worker slides its samples into the spectrum transform,
// transforms them and hands the transform to the frame consumer (detector and
// waveform). One recursive lock, the analysis lock, serialises the worker's
// frames against the user interface's start, stop and reconfiguration.

#include <windows.h>

#include <cstdint>
#include <memory>

#include "capture/frame_consumer.h"
#include "capture/recorder_win.h"
#include "capture/wave_in_win.h"
#include "capture/win_owners.h"
#include "dsp/spectrum_transform.h"

namespace kantiq {

// How long stopThread waits for the worker to end.
constexpr DWORD kStopThreadTimeoutMs = 2000;

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
  };

  // Builds the lock, the event, a 16-bit mono Recorder and the transform,
  // then the worker thread, suspended. Throws WinException when a system
  // object cannot be created; nothing is left behind then.
  AnalysisThread(FrameConsumer& consumer, int32_t samplesPerBuffer, int32_t sampleRateHz,
                 int32_t points, WaveInApi& api = systemWaveIn(), RecorderWarningBox& box = systemWarningBox());
  // Stops the worker if stopThread was never called, then tears down the
  // transform, the recorder, the event and the lock.
  ~AnalysisThread();
  AnalysisThread(const AnalysisThread&) = delete;
  AnalysisThread& operator=(const AnalysisThread&) = delete;

  // Lets the suspended worker run.
  void resume();

  bool startCapture();
  void stopCapture();
  // Stop and start again; the detector asks for it from the worker itself.
  bool restartCapture();
  // New capture settings; false after a failure the user has been told about.
  bool reconfigure(int32_t samplesPerBuffer, int32_t sampleRateHz, int32_t points,
                   int32_t bitsPerSample);

  // Asks the worker to end, wakes it and waits up to kStopThreadTimeoutMs.
  // True once the worker has ended. When it has not (a frame hangs), the
  // capture chain stays alive for it until it leaves; so must the consumer.
  bool stopThread();

  // Sets the event as the driver does for a filled buffer.
  void wake();

  Status status();

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
