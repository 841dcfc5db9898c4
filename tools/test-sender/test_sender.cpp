// A stand-in for the sender "S.exe" in tests: records how it was started
// (its command line byte for byte, its start and end, one environment
// variable) in sender-record.bin next to itself, and behaves as
// sender-control.txt next to itself says:
//   sleep <ms>     stay running that long
//   write <bytes>  write that many bytes to standard output
//   exit <code>    end with that exit code
// Its command line is fixed by the program that starts it, hence the file.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sender_record.h"
#include "win32/executable_path_win.h"
#include "win32/owners_win.h"

namespace {

uint64_t nowMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000;
}

void appendRecord(const std::string& path, const std::string& bytes) {
  const kantiq::UniqueHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

struct Control {
  unsigned long sleepMs = 0;
  unsigned long writeBytes = 0;
  int exitCode = 0;
};

Control readControl(const std::string& path) {
  Control control;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return control;
  char word[32];
  unsigned long value = 0;
  while (std::fscanf(file, "%31s %lu", word, &value) == 2) {
    const std::string w = word;
    if (w == "sleep") control.sleepMs = value;
    if (w == "write") control.writeBytes = value;
    if (w == "exit") control.exitCode = static_cast<int>(value);
  }
  std::fclose(file);
  return control;
}

}  // namespace

int main() {
  const uint64_t startMs = nowMs();
  const std::string commandLine = ::GetCommandLineA();
  const std::string folder = kantiq::executableFolder();
  const std::string recordPath = folder + "\\" + kantiq::test_sender::kRecordFileName;
  const DWORD pid = ::GetCurrentProcessId();

  char heap[256];
  const DWORD heapLength = ::GetEnvironmentVariableA("__MSVCRT_HEAP_SELECT", heap, sizeof heap);
  const std::string heapValue = heapLength > 0 && heapLength < sizeof heap ? std::string(heap, heapLength) : "(unset)";

  // How it was started: start-information flags and show value, and what
  // its standard handles are.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoA(&startup);
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  const std::string stdinKind = in == nullptr || in == INVALID_HANDLE_VALUE ? "none" : "some";
  const std::string stdoutKind = out != nullptr && ::GetFileType(out) == FILE_TYPE_PIPE ? "pipe" : "other";
  const std::string stderrKind = err == out ? "stdout" : "other";

  appendRecord(recordPath, "START pid=" + std::to_string(pid) + " ms=" + std::to_string(startMs) +
                               " flags=" + std::to_string(startup.dwFlags) + " show=" +
                               std::to_string(startup.wShowWindow) + " stdin=" + stdinKind +
                               " stdout=" + stdoutKind + " stderr=" + stderrKind +
                               " heap=" + heapValue + " cmdlen=" + std::to_string(commandLine.size()) +
                               "\n" + commandLine + "\n");

  const Control control = readControl(folder + "\\" + kantiq::test_sender::kControlFileName);
  unsigned long wrote = 0;
  if (control.writeBytes > 0) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<char> block(4096, 'x');
    while (wrote < control.writeBytes) {
      const DWORD part = static_cast<DWORD>(std::min<unsigned long>(block.size(), control.writeBytes - wrote));
      DWORD done = 0;
      if (!::WriteFile(out, block.data(), part, &done, nullptr) || done == 0) break;
      wrote += done;
    }
  }
  if (control.sleepMs > 0) ::Sleep(control.sleepMs);

  appendRecord(recordPath, "END pid=" + std::to_string(pid) + " ms=" + std::to_string(nowMs()) +
                               " wrote=" + std::to_string(wrote) + " exit=" + std::to_string(control.exitCode) +
                               "\n");
  return control.exitCode;
}
