// The main window with its real dialog template and AlarmMonitor, driven
// from a second thread, over a capture chain that only records what it is
// asked to do (and, like the real one, takes a recursive lock for each
// operation).

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/analysis_thread_win.h"
#include "capture/fake_wave_in.h"
#include "capture/win_exception.h"
#include "lib/eventually.h"
#include "resources/resource_ids.h"
#include "ui/alarm_monitor_win.h"
#include "ui/main_dialog_win.h"
#include "win32/owners_win.h"

namespace kantiq {


namespace {

struct Reconfiguration {
  int32_t samplesPerBuffer, sampleRate, points, bits;
};

struct FakeCapture {
  std::recursive_mutex lock;
  bool captureStarts = true;
  std::vector<Reconfiguration> reconfigurations;
  int starts = 0, stops = 0;
  bool recording = false;
  bool threadEndsInTime = true;
  bool destroyed = false;
  int32_t points = 0, rate = 0;
  int restarts = 0;
  int32_t alarms = 1;
  std::atomic<bool> delivering{true};
  std::atomic<bool> silent{false};
  std::atomic<bool> inputMissing{false};
  std::atomic<bool> messagesWaiting{false};
  std::string inputLabel = "Line In (Fake Audio)";
  std::atomic<bool> threadStopped{false};
  // Runs on the fake worker thread once the monitor resumes it.
  std::function<void(MonitorInterface&, CaptureObserver&)> work;
};

class FakeAnalysis final : public AnalysisControl, public MonitorEngine {
 public:
  FakeAnalysis(FakeCapture& c, MonitorInterface& monitor, CaptureObserver& observer, int32_t points,
               int32_t rate)
      : c_(c), monitor_(monitor), observer_(observer) {
    c_.points = points;
    c_.rate = rate;
  }
  ~FakeAnalysis() override {
    if (worker_.joinable()) worker_.join();
    c_.destroyed = true;
  }
  AnalysisControl& analysis() override { return *this; }
  int32_t alarmCount() override { return c_.alarms; }
  void resumeThread() override {
    if (c_.work) worker_ = std::thread([this] { c_.work(monitor_, observer_); });
  }
  bool startCapture() override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    ++c_.starts;
    c_.recording = c_.captureStarts;
    return c_.recording;
  }
  void stopCapture() override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    ++c_.stops;
    c_.recording = false;
  }
  bool restartCapture() override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    ++c_.restarts;
    return c_.recording;
  }
  bool delivering() override { return c_.recording && c_.delivering; }
  bool messagesWaiting() override { return c_.messagesWaiting; }
  InputState inputState() override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    return InputState{c_.silent, c_.inputMissing, c_.inputLabel, {}};
  }
  bool reconfigure(int32_t spb, int32_t rate, int32_t points, int32_t bits) override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    c_.reconfigurations.push_back({spb, rate, points, bits});
    c_.points = points;
    c_.rate = rate;
    return true;
  }
  bool stopThread() override {
    c_.threadStopped = true;
    // A worker that does not end in time is left running, as the real one is.
    if (!c_.threadEndsInTime) return false;
    if (worker_.joinable()) worker_.join();
    return true;
  }
  bool transformShape(int32_t& points, int32_t& rate) override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    points = c_.points;
    rate = c_.rate;
    return true;
  }

 private:
  FakeCapture& c_;
  MonitorInterface& monitor_;
  CaptureObserver& observer_;
  std::thread worker_;
};

std::string windowText(HWND w) {
  char text[6000] = {};
  ::GetWindowTextA(w, text, sizeof text);
  return text;
}

using test_support::eventually;

// Which status picture a bitmap is, told by the colour of its lamp.
std::string statusPicture(HWND main) {
  auto bitmap = reinterpret_cast<HBITMAP>(::SendDlgItemMessageA(main, IDC_STATUS, BM_GETIMAGE, IMAGE_BITMAP, 0));
  if (bitmap == nullptr) return "none";
  const UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  COLORREF lamp = 0;
  {
    const SelectedObject selected(dc.get(), bitmap);
    lamp = ::GetPixel(dc.get(), 20, 20);
  }
  const int r = GetRValue(lamp), g = GetGValue(lamp);
  if (g > r) return "green";
  return g > 200 ? "amber" : "red";
}

