// Raises alarms as the detector would, with the real dispatch jobs, in the
// folder this program lives in, then checks what the test sender (copied
// there as S.exe) recorded. One scenario per run; exit code 0 when it held.
//
//   dispatch_wine_driver <single|three|hang|missing|blank|flood|long|deep|closing|retry>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "detector/tone_detector.h"
#include "dispatch/alarm_raiser.h"
#include "dispatch/dispatch_job_win.h"
#include "dispatch/message_key.h"
#include "dispatch/sender_protocol.h"
#include "test-sender/sender_record.h"
#include "win32/executable_path_win.h"

namespace {

using kantiq::test_sender::SenderRun;

constexpr const char* kHeapSelectValue = "__GLOBAL_HEAP_SELECTED,1";

int failures = 0;

void check(bool ok, const std::string& what) {
  if (!ok) {
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

uint64_t nowMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RecordingMonitor final : public kantiq::MonitorInterface {
 public:
  bool restartCapture() override { return true; }
  void appendResultLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

// The command line as it must arrive, worked out here byte by byte rather
// than with the program's own builder.
std::string expectedCommandLine(const std::string& folder, const std::string& text) {
  std::string line = folder + "\\S.exe ";
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t digit = kantiq::messageKey()[i % kantiq::kMessageKeyLength];
    uint8_t sum = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) + digit);
    if (sum == 0) sum = digit;
    line.push_back(static_cast<char>(sum));
  }
  return line;
}

class Scenario {
 public:
  explicit Scenario(kantiq::DispatchJobTiming timing)
      : folder(kantiq::executableFolder()),
        launcher(folder, timing),
        raiser(folder + "\\KantiqLog.txt", launcher),
        detector(std::make_unique<kantiq::ToneDetector>()) {
    detector->monitor = &monitor;
    detector->alarmSink = &raiser;
  }

  // Raises one alarm; the job must ask for a capture restart every time.
  void raise(const std::string& text) {
    detector->restartRequested.store(0);
    raisedAtMs.push_back(nowMs());
    detector->raiseAlarm(text);  // as processFrame does
    check(detector->restartRequested.load() == 1, "restartRequested set by the job of \"" + text + "\"");
  }

  // Waits until every job has counted itself finished.
  bool waitForJobs(int count, uint64_t timeoutMs) {
    const uint64_t until = nowMs() + timeoutMs;
    while (raiser.handover().completedDispatchCount.load() < count) {
      if (nowMs() > until) {
        check(false, "jobs finished in time: " + std::to_string(raiser.handover().completedDispatchCount.load()) +
                         " of " + std::to_string(count));
        return false;
      }
      ::Sleep(20);
    }
    return true;
  }

  std::vector<SenderRun> senderRuns() {
    std::vector<SenderRun> runs;
    check(kantiq::test_sender::readSenderRuns(readFile(folder + "\\sender-record.bin"), runs),
          "sender record readable");
    return runs;
  }

  // The log holds the alarm lines in order and, for each alarm whose sender
  // ran, one line saying what became of its messages (whenever it ended).
  void checkLog(const std::vector<std::string>& texts) {
    const std::string log = readFile(folder + "\\KantiqLog.txt");
    std::vector<std::string> alarms;
    size_t outcomes = 0;
    size_t pos = 0;
    while (pos < log.size()) {
      const size_t end = log.find("\r\n", pos);
      if (end == std::string::npos) {
        check(false, "log ends in the middle of a line");
        break;
      }
      const std::string line = log.substr(pos, end - pos);
      pos = end + 2;
      // 21 characters of stamp, "dd.mm.yyyy hh:mm:ss: ".
      check(line.size() > 21 && line[2] == '.' && line[19] == ':' && line[20] == ' ', "stamp of \"" + line + "\"");
      const std::string entry = line.size() > 21 ? line.substr(21) : "";
      if (entry.rfind("ALARMIERUNG: ", 0) == 0) {
        alarms.push_back(entry.substr(13));
      } else if (entry.rfind("SMS GESENDET: ", 0) == 0 || entry.rfind("SMS WARTEN: ", 0) == 0 ||
                 entry.rfind("SMS NICHT GESENDET: ", 0) == 0) {
        ++outcomes;
      } else {
        check(false, "unexpected log line \"" + line + "\"");
      }
    }
    check(alarms == texts, "the alarm lines in order");
    check(outcomes == texts.size(), "one outcome line per alarm, got " + std::to_string(outcomes));
    check(monitor.lines.size() == 2 * texts.size(), "two result lines per alarm");
  }

