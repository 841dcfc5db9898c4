#pragma once

// The dispatch job (Win32): one thread per raised alarm that runs the sender
// "S.exe" from the executable's folder once it is the alarm's turn.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/dispatch_handover.h"
#include "win32/owners_win.h"

namespace kantiq {

struct DispatchJobTiming {
  int32_t turnPollMs = 100;                // between checks for the job's turn
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
// started, when given, is called as soon as the sender runs.
SenderRunResult runSender(const std::string& programPath, const std::string& commandLine,
                          uint32_t waitLimitMs, const std::function<void()>& started = {});

// Runs the sender for whatever waits in its outbox, now and then, while
// messages wait (OutboxRetryPace), on a thread of its own, never while an
// alarm's job is still to run. The window's timer drives it.
class OutboxRetrier {
 public:
  OutboxRetrier(std::string senderFolder, std::shared_ptr<DispatchHandover> handover,
                DispatchJobTiming timing = {});
  // A run still going is left to end by itself.
  ~OutboxRetrier();
  OutboxRetrier(const OutboxRetrier&) = delete;
  OutboxRetrier& operator=(const OutboxRetrier&) = delete;

  // Looks whether messages wait in the outbox now (at start).
  void lookAtOutbox();
  // Starts a run when one is due.
  void tick();
  // Messages wait undelivered.
  bool waiting();

 private:
  struct Run;
  static DWORD WINAPI runEntry(LPVOID parameter);
  std::string senderFolder_;
  std::shared_ptr<DispatchHandover> handover_;
  DispatchJobTiming timing_;
  std::shared_ptr<Run> run_;
  UniqueHandle thread_;
};

// How a notice's run of the sender went.
struct NoticeRunResult {
  std::string text;  // the notice
  bool started = false;
  bool ended = false;
  uint32_t exitCode = 0;
  std::string summary;  // the sender's summary line, or why there is none
  DeliveryState state = DeliveryState::Running;  // what became of it
};

// Hands notices to the sender, one run at a time on a thread of its own,
// only while no other run of the sender goes and no alarm's job is still to
// run: an alarm always goes first. The window's timer drives it.
class NoticeRunner {
 public:
  NoticeRunner(std::string senderFolder, std::shared_ptr<DispatchHandover> handover, DispatchJobTiming timing = {});
  // A run still going is left to end by itself.
  ~NoticeRunner();
  NoticeRunner(const NoticeRunner&) = delete;
  NoticeRunner& operator=(const NoticeRunner&) = delete;

  // A notice could be started now.
  bool mayStart();
  // Starts the sender for the notice; false when it may not start now or
  // could not.
  bool start(std::string text);
  // How the last run went, once it has ended; once.
  std::optional<NoticeRunResult> take();

 private:
  struct Run;
  static DWORD WINAPI runEntry(LPVOID parameter);
  std::string senderFolder_;
  std::shared_ptr<DispatchHandover> handover_;
  DispatchJobTiming timing_;
  std::shared_ptr<Run> run_;
  bool taken_ = true;
  UniqueHandle thread_;
};

// Every alarm raised so far is handed to the sender (its job has started
// it, or gave up), waiting at most limitMs: jobs still waiting for their
// turn are told to start theirs at once. For closing the program.
bool handOverPendingAlarms(DispatchHandover& handover, uint32_t limitMs);

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
