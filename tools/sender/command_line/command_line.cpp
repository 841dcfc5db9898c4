#include "sender/command_line/command_line.h"

#include <algorithm>

#include "dispatch/sender_protocol.h"

namespace kantiq::sender {

// The program reads these two as "sent" (the test message's box).
static_assert(kExitAllSent == kantiq::kSenderExitSent && kExitSentLogFailed == kantiq::kSenderExitSentLogFailed);

bool requestFromCommandLine(std::string_view commandLine, std::string_view programPath, SendRequest& out) {
  const CommandLineRequest parsed = parseSenderCommandLine(commandLine, programPath);
  switch (parsed.kind) {
    case CommandLineRequest::Kind::Alarm:
      out.kind = SendRequest::Kind::Alarm;
      out.text = parsed.alarmText.substr(0, parsed.alarmText.find('\0'));  // the program's text ends there
      return true;
    case CommandLineRequest::Kind::Test:
      out.kind = SendRequest::Kind::Test;
      out.number = parsed.number;
      return true;
    case CommandLineRequest::Kind::Notice:
      out.kind = SendRequest::Kind::Notice;
      out.text = parsed.alarmText.substr(0, parsed.alarmText.find('\0'));
      return true;
    case CommandLineRequest::Kind::Invalid:
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

// The arguments after the program's name, blanks around them dropped.
std::string_view argumentsOf(std::string_view line, std::string_view programPath) {
  std::string_view arguments = splitSenderCommandLine(line, programPath).arguments;
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
