#pragma once

// The application object behind the main dialog: the capture settings, the
// control wrappers, the frequency scale and the parts that capture, detect
// and raise alarms.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_observer.h"
#include "capture/input_choice.h"
#include "ui/fresh_start_win.h"
#include "detector/detector_ports.h"
#include "ui/step_scroll_bar.h"
#include "ui/text_box_win.h"
#include "ui/value_list.h"
#include "win32/owners_win.h"

namespace kantiq {

// The main dialog's timer that keeps the status picture true and picks up
// a result text or a box whose notice was lost.
constexpr UINT_PTR kStatusTimerId = 1;
constexpr UINT kStatusTimerMs = 500;

// What the window needs from the capture chain.
class AnalysisControl {
 public:
  virtual ~AnalysisControl() = default;
  virtual void resumeThread() = 0;
  virtual bool startCapture() = 0;
  virtual void stopCapture() = 0;
  // Stop and start again, monitoring staying on; a failed start is tried
  // again later by the capture chain itself.
  virtual bool restartCapture() = 0;
  // Whether capture is delivering buffers right now. Never waits for the
  // analysis lock.
  virtual bool delivering() = 0;
  virtual bool reconfigure(int32_t samplesPerBuffer, int32_t sampleRate, int32_t points,
                           int32_t bitsPerSample) = 0;
  // Stops the worker; true when it ended within its wait.
  virtual bool stopThread() = 0;
  // The running transform's size and rate, read under the analysis lock;
  // false while there is no transform.
  virtual bool transformShape(int32_t& points, int32_t& sampleRate) = 0;

  // What the window shows of the input. Never waits for the analysis lock.
  struct InputState {
    bool silent = false;   // no signal at all, longer than the silence limit
    bool missing = false;  // the input to open is not there
    std::string label;     // the input in use; empty before the first open
    InputRequest wanted;   // the input capture asks for
  };
  virtual InputState inputState() { return {}; }
};

// The parts behind the window, built in this order: the waveform view, the
// detector (which performs the single-instance and configuration checks and
// may end the process), the analysis thread (suspended), then the detector's
// pointer back to the monitor. Destruction tears them down in reverse.
class MonitorEngine {
 public:
  virtual ~MonitorEngine() = default;
  virtual AnalysisControl& analysis() = 0;
  // Alarms of the loaded configuration.
  virtual int32_t alarmCount() = 0;
  // Lines for the result box from the start (the settings file's problems).
  virtual std::vector<std::string> startNotes() { return {}; }
  // Keeps the input capture found as the default, for the next starts; a
  // line for the result box when that fails.
  virtual std::optional<std::string> rememberInput(const InputRequest& /*input*/) { return std::nullopt; }
  // Has the sender try the outbox again when that is due, and follows up
  // the notices to whoever looks after the PC (switchedOff: monitoring is
  // switched off in the window). The window's timer.
  virtual void followUpMessages(bool /*switchedOff*/) {}
  // SMS of an alarm wait undelivered.
  virtual bool messagesWaiting() { return false; }
  // Hands every raised alarm to the sender before the program ends, waiting
  // a few seconds at most; no more result lines reach the monitor after.
  virtual void handOverAlarms() {}
};

using EngineFactory = std::function<std::unique_ptr<MonitorEngine>(
    HWND dialog, MonitorInterface& monitor, CaptureObserver& observer, int32_t samplesPerBuffer,
    int32_t sampleRate, int32_t points)>;

class AlarmMonitor final : public MonitorInterface, public CaptureObserver {
 public:
  AlarmMonitor(HWND dialog, const EngineFactory& makeEngine);
  ~AlarmMonitor() override = default;
  AlarmMonitor(const AlarmMonitor&) = delete;
  AlarmMonitor& operator=(const AlarmMonitor&) = delete;

  void onCommand(HWND window, int32_t controlId, int32_t notification);
  void onHScroll(HWND window, int32_t scrollCode, int32_t thumbPosition);
  void applySettings(HWND window);
  void rebuildSpeedSteps();
  void stopMonitoring(HWND window);
  bool restartCapture() override;
  void appendResultLine(const std::string& line) override;
  void drawFrequencyScale();
  void showResultText() { resultBox_.show(); }