struct CaptionCount {
  const char* caption;
  int count;
};

BOOL CALLBACK countIfCaptioned(HWND w, LPARAM p) {
  auto* search = reinterpret_cast<CaptionCount*>(p);
  char text[64] = {};
  ::GetWindowTextA(w, text, sizeof text);
  if (std::string(text) == search->caption && ::IsWindowVisible(w)) ++search->count;
  return TRUE;
}

// Visible top-level windows with the caption.
int countVisible(const char* caption) {
  CaptionCount search{caption, 0};
  ::EnumWindows(countIfCaptioned, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

HWND findTopLevel(const char* caption) {
  HWND found = nullptr;
  eventually([&] {
    found = ::FindWindowA("#32770", caption);
    return found != nullptr && ::IsWindowVisible(found);
  });
  return found;
}

// Runs the program's loop on this thread while `drive` runs on another.
int runWindow(FakeCapture& capture, const std::function<void()>& drive,
              EngineFactory factory = {}) {
  ProgramOptions options;
  options.instance = ::GetModuleHandleA(nullptr);
  options.makeEngine = factory ? factory
                               : EngineFactory([&](HWND, MonitorInterface& m, CaptureObserver& o, int32_t,
                                                   int32_t rate, int32_t points) -> std::unique_ptr<MonitorEngine> {
                                   return std::make_unique<FakeAnalysis>(capture, m, o, points, rate);
                                 });
  std::thread driver(drive);
  const int code = runMainDialog(options);
  driver.join();
  return code;
}

TEST(MainWindow, StartsMonitoringAtTheRunningConfiguration) {
  FakeCapture capture;
  std::string toggle, speed, result;
  bool scalePicture = false, sixteenEnabled = false;
  const int code = runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    HWND speedBox = ::GetDlgItem(main, IDC_SPEED_BOX);
    eventually([&] { return windowText(speedBox) == "29"; });
    eventually([&] { return windowText(::GetDlgItem(main, IDC_TOGGLE)) == "Kantiq jetzt deaktivieren"; });
    speed = windowText(speedBox);
    toggle = windowText(::GetDlgItem(main, IDC_TOGGLE));
    result = windowText(::GetDlgItem(main, IDC_RESULT_BOX));
    scalePicture = ::SendDlgItemMessageA(main, IDC_SCALE, STM_GETIMAGE, IMAGE_ENHMETAFILE, 0) != 0;
    sixteenEnabled = ::IsWindowEnabled(::GetDlgItem(main, IDC_BITS16));
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(main, IDC_SPEED_BOX)));
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(main, IDC_RESULT_BOX)));
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(speed, "29");
  EXPECT_EQ(toggle, "Kantiq jetzt deaktivieren");
  EXPECT_EQ(result, "");
  EXPECT_TRUE(scalePicture);
  (void)sixteenEnabled;  // depends on the sound card the environment offers
  // Two start-up reconfigurations, then one per posted scroll step.
  ASSERT_EQ(capture.reconfigurations.size(), 11u);
  const Reconfiguration first = capture.reconfigurations[0];
  EXPECT_EQ(first.sampleRate, 44100);
  EXPECT_EQ(first.points, 1024);
  const Reconfiguration last = capture.reconfigurations.back();
  EXPECT_EQ(last.samplesPerBuffer, 1472);
  EXPECT_EQ(last.sampleRate, 44100);
  EXPECT_EQ(last.points, 2048);
  EXPECT_EQ(last.bits, 8);
  EXPECT_EQ(capture.starts, 1);
  EXPECT_TRUE(capture.threadStopped);
  EXPECT_TRUE(capture.destroyed);
}

TEST(MainWindow, ToggleKeepsMonitoringOffWhenCaptureCannotStart) {
  FakeCapture capture;
  capture.captureStarts = false;
  std::string afterStart, afterPress;
  runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    HWND toggle = ::GetDlgItem(main, IDC_TOGGLE);
    eventually([&] { return windowText(toggle) != ""; });
    afterStart = windowText(toggle);
    ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_TOGGLE, 0), 0);
    eventually([&] { return capture.starts == 2; });
    afterPress = windowText(toggle);
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(afterStart, "Kantiq jetzt aktivieren");
  EXPECT_EQ(afterPress, "Kantiq jetzt aktivieren");
  EXPECT_EQ(capture.starts, 2);
}

