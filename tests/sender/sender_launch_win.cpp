// Starts S.exe the way Kantiq does (command line built by the program's own
// code, hidden window, output on a pipe) and exits with the sender's exit
// code. Arguments from a Linux shell pass through the locale, so the text
// or number comes in hex.
//
//   sender_launch.exe <folder> alarm <hex of the Windows-1252 alarm text>
//   sender_launch.exe <folder> test  <hex of the number as typed>
//   sender_launch.exe <folder> notice <hex of the Windows-1252 notice text>
//   sender_launch.exe <folder> raw   <hex of everything after "S.exe ">

#include <windows.h>

#include <cstdio>
#include <string>

#include "dispatch/sender_protocol.h"
#include "hex_argument.h"
#include "win32/owners_win.h"

int main(int argc, char** argv) {
  std::string payload;
  if (argc != 4 || !unhex(argv[3], payload)) {
    std::fprintf(stderr, "usage: sender_launch <folder> alarm|test|notice|raw <hex>\n");
    return 120;
  }
  const std::string folder = argv[1];
  const std::string mode = argv[2];
  std::string commandLine;
  if (mode == "alarm")
    commandLine = kantiq::buildAlarmCommandLine(folder, payload);
  else if (mode == "test")
    commandLine = kantiq::buildTestCommandLine(folder, payload);
  else if (mode == "notice")
    commandLine = kantiq::buildNoticeCommandLine(folder, payload);
  else if (mode == "raw")
    commandLine = kantiq::senderPath(folder) + " " + payload;
  else
    return 120;

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readHandle = nullptr;
  HANDLE writeHandle = nullptr;
  if (!::CreatePipe(&readHandle, &writeHandle, &inherit, 0)) return 121;
  kantiq::UniqueHandle readEnd(readHandle);
  kantiq::UniqueHandle writeEnd(writeHandle);
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  PROCESS_INFORMATION pi{};
  const std::string program = kantiq::senderPath(folder);
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi)) {
    std::fprintf(stderr, "sender_launch: cannot start %s (%lu)\n", program.c_str(), ::GetLastError());
    return 122;
  }
  kantiq::UniqueHandle process(pi.hProcess);
  kantiq::UniqueHandle thread(pi.hThread);
  writeEnd.reset();  // only the sender holds the write end now: the pipe ends with it
  // Pass the sender's output on, so a test can see it.
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    std::fwrite(buffer, 1, got, stdout);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 123;
  ::GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}
