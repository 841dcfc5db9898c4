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
#include "dispatch/notices.h"
#include "dispatch/sender_protocol.h"
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
// How often the time the program was last seen running is written down.
constexpr uint64_t kMemoryEveryMs = 60000;

constexpr char kNobodyToTellLine[] =
    "HINWEIS: Niemand bekommt Hinweise über Störungen: In S.toml hat keine Gruppe \"hinweise = true\". "
    "Die Kurzanleitung sagt, wie man eine einrichtet.";

NoticeMemory readNoticeMemory(const std::filesystem::path& folder) {
  std::string text;
  if (!readSmallFile(folder / kNoticeMemoryFileName, text)) return {};
  return parseNoticeMemory(text);
}

// The line for the window when a notice's run of the sender has ended.
std::string noticeOutcomeLine(const NoticeRunResult& r) {
  switch (r.state) {
    case DeliveryState::Sent: return "Hinweis gesendet: " + r.text;
    case DeliveryState::Waiting: return "STÖRUNG: Hinweis wartet im Postausgang (" + r.summary + "): " + r.text;
    case DeliveryState::Failed:
      if (r.exitCode == kSenderExitNoRecipients) return {};  // said once, by the desk
      break;
    case DeliveryState::Running: break;
  }
  return "STÖRUNG: Hinweis nicht gesendet (" + r.summary + "): " + r.text;
}

