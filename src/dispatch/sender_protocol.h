#pragma once

// What passes between the program and its sender "S.exe": the command line
// and the test argument. Both sides link this code.
//
// Alarm:  <folder>\S.exe <scrambled alarm text to the end of the line>
// Test:   <folder>\S.exe <scrambled test argument> <number as typed>
// Notice: <folder>\S.exe <scrambled notice argument> <scrambled notice text>
//
// A notice is a message for whoever looks after the PC (a lost sound
// device, an SMS that did not go out, the weekly sign of life); the sender
// texts it only to the groups marked for notices, never to alarm groups.
//
// The folder is not quoted: the program names the sender's full path
// separately when it starts it, so blanks in the folder do no harm.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dispatch/message_key.h"

namespace kantiq {

inline constexpr std::string_view kSenderFileSpec = "\\S.exe";

// The largest command line the sender can be started with, terminator not
// counted (the platform allows 32,767 characters with it).
inline constexpr size_t kMaxSenderCommandLineChars = 32766;

// The test argument, nine printable characters without blanks, with a blank
// before and after. Only its scrambled form is kept: the nine characters are
// scrambled from key position 0 at compile time.
inline constexpr size_t kSenderTestArgumentChars = 9;

// Nine characters scrambled from key position 0, with a blank before and after.
constexpr std::array<char, kSenderTestArgumentChars + 2> scrambledArgument(
    const char (&plain)[kSenderTestArgumentChars + 1]) {
  const auto scrambled = scrambleConstant<kSenderTestArgumentChars>(plain);
  std::array<char, kSenderTestArgumentChars + 2> withBlanks{};
  withBlanks.front() = ' ';
  for (size_t i = 0; i < scrambled.size(); ++i) withBlanks[i + 1] = scrambled[i];
  withBlanks.back() = ' ';
  return withBlanks;
}

inline constexpr std::array<char, 11> kSenderTestArgument = scrambledArgument("#TESTSMS#");

inline constexpr std::string_view senderTestArgument() {
  return {kSenderTestArgument.data(), kSenderTestArgument.size()};
}

// The notice argument, made like the test argument; the notice's text
// follows it, scrambled from key position 0 like an alarm text.
inline constexpr std::array<char, 11> kSenderNoticeArgument = scrambledArgument("#HINWEIS#");

inline constexpr std::string_view senderNoticeArgument() {
  return {kSenderNoticeArgument.data(), kSenderNoticeArgument.size()};
}

// A text that begins with the test argument in plain form and then has the
// character at key position 9 that would scramble to a blank could not be
// told apart from a test; that character is a control code because this
// digit is not 0.
static_assert(messageKeyDigit(kSenderTestArgumentChars) != 0);

// The sender's exit codes that mean its messages went out: all sent, and
// all sent but its send log could not be written. Every other code means
// at least one did not.
inline constexpr uint32_t kSenderExitSent = 0;
inline constexpr uint32_t kSenderExitSentLogFailed = 7;

// The sender's path: the folder followed by "\S.exe".
std::string senderPath(std::string_view folder);

// The command line for an alarm: "<folder>\S.exe " and the scrambled text,
// cut only where the whole line would pass kMaxSenderCommandLineChars.
std::string buildAlarmCommandLine(std::string_view folder, std::string_view alarmText);

// The command line for a test message to `number` (passed as typed).
std::string buildTestCommandLine(std::string_view folder, std::string_view number);

// The command line for a notice with the text noticeText, cut like an
// alarm's.
std::string buildNoticeCommandLine(std::string_view folder, std::string_view noticeText);

// The sender's own command line (GetCommandLineA, byte for byte) split into
// the program's name and what follows it. This is the one place that knows
// where the program's name ends:
//   - a line that begins with '"' names the program up to the next '"' (a
//     shortcut quotes it); without a closing quote nothing follows it;
//   - `programPath` (the sender's full path, if known, any case) at the start;
//   - "S.exe" at the start, or the first "\S.exe" followed by a blank;
//   - otherwise the first word (typed at a prompt: "S /pruefen").
// The arguments are never looked into here: an alarm's scrambled text may
// hold any byte, quotes and blanks included, and passes as it came.
struct SenderCommandLine {
  // How the line names the program. The program itself always names its
  // sender by its path, unquoted (AsTheProgramDoes).
  enum class Naming { AsTheProgramDoes, Quoted, FirstWord };
  Naming naming = Naming::FirstWord;
  // Everything after the program's name, starting with the blank that
  // separates them; empty when nothing follows.
  std::string_view arguments;
};

SenderCommandLine splitSenderCommandLine(std::string_view commandLine, std::string_view programPath = {});

// What the program asks of its sender on the command line it builds: an
// alarm or a notice with its unscrambled text, or a test message with the
// number as typed. (S.exe turns it into a SendRequest of its own, which also
// knows the runs a person starts.)
struct CommandLineRequest {
  enum class Kind { Invalid, Alarm, Test, Notice };
  Kind kind = Kind::Invalid;
  std::string alarmText;  // plain text of an alarm, or of a notice
  std::string number;     // number of a test message
};

// Parses the sender's own command line (GetCommandLineA, byte for byte),
// split by splitSenderCommandLine. Only a line that names the sender as the
// program does is a request; `programPath` is the sender's full path if
// known.
CommandLineRequest parseSenderCommandLine(std::string_view commandLine, std::string_view programPath = {});

}  // namespace kantiq
