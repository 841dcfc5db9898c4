#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dispatch/dispatch_job_win.h"
#include "dispatch/sender_protocol.h"
#include "dispatch/test_message_verdict.h"
#include "win32/executable_path_win.h"

namespace kantiq {
namespace {

TEST(DispatchJob, MissingSenderEndsTheRunAtOnce) {
  const std::string folder = executableFolder() + "\\no such folder";
  const SenderRunResult result = runSender(senderPath(folder), buildAlarmCommandLine(folder, "x"), 60000);
  EXPECT_FALSE(result.started);
  EXPECT_FALSE(result.ended);
}

// A real process stands in for the sender: the system's command prompt.
std::string commandPrompt() {
  char folder[MAX_PATH] = {};
  ::GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\cmd.exe";
}

TEST(DispatchJob, TheSendersExitCodeAndLastLineAreKept) {
  const SenderRunResult r =
      runSender(commandPrompt(), "cmd /c echo erste Zeile& echo S.exe: Test-SMS an 0171 gesendet.& exit 3", 60000);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(senderSummaryLine(r.outputTail), "Test-SMS an 0171 gesendet.");

  // Much output: only its end is kept, and that holds the last line.
  const SenderRunResult big =
      runSender(commandPrompt(), "cmd /c for /l %i in (1,1,3000) do @echo Zeile %i", 60000);
  ASSERT_TRUE(big.ended);
  EXPECT_GT(big.outputBytes, kSenderOutputTailBytes);
  EXPECT_EQ(big.outputTail.size(), kSenderOutputTailBytes);
  EXPECT_EQ(senderSummaryLine(big.outputTail), "Zeile 3000");
}

}  // namespace
}  // namespace kantiq
