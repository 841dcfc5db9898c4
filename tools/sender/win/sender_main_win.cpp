// S.exe: started by Kantiq once per alarm ("<folder>\S.exe <scrambled text>"),
// once per test message ("<folder>\S.exe <test argument> <number>") and once
// per notice for whoever looks after the PC ("<folder>\S.exe <notice
// argument> <scrambled text>");
// texts the alarm to the configured phones and records every attempt in
// "SendeLog.txt" beside it. Every message waits in the folder "Postausgang"
// beside it until it is sent or has failed for good, so a run that is
// stopped loses nothing. "S.exe --pruefen" checks the set-up and sends
// nothing; "S.exe --nachsenden" sends only what waits in the outbox. The exit
// code says whether everything went out; standard output gets one summary
// line.

#include <windows.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "sender/command_line/command_line.h"
#include "sender/config/sender_config.h"
#include "sender/delivery/check_report.h"
#include "sender/delivery/delivery.h"
#include "sender/delivery/exit_codes.h"
#include "sender/delivery/send_run.h"
#include "sender/http/http_gateway.h"
#include "sender/modem/modem_session.h"
#include "sender/win/sender_files_win.h"
#include "sender/win/serial_line_win.h"
#include "sender/win/winhttp_client_win.h"
#include "win32/executable_path_win.h"
#include "win32/owners_win.h"

namespace kantiq::sender {
namespace {

constexpr const char* kConfigFileName = "S.toml";
constexpr const char* kLogFileName = "SendeLog.txt";
constexpr const char* kOutboxFolderName = "Postausgang";
constexpr size_t kMaxConfigBytes = 1024 * 1024;
// Beyond the configured total time one attempt may still be running (a
// modem's longest answer times); past this margin the sender stops hard.
constexpr DWORD kHardLimitMarginMs = 30 * 60'000;
// Machine-wide: senders in two users' sessions share the one modem.
constexpr const char* kModemMutexName = "Global\\KantiqSenderModem";
// Exists while an alarm's or a test's sender waits for the modem: notice
// and resend runs look for it between messages and stop. Being a named
// object, it is gone with the last sender that holds it, however it ended.
constexpr const char* kAlarmWaitingName = "Global\\KantiqSenderAlarmWaiting";
// How long the check waits for a sender that is using the modem.
constexpr int64_t kCheckModemWaitMs = 60'000;

class WinClock : public SenderClock {
 public:
  int64_t nowMs() override { return static_cast<int64_t>(::GetTickCount64()); }
  void sleepMs(int64_t ms) override { ::Sleep(static_cast<DWORD>(ms)); }
};

WallTime wallTimeNow() {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  FILETIME utc{};
  ::GetSystemTimeAsFileTime(&utc);
  const uint64_t ticks = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  constexpr uint64_t kTicksTo1970 = 116'444'736'000'000'000ULL;  // 100-ns steps from 1601 to 1970
  WallTime now;
  now.unixS = static_cast<int64_t>((ticks - kTicksTo1970) / 10'000'000ULL);
  now.stamp = formatStamp(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
  return now;
}

// "<ms since 1970>-<process id>": unique, and names sort by age.
std::string newRunId() {
  FILETIME utc{};
  ::GetSystemTimeAsFileTime(&utc);
  const uint64_t ticks = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  const uint64_t ms = (ticks - 116'444'736'000'000'000ULL) / 10'000ULL;
  char id[48];
  std::snprintf(id, sizeof id, "%013llu-%lu", static_cast<unsigned long long>(ms),
                static_cast<unsigned long>(::GetCurrentProcessId()));
  return id;
}

void writeStdout(const std::string& cp1252) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode)) {
    // A console shows its own code page; wide text shows umlauts right.
    const int n = ::MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), wide.data(), n);
    DWORD written = 0;
    ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  DWORD written = 0;
  ::WriteFile(out, cp1252.data(), static_cast<DWORD>(cp1252.size()), &written, nullptr);
}

