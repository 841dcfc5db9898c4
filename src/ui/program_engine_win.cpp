#include "ui/program_engine_win.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/analysis_thread_win.h"
#include "capture/watchdogs_win.h"
#include "config/kantiq_settings.h"
#include "config/startup_win.h"
#include "detector/tone_detector.h"
#include "dispatch/alarm_log.h"
#include "dispatch/alarm_raiser.h"
#include "dispatch/dispatch_job_win.h"
#include "resources/resource_ids.h"
#include "ui/deferred_spectrogram_canvas.h"
#include "ui/detector_frame_consumer.h"
#include "ui/gdi_canvas_win.h"
#include "ui/running_instance_win.h"
#include "ui/waveform_view.h"
#include "win32/executable_path_win.h"
#include "win32/life_signs_win.h"

namespace kantiq {
namespace {

// A new picture in the window every second frame (15 a second): each one
// that reaches the screen costs Wine a copy to the X server, far more than
// the drawing. Every spectrogram column is still drawn.
constexpr int32_t kFramesPerPicture = 2;
// How long closing waits for the alarms' jobs to start their senders.
constexpr uint32_t kHandOverLimitMs = 5000;

class ProgramEngine final : public MonitorEngine, public AnalysisControl {
 public:
  ProgramEngine(HWND dialog, MonitorInterface& monitor, CaptureObserver& observer,
                int32_t samplesPerBuffer, int32_t sampleRate, int32_t points)
      : waveformCanvas_(DrawingTarget(::GetDlgItem(dialog, IDC_WAVEFORM))),
        waveformView_(waveformCanvas_),
        spectrogramCanvas_(DrawingTarget(::GetDlgItem(dialog, IDC_SPECTROGRAM))),
        spectrogramStrokes_(spectrogramCanvas_),
        launcher_(executableFolder()),
        raiser_(executableFolder() + std::string(kAlarmLogFileSpec), launcher_),
        detector_(std::make_unique<ToneDetector>()),
        frame_(*detector_, &waveformView_, &spectrogramStrokes_, kFramesPerPicture) {
    // Single-instance guard, then the configuration; ends the process with
    // its own box when either refuses. Whoever starts Kantiq a second time
    // is looking for its window: after the box, the running one is shown.
    // Alarm raising's counters start at 0 with the raiser made just before.
    constructToneDetector(*detector_, &spectrogramStrokes_, {}, [] { showRunningInstance(); });
    // Holding the guard, this is the one Kantiq: its watchdog may know it.
    LifeSigns::process().publish(dialog);
    detector_->alarmSink = &raiser_;
    detector_->watchdogStarter = &watchdogs_;
    // Kantiq's own settings: what cannot be read is reported and has its
    // default; the file itself is left as it is.
    const SettingsReading settings = readSettingsFile(executableFolderPath());
    startNotes_ = settings.problems;
    analysis_ = std::make_unique<AnalysisThread>(frame_, samplesPerBuffer, sampleRate, points);
    analysis_->setInput(InputRequest{settings.settings.inputName, settings.settings.inputPosition});
    analysis_->setSilenceLimit(settings.settings.silenceLimitMs);
    analysis_->setObserver(&observer);
    analysis_->setBeat(LifeSigns::process().workerBeat());
    detector_->monitor = &monitor;
    // What becomes of each alarm's SMS reaches the window; messages left
    // waiting by an earlier run are followed up from the start.
    const std::shared_ptr<DispatchHandover>& handover = raiser_.sharedHandover();
    {
      std::lock_guard<std::mutex> held(handover->deliveryMutex);
      handover->monitor = &monitor;
      handover->pace = OutboxRetryPace(settings.settings.smsRetryMs);
    }
    retrier_ = std::make_unique<OutboxRetrier>(executableFolder(), handover);
    retrier_->lookAtOutbox();
  }

  // Members go in reverse: the analysis first, so nothing detects or draws
  // once the detector and the canvases are gone. A worker that did not end
  // in time keeps the whole engine: the monitor then never destroys it.
  ~ProgramEngine() override {
    // Jobs may outlive the engine; they must not reach the monitor after it.
    const std::shared_ptr<DispatchHandover>& handover = raiser_.sharedHandover();
    std::lock_guard<std::mutex> held(handover->deliveryMutex);
    handover->monitor = nullptr;
  }

  AnalysisControl& analysis() override { return *this; }
  int32_t alarmCount() override { return detector_->alarmCount; }
  std::vector<std::string> startNotes() override { return startNotes_; }
  std::optional<std::string> rememberInput(const InputRequest& input) override {
    if (kantiq::rememberInput(executableFolderPath(), input.name, input.position)) return std::nullopt;
    return "HINWEIS: Kantiq kann den Eingang \"" + inputLabel(input) + "\" nicht in " + kSettingsFileName +
           " vermerken. Beim nächsten Start nimmt Kantiq wieder den voreingestellten Eingang.";
  }

  // AnalysisControl
  void resumeThread() override { analysis_->resume(); }
  bool startCapture() override { return analysis_->startCapture(); }
  void stopCapture() override { analysis_->stopCapture(); }
  bool restartCapture() override { return analysis_->restartCapture(); }
  bool delivering() override { return analysis_->delivering(); }
  bool reconfigure(int32_t samplesPerBuffer, int32_t sampleRate, int32_t points,
                   int32_t bitsPerSample) override {
    return analysis_->reconfigure(samplesPerBuffer, sampleRate, points, bitsPerSample);
  }
  bool stopThread() override { return analysis_->stopThread(); }
  void followUpMessages() override { retrier_->tick(); }
  bool messagesWaiting() override { return retrier_->waiting(); }
  void handOverAlarms() override {
    DispatchHandover& handover = *raiser_.sharedHandover();
    handOverPendingAlarms(handover, kHandOverLimitMs);
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.monitor = nullptr;
  }

  InputState inputState() override {
    const AnalysisThread::Health h = analysis_->health();
    return InputState{h.silent, h.inputMissing, analysis_->inputLabel(), analysis_->wantedInput()};
  }
  bool transformShape(int32_t& points, int32_t& sampleRate) override {
    const AnalysisThread::Status s = analysis_->status();
    if (s.points <= 0 || s.sampleRate <= 0) return false;
    points = s.points;
    sampleRate = s.sampleRate;
    return true;
  }

 private:
  GdiWaveformCanvas waveformCanvas_;
  WaveformView waveformView_;
  GdiSpectrogramCanvas spectrogramCanvas_;
  DeferredSpectrogramCanvas spectrogramStrokes_;  // what the detector draws on
  ThreadDispatchJobLauncher launcher_;
  AlarmRaiser raiser_;
  SystemWatchdogStarter watchdogs_;
  std::unique_ptr<ToneDetector> detector_;
  DetectorFrameConsumer frame_;  // detector for every frame, the picture every second
  std::vector<std::string> startNotes_;
  std::unique_ptr<OutboxRetrier> retrier_;
  std::unique_ptr<AnalysisThread> analysis_;
};

}  // namespace

std::unique_ptr<MonitorEngine> makeProgramEngine(HWND dialog, MonitorInterface& monitor,
                                                 CaptureObserver& observer, int32_t samplesPerBuffer,
                                                 int32_t sampleRate, int32_t points) {
  return std::make_unique<ProgramEngine>(dialog, monitor, observer, samplesPerBuffer, sampleRate, points);
}

}  // namespace kantiq