class ProgramEngine final : public MonitorEngine, public AnalysisControl, public DeliveryListener {
 public:
  ProgramEngine(HWND dialog, MonitorInterface& monitor, CaptureObserver& observer,
                int32_t samplesPerBuffer, int32_t sampleRate, int32_t points)
      : monitor_(monitor),
        waveformCanvas_(DrawingTarget(::GetDlgItem(dialog, IDC_WAVEFORM))),
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
    // Notices for whoever looks after the PC, beginning with this start.
    const NoticeSettings noticeSettings{settings.settings.noticeDelayMs, settings.settings.signOfLifeDay,
                                        settings.settings.signOfLifeMinute};
    desk_ = std::make_unique<NoticeDesk>(noticeSettings, readNoticeMemory(executableFolderPath()), TimeValue::now(),
                                         static_cast<int64_t>(::GetTickCount64()));
    keepMemory(desk_->memory());
    notices_ = std::make_unique<NoticeRunner>(executableFolder(), handover);
    {
      std::lock_guard<std::mutex> held(handover->deliveryMutex);
      handover->listener = this;
    }
  }

  // Members go in reverse: the analysis first, so nothing detects or draws
  // once the detector and the canvases are gone. A worker that did not end
  // in time keeps the whole engine: the monitor then never destroys it.
  ~ProgramEngine() override {
    // Jobs may outlive the engine; they must not reach the monitor after it.
    const std::shared_ptr<DispatchHandover>& handover = raiser_.sharedHandover();
    std::lock_guard<std::mutex> held(handover->deliveryMutex);
    handover->monitor = nullptr;
    handover->listener = nullptr;
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
  void followUpMessages(bool switchedOff) override {
    retrier_->tick();
    followUpNotices(switchedOff);
  }
  bool messagesWaiting() override { return retrier_->waiting(); }
  void handOverAlarms() override {
    DispatchHandover& handover = *raiser_.sharedHandover();
    handOverPendingAlarms(handover, kHandOverLimitMs);
    {
      std::lock_guard<std::mutex> held(handover.deliveryMutex);
      handover.monitor = nullptr;
      handover.listener = nullptr;
    }
    // The program ends as it should: the next start says nothing of a crash.
    ended_ = true;
    NoticeMemory memory;
    {
      std::lock_guard<std::mutex> held(deskMutex_);
      memory = desk_->memory();
    }
    memory.lastSeen = TimeValue::now();
    memory.endedNormally = true;
    keepMemory(memory);
  }

  // DeliveryListener: under the hand-over's lock, never the other way round.
  void alarmRaised(const std::string& text) override {
    std::lock_guard<std::mutex> held(deskMutex_);
    desk_->alarmRaised(text, TimeValue::now());
  }
  void alarmRun(const std::string& text, DeliveryState state, const std::string& summary) override {
    std::lock_guard<std::mutex> held(deskMutex_);
    desk_->alarmRun(text, state, summary, TimeValue::now());
  }
  void outboxRun(DeliveryState state, bool waitingAfter, const std::string& summary) override {
    std::lock_guard<std::mutex> held(deskMutex_);
    desk_->outboxRun(state, waitingAfter, summary, TimeValue::now());
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
  ListeningFault listeningFault(bool switchedOff) {
    if (switchedOff) return ListeningFault::SwitchedOff;
    const AnalysisThread::Health health = analysis_->health();
    if (!analysis_->delivering()) return health.inputMissing ? ListeningFault::InputMissing : ListeningFault::DeviceLost;
    return health.silent ? ListeningFault::InputSilent : ListeningFault::None;
  }

  // The window's timer: what listening is like, how the last notice went,
  // and the next one to the sender when no other run of it goes.
  void followUpNotices(bool switchedOff) {
    // Once the end is written down, nothing may overwrite it.
    if (ended_) return;
    const TimeValue now = TimeValue::now();
    const auto tick = static_cast<int64_t>(::GetTickCount64());
    const ListeningFault fault = listeningFault(switchedOff);
    const std::string label = analysis_->inputLabel();
    const std::optional<NoticeRunResult> ended = notices_->take();
    // Asked before the desk's lock: the hand-over's lock is taken first.
    const bool mayStart = notices_->mayStart();
    std::vector<std::string> lines;
    std::optional<NoticeMemory> memory;
    {
      std::lock_guard<std::mutex> held(deskMutex_);
      desk_->listening(fault, label, now, tick);
      if (ended) {
        desk_->noticeRun(ended->ended ? ended->exitCode : kSenderExitInternalError, ended->summary, now);
        lines.push_back(noticeOutcomeLine(*ended));
      }
      if (desk_->takeNobodyToTell()) lines.emplace_back(kNobodyToTellLine);
      if (mayStart && !unsent_) {
        unsent_ = desk_->next(now, tick);
        if (unsent_) memory = desk_->memory();  // a sign of life is not sent twice
      }
      if (!memory && static_cast<uint64_t>(tick) - memoryWrittenMs_ >= kMemoryEveryMs) memory = desk_->memory();
    }
    if (unsent_ && mayStart && notices_->start(*unsent_)) unsent_.reset();
    if (memory) {
      keepMemory(*memory);
      memoryWrittenMs_ = static_cast<uint64_t>(tick);
    }
    for (const std::string& line : lines) {
      if (line.empty()) continue;
      monitor_.appendResultLine(line);
      monitor_.appendResultLine(formatAlarmStamp(now));
    }
  }

  static void keepMemory(const NoticeMemory& memory) {
    // A file that cannot be written costs the next start its crash notice
    // and a sign of life may come twice: nothing to stop listening for.
    replaceFileWith(executableFolderPath() / kNoticeMemoryFileName, composeNoticeMemory(memory));
  }

  MonitorInterface& monitor_;
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
  std::mutex deskMutex_;
  std::unique_ptr<NoticeDesk> desk_;  // under deskMutex_
  std::unique_ptr<NoticeRunner> notices_;
  std::optional<std::string> unsent_;  // given out by the desk, not yet started
  uint64_t memoryWrittenMs_ = 0;
  bool ended_ = false;  // the program is ending: no more notices
  std::unique_ptr<AnalysisThread> analysis_;
};

}  // namespace

std::unique_ptr<MonitorEngine> makeProgramEngine(HWND dialog, MonitorInterface& monitor,
                                                 CaptureObserver& observer, int32_t samplesPerBuffer,
                                                 int32_t sampleRate, int32_t points) {
  return std::make_unique<ProgramEngine>(dialog, monitor, observer, samplesPerBuffer, sampleRate, points);
}

}  // namespace kantiq
