#include "dispatch/dispatch_job_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "detector/tone_detector.h"
#include "dispatch/alarm_delivery.h"
#include "dispatch/alarm_log.h"
#include "dispatch/sender_protocol.h"
#include "win32/owners_win.h"

namespace kantiq {
namespace {

// How long the wait for the sender sleeps while its output pipe is empty.
constexpr DWORD kDrainPollMs = 10;
constexpr DWORD kDrainChunkBytes = 4096;

// What a job thread is started with; the thread owns it.
struct JobStart {
  ToneDetector* detector;
  std::shared_ptr<DispatchHandover> handover;
  std::string senderFolder;
  DispatchJobTiming timing;
};

// A sender that cannot be started (missing, or no program) would leave an
// alarm that never went out looking like one that did: the log says so.
void logNotDispatched(const std::string& folder, const std::string& text) {
  std::string logPath;
  logPath.reserve(folder.size() + kAlarmLogFileSpec.size());
  logPath.append(folder).append(kAlarmLogFileSpec);
  appendToFile(logPath, buildAlarmLogLine(formatAlarmStamp(TimeValue::now()), kNotDispatchedPrefix, text));
}

// Logged when not even the alarm's text could be taken over.
constexpr char kTextLostNote[] = "(Alarmtext nicht übernommen: zu wenig Arbeitsspeicher)";

// One raised alarm: take it over, wait for its turn, run the sender, and
// count the turn finished so the next job may go. Nothing escapes it: an
// exception leaving a thread would end the whole program.
DWORD WINAPI alertDispatchJob(LPVOID parameter) {
  const std::unique_ptr<JobStart> start(static_cast<JobStart*>(parameter));
  DispatchHandover& handover = *start->handover;
  const HandedOverAlarm alarm = takeHandover(handover, *start->detector);
  try {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    if (handover.listener != nullptr && !alarm.textLost) handover.listener->alarmRaised(alarm.text);
  } catch (...) {
    // Out of memory: the notices lose this alarm's time, the alarm goes on.
  }
  bool waited = false;
  bool handed = false;
  const auto handOver = [&] {
    if (!handed) handover.handedToSender.fetch_add(1);
    handed = true;
  };
  try {
    if (alarm.textLost) throw std::bad_alloc();
    const std::string commandLine = buildAlarmCommandLine(start->senderFolder, alarm.text);
    waitForTurn(handover, alarm.turn, start->timing.turnPollMs);
    waited = true;
    {
      std::lock_guard<std::mutex> held(handover.deliveryMutex);
      handover.pace.runBegan();
    }
    const SenderRunResult run = runSender(senderPath(start->senderFolder), commandLine,
                                          start->timing.senderWaitLimitMs, handOver);
    handOver();
    if (!run.started) logNotDispatched(start->senderFolder, alarm.text);
    const DeliveryReport report =
        judgeAlarmDelivery(alarm.text, run.started, run.ended, run.exitCode, run.outputTail);
    {
      std::lock_guard<std::mutex> held(handover.deliveryMutex);
      handover.pace.runEnded(report.state, static_cast<int64_t>(::GetTickCount64()));
      if (handover.listener != nullptr) {
        handover.listener->alarmRun(alarm.text, report.state,
                                    senderRunSummary(run.started, run.ended, run.exitCode, run.outputTail));
      }
    }
    // What became of the messages: in the window, and beside the alarm's
    // line in the log (a sender that never started is logged above).
    const std::string stamp = formatAlarmStamp(TimeValue::now());
    handover.tellMonitor(report.line, stamp);
    if (run.started) {
      std::string logPath = start->senderFolder;
      logPath.append(kAlarmLogFileSpec);
      appendToFile(logPath,
                   buildAlarmLogLine(stamp, report.logPrefix, report.logText));
    }
  } catch (...) {
    // Out of memory: this alarm did not go out. Say so if there is memory
    // for that, and let later alarms still get their turn.
    try {
      logNotDispatched(start->senderFolder, alarm.textLost ? std::string(kTextLostNote) : alarm.text);
    } catch (...) {
    }
    if (!waited) waitForTurn(handover, alarm.turn, start->timing.turnPollMs);
  }
  handOver();
  finishTurn(handover);
  return 0;
}

// Ways to name a program whose full path is too long to start it by: its
// 8.3 form, first with the "\\?\" prefix (which the short-path lookup needs
// and Wine needs to start it), then without. Empty when there is no 8.3 form.
std::vector<std::string> shortFormsOf(const std::string& path) {
  const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (wideLength <= 1) return {};
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), wideLength);
  wide.resize(static_cast<size_t>(wideLength) - 1);
  const std::wstring longPrefix = L"\\\\?\\";
  if (wide.compare(0, longPrefix.size(), longPrefix) != 0) wide = longPrefix + wide;

