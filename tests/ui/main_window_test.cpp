// The main window with its real dialog template and AlarmMonitor, driven
// from a second thread, over a capture chain that only records what it is
// asked to do (and, like the real one, takes a recursive lock for each
// operation).

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/win_exception.h"
#include "resources/resource_ids.h"
#include "ui/alarm_monitor_win.h"

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
  bool threadStopped = false;
  bool threadEndsInTime = true;
  bool destroyed = false;
  int32_t points = 0, rate = 0;
  // Runs on the fake worker thread once the monitor resumes it.
  std::function<void(MonitorInterface&)> work;
};

class FakeAnalysis final : public AnalysisControl, public MonitorEngine {
 public:
  FakeAnalysis(FakeCapture& c, MonitorInterface& monitor, int32_t points, int32_t rate)
      : c_(c), monitor_(monitor) {
    c_.points = points;
    c_.rate = rate;
  }
  ~FakeAnalysis() override {
    if (worker_.joinable()) worker_.join();
    c_.destroyed = true;
  }
  AnalysisControl& analysis() override { return *this; }
  void resumeThread() override {
    if (c_.work) worker_ = std::thread([this] { c_.work(monitor_); });
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
  bool reconfigure(int32_t spb, int32_t rate, int32_t points, int32_t bits) override {
    std::lock_guard<std::recursive_mutex> hold(c_.lock);
    c_.reconfigurations.push_back({spb, rate, points, bits});
    c_.points = points;
    c_.rate = rate;
    return true;
  }
  bool stopThread() override {
    if (worker_.joinable()) worker_.join();
    c_.threadStopped = true;
    return c_.threadEndsInTime;
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
  std::thread worker_;
};

std::string windowText(HWND w) {
  char text[6000] = {};
  ::GetWindowTextA(w, text, sizeof text);
  return text;
}

// Polls until the condition holds; false after about 20 s (a hang).
bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    ::Sleep(10);
  }
  return false;
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
                               : EngineFactory([&](HWND, MonitorInterface& m, int32_t, int32_t rate,
                                                   int32_t points) -> std::unique_ptr<MonitorEngine> {
                                   return std::make_unique<FakeAnalysis>(capture, m, points, rate);
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
  capture.work = [&](MonitorInterface& monitor) {
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
    std::string boxText;
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
          ::PostMessageA(main, WM_CLOSE, 0, 0);
        },
        [&](HWND, MonitorInterface& m, int32_t, int32_t rate, int32_t points) -> std::unique_ptr<MonitorEngine> {
          auto engine = std::make_unique<FakeAnalysis>(capture, m, points, rate);
          engineBuilt = true;
          c.fail();
          return engine;
        });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(boxText, c.text);
    EXPECT_TRUE(engineBuilt);
    EXPECT_TRUE(capture.destroyed);  // torn down again, nothing left running
  }
}

}  // namespace
}  // namespace kantiq