// Ends the process if the sender is still running after `limitMs`,
// whatever it is stuck in. It writes through a log of its own, so it shares
// nothing with the thread it stops. The messages not yet sent stay in the
// outbox for the next run.
class HardLimit {
 public:
  HardLimit(std::string logPath, DWORD limitMs) : log_(std::move(logPath)), limitMs_(limitMs) {
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stop_.valid()) thread_.reset(::CreateThread(nullptr, 0, &HardLimit::watch, this, 0, nullptr));
  }
  ~HardLimit() {
    if (thread_.valid()) {
      ::SetEvent(stop_.get());
      ::WaitForSingleObject(thread_.get(), INFINITE);
    }
  }
  HardLimit(const HardLimit&) = delete;
  HardLimit& operator=(const HardLimit&) = delete;

 private:
  static DWORD WINAPI watch(void* self) {
    auto* me = static_cast<HardLimit*>(self);
    if (::WaitForSingleObject(me->stop_.get(), me->limitMs_) == WAIT_TIMEOUT) {
      const std::string line = "Abbruch: Der Sendevorgang dauert länger als " + std::to_string(me->limitMs_ / 60'000) +
                               " Minuten und wird beendet; was nicht gesendet ist, bleibt im Postausgang.";
      me->log_.write(line);
      writeStdout("S.exe: " + line + "\r\n");
      ::ExitProcess(kExitOutOfTime);
    }
    return 0;
  }

  FileSendLog log_;
  DWORD limitMs_;
  UniqueHandle stop_;
  UniqueHandle thread_;
};

// Only one sender at a time talks to the modem: a test message may start
// while an alarm's sender is still running.
class ModemLock {
 public:
  ModemLock() : mutex_(createSharedMutex(kModemMutexName, false)) {}
  ~ModemLock() {
    if (held_) ::ReleaseMutex(mutex_.get());
  }
  ModemLock(const ModemLock&) = delete;
  ModemLock& operator=(const ModemLock&) = delete;
  // False if the modem stayed busy for `waitMs`.
  bool acquire(int64_t waitMs) {
    if (!mutex_.valid()) return true;  // no lock to be had: go on, the port itself is exclusive
    const DWORD r = ::WaitForSingleObject(mutex_.get(), waitMs > 0 ? static_cast<DWORD>(waitMs) : 0);
    held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    return held_;
  }

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

// Held by an alarm's (or a test's) sender while it waits for the modem.
class AlarmWaitingSign {
 public:
  AlarmWaitingSign() : mark_(createSharedMutex(kAlarmWaitingName, false)) {}
  AlarmWaitingSign(const AlarmWaitingSign&) = delete;
  AlarmWaitingSign& operator=(const AlarmWaitingSign&) = delete;

 private:
  UniqueHandle mark_;
};

// Whether some sender holds an AlarmWaitingSign.
bool alarmWaiting() {
  const UniqueHandle mark(::OpenMutexA(SYNCHRONIZE, FALSE, kAlarmWaitingName));
  // A sign we may not open (another user's sender) exists all the same.
  return mark.valid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}

// Reads and parses S.toml; false with a German reason.
bool loadConfig(const std::string& path, ConfigResult& parsed, std::string& reason) {
  std::string text;
  bool absent = false;
  if (!readWholeFile(path, text, absent, kMaxConfigBytes)) {
    reason = "Konfigurationsfehler: Die Datei " + path +
             (absent ? std::string(" fehlt.")
                     : " lässt sich nicht lesen (Fehler " + std::to_string(::GetLastError()) + ") oder ist zu groß.");
    return false;
  }
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // Notepad's BOM
  parsed = parseSenderConfig(text);
  if (!parsed.ok) {
    reason = "Konfigurationsfehler in " + std::string(kConfigFileName) + ": " + parsed.error;
    return false;
  }
  return true;
}

std::string describeRequest(const SendRequest& request) {
  switch (request.kind) {
    case SendRequest::Kind::Test:
      return "Die Test-SMS an \"" + request.number + "\"";
    case SendRequest::Kind::Resend:
      return "Was im Postausgang wartet,";
    case SendRequest::Kind::Notice:
      return "Der Hinweis \"" + request.text + "\"";
    case SendRequest::Kind::Alarm:
      break;
  }
  return "Die Alarmierung \"" + request.text + "\"";
}

std::string shortRequest(const SendRequest& request) {
  switch (request.kind) {
    case SendRequest::Kind::Test:
      return "Test-SMS an " + request.number + " nicht gesendet";
    case SendRequest::Kind::Resend:
      return "Nichts nachgesendet";
    case SendRequest::Kind::Notice:
      return "Hinweis NICHT gesendet";
    case SendRequest::Kind::Alarm:
      break;
  }
  return "SMS NICHT gesendet";
}

// The channels of one run, each built only if the configuration uses it.
struct Channels {
  Channels(const SenderConfig& config, const std::string& folder, SenderClock& clock, SendLog& log)
      : config_(config), folder_(folder), clock_(clock), log_(log) {}

