#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>

#include "capture/watchdogs_win.h"
#include "detector/tone_detector.h"
#include "detector/watchdog_flag_test_seam.h"
#include "dsp/spectrum_transform.h"
#include "lib/eventually.h"

namespace kantiq {
namespace {

using namespace std::chrono_literals;

using test_support::eventually;

TEST(NtSystemInformationTest, AnswersTheThreeQueriesOfALoadMeasurement) {
  using S = SystemInformationSource;
  // The layout the load measurement reads is the platform's own.
  EXPECT_EQ(S::kBasicBytes, sizeof(SYSTEM_BASIC_INFORMATION));
  EXPECT_EQ(S::kBasicProcessorsAt, offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors));

  NtSystemInformation system;
  ASSERT_TRUE(system.available());
  alignas(8) unsigned char buffer[SystemInformationSource::kPerformanceBytes] = {};
  // The basic class is answered only when asked for its exact size: the
  // size for the other pointer width is refused.
  const uint32_t otherWidth = basicInformationLayout(sizeof(void*) == 8 ? 4 : 8).bytes;
  EXPECT_FALSE(system.query(S::kBasicClass, buffer, otherWidth));
  ASSERT_TRUE(system.query(S::kBasicClass, buffer, S::kBasicBytes));
  SYSTEM_BASIC_INFORMATION basic;
  std::memcpy(&basic, buffer, sizeof basic);
  EXPECT_GE(basic.NumberOfProcessors, 1);
  EXPECT_EQ(buffer[S::kBasicProcessorsAt], basic.NumberOfProcessors);
  ASSERT_TRUE(system.query(SystemInformationSource::kTimeOfDayClass, buffer, 32));
  int64_t now = 0;
  std::memcpy(&now, buffer + 8, 8);
  EXPECT_GT(now, 0);
  ASSERT_TRUE(system.query(SystemInformationSource::kPerformanceClass, buffer, 312));

  const int32_t load = measureLoad(system, 200);
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);
}

TEST(WatchdogStarterTest, RestartsPeriodicallyAndSetsTheHeapVariableForChildren) {
  // The threads run until the process ends, so the detector must as well.
  auto* detector = new ToneDetector;
  detector->restartInterval = 100;
  detector->loadHighThreshold = 1000;  // never armed: only the periodic thread asks
  detector->loadLowThreshold = 0;

  // Started the way the program starts them: by the first frame of the
  // process, and by no later one.
  SystemWatchdogStarter starter;
  detector->watchdogStarter = &starter;
  resetWatchdogFlagForTesting();
  const SpectrumTransform silence(256, 11025);
  detector->processFrame(silence);
  EXPECT_EQ(starter.threadsStarted(), 2);
  detector->processFrame(silence);
  EXPECT_EQ(starter.threadsStarted(), 2);

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_TRUE(eventually([&] { return detector->restartRequested.load() == 1; }));
    detector->restartRequested.store(0);
  }

  char value[64] = {};
  EXPECT_TRUE(eventually([&] {
    return GetEnvironmentVariableA(kHeapSelectVariable, value, sizeof value) > 0;
  }));
  EXPECT_STREQ(value, kHeapSelectValue);

  // A program started now inherits it.
  char command[] =
      "cmd.exe /c if \"%__MSVCRT_HEAP_SELECT%\"==\"__GLOBAL_HEAP_SELECTED,1\" (exit 0) else (exit 3)";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
}

// The threads outlive any detector. Once it is destroyed they must not
// write into the memory it had: here a buffer that is checked afterwards.
TEST(WatchdogStarterTest, ThreadsLeaveADestroyedDetectorAlone) {
  alignas(ToneDetector) static unsigned char memory[sizeof(ToneDetector)];
  auto* detector = new (memory) ToneDetector;
  detector->restartInterval = 5;
  detector->loadHighThreshold = 1000;
  detector->loadLowThreshold = 0;
  SystemWatchdogStarter starter;
  detector->watchdogStarter = &starter;
  starter.startWatchdogs(*detector);
  ASSERT_TRUE(eventually([&] { return detector->restartRequested.load() == 1; }));

  detector->~ToneDetector();
  std::memset(memory, 0xA5, sizeof memory);
  std::this_thread::sleep_for(200ms);  // forty periods
  size_t touched = 0;
  for (unsigned char b : memory) touched += b != 0xA5;
  EXPECT_EQ(touched, 0u);
}

}  // namespace
}  // namespace kantiq
