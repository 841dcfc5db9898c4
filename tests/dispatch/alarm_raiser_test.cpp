#include "dispatch/alarm_raiser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "detector/detector_rig.h"
#include "detector/tone_detector.h"
#include "dispatch/alarm_log.h"

namespace kantiq {
namespace {

namespace fs = std::filesystem;

class RecordingMonitor final : public MonitorInterface {
 public:
  bool restartCapture() override { return true; }
  void appendResultLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

class FixedClock final : public Clock {
 public:
  TimeValue now() override { return time; }
  int64_t tickMs() override { return 0; }  // alarm raising measures nothing
  TimeValue time = TimeValue::fromCalendar(2026, 12, 8, 1, 41, 25, 512);
};

// Stands in for the dispatch thread: takes the hand-over on a thread of its
// own, as a job does, and remembers what it took.
class ThreadLauncher final : public DispatchJobLauncher {
 public:
  ~ThreadLauncher() override {
    for (std::thread& t : threads_) t.join();
  }
  bool startJob(ToneDetector& detector, std::shared_ptr<DispatchHandover> handover) override {
    if (failNext) {
      failNext = false;
      return false;
    }
    threads_.emplace_back([this, &detector, handover] {
      std::this_thread::sleep_for(std::chrono::milliseconds(12));
      HandedOverAlarm alarm = takeHandover(*handover, detector);
      std::lock_guard<std::mutex> lock(mutex_);
      taken.push_back(alarm);
    });
    return true;
  }
  std::vector<HandedOverAlarm> takenSoFar() {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken;
  }
  bool failNext = false;

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::vector<HandedOverAlarm> taken;
};

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class AlarmRaising : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kantiq-raise-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    logPath_ = (dir_ / "KantiqLog.txt").string();
    detector_->monitor = &monitor_;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string logPath_;
  RecordingMonitor monitor_;
  FixedClock clock_;
  std::unique_ptr<ToneDetector> detector_ = std::make_unique<ToneDetector>();
};

TEST(AlarmLog, StampHasTwentyOneCharacters) {
  EXPECT_EQ(formatAlarmStamp(TimeValue::fromCalendar(2026, 12, 8, 1, 41, 25, 999)), "08.12.2026 01:41:25: ");
  EXPECT_EQ(formatAlarmStamp(TimeValue::invalid()), "Invalid datetime");
  EXPECT_EQ(formatAlarmStamp(TimeValue::null()), "");
}

TEST_F(AlarmRaising, WritesEachTextUnchangedToBoxAndLog) {
  ThreadLauncher launcher;
  AlarmRaiser raiser(logPath_, launcher, &clock_);
  const std::string texts[] = {"100% Einsatz", "C:\\Wache\\1", "Tab\there", "", "Gr\xFC\xDF" "e"};
  std::string expectedLog;
  for (const std::string& t : texts) {
    raiser.raiseAlarm(*detector_, t);
    expectedLog += "08.12.2026 01:41:25: ALARMIERUNG: " + t + "\r\n";
  }
  EXPECT_EQ(readAll(logPath_), expectedLog);
  ASSERT_EQ(monitor_.lines.size(), 10u);
  EXPECT_EQ(monitor_.lines[0], "ALARMIERUNG: 100% Einsatz");
  EXPECT_EQ(monitor_.lines[1], "08.12.2026 01:41:25: ");
  EXPECT_EQ(monitor_.lines[6], "ALARMIERUNG: ");
  // Every alarm was handed over, with its own turn, the empty one too.
  const auto taken = launcher.takenSoFar();
  ASSERT_EQ(taken.size(), 5u);
  for (size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ(taken[i].text, texts[i]);
    EXPECT_EQ(taken[i].turn, static_cast<int32_t>(i + 1));
  }
}

TEST_F(AlarmRaising, TwoAlarmsInARowGetConsecutiveTurnsAndRestartCapture) {
  ThreadLauncher launcher;
  AlarmRaiser raiser(logPath_, launcher, &clock_);
  raiser.raiseAlarm(*detector_, "Erste");
  EXPECT_EQ(detector_->restartRequested.load(), 1);
  detector_->restartRequested.store(0);
  clock_.time = TimeValue::fromCalendar(2026, 12, 8, 23, 5, 9);
  raiser.raiseAlarm(*detector_, "Zweite");
  EXPECT_EQ(detector_->restartRequested.load(), 1);

  const std::vector<std::string> expectedBox = {"ALARMIERUNG: Erste", "08.12.2026 01:41:25: ",
                                                "ALARMIERUNG: Zweite", "08.12.2026 23:05:09: "};
  EXPECT_EQ(monitor_.lines, expectedBox);
  EXPECT_EQ(readAll(logPath_),
            "08.12.2026 01:41:25: ALARMIERUNG: Erste\r\n08.12.2026 23:05:09: ALARMIERUNG: Zweite\r\n");
  const auto taken = launcher.takenSoFar();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].turn, 1);
  EXPECT_EQ(taken[1].turn, 2);
  EXPECT_FALSE(raiser.handover().handoverPending.load());
}