  // CaptureObserver: the analysis thread's news, handed on without waiting.
  void listeningChanged(bool listening, const TimeValue& at) override;
  void captureWarning(const std::string& text, const std::string& caption) override;
  void captureNotice(const std::string& line) override;
  void inputSilenceChanged(bool silent, const TimeValue& at) override;
  void inputChosen(const InputRequest& input) override;
  // The window's thread: shows the recorder's box for a failed restart, one
  // at a time. May run the window's messages, so the monitor may be gone
  // when it returns: call it last.
  void showCaptureWarning();
  // The window's thread, every kStatusTimerMs.
  void onStatusTimer();

  // A new installation was written (restartRequestMessage): says so in the
  // result box and hands over to a new instance, which reads it at start.
  void restartForNewSetup();

  // Hands every raised alarm to the sender (the session is ending).
  void handOverAlarms() { engine_->handOverAlarms(); }

  // Stops the worker and posts the quit message. True when the worker has
  // ended, so the monitor may be freed; otherwise it must be left alone.
  bool shutdown();

  bool stopped() const { return stopped_; }
  int32_t samplesPerBuffer() const { return samplesPerBuffer_; }

 private:
  // The constructor's steps, in the order it takes them. The dialog's
  // controls, found and emptied:
  void findControls();
  // The result box's first lines: no alarms configured, the settings
  // file's problems.
  void showStartNotes();
  // The window's small icon and the about button's picture.
  void showIcons();
  // Fills the (hidden) format controls: bits, rates, transform sizes.
  void offerFormats();
  // Switches to the format the program runs with and posts the speed
  // selector's steps to its start position.
  void selectRunningFormat();

  // Hands the present format to the analysis; ends the program when the
  // analysis cannot take it.
  void reconfigureAnalysis();
  void setSpeedText();
  void showToggleState(HWND window);
  // The status picture for the present state, set only when it changes.
  void showStatusPicture();
  // The input line under the window, set only when it changes.
  void showInputLabel(const std::string& label);
  // Hands a newly chosen input to the engine to keep. The window's thread.
  void rememberChosenInput();
  // While the input is missing, asks a fresh process now and then whether
  // it would find it, and hands over to a new instance when it would.
  void lookForALateInput();

  HWND dialog_;
  bool stopped_ = true;
  int32_t bitsPerSample_ = 16;
  int32_t sampleRate_ = 11025;
  int32_t pointsPerTransform_ = 1024;
  int32_t samplesPerBuffer_ = 512;
  HWND speedBox_ = nullptr;
  TextBox resultBox_;
  HWND rateList_ = nullptr;
  ValueList rateValues_;
  HWND pointsList_ = nullptr;
  ValueList pointsValues_;
  HWND radio8_ = nullptr;
  HWND radio16_ = nullptr;
  HWND speedScroll_ = nullptr;
  StepScrollBar speedSteps_;
  HWND scaleControl_ = nullptr;
  UniqueEnhMetaFile scalePicture_;
  RECT scaleRect_{};
  HBITMAP statusShown_ = nullptr;
  HWND inputLabel_ = nullptr;
  std::string inputLabelShown_;
  std::optional<InputRequest> inputToRemember_;  // under warningMutex_
  InputProbe inputProbe_;
  uint64_t inputMissingSinceMs_ = 0;  // 0: not missing
  uint64_t lastProbeMs_ = 0;
  uint64_t probeFoundMs_ = 0;         // 0: no probe found it
  bool handedOver_ = false;
  std::mutex warningMutex_;
  bool warningPending_ = false;
  std::string warningText_;
  std::string warningCaption_;
  std::unique_ptr<MonitorEngine> engine_;
};

// The switched-off look of the toggle and the status picture, for a window
// left without a monitor.
void showSwitchedOffState(HWND dialog);

}  // namespace kantiq