  bool usesModem() const { return config_.channel == ChannelKind::Modem || config_.fallback == ChannelKind::Modem; }

  // Builds the routes; the modem's only once its lock is held, because it
  // reads the SIM state.
  std::vector<Route> routes() {
    std::vector<Route> out;
    const auto add = [&](ChannelKind kind) {
      SmsChannel* channel = nullptr;
      if (kind == ChannelKind::Modem) {
        line_ = std::make_unique<SerialLine>(config_.modem.port, config_.modem.baudRate);
        simFile_ = std::make_unique<WinStateFile>(folder_ + "\\" + std::string(kSimStateFileName));
        pins_ = std::make_unique<PinGuard>(*simFile_);
        modem_ = std::make_unique<ModemSession>(*line_, config_.modem, clock_, *pins_, &log_);
        channel = modem_.get();
      } else {
        client_ = std::make_unique<WinHttpClient>(config_.http);
        gateway_ = std::make_unique<HttpGatewayChannel>(*client_, config_.http);
        channel = gateway_.get();
      }
      out.push_back({channel, kind, routeName(config_, kind)});
    };
    add(config_.channel);
    if (config_.fallback) add(*config_.fallback);
    return out;
  }

  ModemInspection inspectModem() {
    SerialLine line(config_.modem.port, config_.modem.baudRate);
    WinStateFile simFile(folder_ + "\\" + std::string(kSimStateFileName));
    PinGuard pins(simFile);
    ModemSession session(line, config_.modem, clock_, pins, &log_);
    return session.inspect();
  }

  void close() {
    if (line_) line_->close();
  }

