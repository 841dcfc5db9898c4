#pragma once

// What the watchdog decides, without Windows: how Kantiq's exit codes are
// read, how many restarts an hour are allowed, when a process that still
// runs counts as hung, and the lines of its log. KantiqWache.exe
// (wache_main_win.cpp) feeds it the clock, the exit codes and what it saw of
// the window and the worker, and carries out the steps.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace kantiq::wache {

inline constexpr char kLogFileName[] = "KantiqWache.txt";
// Past this size the log is moved to "KantiqWache.alt.txt" (one older file
// kept), as the sender does with its log.
inline constexpr int64_t kMaxLogBytes = 256 * 1024;
// The environment variable that shortens the times; only the tests set it.
inline constexpr char kTestTimesVariable[] = "KANTIQ_WACHE_ZEITEN";

struct Times {
  // The pause before a crashed or hung Kantiq is started again: long enough
  // for the system to release its sound device and files.
  int64_t restartPauseMs = 2000;
  // A window that has not answered, or a worker that has not gone round its
  // loop (it does four times a second), for this long is hung.
  int64_t hangLimitMs = 60000;
  // How long one question to the window waits for its answer.
  int64_t answerWaitMs = 5000;
  // How often the process, its window and its worker are looked at.
  int64_t checkEveryMs = 1000;
  // At most this many restarts within budgetWindowMs; then the watchdog gives up.
  int32_t restartsPerWindow = 5;
  int64_t budgetWindowMs = 60 * 60 * 1000;
};

// Reads "name=value" pairs separated by spaces, commas or semicolons over
// base: haenger, pause, antwort, takt (milliseconds), neustarts (count),
// fenster (milliseconds of the restart budget). Nothing when a pair is not
// understood or a value is not positive.
std::optional<Times> parseTestTimes(std::string_view text, Times base);

// How Kantiq.exe ended, by its exit code (config/program_exit.h) and the
// code it announced in its signs of life before it ended, if it did. A
// process killed from outside may be reported with code 0 (Wine does so):
// a 0 that was not announced is a crash.
enum class KantiqEnd { Closed, StartRefused, AlreadyRunning, StartAgain, Crashed };
KantiqEnd classifyExit(uint32_t code, std::optional<uint32_t> announced);

// "3" for the program's own codes, "0xC0000005" for an exception's.
std::string exitCodeText(uint32_t code);

// Restarts within a sliding window.
class RestartBudget {
 public:
  RestartBudget(int32_t maxRestarts, int64_t windowMs) : max_(maxRestarts), windowMs_(windowMs) {}
  // Counts a restart at nowMs and returns true when it is within the budget;
  // false (and nothing counted) when the window is full.
  bool take(int64_t nowMs);
  // Restarts counted within the window before nowMs.
  int32_t used(int64_t nowMs);
  int32_t max() const { return max_; }

 private:
  void forget(int64_t nowMs);
  int32_t max_;
  int64_t windowMs_;
  std::deque<int64_t> taken_;
};

// Whether a running Kantiq is stuck. The window counts from its last answer;
// the worker from the last change of its beat, a counter the worker changes
// on every pass. A worker that has not yet published a beat (0) and a window
// not yet known are not judged. Neither is time the watchdog itself did not
// look: a pause of more than half the limit between two looks (the watchdog
// held up, the machine asleep) starts the judging afresh.
class HangWatch {
 public:
  enum class Hang { None, Window, Worker };

  explicit HangWatch(int64_t limitMs) : limitMs_(limitMs) {}
  // A new process, watched from nowMs.
  void restart(int64_t nowMs);
  // Called on every look, before what was seen is told.
  void looking(int64_t nowMs);
  void windowAnswered(int64_t nowMs) { lastAnswerMs_ = nowMs; }
  void windowUnknown(int64_t nowMs) { lastAnswerMs_ = nowMs; }
  void workerBeat(uint32_t beat, int64_t nowMs);
  Hang check(int64_t nowMs) const;

 private:
  int64_t limitMs_;
  int64_t lastLookMs_ = 0;
  int64_t lastAnswerMs_ = 0;
  uint32_t beat_ = 0;
  int64_t beatChangedMs_ = 0;
};

// What the watchdog does next.
enum class Step {
  End,                // care ends: the user closed Kantiq
  GiveUp,             // care ends on a fault a restart cannot mend; the user must be told
  StartNow,           // Kantiq asked to be started again
  Adopt,              // another Kantiq runs: take that one under care
  RestartAfterPause,  // a crash or a hang: start again after the pause
};

struct Decision {
  Step step = Step::End;
  // The log line that says what happened and what follows.
  std::string line;
};

// The watchdog's care of one Kantiq, over the millisecond clock.
class Care {
 public:
  explicit Care(const Times& times) : times_(times), budget_(times.restartsPerWindow, times.budgetWindowMs) {}
  // Kantiq's process ended with code, having announced it (or not).
  Decision ended(uint32_t code, std::optional<uint32_t> announced, int64_t nowMs);
  // Kantiq hangs. RestartAfterPause: end it, and start it after the pause;
  // GiveUp (no restart left): leave it as it is.
  Decision hung(HangWatch::Hang hang, int64_t nowMs);
  // Kantiq.exe could not be started; error is the system's code.
  Decision startFailed(uint32_t error, int64_t nowMs);

 private:
  Decision restartOrGiveUp(const std::string& reason, int64_t nowMs);
  std::string budgetSpent() const;
  std::string restartNote(int64_t nowMs);
  Times times_;
  RestartBudget budget_;
};

// One line of the log: "dd.mm.yyyy hh:mm:ss: text" with CR LF; control
// characters in text become '?'. Text is Windows-1252, as the program's.
std::string formatLogLine(int year, int month, int day, int hour, int minute, int second, std::string_view text);

// "KantiqWache.alt.txt" beside "KantiqWache.txt".
std::string oldLogPath(const std::string& path);

}  // namespace kantiq::wache