TEST(MainWindow, ToggleSwitchesMonitoringOffAndOn) {
  FakeCapture capture;
  std::vector<std::string> captions;
  runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    HWND toggle = ::GetDlgItem(main, IDC_TOGGLE);
    eventually([&] { return windowText(toggle) == "Kantiq jetzt deaktivieren"; });
    for (int i = 0; i < 2; ++i) {
      const std::string before = windowText(toggle);
      ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_TOGGLE, BN_CLICKED), 0);
      eventually([&] { return windowText(toggle) != before; });
      captions.push_back(windowText(toggle));
    }
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  ASSERT_EQ(captions.size(), 2u);
  EXPECT_EQ(captions[0], "Kantiq jetzt aktivieren");
  EXPECT_EQ(captions[1], "Kantiq jetzt deaktivieren");
  EXPECT_EQ(capture.stops, 1);
  EXPECT_EQ(capture.starts, 2);
}

// Alarm lines arrive from a worker that holds the analysis lock, while the
// window's thread presses the toggle and reconfigures, each of which waits
// for that lock. Neither may wait for the other.
TEST(MainWindow, AlarmLinesUnderTheLockNeverWaitForTheWindow) {
  FakeCapture capture;
  constexpr int kAlarms = 200;
  std::atomic<int> raised{0};
  std::atomic<bool> go{false};
  std::atomic<int> roundsDuringAlarms{0};
  capture.work = [&](MonitorInterface& monitor, CaptureObserver&) {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < kAlarms; ++i) {
      std::lock_guard<std::recursive_mutex> hold(capture.lock);
      monitor.appendResultLine("ALARMIERUNG: Wache " + std::to_string(i));
      monitor.appendResultLine("08.12.2026 01:41:25: ");
      // The frame holds the lock a little while, as a real frame does.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      raised = i + 1;
    }
  };
  bool allRaised = false;
  std::string top;
  runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    go = true;
    while (raised < kAlarms) {
      ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_TOGGLE, 0), 0);
      ::PostMessageA(main, WM_HSCROLL, MAKEWPARAM(SB_LINELEFT, 0), 0);
      ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_BITS16, BN_CLICKED), 0);
      // Sent, so the window's thread must get through the lock to answer;
      // a deadlock hangs here and the test times out.
      ::SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_BITS8, BN_CLICKED), 0);
      ++roundsDuringAlarms;
    }
    allRaised = eventually([&] { return raised == kAlarms; });
    eventually([&] {
      top = windowText(::GetDlgItem(main, IDC_RESULT_BOX)).substr(0, 80);
      return top.find("Wache " + std::to_string(kAlarms - 1) + " ") != std::string::npos;
    });
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_TRUE(allRaised);
  EXPECT_EQ(top.substr(0, 25), "\r\n 08.12.2026 01:41:25:  ");
  EXPECT_NE(top.find("\r\n ALARMIERUNG: Wache 199 "), std::string::npos) << top;
  EXPECT_GT(roundsDuringAlarms, 10);
  EXPECT_GT(capture.reconfigurations.size(), 11u + 20u);
}

// A worker that does not end within its wait still uses the detector and the
// waveform view: closing leaves them alone but still ends the program.
TEST(MainWindow, WorkerThatDoesNotEndKeepsItsPartsAlive) {
  FakeCapture capture;
  capture.threadEndsInTime = false;
  const int code = runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    eventually([&] { return windowText(::GetDlgItem(main, IDC_SPEED_BOX)) == "29"; });
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(capture.threadStopped);
  EXPECT_FALSE(capture.destroyed);
}