  void checkRun(const SenderRun& run, const std::string& text) {
    check(run.commandLine == expectedCommandLine(folder, text), "exact command line for \"" + text.substr(0, 40) + "\"");
    const kantiq::CommandLineRequest request = kantiq::parseSenderCommandLine(run.commandLine);
    check(request.kind == kantiq::CommandLineRequest::Kind::Alarm && request.alarmText == text,
          "sender recovers \"" + text.substr(0, 40) + "\"");
    check(run.heapSelect == kHeapSelectValue, "environment passed on, got " + run.heapSelect);
    // Hidden, output and errors on the pipe, no input.
    check(run.startFlags == 0x101 && run.showWindow == 0,
          "start flags " + std::to_string(run.startFlags) + ", show " + std::to_string(run.showWindow));
    check(run.standardHandles == "none/pipe/stdout", "standard handles " + run.standardHandles);
  }

  std::string folder;
  RecordingMonitor monitor;
  kantiq::ThreadDispatchJobLauncher launcher;
  kantiq::AlarmRaiser raiser;
  std::unique_ptr<kantiq::ToneDetector> detector;
  std::vector<uint64_t> raisedAtMs;
};

// A text with the awkward bytes: percent, backslash, tab, and bytes whose sum
// with their key digit is exactly 256 (0xFC where the digit is 4).
std::string awkwardText() {
  std::string text = "Einsatz 100% C:\\Wache\t1 ";
  const size_t end = text.size() + 12;
  for (size_t i = text.size(); i < end; ++i) {
    const uint8_t digit = kantiq::messageKey()[i];
    text.push_back(digit == 0 ? 'x' : static_cast<char>(256 - digit));
  }
  return text + " Ende";
}

void delayBetween(uint64_t fromMs, uint64_t toMs, uint64_t lowMs, uint64_t highMs, const std::string& what) {
  const int64_t delay = static_cast<int64_t>(toMs) - static_cast<int64_t>(fromMs);
  check(delay >= static_cast<int64_t>(lowMs) && delay <= static_cast<int64_t>(highMs),
        what + ": " + std::to_string(delay) + " ms");
}

void single(bool expectBlank) {
  Scenario s({});  // the program's own timing
  const std::string text = awkwardText();
  size_t wouldBeZero = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<uint8_t>(static_cast<uint8_t>(text[i]) + kantiq::messageKey()[i]) == 0) ++wouldBeZero;
  }
  check(wouldBeZero > 0, "the text has bytes that would scramble to zero");
  s.raise(text);
  if (!s.waitForJobs(1, 30000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 1, "one sender run, got " + std::to_string(runs.size()));
  if (runs.empty()) return;
  s.checkRun(runs[0], text);
  delayBetween(s.raisedAtMs[0], runs[0].startMs, 0, 1500, "sender starts at once");
  if (expectBlank) check(s.folder.find(' ') != std::string::npos, "folder has a blank: " + s.folder);
  s.checkLog({text});
}

