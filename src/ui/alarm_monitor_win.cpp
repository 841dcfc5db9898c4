#include "ui/alarm_monitor_win.h"

#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "capture/win_exception.h"
#include "dispatch/alarm_log.h"
#include "resources/resource_ids.h"
#include "ui/about_box_win.h"
#include "ui/frequency_scale.h"
#include "ui/gdi_canvas_win.h"
#include "ui/main_dialog_win.h"
#include "ui/status_picture.h"
#include "ui/test_message_win.h"
#include "ui/window_messages_win.h"
#include "win32/executable_path_win.h"

namespace kantiq {
namespace {

constexpr int32_t kStartRateHz = 44100;
constexpr int32_t kStartPoints = 2048;
constexpr int32_t kStartSpeedSteps = 9;
constexpr int32_t kOfferedPoints[] = {256, 512, 1024, 2048};

// Lines of the result box that are not alarms.
constexpr char kNoAlarmLine[] =
    "HINWEIS: In SMSConfig1.dat ist keine Alarmierung eingerichtet. Kantiq erkennt keinen Alarm.";
constexpr char kListeningStoppedLine[] =
    "STÖRUNG: Vom Aufnahmegerät kommt kein Signal. Kantiq hört nicht mit und startet die Aufnahme neu.";
constexpr char kListeningResumedLine[] = "Aufnahme läuft wieder: Kantiq wertet das Signal aus.";
constexpr char kSilentLine[] =
    "STÖRUNG: Am Eingang liegt kein Signal an (stumm geschaltet, Kabel gezogen, Empfänger aus?).";
constexpr char kSignalBackLine[] = "Am Eingang liegt wieder ein Signal an.";
constexpr char kInputLabelPrefix[] = "Eingang: ";
constexpr char kHandOverFailedLine[] =
    "STÖRUNG: Das Aufnahmegerät ist jetzt da, aber Kantiq kann sich nicht neu starten, um es zu nutzen. "
    "Bitte Kantiq beenden und neu starten.";
constexpr char kNewSetupLine[] = "Neue Einrichtung: Kantiq startet neu.";
constexpr char kNewSetupFailedLine[] =
    "STÖRUNG: Kantiq kann sich nicht neu starten, um die neue Einrichtung zu lesen. "
    "Bitte Kantiq beenden und neu starten.";

// A missing input is first left to capture's own retries; then a fresh
// process is asked this often whether it would find it. A probe found it
// only counts when, this long after, capture still has not.
constexpr uint64_t kFirstProbeAfterMs = 10000;
constexpr uint64_t kProbeEveryMs = 30000;
constexpr uint32_t kProbeLimitMs = 15000;
constexpr uint64_t kHandOverGraceMs = 7000;

// The status pictures, loaded on first use and kept for the run.
struct StatusBitmaps {
  UniqueGdiObject<HBITMAP> on;
  UniqueGdiObject<HBITMAP> off;
  UniqueGdiObject<HBITMAP> fault;
  UniqueGdiObject<HBITMAP> silent;
  UniqueGdiObject<HBITMAP> noInput;
  UniqueGdiObject<HBITMAP> smsWaiting;
};

HBITMAP loadBitmap(int id) {
  return static_cast<HBITMAP>(::LoadImageA(resourceInstance(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
}

StatusBitmaps& statusBitmaps() {
  static StatusBitmaps bitmaps;
  if (!bitmaps.on) {
    bitmaps.on.reset(loadBitmap(IDB_STATUS_ON));
    bitmaps.off.reset(loadBitmap(IDB_STATUS_OFF));
    bitmaps.fault.reset(loadBitmap(IDB_STATUS_FAULT));
    bitmaps.silent.reset(loadBitmap(IDB_STATUS_SILENT));
    bitmaps.noInput.reset(loadBitmap(IDB_STATUS_NO_INPUT));
    bitmaps.smsWaiting.reset(loadBitmap(IDB_STATUS_SMS_WAITING));
  }
  return bitmaps;
}

HBITMAP statusBitmap(StatusPicture picture) {
  StatusBitmaps& bitmaps = statusBitmaps();
  switch (picture) {
    case StatusPicture::Off: return bitmaps.off.get();
    case StatusPicture::Fault: return bitmaps.fault.get();
    case StatusPicture::Silent: return bitmaps.silent.get();
    case StatusPicture::NoInput: return bitmaps.noInput.get();
    case StatusPicture::SmsWaiting: return bitmaps.smsWaiting.get();
    case StatusPicture::On: break;
  }
  return bitmaps.on.get();
}

// Set while a box for a failed restart is open. The window's thread only.
bool captureWarningOpen = false;

void addValue(HWND list, ValueList& values, int32_t value) {
  if (!values.add(value)) return;
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

int32_t selectedIndex(HWND list) {
  return static_cast<int32_t>(::SendMessageA(list, CB_GETCURSEL, 0, 0));
}

// Draws the scale's lines into a device context.
class DcScaleCanvas final : public ScaleCanvas {
 public:
  explicit DcScaleCanvas(HDC dc) : dc_(dc) {}
  void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) override {
    ::MoveToEx(dc_, x0, y0, nullptr);
    ::LineTo(dc_, x1, y1);
  }

 private:
  HDC dc_;
};

}  // namespace

void showSwitchedOffState(HWND dialog) {
  ::SetDlgItemTextA(dialog, IDC_TOGGLE, "Kantiq jetzt aktivieren");
  ::SendDlgItemMessageA(dialog, IDC_STATUS, BM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(statusBitmaps().off.get()));
}

AlarmMonitor::AlarmMonitor(HWND dialog, const EngineFactory& makeEngine) : dialog_(dialog) {
  findControls();
  // Waveform view, detector, analysis thread (suspended) and the detector's
  // pointer back to this monitor. The detector may end the process here.
  engine_ = makeEngine(dialog, *this, *this, samplesPerBuffer_, sampleRate_, pointsPerTransform_);
  showStartNotes();
  showIcons();
  // Not listening yet: the posted start command below switches monitoring on.
  showSwitchedOffState(dialog);
  statusShown_ = statusBitmaps().off.get();
  offerFormats();

  drawFrequencyScale();
  engine_->analysis().resumeThread();
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_TOGGLE, 0), 0);
  selectRunningFormat();
  ::SetTimer(dialog, kStatusTimerId, kStatusTimerMs, nullptr);
}

void AlarmMonitor::findControls() {
  // Each emptied of what the dialog template put there.
  speedBox_ = ::GetDlgItem(dialog_, IDC_SPEED_BOX);
  ::SendMessageA(speedBox_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  resultBox_.bind(::GetDlgItem(dialog_, IDC_RESULT_BOX), dialog_);
  ::SendMessageA(resultBox_.control(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  rateList_ = ::GetDlgItem(dialog_, IDC_RATE_LIST);
  ::SendMessageA(rateList_, CB_RESETCONTENT, 0, 0);
  pointsList_ = ::GetDlgItem(dialog_, IDC_POINTS_LIST);
  ::SendMessageA(pointsList_, CB_RESETCONTENT, 0, 0);
  radio8_ = ::GetDlgItem(dialog_, IDC_BITS8);
  radio16_ = ::GetDlgItem(dialog_, IDC_BITS16);
  speedScroll_ = ::GetDlgItem(dialog_, IDC_SPEED_SCROLL);
  ::SetScrollRange(speedScroll_, SB_CTL, 0, 0, FALSE);
  ::SetScrollPos(speedScroll_, SB_CTL, 0, TRUE);
  scaleControl_ = ::GetDlgItem(dialog_, IDC_SCALE);
  inputLabel_ = ::GetDlgItem(dialog_, IDC_INPUT_LABEL);
  ::SendMessageA(inputLabel_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
}

void AlarmMonitor::showStartNotes() {
  // A configuration without alarms starts, but the window must not look as
  // if it were watching for one.
  if (engine_->alarmCount() <= 0) resultBox_.append(kNoAlarmLine);
  for (const std::string& line : engine_->startNotes()) resultBox_.append(line);
}

void AlarmMonitor::showIcons() {
  ::SendMessageA(dialog_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(::LoadImageA(resourceInstance(), MAKEINTRESOURCEA(IDI_KANTIQ),
                                                       IMAGE_ICON, 16, 16, LR_SHARED)));
  ::SendDlgItemMessageA(dialog_, IDC_ABOUT, BM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(::LoadImageA(resourceInstance(),
                                                              MAKEINTRESOURCEA(IDB_ABOUT_BUTTON),
                                                              IMAGE_BITMAP, 0, 0, LR_SHARED)));
}

void AlarmMonitor::offerFormats() {
  // The program records 8 bits at 44100 Hz whatever these lists say (they
  // are hidden); they offer every format, so that a sound card missing at
  // start, which is waited for, leaves nothing to decide here.
  const uint32_t formats = WAVE_FORMAT_1M08 | WAVE_FORMAT_1M16 | WAVE_FORMAT_2M08 | WAVE_FORMAT_2M16 |
                           WAVE_FORMAT_4M08 | WAVE_FORMAT_4M16;

  // 8 bits on every device; 16 only offered where the device has it.
  ::SendMessageA(radio8_, BM_SETCHECK, BST_CHECKED, 0);
  bitsPerSample_ = 8;
  if (!offers16Bit(formats)) ::EnableWindow(radio16_, FALSE);

  rebuildSpeedSteps();

  std::array<int32_t, 3> rates{};
  const int32_t rateCount = offeredSampleRates(formats, rates);
  for (int32_t i = 0; i < rateCount; ++i) addValue(rateList_, rateValues_, rates[static_cast<size_t>(i)]);
  ::SendMessageA(rateList_, CB_SETCURSEL, 0, 0);
  if (auto v = rateValues_.valueAt(selectedIndex(rateList_))) sampleRate_ = *v;

  for (int32_t points : kOfferedPoints) addValue(pointsList_, pointsValues_, points);
  ::SendMessageA(pointsList_, CB_SETCURSEL, 2, 0);
}

void AlarmMonitor::selectRunningFormat() {
  // The running configuration: 44100 Hz whatever the list holds, 2048
  // points, then nine steps to the right on the speed selector.
  ::SendMessageA(rateList_, CB_SETCURSEL, 2, 0);
  sampleRate_ = kStartRateHz;
  rebuildSpeedSteps();
  reconfigureAnalysis();
  drawFrequencyScale();

  ::SendMessageA(pointsList_, CB_SETCURSEL, 3, 0);
  pointsPerTransform_ = kStartPoints;
  rebuildSpeedSteps();
  reconfigureAnalysis();
  drawFrequencyScale();

  for (int32_t i = 0; i < kStartSpeedSteps; ++i) {
    ::PostMessageA(dialog_, WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
  }
}

void AlarmMonitor::reconfigureAnalysis() {
  if (!engine_->analysis().reconfigure(samplesPerBuffer_, sampleRate_, pointsPerTransform_,
                                       bitsPerSample_)) {
    ::PostQuitMessage(1);
  }
}

bool AlarmMonitor::shutdown() {
  ::KillTimer(dialog_, kStatusTimerId);
  // Every alarm raised is in the sender's hands before the program ends.
  engine_->handOverAlarms();
  // When the worker does not end in time it still runs and may reach this
  // monitor (restartCapture, appendResultLine) and through it the engine:
  // the caller then leaves the monitor, engine and all, to the end of the
  // process rather than free them under it.
  const bool ended = engine_->analysis().stopThread();
  ::PostQuitMessage(0);
  return ended;
}

void AlarmMonitor::showToggleState(HWND window) {
  ::SetDlgItemTextA(window, IDC_TOGGLE, stopped_ ? "Kantiq jetzt aktivieren" : "Kantiq jetzt deaktivieren");
  statusShown_ = nullptr;  // set it whatever was shown
  showStatusPicture();
}

void AlarmMonitor::showStatusPicture() {
  AnalysisControl& analysis = engine_->analysis();
  const AnalysisControl::InputState input = analysis.inputState();
  const StatusPicture shown = chooseStatusPicture({.switchedOff = stopped_,
                                                   .delivering = analysis.delivering(),
                                                   .inputMissing = input.missing,
                                                   .inputSilent = input.silent,
                                                   .messagesWaiting = engine_->messagesWaiting()});
  HBITMAP picture = statusBitmap(shown);
  showInputLabel(input.label);
  if (picture == statusShown_) return;
  statusShown_ = picture;
  ::SendDlgItemMessageA(dialog_, IDC_STATUS, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
}

void AlarmMonitor::showInputLabel(const std::string& label) {
  if (label.empty() || label == inputLabelShown_) return;
  inputLabelShown_ = label;
  const std::string text = kInputLabelPrefix + label;
  ::SendMessageA(inputLabel_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void AlarmMonitor::lookForALateInput() {
  if (handedOver_) return;
  AnalysisControl& analysis = engine_->analysis();
  const AnalysisControl::InputState input = analysis.inputState();
  const uint64_t now = ::GetTickCount64();
  const std::optional<ProbeResult> probed = inputProbe_.take();
  if (stopped_ || !input.missing || analysis.delivering()) {
    inputMissingSinceMs_ = 0;
    probeFoundMs_ = 0;
    return;
  }
  if (inputMissingSinceMs_ == 0) inputMissingSinceMs_ = now;
  if (probed == ProbeResult::Found && probeFoundMs_ == 0) probeFoundMs_ = now;
  if (probeFoundMs_ != 0 && now - probeFoundMs_ >= kHandOverGraceMs) {
    // A fresh process finds the input and this one still does not: only a
    // new instance can listen to it.
    handedOver_ = true;
    if (startSuccessor()) {
      ::PostMessageA(dialog_, WM_CLOSE, 0, 0);
    } else {
      resultBox_.append(kHandOverFailedLine);
    }
    return;
  }
  if (probeFoundMs_ == 0 && !inputProbe_.running() && now - inputMissingSinceMs_ >= kFirstProbeAfterMs &&
      (lastProbeMs_ == 0 || now - lastProbeMs_ >= kProbeEveryMs)) {
    lastProbeMs_ = now;
    inputProbe_.start(executableFolderPath(), input.wanted, kProbeLimitMs);
  }
}

void AlarmMonitor::restartForNewSetup() {
  if (handedOver_) return;
  handedOver_ = true;
  resultBox_.append(kNewSetupLine);
  resultBox_.show();
  if (startSuccessor()) {
    ::PostMessageA(dialog_, WM_CLOSE, 0, 0);
  } else {
    resultBox_.append(kNewSetupFailedLine);
  }
}

void AlarmMonitor::onStatusTimer() {
  engine_->followUpMessages(stopped_);
  showStatusPicture();
  lookForALateInput();
  rememberChosenInput();
  resultBox_.show();
  showCaptureWarning();
}

void AlarmMonitor::captureNotice(const std::string& line) { resultBox_.append(line); }

void AlarmMonitor::inputSilenceChanged(bool silent, const TimeValue& at) {
  resultBox_.append(silent ? kSilentLine : kSignalBackLine);
  resultBox_.append(formatAlarmStamp(at));
}

void AlarmMonitor::inputChosen(const InputRequest& input) {
  std::lock_guard<std::mutex> hold(warningMutex_);
  inputToRemember_ = input;
}

void AlarmMonitor::rememberChosenInput() {
  std::optional<InputRequest> input;
  {
    std::lock_guard<std::mutex> hold(warningMutex_);
    input = std::exchange(inputToRemember_, std::nullopt);
  }
  if (!input) return;
  if (auto problem = engine_->rememberInput(*input)) resultBox_.append(*problem);
}

void AlarmMonitor::listeningChanged(bool listening, const TimeValue& at) {
  resultBox_.append(listening ? kListeningResumedLine : kListeningStoppedLine);
  resultBox_.append(formatAlarmStamp(at));
}

void AlarmMonitor::captureWarning(const std::string& text, const std::string& caption) {
  {
    std::lock_guard<std::mutex> hold(warningMutex_);
    warningText_ = text;
    warningCaption_ = caption;
    warningPending_ = true;
  }
  // A lost notice is made up by the timer.
  ::PostMessageA(dialog_, kMsgCaptureWarning, 0, 0);
}

void AlarmMonitor::showCaptureWarning() {
  // One box at a time; the next waits until this one is closed.
  if (captureWarningOpen) return;
  std::string text;
  std::string caption;
  {
    std::lock_guard<std::mutex> hold(warningMutex_);
    if (!warningPending_) return;
    warningPending_ = false;
    text = std::move(warningText_);
    caption = std::move(warningCaption_);
  }
  captureWarningOpen = true;
  // The box runs the window's messages; closing the window meanwhile frees
  // this monitor, so nothing of it is touched afterwards.
  ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
  captureWarningOpen = false;
}

void AlarmMonitor::onCommand(HWND window, int32_t controlId, int32_t notification) {
  statusBitmaps();
  switch (controlId) {
    case IDC_TOGGLE:
      if (stopped_) {
        stopped_ = !engine_->analysis().startCapture();
      } else {
        stopMonitoring(window);
        stopped_ = true;
      }
      showToggleState(window);
      break;
    case IDC_BITS8:
      if (notification == BN_CLICKED) {
        bitsPerSample_ = 8;
        applySettings(window);
      }
      break;
    case IDC_BITS16:
      if (notification == BN_CLICKED) {
        bitsPerSample_ = 16;
        applySettings(window);
      }
      break;
    case IDC_RATE_LIST:
      if (notification == CBN_SELENDOK) {
        if (auto v = rateValues_.valueAt(selectedIndex(rateList_))) sampleRate_ = *v;
        rebuildSpeedSteps();
        applySettings(window);
      }
      break;
    case IDC_POINTS_LIST:
      if (notification == CBN_SELENDOK) {
        if (auto v = pointsValues_.valueAt(selectedIndex(pointsList_))) pointsPerTransform_ = *v;
        rebuildSpeedSteps();
        applySettings(window);
      }
      break;
    case IDC_ABOUT:
      showAboutBox(window);
      break;
    case IDC_TEST_MESSAGE:
      showTestMessageDialog(window);
      break;
    default:
      break;
  }
}

void AlarmMonitor::onHScroll(HWND /*window*/, int32_t scrollCode, int32_t thumbPosition) {
  if (speedSteps_.scroll(scrollCode, thumbPosition)) {
    ::SetScrollPos(speedScroll_, SB_CTL, speedSteps_.position(), TRUE);
  }
  if (speedSteps_.count() > 0) samplesPerBuffer_ = speedSteps_.samples();
  reconfigureAnalysis();
  setSpeedText();
}

void AlarmMonitor::applySettings(HWND /*window*/) {
  reconfigureAnalysis();
  drawFrequencyScale();
}

void AlarmMonitor::rebuildSpeedSteps() {
  speedSteps_.rebuild(pointsPerTransform_);
  ::SetScrollRange(speedScroll_, SB_CTL, 0, speedSteps_.count() > 0 ? speedSteps_.count() - 1 : 0, FALSE);
  samplesPerBuffer_ = pointsPerTransform_;
  ::SetScrollPos(speedScroll_, SB_CTL, 0, TRUE);
  setSpeedText();
}

void AlarmMonitor::setSpeedText() {
  char text[16];
  std::snprintf(text, sizeof text, "%d",
                static_cast<int>(transformsPerSecond(sampleRate_, samplesPerBuffer_)));
  ::SendMessageA(speedBox_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void AlarmMonitor::stopMonitoring(HWND /*window*/) { engine_->analysis().stopCapture(); }

bool AlarmMonitor::restartCapture() { return engine_->analysis().restartCapture(); }

void AlarmMonitor::appendResultLine(const std::string& line) { resultBox_.append(line); }

void AlarmMonitor::drawFrequencyScale() {
  int32_t points = 0;
  int32_t rate = 0;
  // Without a running transform the previous picture stays.
  if (!engine_->analysis().transformShape(points, rate)) return;

  ::GetClientRect(scaleControl_, &scaleRect_);
  WindowDc controlDc(scaleControl_);
  if (controlDc.get() == nullptr) return;
  const int hPitch = ::GetDeviceCaps(controlDc.get(), HORZSIZE) * 100 /
                     std::max(1, ::GetDeviceCaps(controlDc.get(), HORZRES));
  const int vPitch = ::GetDeviceCaps(controlDc.get(), VERTSIZE) * 100 /
                     std::max(1, ::GetDeviceCaps(controlDc.get(), VERTRES));
  const RECT frame{scaleRect_.left * hPitch, scaleRect_.top * vPitch, scaleRect_.right * hPitch,
                   scaleRect_.bottom * vPitch};
  HDC meta = ::CreateEnhMetaFileA(controlDc.get(), nullptr, &frame, nullptr);
  if (meta == nullptr) return;
  ::FillRect(meta, &scaleRect_, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  DcScaleCanvas canvas(meta);
  kantiq::drawFrequencyScale(canvas, scaleRect_.right, scaleRect_.bottom, scaleLayout(points, rate));
  UniqueEnhMetaFile picture(::CloseEnhMetaFile(meta));
  if (!picture) return;
  // Sent, not posted: the control takes the new picture before the old one
  // is deleted, so it never paints a deleted picture.
  ::SendMessageA(scaleControl_, STM_SETIMAGE, IMAGE_ENHMETAFILE, reinterpret_cast<LPARAM>(picture.get()));
  scalePicture_ = std::move(picture);
}

}  // namespace kantiq