TEST(MainWindow, FailedConstructionShowsTheTextAndClosingStillEndsTheProgram) {
  struct Case {
    std::function<void()> fail;
    const char* text;
  };
  const Case cases[] = {
      {[] { throw WinException{5, "No sound card installed !"}; }, "No sound card installed !"},
      {[] { throw "Out of memory"; }, "Unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeCapture capture;
    std::string boxText, picture, toggle;
    bool engineBuilt = false;
    const int code = runWindow(
        capture,
        [&] {
          HWND box = findTopLevel("Exception");
          ASSERT_NE(box, nullptr);
          boxText = windowText(::GetDlgItem(box, 0xFFFF));
          ::PostMessageA(box, WM_COMMAND, IDOK, 0);
          HWND main = findTopLevel("Brevalo Kantiq");
          ASSERT_NE(main, nullptr);
          picture = statusPicture(main);
          toggle = windowText(::GetDlgItem(main, IDC_TOGGLE));
          ::PostMessageA(main, WM_CLOSE, 0, 0);
        },
        [&](HWND, MonitorInterface& m, CaptureObserver& o, int32_t, int32_t rate,
            int32_t points) -> std::unique_ptr<MonitorEngine> {
          auto engine = std::make_unique<FakeAnalysis>(capture, m, o, points, rate);
          engineBuilt = true;
          c.fail();
          return engine;
        });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(boxText, c.text);
    // Nothing listens, and the window says so in full rather than half-drawn.
    EXPECT_EQ(picture, "red");
    EXPECT_EQ(toggle, "Kantiq jetzt aktivieren");
    EXPECT_TRUE(engineBuilt);
    EXPECT_TRUE(capture.destroyed);  // torn down again, nothing left running
  }
}

// The status picture follows what capture does, not only the toggle: green
// while a signal arrives; amber, each with its own text, while switched on
// but deaf, with no device, with an input that carries nothing, or with an
// alarm's SMS not sent; red when off. The input in use is named under the
// panels.
TEST(MainWindow, StatusPictureTellsWhetherCaptureDelivers) {
  FakeCapture capture;
  std::vector<std::string> seen;
  std::vector<HBITMAP> amberPictures;
  std::string label;
  runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    const auto settlesOn = [&](const char* picture) {
      const auto shown = [&] {
        return reinterpret_cast<HBITMAP>(::SendDlgItemMessageA(main, IDC_STATUS, BM_GETIMAGE, IMAGE_BITMAP, 0));
      };
      const HBITMAP before = shown();
      eventually([&] { return statusPicture(main) == picture && (std::string(picture) != "amber" || shown() != before); });
      seen.push_back(statusPicture(main));
      if (seen.back() == "amber") amberPictures.push_back(shown());
    };
    settlesOn("green");
    eventually([&] { return windowText(::GetDlgItem(main, IDC_INPUT_LABEL)) != ""; });
    label = windowText(::GetDlgItem(main, IDC_INPUT_LABEL));
    capture.delivering = false;
    settlesOn("amber");
    EXPECT_EQ(windowText(::GetDlgItem(main, IDC_TOGGLE)), "Kantiq jetzt deaktivieren");
    capture.inputMissing = true;
    settlesOn("amber");
    capture.delivering = true;
    capture.inputMissing = false;
    settlesOn("green");
    capture.silent = true;
    settlesOn("amber");
    capture.silent = false;
    settlesOn("green");
    capture.messagesWaiting = true;
    settlesOn("amber");
    capture.messagesWaiting = false;
    settlesOn("green");
    ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_TOGGLE, BN_CLICKED), 0);
    settlesOn("red");
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"green", "amber", "amber", "green", "amber", "green", "amber", "green",
                                            "red"}));
  ASSERT_EQ(amberPictures.size(), 4u);
  for (size_t a = 0; a < amberPictures.size(); ++a) {
    for (size_t b = a + 1; b < amberPictures.size(); ++b) EXPECT_NE(amberPictures[a], amberPictures[b]) << a << " " << b;
  }
  EXPECT_EQ(label, "Eingang: Line In (Fake Audio)");
}