TEST_F(AlarmRaising, AppendsAfterALastLineWithoutLineEnd) {
  appendToFile(logPath_, "alt\r\nohne Zeilenende");
  ThreadLauncher launcher;
  AlarmRaiser raiser(logPath_, launcher, &clock_);
  raiser.raiseAlarm(*detector_, "neu");
  EXPECT_EQ(readAll(logPath_), "alt\r\nohne Zeilenende08.12.2026 01:41:25: ALARMIERUNG: neu\r\n");
}

TEST_F(AlarmRaising, UnwritableLogStillShowsAndDispatches) {
  ThreadLauncher launcher;
  // A log path inside a folder that does not exist cannot be opened.
  AlarmRaiser raiser((dir_ / "missing" / "KantiqLog.txt").string(), launcher, &clock_);
  raiser.raiseAlarm(*detector_, "trotzdem");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_EQ(monitor_.lines.size(), 2u);
  const auto taken = launcher.takenSoFar();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].text, "trotzdem");
}

TEST_F(AlarmRaising, JobThatCannotStartIsReportedAndGivesItsTurnBack) {
  ThreadLauncher launcher;
  AlarmRaiser raiser(logPath_, launcher, &clock_);
  launcher.failNext = true;
  raiser.raiseAlarm(*detector_, "verloren?");  // returns without waiting
  EXPECT_FALSE(raiser.handover().handoverPending.load());
  EXPECT_EQ(raiser.handover().raisedAlarmCount, 0);
  raiser.raiseAlarm(*detector_, "danach");

  const std::vector<std::string> expectedBox = {
      "ALARMIERUNG: verloren?", "08.12.2026 01:41:25: ", "ALARMIERUNG NICHT WEITERGELEITET: verloren?",
      "08.12.2026 01:41:25: ", "ALARMIERUNG: danach", "08.12.2026 01:41:25: "};
  EXPECT_EQ(monitor_.lines, expectedBox);
  EXPECT_EQ(readAll(logPath_),
            "08.12.2026 01:41:25: ALARMIERUNG: verloren?\r\n"
            "08.12.2026 01:41:25: ALARMIERUNG NICHT WEITERGELEITET: verloren?\r\n"
            "08.12.2026 01:41:25: ALARMIERUNG: danach\r\n");
  // The next job takes the turn the failed one gave back, so it does not wait
  // for a job that never ran.
  const auto taken = launcher.takenSoFar();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].turn, 1);
}

TEST_F(AlarmRaising, TwoAlarmsCompletedInOneFrameThroughTheDetector) {
  testing::DetectorRig rig;
  rig.addAlarm("Zug 1", {1000});
  rig.addAlarm("Zug 2", {1000});
  ThreadLauncher launcher;
  AlarmRaiser raiser(logPath_, launcher, &clock_);
  rig.detector->alarmSink = &raiser;
  rig.frame({{10, 50}});

  const std::vector<std::string> expectedBox = {"ALARMIERUNG: Zug 1", "08.12.2026 01:41:25: ",
                                                "ALARMIERUNG: Zug 2", "08.12.2026 01:41:25: "};
  EXPECT_EQ(rig.monitor.lines, expectedBox);
  EXPECT_EQ(readAll(logPath_),
            "08.12.2026 01:41:25: ALARMIERUNG: Zug 1\r\n08.12.2026 01:41:25: ALARMIERUNG: Zug 2\r\n");
  const auto taken = launcher.takenSoFar();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].text, "Zug 1");
  EXPECT_EQ(taken[0].turn, 1);
  EXPECT_EQ(taken[1].turn, 2);
  // The jobs asked for a restart while the frame was raising: it happens at
  // the end of that same frame, once.
  EXPECT_EQ(rig.monitor.restarts, 1);
}

TEST(DispatchTurns, JobsRunOneAfterAnotherInTheOrderRaised) {
  auto handover = std::make_shared<DispatchHandover>();
  auto detector = std::make_unique<ToneDetector>();
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<std::thread> jobs;
  for (int i = 1; i <= 4; ++i) {
    handover->pendingAlarmText = "alarm " + std::to_string(i);
    ++handover->raisedAlarmCount;
    handover->handoverPending = true;
    // Later jobs begin their waits first: the turn number alone orders them.
    jobs.emplace_back([&, i] {
      const HandedOverAlarm alarm = takeHandover(*handover, *detector);
      std::this_thread::sleep_for(std::chrono::milliseconds(20 * (5 - i)));
      waitForTurn(*handover, alarm.turn, 2);
      {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back("start " + alarm.text);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back("end " + alarm.text);
      }
      finishTurn(*handover);
    });
    while (handover->handoverPending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (std::thread& t : jobs) t.join();
  const std::vector<std::string> expected = {"start alarm 1", "end alarm 1", "start alarm 2", "end alarm 2",
                                             "start alarm 3", "end alarm 3", "start alarm 4", "end alarm 4"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(handover->completedDispatchCount.load(), 4);
}

}  // namespace
}  // namespace kantiq
