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

SenderCommandLine splitSenderCommandLine(std::string_view line, std::string_view programPath) {
  using Naming = SenderCommandLine::Naming;
  const auto after = [&](Naming naming, size_t programEnd) {
    return SenderCommandLine{naming, programEnd < line.size() ? line.substr(programEnd) : std::string_view()};
  };
  if (!line.empty() && line.front() == '"') {
    const size_t close = line.find('"', 1);
    return after(Naming::Quoted, close == std::string_view::npos ? line.size() : close + 1);
  }
  if (!programPath.empty() && startsWithIgnoringCase(line, programPath))
    return after(Naming::AsTheProgramDoes, programPath.size());
  const std::string_view name = kSenderFileSpec.substr(1);  // "S.exe"
  if (line.substr(0, name.size() + 1) == std::string(name) + ' ') return after(Naming::AsTheProgramDoes, name.size());
  const std::string marker = std::string(kSenderFileSpec) + ' ';
  if (const size_t at = line.find(marker); at != std::string_view::npos)
    return after(Naming::AsTheProgramDoes, at + kSenderFileSpec.size());
  return after(Naming::FirstWord, std::min(line.find(' '), line.size()));
}

CommandLineRequest parseSenderCommandLine(std::string_view commandLine, std::string_view programPath) {
  CommandLineRequest request;
  const SenderCommandLine split = splitSenderCommandLine(commandLine, programPath);
  // Everything from the blank before the arguments on.
  const std::string_view tail = split.arguments;
  if (split.naming != SenderCommandLine::Naming::AsTheProgramDoes || tail.empty() || tail.front() != ' ')
    return request;
  if (tail.substr(0, kSenderTestArgument.size()) == senderTestArgument()) {
    request.kind = CommandLineRequest::Kind::Test;
    request.number = std::string(tail.substr(kSenderTestArgument.size()));
  } else if (tail.substr(0, kSenderNoticeArgument.size()) == senderNoticeArgument()) {
    request.kind = CommandLineRequest::Kind::Notice;
    request.alarmText = unscrambleMessage(tail.substr(kSenderNoticeArgument.size()));
  } else {
    request.kind = CommandLineRequest::Kind::Alarm;
    request.alarmText = unscrambleMessage(tail.substr(1));
  }
  return request;
}

}  // namespace kantiq