 private:
  const SenderConfig& config_;
  std::string folder_;
  SenderClock& clock_;
  SendLog& log_;
  std::unique_ptr<SerialLine> line_;
  std::unique_ptr<WinStateFile> simFile_;
  std::unique_ptr<PinGuard> pins_;
  std::unique_ptr<ModemSession> modem_;
  std::unique_ptr<WinHttpClient> client_;
  std::unique_ptr<HttpGatewayChannel> gateway_;
};

RunResult check(FileSendLog& log, const std::string& folder) {
  const std::string configPath = folder + "\\" + kConfigFileName;
  ConfigResult parsed;
  std::string reason;
  if (!loadConfig(configPath, parsed, reason)) {
    log.write("Prüfung: " + reason);
    writeStdout("S.exe: Prüfung der Einrichtung (es wird nichts gesendet)\r\n" + reason + "\r\n");
    return {kExitConfigError, "Prüfung: " + reason};
  }
  const SenderConfig& config = parsed.config;
  WinClock clock;
  Channels channels(config, folder, clock, log);
  std::optional<ModemInspection> modem;
  std::optional<GatewayProbe> gateway;
  if (channels.usesModem()) {
    ModemLock lock;
    if (lock.acquire(kCheckModemWaitMs)) {
      modem = channels.inspectModem();
    } else {
      modem.emplace();
      modem->problem = "Das Modem wird gerade von einem Sendevorgang benutzt; bitte später noch einmal prüfen.";
    }
  }
  if (config.channel == ChannelKind::Http || config.fallback == ChannelKind::Http) gateway = probeGateway(config.http);

  const CheckReport report =
      buildCheckReport(config, configPath, modem ? &*modem : nullptr, gateway ? &*gateway : nullptr);
  std::string text;
  for (const std::string& line : report.lines) text += line + "\r\n";
  writeStdout(text);
  log.write(report.summary);
  return {report.canSend ? kExitAllSent : kExitSomeFailed, report.summary};
}

// A report shown in a console window of its own (a shortcut, a double
// click) would vanish with the window: wait for a key first.
void holdOwnConsole() {
  DWORD mode = 0;
  DWORD processes[2] = {};
  if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
  if (::GetConsoleProcessList(processes, 2) != 1) return;
  writeStdout("\r\nZum Schließen die Eingabetaste drücken.\r\n");
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  char c = 0;
  DWORD got = 0;
  ::ReadFile(in, &c, 1, &got, nullptr);
}

RunResult send(FileSendLog& log, const std::string& exePath, const std::string& folder, bool resending) {
  WinClock clock;
  const int64_t startMs = clock.nowMs();

  SendRequest request;
  if (resending) {
    request.kind = SendRequest::Kind::Resend;
  } else if (!requestFromCommandLine(::GetCommandLineA(), exePath, request)) {
    const std::string line =
        "Ungültiger Aufruf: Die Befehlszeile enthält weder eine Alarmierung noch eine Test-SMS noch einen Hinweis.";
    log.write(line);
    return {kExitBadCommandLine, line};
  }

  ConfigResult parsed;
  std::string reason;
  if (!loadConfig(folder + "\\" + kConfigFileName, parsed, reason)) {
    log.write(reason + " " + describeRequest(request) + " wurde nicht gesendet.");
    return {kExitConfigError, shortRequest(request) + ": " + reason};
  }
  const SenderConfig& config = parsed.config;
  const int64_t deadlineMs = startMs + config.retry.totalLimitMs;
  HardLimit hardLimit(log.path(), static_cast<DWORD>(config.retry.totalLimitMs) + kHardLimitMarginMs);

  const std::string runId = newRunId();
  const RunMark mark(runId);
  // Without its mark a run's messages would look abandoned to the next run.
  WinOutboxFolder outboxFolder(folder + "\\" + kOutboxFolderName);
  Outbox outbox(mark.held() ? &outboxFolder : nullptr, runId, log);
  SendRun run(request, config, log, outbox);
  const WallTime started = wallTimeNow();
  if (!run.plan(started)) return run.result();

  Channels channels(config, folder, clock, log);
  ModemLock lock;
  if (channels.usesModem() && !lock.acquire(0)) {
    log.write("Ein anderer Sendevorgang benutzt das Modem; warte, bis er fertig ist.");
    // A notice or a resend holding the modem stops at its next message.
    std::optional<AlarmWaitingSign> sign;
    if (!run.givesWay()) sign.emplace();
    if (!lock.acquire(deadlineMs - clock.nowMs())) return run.abandon("Das Modem war bis zum Zeitlimit belegt.");
  }
  const RunResult result = run.deliver(channels.routes(), clock, deadlineMs, wallTimeNow(), alarmWaiting);
  channels.close();
  return result;
}

}  // namespace
}  // namespace kantiq::sender

int main() {
  using namespace kantiq::sender;
  const std::string exePath = kantiq::executablePath();
  const std::string ownFolder = kantiq::folderOf(exePath);
  const std::string folder = ownFolder.empty() ? std::string(".") : ownFolder;
  FileSendLog log(folder + "\\" + kLogFileName);
  log.rotateIfLarge();
  const bool checking = isCheckRequest(::GetCommandLineA(), exePath);
  const bool resending = !checking && isResendRequest(::GetCommandLineA(), exePath);
  RunResult result{kExitInternalError, "Interner Fehler."};
  try {
    result = checking ? check(log, folder) : send(log, exePath, folder, resending);
  } catch (const std::bad_alloc&) {
    result.summary = "Interner Fehler: zu wenig Speicher.";
    log.write(result.summary);
  } catch (...) {
    result.summary = "Interner Fehler: unerwartete Ausnahme.";
    log.write(result.summary);
  }
  // A log that cannot be written leaves no trace of the run but this line.
  if (log.failed()) {
    result.summary += " Achtung: " + std::string(kLogFileName) + " lässt sich nicht schreiben (Fehler " +
                      std::to_string(log.failedError()) + ").";
    if (result.exitCode == kExitAllSent && !checking) result.exitCode = kExitSentLogFailed;
  }
  if (!checking) writeStdout("S.exe: " + result.summary + "\r\n");
  if (checking) holdOwnConsole();
  return result.exitCode;
}
