#include "dispatch/test_message_verdict.h"

#include "dispatch/sender_protocol.h"

namespace kantiq {
namespace {

constexpr std::string_view kSummaryPrefix = "S.exe: ";
constexpr size_t kMaxSummaryChars = 400;  // a box, not a log
constexpr std::string_view kSeeLog = "Einzelheiten stehen in SendeLog.txt neben S.exe.";

}  // namespace

std::string senderSummaryLine(std::string_view output) {
  size_t end = output.size();
  while (end > 0) {
    while (end > 0 && (output[end - 1] == '\r' || output[end - 1] == '\n' || output[end - 1] == ' ')) --end;
    if (end == 0) break;
    const size_t start = output.find_last_of("\r\n", end - 1);
    std::string_view line = output.substr(start == std::string_view::npos ? 0 : start + 1,
                                          end - (start == std::string_view::npos ? 0 : start + 1));
    if (line.substr(0, kSummaryPrefix.size()) == kSummaryPrefix) line.remove_prefix(kSummaryPrefix.size());
    std::string out;
    for (char c : line.substr(0, kMaxSummaryChars)) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    if (line.size() > kMaxSummaryChars) out += "...";
    return out;
  }
  return {};
}

TestMessageVerdict judgeTestMessage(bool started, bool ended, uint32_t exitCode, std::string_view output) {
  TestMessageVerdict v;
  v.caption = "Fehler";
  if (!started) {
    v.text = "Das Sendeprogramm S.exe konnte nicht gestartet werden.\nDie Test-SMS wurde nicht gesendet.";
    return v;
  }
  if (!ended) {
    v.text = "S.exe ist nach fünf Stunden noch nicht fertig.\nOb die Test-SMS gesendet wurde, steht in SendeLog.txt.";
    return v;
  }
  const std::string summary = senderSummaryLine(output);
  if (exitCode == kSenderExitSent || exitCode == kSenderExitSentLogFailed) {
    v.sent = true;
    v.caption = "Test-SMS";
    v.text = "Die Test-SMS wurde gesendet.";
    if (!summary.empty()) v.text += "\n\n" + summary;
    return v;
  }
  v.text = "Die Test-SMS wurde nicht gesendet.\n\n" +
           (summary.empty() ? "S.exe hat sich mit dem Code " + std::to_string(exitCode) + " beendet." : summary) +
           "\n\n" + std::string(kSeeLog);
  return v;
}

}  // namespace kantiq
