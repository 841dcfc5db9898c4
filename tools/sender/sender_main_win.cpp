// S.exe: started by Kantiq once per alarm ("<folder>\S.exe <scrambled text>")
// and once per test message ("<folder>\S.exe <test argument> <number>");
// texts the alarm to the configured phones and records every attempt in
// "SendeLog.txt" beside it. The exit code says whether everything went out.

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

#include "delivery.h"
#include "http_gateway.h"
#include "modem_session.h"
#include "sender_config.h"
#include "sender_protocol_bridge.h"
#include "serial_line_win.h"
#include "win_handles_win.h"
#include "winhttp_client_win.h"

namespace kantiq::sender {
namespace {

constexpr const char* kConfigFileName = "S.toml";
constexpr const char* kLogFileName = "SendeLog.txt";
constexpr size_t kMaxConfigBytes = 1024 * 1024;
// Beyond the configured total time one attempt may still be running (a
// modem's longest answer times); past this margin the sender stops hard.
constexpr DWORD kHardLimitMarginMs = 30 * 60'000;
constexpr const char* kModemMutexName = "KantiqSenderModem";

class WinClock : public SenderClock {
 public:
  int64_t nowMs() override { return static_cast<int64_t>(::GetTickCount64()); }
  void sleepMs(int64_t ms) override { ::Sleep(static_cast<DWORD>(ms)); }
};

// Appends each line on its own (open, write, close), so a line is on disk
// at once and a second sender running for a test can append too.
class FileSendLog : public SendLog {
 public:
  explicit FileSendLog(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  void write(std::string_view text) override {
    last_ = std::string(text);
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    const std::string line = formatSendLogLine(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, text);
    UniqueFile file(::CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return;  // nowhere else to report it
    DWORD written = 0;
    ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  const std::string& last() const { return last_; }

 private:
  std::string path_;
  std::string last_;
};

// Ends the process if the sender is still running after `limitMs`,
// whatever it is stuck in. It writes through a log of its own, so it shares
// nothing with the thread it stops.
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
      me->log_.write("Abbruch: Der Sendevorgang dauert länger als " + std::to_string(me->limitMs_ / 60'000) +
                     " Minuten und wird beendet.");
      ::ExitProcess(kExitOutOfTime);
    }
    return 0;
  }

  FileSendLog log_;
  DWORD limitMs_;
  UniqueKernelObject stop_;
  UniqueKernelObject thread_;
};

// Only one sender at a time talks to the modem: a test message may start
// while an alarm's sender is still running.
class ModemLock {
 public:
  ModemLock() : mutex_(::CreateMutexA(nullptr, FALSE, kModemMutexName)) {}
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
  UniqueKernelObject mutex_;
  bool held_ = false;
};

std::string modulePath() {
  std::string path(32768, '\0');
  const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

// Reads a whole small file; false with a German reason.
bool readConfigFile(const std::string& path, std::string& text, std::string& reason) {
  UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    reason = error == ERROR_FILE_NOT_FOUND ? "Die Datei " + path + " fehlt."
                                           : "Die Datei " + path + " lässt sich nicht lesen (Fehler " +
                                                 std::to_string(error) + ").";
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxConfigBytes)) {
    reason = "Die Datei " + path + " ist zu groß oder nicht lesbar.";
    return false;
  }
  text.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!text.empty() && (!::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr) ||
                        got != text.size())) {
    reason = "Die Datei " + path + " lässt sich nicht lesen.";
    return false;
  }
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // Notepad's BOM
  return true;
}

std::string describeRequest(const SendRequest& request) {
  return request.kind == SendRequest::Kind::Test ? "Die Test-SMS an \"" + request.number + "\""
                                                 : "Die Alarmierung \"" + request.text + "\"";
}

int run(FileSendLog& log, const std::string& exePath) {
  WinClock clock;
  const int64_t startMs = clock.nowMs();
  const std::string folder = exePath.substr(0, exePath.find_last_of('\\') == std::string::npos
                                                   ? 0
                                                   : exePath.find_last_of('\\'));

  SendRequest request;
  if (!requestFromCommandLine(::GetCommandLineA(), exePath, request)) {
    log.write("Ungültiger Aufruf: Die Befehlszeile enthält weder eine Alarmierung noch eine Test-SMS.");
    return kExitBadCommandLine;
  }

  std::string configText;
  std::string reason;
  if (!readConfigFile(folder + "\\" + kConfigFileName, configText, reason)) {
    log.write("Konfigurationsfehler: " + reason + " " + describeRequest(request) + " wurde nicht gesendet.");
    return kExitConfigError;
  }
  const ConfigResult parsed = parseSenderConfig(configText);
  if (!parsed.ok) {
    log.write(std::string("Konfigurationsfehler in ") + kConfigFileName + ": " + parsed.error + " " +
              describeRequest(request) + " wurde nicht gesendet.");
    return kExitConfigError;
  }
  const SenderConfig& config = parsed.config;
  const int64_t deadlineMs = startMs + config.retry.totalLimitMs;
  HardLimit hardLimit(log.path(), static_cast<DWORD>(config.retry.totalLimitMs) + kHardLimitMarginMs);

  if (config.channel == ChannelKind::Http) {
    WinHttpClient client;
    HttpGatewayChannel channel(client, config.http);
    return runSendRequest(request, config, channel, clock, log, deadlineMs);
  }

  ModemLock lock;
  if (!lock.acquire(0)) {
    log.write("Ein anderer Sendevorgang benutzt das Modem; warte, bis er fertig ist.");
    if (!lock.acquire(deadlineMs - clock.nowMs())) {
      log.write(describeRequest(request) + " wurde nicht gesendet: Das Modem war bis zum Zeitlimit belegt.");
      return kExitSomeFailed;
    }
  }
  SerialLine line(config.modem.port, config.modem.baudRate);
  ModemSession session(line, config.modem, clock);
  const int code = runSendRequest(request, config, session, clock, log, deadlineMs);
  line.close();
  return code;
}

}  // namespace
}  // namespace kantiq::sender

int main() {
  using namespace kantiq::sender;
  const std::string exePath = modulePath();
  const size_t slash = exePath.find_last_of('\\');
  FileSendLog log((slash == std::string::npos ? std::string(".") : exePath.substr(0, slash)) + "\\" + kLogFileName);
  int code = kExitInternalError;
  try {
    code = run(log, exePath);
  } catch (const std::bad_alloc&) {
    log.write("Interner Fehler: zu wenig Speicher.");
  } catch (...) {
    log.write("Interner Fehler: unerwartete Ausnahme.");
  }
  // A single line for whoever reads the output; Kantiq discards it.
  const std::string summary = "S.exe: " + log.last() + "\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), summary.data(), static_cast<DWORD>(summary.size()), &written, nullptr);
  return code;
}
