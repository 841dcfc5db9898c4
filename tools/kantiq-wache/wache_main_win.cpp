// KantiqWache.exe: starts Kantiq.exe from its own folder and keeps it
// running. A crash (any exit code but Kantiq's own, see
// config/program_exit.h) or a hang (the window does not answer, the
// analysis worker does not go round, see win32/life_signs_win.h) is followed
// by a restart, a few an hour at most. Kantiq closed by the user ends the
// watchdog. It has no window to see: a hidden top-level window receives
// the timer, the end of the session and the setup's WM_CLOSE.

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/program_exit.h"
#include "dispatch/sender_protocol.h"
#include "wache_logic.h"
#include "win32/executable_path_win.h"
#include "win32/life_signs_win.h"
#include "win32/owners_win.h"

namespace kantiq::wache {
namespace {

// The setup finds the running watchdog by this class and closes it.
constexpr char kWindowClass[] = "KantiqWache";
constexpr UINT_PTR kTimerId = 1;
constexpr wchar_t kKantiqProgram[] = L"Kantiq.exe";
// How long an ended Kantiq is waited for after TerminateProcess.
constexpr DWORD kTerminateWaitMs = 5000;

// Milliseconds that do not count while the machine sleeps or hibernates:
// a Kantiq that was asleep with the machine has not hung.
int64_t nowMs() {
  ULONGLONG hundredNs = 0;
  if (!::QueryUnbiasedInterruptTime(&hundredNs)) return static_cast<int64_t>(::GetTickCount64());
  return static_cast<int64_t>(hundredNs / 10000);
}

// The log beside the program: one dated line per event, moved aside when large.
class Log {
 public:
  explicit Log(std::string path) : path_(std::move(path)) {}

  void write(std::string_view text) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
      const int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      if (size > kMaxLogBytes) ::MoveFileExA(path_.c_str(), oldLogPath(path_).c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    const std::string line = formatLogLine(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, text);
    const UniqueHandle file(::CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  std::string path_;
};

// A path as one argument (a path holds no quotes).
std::wstring quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

class Watch {
 public:
  Watch(Log& log, const Times& times, std::filesystem::path folder)
      : log_(log), times_(times), folder_(std::move(folder)), hang_(times.hangLimitMs), care_(times) {}

  // Takes a running Kantiq under care, or starts one.
  void begin() {
    if (adopt()) return;
    start("Kantiq gestartet");
  }

  // Looks at the process, its window and its worker; starts a restart that is due.
  void tick() {
    if (over_) return;
    const int64_t now = nowMs();
    if (!process_) {
      if (restartAtMs_ >= 0 && now >= restartAtMs_) {
        restartAtMs_ = -1;
        start("Kantiq neu gestartet");
      }
      return;
    }
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      ::GetExitCodeProcess(process_.get(), &code);
      const std::optional<LifeSignsReading> last = ownSigns();
      process_.reset();
      signs_.reset();
      follow(care_.ended(code, last ? last->announcedExit : std::nullopt, now));
      return;
    }
    lookForHang(now);
  }

  // Logging off or shutting down ends Kantiq too: nothing is restarted then.
  void sessionEnding() {
    if (over_) return;
    over_ = true;
    log_.write("Windows wird beendet oder der Benutzer meldet sich ab: Die Wache endet.");
  }

  // The setup (or someone) closed the watchdog; Kantiq itself is left as it is.
  void closed() {
    if (over_) return;
    over_ = true;
    log_.write("Die Wache wurde beendet (Kantiq bleibt, wie es ist).");
  }

  bool over() const { return over_; }

 private:
  // The signs of life of the process under care. The view is kept while
  // the process runs, so that its last words can be read after its end.
  std::optional<LifeSignsReading> ownSigns() {
    if (!signs_) signs_ = LifeSignsView::open();
    if (!signs_) return std::nullopt;
    std::optional<LifeSignsReading> reading = signs_->read();
    if (!reading || reading->processId != processId_) return std::nullopt;
    return reading;
  }

  void lookForHang(int64_t now) {
    hang_.looking(now);
    const std::optional<LifeSignsReading> signs = ownSigns();
    if (!signs || signs->window == nullptr) {
      // Starting up, or showing a box before its window is known: nothing to judge yet.
      hang_.windowUnknown(now);
    } else {
      DWORD_PTR answer = 0;
      if (::SendMessageTimeoutA(signs->window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                static_cast<UINT>(times_.answerWaitMs), &answer) != 0) {
        hang_.windowAnswered(nowMs());
      } else if (!::IsWindow(signs->window)) {
        hang_.windowUnknown(nowMs());  // closing: its end comes next
      }
      hang_.workerBeat(signs->workerBeat, nowMs());
    }
    if (over_) return;  // closed while waiting for the answer
    const HangWatch::Hang hang = hang_.check(nowMs());
    if (hang == HangWatch::Hang::None) return;
    const Decision decision = care_.hung(hang, nowMs());
    if (decision.step != Step::GiveUp) {
      ::TerminateProcess(process_.get(), kExitFailed);
      ::WaitForSingleObject(process_.get(), kTerminateWaitMs);
    }
    process_.reset();
    signs_.reset();
    follow(decision);
  }

  void follow(const Decision& decision) {
    switch (decision.step) {
      case Step::End:
        log_.write(decision.line);
        over_ = true;
        break;
      case Step::GiveUp:
        giveUp(decision.line);
        break;
      case Step::StartNow:
        log_.write(decision.line);
        start("Kantiq neu gestartet");
        break;
      case Step::Adopt:
        log_.write(decision.line);
        if (!adopt()) giveUp("Kantiq meldet, es laufe schon, die Wache findet es aber nicht. Die Wache endet.");
        break;
      case Step::RestartAfterPause:
        log_.write(decision.line);
        restartAtMs_ = nowMs() + times_.restartPauseMs;
        break;
    }
  }

  // Care ends on a fault that needs a person: the one place that says so,
  // in the log and to whoever looks after the PC.
  void giveUp(const std::string& line) {
    log_.write(line);
    over_ = true;
    if (!tellCaretaker("Kantiq-Wache: " + line)) {
      log_.write("S.exe lässt sich nicht starten: Niemand bekommt davon eine SMS.");
    }
  }

  // Hands the text to the sender as a notice, for the groups marked for
  // notices in S.toml; does not wait for it (the watchdog ends now).
  static bool tellCaretaker(const std::string& text) {
    const std::string folder = executableFolder();
    if (folder.empty()) return false;
    std::string line = buildNoticeCommandLine(folder, text);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(senderPath(folder).c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, folder.c_str(), &startup, &started)) {
      return false;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    return true;
  }

  bool adopt() {
    std::optional<LifeSignsView> view = LifeSignsView::open();
    const std::optional<LifeSignsReading> signs = view ? view->read() : std::nullopt;
    if (!signs || signs->announcedExit) return false;
    UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                       signs->processId));
    if (!process || ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return false;
    process_ = std::move(process);
    processId_ = signs->processId;
    signs_ = std::move(view);
    hang_.restart(nowMs());
    log_.write("Kantiq läuft bereits (Prozess " + std::to_string(processId_) + "): Die Wache übernimmt es.");
    return true;
  }

