#pragma once

// The record file the test sender appends to, and a reader for it.
//
//   START pid=<pid> ms=<ms> flags=<n> show=<n> stdin=<none|some> stdout=<pipe|other>
//         stderr=<stdout|other> heap=<value> cmdlen=<n>\n<n bytes of the command line>\n
//   END pid=<pid> ms=<ms> wrote=<n> exit=<n>\n
//
// Times are milliseconds since 1601 (system time), the same clock for every
// process on the machine.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kantiq::test_sender {

inline constexpr const char* kRecordFileName = "sender-record.bin";
inline constexpr const char* kControlFileName = "sender-control.txt";

struct SenderRun {
  uint32_t pid = 0;
  uint64_t startMs = 0;
  uint64_t endMs = 0;  // 0 while still running
  std::string heapSelect;
  uint32_t startFlags = 0;
  uint32_t showWindow = 0;
  std::string standardHandles;  // "stdin/stdout/stderr", e.g. "none/pipe/stdout"
  std::string commandLine;
  uint64_t wrote = 0;
  int exitCode = 0;
};

// Value of `key=` up to the next blank, or empty.
inline std::string fieldOf(std::string_view line, std::string_view key) {
  const std::string marker = std::string(key) + "=";
  size_t at = line.find(marker);
  while (at != std::string_view::npos && at != 0 && line[at - 1] != ' ') at = line.find(marker, at + 1);
  if (at == std::string_view::npos) return {};
  const size_t from = at + marker.size();
  const size_t to = line.find(' ', from);
  return std::string(line.substr(from, to == std::string_view::npos ? std::string_view::npos : to - from));
}

inline uint64_t numberOf(std::string_view line, std::string_view key) {
  return std::strtoull(fieldOf(line, key).c_str(), nullptr, 10);
}

// Runs in the order they started. False when the file is malformed.
inline bool readSenderRuns(std::string_view bytes, std::vector<SenderRun>& runs) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t eol = bytes.find('\n', pos);
    if (eol == std::string_view::npos) return false;
    const std::string_view line = bytes.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.substr(0, 6) == "START ") {
      SenderRun run;
      run.pid = static_cast<uint32_t>(numberOf(line, "pid"));
      run.startMs = numberOf(line, "ms");
      run.heapSelect = fieldOf(line, "heap");
      run.startFlags = static_cast<uint32_t>(numberOf(line, "flags"));
      run.showWindow = static_cast<uint32_t>(numberOf(line, "show"));
      run.standardHandles = fieldOf(line, "stdin") + "/" + fieldOf(line, "stdout") + "/" + fieldOf(line, "stderr");
      const size_t length = numberOf(line, "cmdlen");
      if (pos + length + 1 > bytes.size() || bytes[pos + length] != '\n') return false;
      run.commandLine = std::string(bytes.substr(pos, length));
      pos += length + 1;
      runs.push_back(run);
    } else if (line.substr(0, 4) == "END ") {
      const uint32_t pid = static_cast<uint32_t>(numberOf(line, "pid"));
      bool found = false;
      for (SenderRun& run : runs) {
        if (run.pid == pid && run.endMs == 0) {
          run.endMs = numberOf(line, "ms");
          run.wrote = numberOf(line, "wrote");
          run.exitCode = static_cast<int>(numberOf(line, "exit"));
          found = true;
          break;
        }
      }
      if (!found) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace kantiq::test_sender
