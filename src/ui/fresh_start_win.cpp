#include "ui/fresh_start_win.h"

#include <string>
#include <utility>
#include <vector>

#include "config/startup_win.h"
#include "win32/executable_path_win.h"
#include "win32/life_signs_win.h"

namespace kantiq {
namespace {

// One argument as the C runtime splits a command line: quoted, with quotes
// and the backslashes before them escaped.
std::wstring quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

// Input names are Windows-1252, as the sound system gives them to the ANSI calls.
std::wstring wideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

ProbeResult probeInput(const std::filesystem::path& folder, const InputRequest& wanted, uint32_t limitMs) {
  const std::filesystem::path program = folder / kInputProbeProgram;
  std::wstring line = quoted(program.wstring()) + L" inputs";
  if (!wanted.name.empty()) {
    line += L" " + quoted(wideFromAnsi(wanted.name)) + L" " + std::to_wstring(wanted.position);
  }
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.c_str(), &startup, &started)) {
    return ProbeResult::Failed;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  if (::WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0) {
    // A probe that hangs is ended, never left to pile up with the next ones.
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 1000);
    return ProbeResult::Failed;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return ProbeResult::Failed;
  if (code == 0) return ProbeResult::Found;
  return code == 1 ? ProbeResult::NotFound : ProbeResult::Failed;
}

struct InputProbe::Job {
  std::filesystem::path folder;
  InputRequest wanted;
  uint32_t limitMs = 0;
  std::atomic<bool> done{false};
  ProbeResult result = ProbeResult::Failed;
};

DWORD WINAPI InputProbe::run(LPVOID parameter) {
  const std::unique_ptr<std::shared_ptr<Job>> share(static_cast<std::shared_ptr<Job>*>(parameter));
  Job& job = **share;
  job.result = probeInput(job.folder, job.wanted, job.limitMs);
  job.done.store(true);
  return 0;
}

InputProbe::~InputProbe() {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

bool InputProbe::running() const { return job_ && !job_->done.load(); }

bool InputProbe::start(std::filesystem::path folder, InputRequest wanted, uint32_t limitMs) {
  if (running()) return false;
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);  // ended: its flag is set last
  thread_ = UniqueHandle();
  auto job = std::make_shared<Job>();
  job->folder = std::move(folder);
  job->wanted = std::move(wanted);
  job->limitMs = limitMs;
  auto* share = new std::shared_ptr<Job>(job);
  HANDLE thread = ::CreateThread(nullptr, 0, &InputProbe::run, share, 0, nullptr);
  if (thread == nullptr) {
    delete share;
    job_.reset();
    return false;
  }
  thread_ = UniqueHandle(thread);
  job_ = std::move(job);
  return true;
}

std::optional<ProbeResult> InputProbe::take() {
  if (!job_ || !job_->done.load()) return std::nullopt;
  const ProbeResult result = job_->result;
  job_.reset();
  return result;
}

namespace {
bool leftToWatchdog = false;
}  // namespace

bool successorLeftToWatchdog() { return leftToWatchdog; }

bool startSuccessor() {
  if (watchdogRunning()) {
    // The watchdog starts the new instance when this one ends with
    // kExitStartAgain, and keeps it in its care.
    releaseSingleInstanceGuard();
    leftToWatchdog = true;
    return true;
  }
  const std::filesystem::path folder = executableFolderPath();
  if (folder.empty()) return false;
  std::vector<wchar_t> path(32768);
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return false;
  const std::wstring program(path.data(), n);
  std::wstring line = quoted(program);
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(L'\0');
  releaseSingleInstanceGuard();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

}  // namespace kantiq
