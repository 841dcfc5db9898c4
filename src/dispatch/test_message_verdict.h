#pragma once

// What the test-message dialog tells the user once the sender has finished:
// whether the test message went out, in the sender's own words.

#include <cstdint>
#include <string>
#include <string_view>

namespace kantiq {

struct TestMessageVerdict {
  bool sent = false;
  std::string caption;  // of the message box
  std::string text;     // Windows-1252
};

// The sender's summary: the last non-empty line of its output, without the
// "S.exe: " it starts with. Empty if it wrote nothing.
std::string senderSummaryLine(std::string_view output);

// `started`/`ended`/`exitCode`/`output` as the run of the sender gave them.
TestMessageVerdict judgeTestMessage(bool started, bool ended, uint32_t exitCode, std::string_view output);

}  // namespace kantiq