  void start(const std::string& what) {
    const std::filesystem::path program = folder_ / kKantiqProgram;
    std::wstring line = quoted(program.wstring());
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                          &startup, &started)) {
      follow(care_.startFailed(::GetLastError(), nowMs()));
      return;
    }
    const UniqueHandle thread(started.hThread);
    signs_.reset();
    process_ = UniqueHandle(started.hProcess);
    processId_ = started.dwProcessId;
    hang_.restart(nowMs());
    log_.write(what + " (Prozess " + std::to_string(processId_) + ").");
  }

  Log& log_;
  Times times_;
  std::filesystem::path folder_;
  HangWatch hang_;
  Care care_;
  UniqueHandle process_;
  DWORD processId_ = 0;
  std::optional<LifeSignsView> signs_;
  int64_t restartAtMs_ = -1;
  bool over_ = false;
};

Watch* gWatch = nullptr;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId && gWatch != nullptr) {
        gWatch->tick();
        if (gWatch->over()) ::PostQuitMessage(0);
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam != 0 && gWatch != nullptr) gWatch->sessionEnding();
      return 0;
    case WM_CLOSE:
      if (gWatch != nullptr) gWatch->closed();
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

// A second start (the Start menu while the watchdog runs) brings Kantiq's
// window to the front instead.
void showKantiq() {
  const std::optional<LifeSignsReading> signs = readLifeSigns();
  if (!signs || signs->window == nullptr || !::IsWindow(signs->window)) return;
  if (::IsIconic(signs->window)) ::ShowWindow(signs->window, SW_RESTORE);
  ::SetForegroundWindow(signs->window);
}

int run(HINSTANCE instance) {
  const UniqueHandle guard(::CreateMutexA(nullptr, FALSE, kWatchdogMutexName));
  if (guard && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    showKantiq();
    return 0;
  }
  const std::string folder = executableFolder();
  Log log(folder + "\\" + kLogFileName);

  Times times;
  if (const char* text = std::getenv(kTestTimesVariable); text != nullptr && *text != '\0') {
    if (const std::optional<Times> shortened = parseTestTimes(text, times)) times = *shortened;
  }

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassA(&windowClass) == 0) {
    log.write("Die Wache kann nicht starten (Fehler " + std::to_string(::GetLastError()) + ").");
    return 1;
  }
  // Top-level but never shown: only such a window hears that the session ends.
  const UniqueWindow window(::CreateWindowExA(0, kWindowClass, "Kantiq-Wache", WS_POPUP, 0, 0, 0, 0, nullptr,
                                              nullptr, instance, nullptr));
  if (!window) {
    log.write("Die Wache kann nicht starten (Fehler " + std::to_string(::GetLastError()) + ").");
    return 1;
  }

  log.write("Wache gestartet.");
  Watch watch(log, times, executableFolderPath());
  gWatch = &watch;
  watch.begin();
  if (!watch.over()) {
    ::SetTimer(window.get(), kTimerId, static_cast<UINT>(times.checkEveryMs), nullptr);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    ::KillTimer(window.get(), kTimerId);
  }
  gWatch = nullptr;
  return 0;
}

}  // namespace
}  // namespace kantiq::wache

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  return kantiq::wache::run(instance);
}