void three() {
  Scenario s({});
  const std::vector<std::string> texts = {"Alarm eins", "Alarm zwei", "Alarm drei"};
  for (const std::string& t : texts) {
    s.raise(t);
    ::Sleep(300);
  }
  if (!s.waitForJobs(3, 60000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 3, "three sender runs, got " + std::to_string(runs.size()));
  if (runs.size() != 3) return;
  for (size_t i = 0; i < 3; ++i) {
    s.checkRun(runs[i], texts[i]);
    check(runs[i].exitCode == 7, "failing sender ignored");
    if (i > 0) check(runs[i].startMs >= runs[i - 1].endMs, "run " + std::to_string(i + 1) + " starts after run " +
                                                                std::to_string(i) + " ended");
  }
  delayBetween(s.raisedAtMs[0], runs[0].startMs, 0, 1500, "first sender at once");
  s.checkLog(texts);
}

void hang() {
  Scenario s({500, 1500});  // short polls, a 1.5 s limit; the sender sleeps 8 s
  s.raise("haengt");
  s.raise("danach");
  if (!s.waitForJobs(2, 20000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 2, "two sender runs, got " + std::to_string(runs.size()));
  if (runs.size() != 2) return;
  check(runs[0].endMs == 0, "the hanging sender is left running");
  delayBetween(runs[0].startMs, runs[1].startMs, 1400, 8000, "the next sender waits for the limit");
  s.checkRun(runs[0], "haengt");
  s.checkRun(runs[1], "danach");
}

void missing() {
  Scenario s({300, 5000});
  const std::vector<std::string> texts = {"ohne Sender 1", "ohne Sender 2", "ohne Sender 3"};
  for (const std::string& t : texts) s.raise(t);
  s.waitForJobs(3, 15000);
  check(readFile(s.folder + "\\sender-record.bin").empty(), "nothing ran");
  // Each alarm is logged as raised when it is raised, and as not passed on
  // once its job found no sender to start; those in turn order.
  const std::string log = readFile(s.folder + "\\KantiqLog.txt");
  std::vector<std::string> entries;
  for (size_t pos = 0; pos < log.size();) {
    const size_t end = log.find("\r\n", pos);
    if (end == std::string::npos || end < pos + 21) break;
    entries.push_back(log.substr(pos + 21, end - pos - 21));
    pos = end + 2;
  }
  check(entries.size() == 6, "six log entries, got " + std::to_string(entries.size()));
  size_t lastNotPassed = 0;
  for (const std::string& text : texts) {
    const auto raised = std::find(entries.begin(), entries.end(), "ALARMIERUNG: " + text);
    const auto notPassed = std::find(entries.begin(), entries.end(), "ALARMIERUNG NICHT WEITERGELEITET: " + text);
    check(raised != entries.end() && notPassed != entries.end() && raised < notPassed,
          "\"" + text + "\" logged as raised, then as not passed on");
    const auto at = static_cast<size_t>(notPassed - entries.begin());
    check(at >= lastNotPassed, "not passed on in turn order: \"" + text + "\"");
    lastNotPassed = at;
  }
}

void flood() {
  Scenario s({300, 20000});
  s.raise("viel Ausgabe");
  if (!s.waitForJobs(1, 40000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 1, "one sender run");
  if (runs.empty()) return;
  // Had the pipe filled up, the job would have given up at the limit while
  // the sender still hung in its write, with no end recorded.
  check(runs[0].endMs != 0, "the sender ended before the job finished");
  check(runs[0].wrote == 1048576, "the sender wrote a megabyte, wrote " + std::to_string(runs[0].wrote));
  s.checkRun(runs[0], "viel Ausgabe");
}

// A folder deeper than the classic path limit: the sender still starts and
// sees the full folder on its command line.
void deep() {
  Scenario s({300, 20000});
  check(s.folder.size() > 260, "folder longer than 260 characters: " + std::to_string(s.folder.size()));
  s.raise("tief");
  if (!s.waitForJobs(1, 20000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 1, "one sender run, got " + std::to_string(runs.size()));
  if (runs.empty()) return;
  s.checkRun(runs[0], "tief");
  s.checkLog({"tief"});
}

void longTexts() {
  Scenario s({300, 20000});
  std::string text600;
  for (int i = 0; i < 600; ++i) text600.push_back(static_cast<char>('A' + i % 26));
  const std::string huge(40000, 'q');
  s.raise(text600);
  s.raise(huge);
  if (!s.waitForJobs(2, 30000)) return;
  const auto runs = s.senderRuns();
  check(runs.size() == 2, "two sender runs, got " + std::to_string(runs.size()));
  if (runs.size() != 2) return;
  s.checkRun(runs[0], text600);
  check(runs[1].commandLine.size() == kantiq::kMaxSenderCommandLineChars,
        "the longest text fills the longest command line: " + std::to_string(runs[1].commandLine.size()));
  const size_t room = kantiq::kMaxSenderCommandLineChars - s.folder.size() - 7;
  s.checkRun(runs[1], huge.substr(0, room));
}

// Closing the program while the first alarm's sender still runs and two
// more wait their turn: all three senders are running before closing goes
// on, each with its own alarm.
void closing() {
  Scenario s({});
  const std::vector<std::string> texts = {"zu eins", "zu zwei", "zu drei"};
  for (const std::string& t : texts) s.raise(t);
  const uint64_t closedAt = nowMs();
  check(kantiq::handOverPendingAlarms(*s.raiser.sharedHandover(), 5000), "every alarm handed over");
  delayBetween(closedAt, nowMs(), 0, 2000, "handed over while the first sender still runs");
  ::Sleep(500);
  const auto runs = s.senderRuns();
  check(runs.size() == 3, "three senders started, got " + std::to_string(runs.size()));
  for (size_t i = 0; i < runs.size() && i < texts.size(); ++i) {
    check(runs[i].endMs == 0, "sender " + std::to_string(i + 1) + " still running");
  }
  std::vector<std::string> got;
  for (const SenderRun& run : runs) got.push_back(kantiq::parseSenderCommandLine(run.commandLine).alarmText);
  std::sort(got.begin(), got.end());
  std::vector<std::string> want = texts;
  std::sort(want.begin(), want.end());
  check(got == want, "each alarm's own sender");
  s.waitForJobs(3, 20000);
}

// The sender leaves messages in its outbox (exit 1): the window hears so,
// and the sender is run again for the outbox, without a new alarm, until
// it has sent them.
void retry() {
  Scenario s({});
  kantiq::DispatchHandover& handover = *s.raiser.sharedHandover();
  RecordingMonitor window;
  {
    std::lock_guard<std::mutex> held(handover.deliveryMutex);
    handover.monitor = &window;
    handover.pace = kantiq::OutboxRetryPace(1500);
  }
  kantiq::OutboxRetrier retrier(s.folder, s.raiser.sharedHandover());
  s.raise("wartet");
  if (!s.waitForJobs(1, 20000)) return;
  check(retrier.waiting(), "messages wait after exit code 1");
  check(!window.lines.empty() && window.lines[0].rfind("STÖRUNG: SMS zu \"wartet\": ", 0) == 0,
        "the window hears the SMS did not go out: " + (window.lines.empty() ? std::string("-") : window.lines[0]));
  retrier.tick();
  ::Sleep(300);
  check(s.senderRuns().size() == 1, "no second run before the interval");
  std::ofstream(s.folder + "\\sender-control.txt") << "exit 0\n";
  const uint64_t until = nowMs() + 15000;
  while (retrier.waiting() && nowMs() < until) {
    retrier.tick();
    ::Sleep(100);
  }
  check(!retrier.waiting(), "nothing waits once the retry sent everything");
  const auto runs = s.senderRuns();
  check(runs.size() == 2, "one retry run, got " + std::to_string(runs.size()));
  if (runs.size() == 2) {
    check(runs[1].commandLine == s.folder + "\\S.exe --nachsenden", "retry command line: " + runs[1].commandLine);
    delayBetween(runs[0].endMs, runs[1].startMs, 1400, 5000, "the retry after the interval");
  }
  check(window.lines.size() == 4 && window.lines[2].rfind("SMS nachgesendet", 0) == 0,
        "the window hears the messages went out");
  std::lock_guard<std::mutex> held(handover.deliveryMutex);
  handover.monitor = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  ::SetEnvironmentVariableA("__MSVCRT_HEAP_SELECT", kHeapSelectValue);
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "single") single(false);
  else if (scenario == "blank") single(true);
  else if (scenario == "three") three();
  else if (scenario == "hang") hang();
  else if (scenario == "missing") missing();
  else if (scenario == "flood") flood();
  else if (scenario == "long") longTexts();
  else if (scenario == "deep") deep();
  else if (scenario == "closing") closing();
  else if (scenario == "retry") retry();
  else {
    std::printf("unknown scenario \"%s\"\n", scenario.c_str());
    return 2;
  }
  std::printf("%s: %s\n", scenario.c_str(), failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
