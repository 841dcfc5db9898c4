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

#include "common/cp1252.h"
#include "dispatch/sender_protocol.h"
#include "sender_record.h"

using kantiq::tool::cp1252ToUtf8;

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) return 2;
  std::ifstream in(std::string(argv[1]) + "\\" + kantiq::test_sender::kRecordFileName, std::ios::binary);
  if (!in) return 0;  // no sender has run
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<kantiq::test_sender::SenderRun> runs;
  if (!kantiq::test_sender::readSenderRuns(bytes, runs)) return 1;
  for (const auto& run : runs) {
    const kantiq::CommandLineRequest r = kantiq::parseSenderCommandLine(run.commandLine);
    using Kind = kantiq::CommandLineRequest::Kind;
    const char* kind = r.kind == Kind::Alarm    ? "alarm"
                       : r.kind == Kind::Test   ? "test"
                       : r.kind == Kind::Notice ? "notice"
                                                : "invalid";
    const std::string& what = r.kind == Kind::Alarm || r.kind == Kind::Notice ? r.alarmText
                              : r.kind == Kind::Test                         ? r.number
                                                                             : run.commandLine;
    std::printf("%s %llu %s\n", kind, static_cast<unsigned long long>(run.startMs), cp1252ToUtf8(what).c_str());
  }
  return 0;
}
