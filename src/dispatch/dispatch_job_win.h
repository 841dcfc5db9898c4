#pragma once

// The dispatch job (Win32): one thread per raised alarm that runs the sender
// "S.exe" from the executable's folder once it is the alarm's turn.

#include <cstdint>
#include <string>

#include "dispatch/dispatch_handover.h"

namespace kantiq {

struct DispatchJobTiming {
  int32_t turnPollMs = 3000;               // between checks for the job's turn
  uint32_t senderWaitLimitMs = 18'000'000;  // a sender still running then is left alone
};

// How one run of the sender went.
struct SenderRunResult {
  bool started = false;
  bool ended = false;          // false: not started, or still running at the limit
  uint32_t exitCode = 0;       // when it ended
  uint64_t outputBytes = 0;    // read from its output
  std::string outputTail;      // the last kSenderOutputTailBytes of it
};

inline constexpr size_t kSenderOutputTailBytes = 4096;

// Starts the sender by its full path with the given command line: hidden,
// standard output and error on a pipe (only the write end is inherited), no
// standard input. Reads the pipe empty while it waits, at most waitLimitMs,
// and keeps the end of what it read (the sender's summary line is last).
SenderRunResult runSender(const std::string& programPath, const std::string& commandLine,
                          uint32_t waitLimitMs);

// Starts each job on a new thread; no handle to it is kept.
class ThreadDispatchJobLauncher final : public DispatchJobLauncher {
 public:
  explicit ThreadDispatchJobLauncher(std::string senderFolder, DispatchJobTiming timing = {});
  bool startJob(ToneDetector& detector, std::shared_ptr<DispatchHandover> handover) override;

 private:
  std::string senderFolder_;
  DispatchJobTiming timing_;
};

}  // namespace kantiq
