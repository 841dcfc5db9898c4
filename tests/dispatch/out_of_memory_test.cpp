// A dispatch job that runs out of memory while it takes its alarm over: the
// raiser must be released, the turn taken and finished, the failure logged,
// and the program must live on. Allocations of one chosen size fail on every
// thread but the test's own, which is how a job thread meets them.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include "detector/tone_detector.h"
#include "dispatch/dispatch_handover.h"

#ifdef _WIN32
#include <windows.h>

#include "dispatch/alarm_log.h"
#include "dispatch/alarm_raiser.h"
#include "dispatch/dispatch_job_win.h"
#endif

namespace {

std::atomic<std::size_t> failingSize{0};
std::atomic<std::thread::id> sparedThread{};

// The text taken over is this long, so its copy asks for one byte more.
constexpr std::size_t kTextBytes = 777;

struct FailingAllocations {
  FailingAllocations() {
    sparedThread = std::this_thread::get_id();
    failingSize = kTextBytes + 1;
  }
  ~FailingAllocations() { failingSize = 0; }
};

}  // namespace

// The replacement pair uses malloc and free on both sides, which GCC cannot
// see through.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t bytes) {
  if (bytes == failingSize.load() && std::this_thread::get_id() != sparedThread.load()) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace kantiq {
namespace {

TEST(OutOfMemory, AJobThatCannotCopyTheTextStillReleasesTheRaiserAndKeepsItsTurn) {
  auto detector = std::make_unique<ToneDetector>();
  DispatchHandover handover;
  handover.pendingAlarmText = std::string(kTextBytes, 'x');
  handover.raisedAlarmCount = 3;
  handover.handoverPending = true;
  HandedOverAlarm taken;
  {
    FailingAllocations failing;
    std::thread job([&] { taken = takeHandover(handover, *detector); });
    job.join();
  }
  EXPECT_TRUE(taken.textLost);
  EXPECT_EQ(taken.turn, 3);
  EXPECT_FALSE(handover.handoverPending.load());  // the raiser goes on
  EXPECT_EQ(detector->restartRequested.load(), 1);

  // With memory the same hand-over brings the text.
  handover.handoverPending = true;
  std::thread job([&] { taken = takeHandover(handover, *detector); });
  job.join();
  EXPECT_FALSE(taken.textLost);
  EXPECT_EQ(taken.text, std::string(kTextBytes, 'x'));
}

#ifdef _WIN32
std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The real job threads, with no sender in their folder: an alarm whose text
// could not be taken over is logged as not passed on, and the next alarm
// still gets its turn and is handled as usual.
TEST(OutOfMemory, AJobThreadWithoutMemoryNeitherEndsTheProgramNorHoldsLaterAlarms) {
  char temp[MAX_PATH];
  ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string folder = std::string(temp) + "kantiq-oom-" + std::to_string(::GetCurrentProcessId());
  ::CreateDirectoryA(folder.c_str(), nullptr);
  std::string log = folder;
  log.append(kAlarmLogFileSpec);
  ::DeleteFileA(log.c_str());

  DispatchJobTiming timing;
  timing.turnPollMs = 10;
  auto launcher = std::make_unique<ThreadDispatchJobLauncher>(folder, timing);
  auto raiser = std::make_unique<AlarmRaiser>(log, *launcher);
  auto detector = std::make_unique<ToneDetector>();
  {
    FailingAllocations failing;
    raiser->raiseAlarm(*detector, std::string(kTextBytes, 'x'));  // returns: the raiser was released
  }
  raiser->raiseAlarm(*detector, "Zug 2");

  const std::string lost = "ALARMIERUNG NICHT WEITERGELEITET: (Alarmtext nicht übernommen: zu wenig Arbeitsspeicher)\r\n";
  const std::string second = "ALARMIERUNG NICHT WEITERGELEITET: Zug 2\r\n";
  std::string text;
  for (int i = 0; i < 500; ++i) {
    text = readAll(log);
    if (text.find(second) != std::string::npos) break;
    ::Sleep(10);
  }
  EXPECT_NE(text.find(lost), std::string::npos) << text;
  EXPECT_NE(text.find(second), std::string::npos) << text;
  EXPECT_LT(text.find(lost), text.find(second)) << "the second alarm waited for the first one's turn";
  std::string raised = "ALARMIERUNG: ";
  raised.append(kTextBytes, 'x');
  raised += "\r\n";
  EXPECT_NE(text.find(raised), std::string::npos);
  ::DeleteFileA(log.c_str());
  ::RemoveDirectoryA(folder.c_str());
  // Jobs may still be polling: the launcher and raiser stay to the end of the process.
  static_cast<void>(launcher.release());
  static_cast<void>(raiser.release());
  static_cast<void>(detector.release());
}
#endif

}  // namespace
}  // namespace kantiq