  std::wstring shortWide(wide.size() + 1, L'\0');
  const DWORD n = ::GetShortPathNameW(wide.c_str(), shortWide.data(), static_cast<DWORD>(shortWide.size()));
  if (n == 0 || n >= shortWide.size()) return {};
  shortWide.resize(n);

  const int narrowLength =
      ::WideCharToMultiByte(CP_ACP, 0, shortWide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (narrowLength <= 1) return {};
  std::string prefixed(static_cast<size_t>(narrowLength), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, shortWide.c_str(), -1, prefixed.data(), narrowLength, nullptr, nullptr);
  prefixed.resize(static_cast<size_t>(narrowLength) - 1);
  std::vector<std::string> forms{prefixed};
  if (prefixed.compare(0, 4, "\\\\?\\") == 0 && prefixed.size() - 4 < MAX_PATH) forms.push_back(prefixed.substr(4));
  return forms;
}

// Starts entry on a thread of its own with a share of run, once the thread
// of the run before (which sets its done flag last) has ended. False, with
// nothing started, when the thread could not be made.
template <typename Run>
bool startRunThread(UniqueHandle& thread, const std::shared_ptr<Run>& run, LPTHREAD_START_ROUTINE entry) {
  if (thread) {
    ::WaitForSingleObject(thread.get(), INFINITE);
    thread = UniqueHandle();
  }
  auto* share = new std::shared_ptr<Run>(run);
  thread = UniqueHandle(::CreateThread(nullptr, 0, entry, share, 0, nullptr));
  if (thread) return true;
  delete share;
  return false;
}

// The pipe the sender writes its output into. Declared so that the read end
// closes before the write end.
struct OutputPipe {
  UniqueHandle writeEnd;
  UniqueHandle readEnd;
};

// Only the write end is inheritable: the sender has no use for the read end.
// Both empty when the pipe cannot be made.
OutputPipe makeOutputPipe() {
  OutputPipe pipe;
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  HANDLE readRaw = nullptr;
  HANDLE writeRaw = nullptr;
  if (::CreatePipe(&readRaw, &writeRaw, &inheritable, 0)) {
    pipe.readEnd = UniqueHandle(readRaw);
    pipe.writeEnd = UniqueHandle(writeRaw);
    ::SetHandleInformation(pipe.readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  }
  return pipe;
}

// Hidden, standard output and error on the pipe's write end, no standard
// input. Without a pipe the sender still runs, with a hidden console of its
// own.
STARTUPINFOA hiddenStartup(const OutputPipe& pipe) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (pipe.writeEnd) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = pipe.writeEnd.get();
    startup.hStdError = pipe.writeEnd.get();
  }
  return startup;
}

// Starts the program by its full path first; one too long to start a
// program by in its short forms. False when no form starts it.
bool startProgram(const std::string& programPath, const std::string& commandLine, STARTUPINFOA& startup,
                  PROCESS_INFORMATION& started) {
  std::vector<std::string> names{programPath};
  if (programPath.size() >= MAX_PATH) {
    for (std::string& form : shortFormsOf(programPath)) names.push_back(std::move(form));
  }
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  for (const std::string& name : names) {
    if (::CreateProcessA(name.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &started) != FALSE) {
      return true;
    }
  }
  return false;
}

// Reads what the pipe holds now into the result's count and tail; the
// number of bytes read. Nothing without a read end.
DWORD drainOutput(HANDLE readEnd, std::vector<char>& chunk, SenderRunResult& result) {
  DWORD available = 0;
  DWORD got = 0;
  if (readEnd != nullptr && ::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) &&
      available > 0) {
    if (::ReadFile(readEnd, chunk.data(), std::min(available, kDrainChunkBytes), &got, nullptr)) {
      result.outputBytes += got;
      result.outputTail.append(chunk.data(), got);
      if (result.outputTail.size() > kSenderOutputTailBytes)
        result.outputTail.erase(0, result.outputTail.size() - kSenderOutputTailBytes);
    }
  }
  return got;
}

// Waits for the sender to end, at most waitLimitMs, reading whatever it
// writes so that it never blocks on a full pipe.
void waitReadingOutput(HANDLE process, HANDLE readEnd, uint32_t waitLimitMs, SenderRunResult& result) {
  const ULONGLONG begin = ::GetTickCount64();
  std::vector<char> chunk(kDrainChunkBytes);
  for (;;) {
    const DWORD read = drainOutput(readEnd, chunk, result);
    const ULONGLONG elapsed = ::GetTickCount64() - begin;
    if (elapsed >= waitLimitMs) break;
    const DWORD slice =
        read > 0 ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(kDrainPollMs, waitLimitMs - elapsed));
    const DWORD waited = ::WaitForSingleObject(process, slice);
    if (waited == WAIT_OBJECT_0) {
      result.ended = true;
      DWORD code = 0;
      if (::GetExitCodeProcess(process, &code)) result.exitCode = code;
      // Its last words (the summary line) may still be in the pipe.
      while (drainOutput(readEnd, chunk, result) > 0) {
      }
      break;
    }
    if (waited == WAIT_FAILED) break;
  }
}

}  // namespace

