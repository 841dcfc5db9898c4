#include "dispatch/sender_protocol.h"

#include <algorithm>
#include <cctype>

namespace kantiq {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// Where the arguments begin (just after the blank that follows the program),
// or npos.
size_t argumentsStart(std::string_view line, std::string_view programPath) {
  if (!programPath.empty() && startsWithIgnoringCase(line, programPath) &&
      line.size() > programPath.size() && line[programPath.size()] == ' ') {
    return programPath.size() + 1;
  }
  const std::string_view name = kSenderFileSpec.substr(1);  // "S.exe"
  if (line.substr(0, name.size() + 1) == std::string(name) + ' ') return name.size() + 1;
  const std::string marker = std::string(kSenderFileSpec) + ' ';
  const size_t at = line.find(marker);
  return at == std::string_view::npos ? at : at + marker.size();
}

}  // namespace

std::string senderPath(std::string_view folder) {
  std::string path(folder);
  path += kSenderFileSpec;
  return path;
}

std::string buildAlarmCommandLine(std::string_view folder, std::string_view alarmText) {
  std::string line = senderPath(folder);
  line += ' ';
  line += scrambleMessage(alarmText);
  if (line.size() > kMaxSenderCommandLineChars) line.resize(kMaxSenderCommandLineChars);
  return line;
}

std::string buildTestCommandLine(std::string_view folder, std::string_view number) {
  std::string line = senderPath(folder);
  line += senderTestArgument();
  line += number;
  if (line.size() > kMaxSenderCommandLineChars) line.resize(kMaxSenderCommandLineChars);
  return line;
}

std::string buildNoticeCommandLine(std::string_view folder, std::string_view noticeText) {
  std::string line = senderPath(folder);
  line += senderNoticeArgument();
  line += scrambleMessage(noticeText);
  if (line.size() > kMaxSenderCommandLineChars) line.resize(kMaxSenderCommandLineChars);
  return line;
}

SenderRequest parseSenderCommandLine(std::string_view commandLine, std::string_view programPath) {
  SenderRequest request;
  const size_t start = argumentsStart(commandLine, programPath);
  if (start == std::string_view::npos) return request;
  // Everything from the blank before the arguments on.
  const std::string_view tail = commandLine.substr(start - 1);
  if (tail.substr(0, kSenderTestArgument.size()) == senderTestArgument()) {
    request.kind = SenderRequest::Kind::Test;
    request.number = std::string(tail.substr(kSenderTestArgument.size()));
  } else if (tail.substr(0, kSenderNoticeArgument.size()) == senderNoticeArgument()) {
    request.kind = SenderRequest::Kind::Notice;
    request.alarmText = unscrambleMessage(tail.substr(kSenderNoticeArgument.size()));
  } else {
    request.kind = SenderRequest::Kind::Alarm;
    request.alarmText = unscrambleMessage(tail.substr(1));
  }
  return request;
}

}  // namespace kantiq
