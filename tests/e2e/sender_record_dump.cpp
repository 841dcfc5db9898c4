// Prints what the test sender recorded in a folder, one run a line, with
// the command line decoded as the sender decodes it:
//   alarm <start ms> <plain alarm text>
//   test <start ms> <number as typed>
//   invalid <start ms> <command line>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dispatch/sender_protocol.h"
#include "sender_record.h"

namespace {

std::string toUtf8(const std::string& cp1252) {
  int n = ::MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(1252, 0, cp1252.data(), static_cast<int>(cp1252.size()), w.data(), n);
  int m = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(m), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), n, out.data(), m, nullptr, nullptr);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) return 2;
  std::ifstream in(std::string(argv[1]) + "\\" + kantiq::test_sender::kRecordFileName, std::ios::binary);
  if (!in) return 0;  // no sender has run
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<kantiq::test_sender::SenderRun> runs;
  if (!kantiq::test_sender::readSenderRuns(bytes, runs)) return 1;
  for (const auto& run : runs) {
    const kantiq::SenderRequest r = kantiq::parseSenderCommandLine(run.commandLine);
    const char* kind = r.kind == kantiq::SenderRequest::Kind::Alarm  ? "alarm"
                       : r.kind == kantiq::SenderRequest::Kind::Test ? "test"
                                                                     : "invalid";
    const std::string& what = r.kind == kantiq::SenderRequest::Kind::Alarm  ? r.alarmText
                              : r.kind == kantiq::SenderRequest::Kind::Test ? r.number
                                                                            : run.commandLine;
    std::printf("%s %llu %s\n", kind, static_cast<unsigned long long>(run.startMs), toUtf8(what).c_str());
  }
  return 0;
}