SenderRunResult runSender(const std::string& programPath, const std::string& commandLine,
                          uint32_t waitLimitMs, const std::function<void()>& startedNow) {
  SenderRunResult result;
  // Closes after the process and thread handles below.
  const OutputPipe pipe = makeOutputPipe();
  STARTUPINFOA startup = hiddenStartup(pipe);
  PROCESS_INFORMATION started{};
  if (!startProgram(programPath, commandLine, startup, started)) return result;
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  result.started = true;
  if (startedNow) startedNow();
  waitReadingOutput(process.get(), pipe.readEnd.get(), waitLimitMs, result);
  return result;
}

ThreadDispatchJobLauncher::ThreadDispatchJobLauncher(std::string senderFolder, DispatchJobTiming timing)
    : senderFolder_(std::move(senderFolder)), timing_(timing) {}

bool ThreadDispatchJobLauncher::startJob(ToneDetector& detector,
                                         std::shared_ptr<DispatchHandover> handover) {
  auto start = std::make_unique<JobStart>(JobStart{&detector, std::move(handover), senderFolder_, timing_});
  const UniqueHandle thread(::CreateThread(nullptr, 0, alertDispatchJob, start.get(), 0, nullptr));
  if (!thread) return false;
  start.release();  // the thread owns it now
  return true;
}

struct OutboxRetrier::Run {
  std::string senderFolder;
  std::shared_ptr<DispatchHandover> handover;
  uint32_t waitLimitMs = 0;
  std::atomic<bool> done{false};
};

OutboxRetrier::OutboxRetrier(std::string senderFolder, std::shared_ptr<DispatchHandover> handover,
                             DispatchJobTiming timing)
    : senderFolder_(std::move(senderFolder)), handover_(std::move(handover)), timing_(timing) {}

// A run still going holds its own share of what it uses and ends by itself;
// closing the program does not wait for the sender.
OutboxRetrier::~OutboxRetrier() = default;

void OutboxRetrier::lookAtOutbox() {
  std::string pattern = senderFolder_;
  pattern.append("\\").append(kSenderOutboxFolder).append("\\*").append(kSenderOutboxFileEnding);
  WIN32_FIND_DATAA found{};
  const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  ::FindClose(search);
  std::lock_guard<std::mutex> held(handover_->deliveryMutex);
  handover_->pace.foundWaiting(static_cast<int64_t>(::GetTickCount64()));
}

bool OutboxRetrier::waiting() {
  std::lock_guard<std::mutex> held(handover_->deliveryMutex);
  return handover_->pace.waiting();
}

DWORD WINAPI OutboxRetrier::runEntry(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<Run>> share(static_cast<std::shared_ptr<Run>*>(parameter));
  Run& run = **share;
  DispatchHandover& handover = *run.handover;
  try {
    std::string commandLine = senderPath(run.senderFolder);
    commandLine.append(" ").append(kSenderRetrySwitch);
    const SenderRunResult result = runSender(senderPath(run.senderFolder), commandLine, run.waitLimitMs);
    const DeliveryReport report = judgeOutboxRetry(result.started, result.ended, result.exitCode, result.outputTail);
    bool changed = false;
    {
      std::lock_guard<std::mutex> held(handover.deliveryMutex);
      const bool before = handover.pace.waiting();
      handover.pace.runEnded(report.state, static_cast<int64_t>(::GetTickCount64()));
      changed = before != handover.pace.waiting();
      if (handover.listener != nullptr) {
        handover.listener->outboxRun(report.state, handover.pace.waiting(),
                                     senderRunSummary(result.started, result.ended, result.exitCode, result.outputTail));
      }
    }
    // Said once the messages have gone out, or when the sender cannot send
    // at all; not every few minutes while they keep waiting.
    if ((report.state == DeliveryState::Sent && changed) || report.state == DeliveryState::Failed) {
      const std::string stamp = formatAlarmStamp(TimeValue::now());
      handover.tellMonitor(report.line, stamp);
      std::string logPath = run.senderFolder;
      logPath.append(kAlarmLogFileSpec);
      appendToFile(logPath,
                   buildAlarmLogLine(stamp, report.logPrefix, report.logText));
    }
  } catch (...) {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.pace.runEnded(DeliveryState::Running, static_cast<int64_t>(::GetTickCount64()));
  }
  run.done.store(true);
  return 0;
}