TEST(MainWindow, AConfigurationWithoutAlarmsIsAnnounced) {
  for (const int32_t alarms : {0, 3}) {
    SCOPED_TRACE(alarms);
    FakeCapture capture;
    capture.alarms = alarms;
    std::string result;
    runWindow(capture, [&] {
      HWND main = findTopLevel("Brevalo Kantiq");
      ASSERT_NE(main, nullptr);
      eventually([&] { return windowText(::GetDlgItem(main, IDC_SPEED_BOX)) == "29"; });
      ::Sleep(2 * kStatusTimerMs);
      result = windowText(::GetDlgItem(main, IDC_RESULT_BOX));
      ::PostMessageA(main, WM_CLOSE, 0, 0);
    });
    if (alarms == 0) {
      EXPECT_EQ(result,
                "\r\n HINWEIS: In SMSConfig1.dat ist keine Alarmierung eingerichtet. Kantiq erkennt keinen Alarm. ");
    } else {
      EXPECT_EQ(result, "");
    }
  }
}

// What the capture chain reports from its own thread: two lines for an
// outage, each under its time, and its box one at a time on the window's
// thread, never on the reporting one.
TEST(MainWindow, OutagesAreListedAndTheirBoxesShownOneAtATime) {
  FakeCapture capture;
  std::atomic<bool> go{false};
  std::atomic<bool> reported{false};
  capture.work = [&](MonitorInterface&, CaptureObserver& observer) {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::recursive_mutex> hold(capture.lock);  // as the real thread does
    observer.listeningChanged(false, TimeValue::fromCalendar(2026, 12, 9, 3, 4, 5));
    observer.captureWarning("Fehler eins", "Recorder");
    observer.captureWarning("Fehler zwei", "Recorder");
    observer.listeningChanged(true, TimeValue::fromCalendar(2026, 12, 9, 3, 5, 6));
    reported = true;
  };
  std::string result, boxText;
  int mostBoxesAtOnce = 0;
  bool anotherBoxLater = false;
  runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    go = true;
    ASSERT_TRUE(eventually([&] { return reported.load(); }));
    HWND box = findTopLevel("Recorder");
    ASSERT_NE(box, nullptr);
    boxText = windowText(::GetDlgItem(box, 0xFFFF));
    // The second notice and the timer come by while it is open.
    for (int i = 0; i < 6; ++i) {
      mostBoxesAtOnce = std::max(mostBoxesAtOnce, countVisible("Recorder"));
      ::Sleep(kStatusTimerMs / 2);
    }
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    eventually([&] { return !::IsWindow(box); });
    for (int i = 0; i < 6; ++i) {
      anotherBoxLater = anotherBoxLater || countVisible("Recorder") > 0;
      ::Sleep(kStatusTimerMs / 2);
    }
    eventually([&] { return windowText(::GetDlgItem(main, IDC_RESULT_BOX)).find("wieder") != std::string::npos; });
    result = windowText(::GetDlgItem(main, IDC_RESULT_BOX));
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  // The newer reason replaces one not shown yet; one box, one at a time.
  EXPECT_EQ(boxText, "Fehler zwei");
  EXPECT_EQ(mostBoxesAtOnce, 1);
  EXPECT_FALSE(anotherBoxLater);
  EXPECT_EQ(result,
            "\r\n 09.12.2026 03:05:06:  "
            "\r\n Aufnahme läuft wieder: Kantiq wertet das Signal aus. "
            "\r\n 09.12.2026 03:04:05:  "
            "\r\n STÖRUNG: Vom Aufnahmegerät kommt kein Signal. Kantiq hört nicht mit und startet die Aufnahme neu. ");
}

