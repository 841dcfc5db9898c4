#include "sender/command_line/command_line.h"

#include <algorithm>

#include "dispatch/sender_protocol.h"

namespace kantiq::sender {

// The program reads these two as "sent" (the test message's box).
static_assert(kExitAllSent == kantiq::kSenderExitSent && kExitSentLogFailed == kantiq::kSenderExitSentLogFailed);

bool requestFromCommandLine(std::string_view commandLine, std::string_view programPath, SendRequest& out) {
  const SenderRequest parsed = parseSenderCommandLine(commandLine, programPath);
  switch (parsed.kind) {
    case SenderRequest::Kind::Alarm:
      out.kind = SendRequest::Kind::Alarm;
      out.text = parsed.alarmText.substr(0, parsed.alarmText.find('\0'));  // the program's text ends there
      return true;
    case SenderRequest::Kind::Test:
      out.kind = SendRequest::Kind::Test;
      out.number = parsed.number;
      return true;
    case SenderRequest::Kind::Notice:
      out.kind = SendRequest::Kind::Notice;
      out.text = parsed.alarmText.substr(0, parsed.alarmText.find('\0'));
      return true;
    case SenderRequest::Kind::Invalid:
      break;
  }
  return false;
}

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c); };
           return lower(x) == lower(y);
         });
}

}  // namespace

namespace {

// The arguments after the program's name, blanks around them dropped.
std::string_view argumentsOf(std::string_view line, std::string_view programPath) {
  std::string_view arguments;
  if (!line.empty() && line.front() == '"') {
    const size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return {};
    arguments = line.substr(close + 1);
  } else if (!programPath.empty() && line.size() >= programPath.size() &&
             sameIgnoringCase(line.substr(0, programPath.size()), programPath)) {
    arguments = line.substr(programPath.size());
  } else {
    const size_t blank = line.find(' ');
    arguments = blank == std::string_view::npos ? std::string_view() : line.substr(blank);
  }
  while (!arguments.empty() && (arguments.front() == ' ' || arguments.front() == '\t')) arguments.remove_prefix(1);
  while (!arguments.empty() && (arguments.back() == ' ' || arguments.back() == '\t')) arguments.remove_suffix(1);
  return arguments;
}

}  // namespace

bool isResendRequest(std::string_view line, std::string_view programPath) {
  const std::string_view arguments = argumentsOf(line, programPath);
  return sameIgnoringCase(arguments, "--nachsenden") || sameIgnoringCase(arguments, "/nachsenden");
}

bool isCheckRequest(std::string_view line, std::string_view programPath) {
  const std::string_view arguments = argumentsOf(line, programPath);
  return sameIgnoringCase(arguments, "--pruefen") || sameIgnoringCase(arguments, "/pruefen") ||
         sameIgnoringCase(arguments, "--prüfen");
}

}  // namespace kantiq::sender