void OutboxRetrier::tick() {
  if (run_ && !run_->done.load()) return;
  DispatchHandover& handover = *handover_;
  // Alarms first: none is started while an alarm's job is still to finish.
  if (handover.closing.load() || handover.completedDispatchCount.load() < handover.raisedAlarmCount) return;
  {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    if (!handover.pace.due(static_cast<int64_t>(::GetTickCount64()))) return;
    handover.pace.runBegan();
  }
  auto run = std::make_shared<Run>();
  run->senderFolder = senderFolder_;
  run->handover = handover_;
  run->waitLimitMs = timing_.senderWaitLimitMs;
  if (!startRunThread(thread_, run, &OutboxRetrier::runEntry)) {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.pace.runEnded(DeliveryState::Running, static_cast<int64_t>(::GetTickCount64()));
    return;
  }
  run_ = std::move(run);
}

struct NoticeRunner::Run {
  std::string senderFolder;
  std::shared_ptr<DispatchHandover> handover;
  uint32_t waitLimitMs = 0;
  std::string text;
  NoticeRunResult result;
  std::atomic<bool> done{false};
};

NoticeRunner::NoticeRunner(std::string senderFolder, std::shared_ptr<DispatchHandover> handover,
                           DispatchJobTiming timing)
    : senderFolder_(std::move(senderFolder)), handover_(std::move(handover)), timing_(timing) {}

// Like the outbox's runs, a notice still being sent ends by itself: the
// thread's handle is only closed.
NoticeRunner::~NoticeRunner() = default;

bool NoticeRunner::mayStart() {
  if (run_ && !run_->done.load()) return false;
  DispatchHandover& handover = *handover_;
  if (handover.closing.load() || handover.completedDispatchCount.load() < handover.raisedAlarmCount) return false;
  std::lock_guard<std::mutex> held(handover.deliveryMutex);
  return handover.pace.idle();
}

DWORD WINAPI NoticeRunner::runEntry(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<Run>> share(static_cast<std::shared_ptr<Run>*>(parameter));
  Run& run = **share;
  DispatchHandover& handover = *run.handover;
  DeliveryState& state = run.result.state;
  try {
    const SenderRunResult result = runSender(senderPath(run.senderFolder),
                                             buildNoticeCommandLine(run.senderFolder, run.text), run.waitLimitMs);
    run.result.started = result.started;
    run.result.ended = result.ended;
    run.result.exitCode = result.exitCode;
    run.result.summary = senderRunSummary(result.started, result.ended, result.exitCode, result.outputTail);
    // Whatever waits in the outbox afterwards, notices included, is sent
    // again like an alarm's messages.
    if (result.ended) {
      state = result.exitCode == kSenderExitSent || result.exitCode == kSenderExitSentLogFailed
                  ? DeliveryState::Sent
              : result.exitCode == kSenderExitSomeNotSent || result.exitCode == kSenderExitTimeLimit
                  ? DeliveryState::Waiting
                  : DeliveryState::Failed;
    }
  } catch (...) {
    run.result.summary = "zu wenig Arbeitsspeicher";
  }
  {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.pace.runEnded(state, static_cast<int64_t>(::GetTickCount64()));
  }
  run.done.store(true);
  return 0;
}

bool NoticeRunner::start(std::string text) {
  if (!mayStart()) return false;
  DispatchHandover& handover = *handover_;
  {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.pace.runBegan();
  }
  auto run = std::make_shared<Run>();
  run->senderFolder = senderFolder_;
  run->handover = handover_;
  run->waitLimitMs = timing_.senderWaitLimitMs;
  run->text = std::move(text);
  if (!startRunThread(thread_, run, &NoticeRunner::runEntry)) {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.pace.runEnded(DeliveryState::Running, static_cast<int64_t>(::GetTickCount64()));
    return false;
  }
  run_ = std::move(run);
  taken_ = false;
  return true;
}

std::optional<NoticeRunResult> NoticeRunner::take() {
  if (!run_ || taken_ || !run_->done.load()) return std::nullopt;
  taken_ = true;
  NoticeRunResult result = run_->result;
  result.text = run_->text;
  return result;
}

bool handOverPendingAlarms(DispatchHandover& handover, uint32_t limitMs) {
  handover.closing.store(true);
  const ULONGLONG begin = ::GetTickCount64();
  while (handover.handedToSender.load() < handover.raisedAlarmCount) {
    if (::GetTickCount64() - begin >= limitMs) return false;
    ::Sleep(10);
  }
  return true;
}

}  // namespace kantiq