// Closing while the worker is stuck in a frame: the worker goes on and still
// reaches the monitor (a restart, a result line, an outage) after the window
// has gone. Nothing it reaches may have been freed.
TEST(MainWindow, AWorkerStuckAtClosingMayStillReachTheMonitor) {
  FakeCapture capture;
  capture.threadEndsInTime = false;
  std::atomic<bool> done{false};
  capture.work = [&](MonitorInterface& monitor, CaptureObserver& observer) {
    while (!capture.threadStopped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the window is gone by now
    std::lock_guard<std::recursive_mutex> hold(capture.lock);
    monitor.restartCapture();
    monitor.appendResultLine("ALARMIERUNG: spät");
    observer.listeningChanged(false, TimeValue::now());
    observer.captureWarning("Fehler", "Recorder");
    done = true;
  };
  const int code = runWindow(capture, [&] {
    HWND main = findTopLevel("Brevalo Kantiq");
    ASSERT_NE(main, nullptr);
    eventually([&] { return windowText(::GetDlgItem(main, IDC_SPEED_BOX)) == "29"; });
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(eventually([&] { return done.load(); }));
  EXPECT_EQ(capture.restarts, 1);
  EXPECT_FALSE(capture.destroyed);
}

// The real capture chain over a sound driver in memory. Its one slow frame
// takes longer than closing waits, and then still reaches the monitor, as
// a detector does that raised an alarm and asks for a restart.
class SlowFrame final : public FrameConsumer {
 public:
  void onFrame(const SpectrumTransform&) override {
    if (!slow.exchange(false)) return;
    entered = true;
    ::Sleep(2600);
    monitor->appendResultLine("ALARMIERUNG: spät");
    restarted = monitor->restartCapture();
    done = true;
  }
  MonitorInterface* monitor = nullptr;
  std::atomic<bool> slow{false}, entered{false}, done{false}, restarted{false};
};

class RealChainEngine final : public MonitorEngine, public AnalysisControl {
 public:
  RealChainEngine(SlowFrame& frame, testing::FakeWaveIn& driver, testing::CapturedBoxes& boxes,
                  MonitorInterface& monitor, CaptureObserver& observer, int32_t spb, int32_t rate, int32_t points)
      : analysis_(frame, spb, rate, points, driver, boxes) {
    frame.monitor = &monitor;
    analysis_.setObserver(&observer);
  }
  AnalysisControl& analysis() override { return *this; }
  int32_t alarmCount() override { return 1; }
  void resumeThread() override { analysis_.resume(); }
  bool startCapture() override { return analysis_.startCapture(); }
  void stopCapture() override { analysis_.stopCapture(); }
  bool restartCapture() override { return analysis_.restartCapture(); }
  bool delivering() override { return analysis_.delivering(); }
  bool reconfigure(int32_t spb, int32_t rate, int32_t points, int32_t bits) override {
    return analysis_.reconfigure(spb, rate, points, bits);
  }
  bool stopThread() override { return analysis_.stopThread(); }
  bool transformShape(int32_t& points, int32_t& rate) override {
    const AnalysisThread::Status s = analysis_.status();
    points = s.points;
    rate = s.sampleRate;
    return points > 0;
  }

 private:
  AnalysisThread analysis_;
};

TEST(MainWindow, ClosingDuringAFrameLongerThanTheWaitNeitherCrashesNorHangs) {
  // Left to the end of the process: the worker uses them after the test.
  auto* driver = new testing::FakeWaveIn;
  auto* boxes = new testing::CapturedBoxes;
  auto* frame = new SlowFrame;
  FakeCapture unused;
  const auto started = std::chrono::steady_clock::now();
  const int code = runWindow(
      unused,
      [&] {
        HWND main = findTopLevel("Brevalo Kantiq");
        ASSERT_NE(main, nullptr);
        eventually([&] { return windowText(::GetDlgItem(main, IDC_SPEED_BOX)) == "29"; });
        ASSERT_TRUE(eventually([&] { return driver->queued() == 7u; }));
        frame->slow = true;
        driver->fill(1);
        ASSERT_TRUE(eventually([&] { return frame->entered.load(); }));
        ::PostMessageA(main, WM_CLOSE, 0, 0);
      },
      [&](HWND, MonitorInterface& m, CaptureObserver& o, int32_t spb, int32_t rate,
          int32_t points) -> std::unique_ptr<MonitorEngine> {
        return std::make_unique<RealChainEngine>(*frame, *driver, *boxes, m, o, spb, rate, points);
      });
  const auto closedAfter = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(frame->done.load()) << "closing waited for the whole frame";
  EXPECT_TRUE(eventually([&] { return frame->done.load(); }));
  EXPECT_TRUE(frame->restarted.load());  // the engine was still there to restart
  EXPECT_LT(closedAfter, std::chrono::seconds(10));
  EXPECT_EQ(driver->violations(), 0);
}

}  // namespace
}  // namespace kantiq
