// Starts S.exe the way Kantiq does (command line built by the program's own
// code, hidden window, output on a pipe) and exits with the sender's exit
// code. Arguments from a Linux shell pass through the locale, so the text
// or number comes in hex.
//
//   sender_launch.exe <folder> alarm <hex of the Windows-1252 alarm text>
//   sender_launch.exe <folder> test  <hex of the number as typed>
//   sender_launch.exe <folder> raw   <hex of everything after "S.exe ">

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dispatch/sender_protocol.h"

namespace {

bool unhex(const char* hex, std::string& out) {
  const size_t n = std::strlen(hex);
  if (n % 2) return false;
  for (size_t i = 0; i < n; i += 2) {
    unsigned v = 0;
    if (std::sscanf(hex + i, "%2x", &v) != 1) return false;
    out += static_cast<char>(v);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string payload;
  if (argc != 4 || !unhex(argv[3], payload)) {
    std::fprintf(stderr, "usage: sender_launch <folder> alarm|test|raw <hex>\n");
    return 120;
  }
  const std::string folder = argv[1];
  const std::string mode = argv[2];
  std::string commandLine;
  if (mode == "alarm")
    commandLine = kantiq::buildAlarmCommandLine(folder, payload);
  else if (mode == "test")
    commandLine = kantiq::buildTestCommandLine(folder, payload);
  else if (mode == "raw")
    commandLine = kantiq::senderPath(folder) + " " + payload;
  else
    return 120;

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 121;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  const std::string program = kantiq::senderPath(folder);
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi)) {
    std::fprintf(stderr, "sender_launch: cannot start %s (%lu)\n", program.c_str(), ::GetLastError());
    ::CloseHandle(readEnd);
    ::CloseHandle(writeEnd);
    return 122;
  }
  ::CloseHandle(writeEnd);
  // Pass the sender's output on, so a test can see it.
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
    std::fwrite(buffer, 1, got, stdout);
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 123;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(readEnd);
  return static_cast<int>(code);
}
