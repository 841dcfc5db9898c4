#include "dispatch/sender_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace kantiq {
namespace {

using Kind = CommandLineRequest::Kind;

TEST(SenderCommandLine, AlarmLineIsFolderSenderBlankAndScrambledText) {
  const std::string folder = "C:\\Program Files\\Kantiq";
  const std::string line = buildAlarmCommandLine(folder, "Wache 1");
  EXPECT_EQ(line, "C:\\Program Files\\Kantiq\\S.exe " + scrambleMessage("Wache 1"));
  // An empty text ends the line with the blank after the path.
  EXPECT_EQ(buildAlarmCommandLine(folder, ""), "C:\\Program Files\\Kantiq\\S.exe ");
  EXPECT_EQ(senderPath(folder), "C:\\Program Files\\Kantiq\\S.exe");
}

TEST(SenderCommandLine, TestArgumentIsKeptOnlyInScrambledForm) {
  const std::string_view arg = senderTestArgument();
  ASSERT_EQ(arg.size(), 11u);
  EXPECT_EQ(arg.front(), ' ');
  EXPECT_EQ(arg.back(), ' ');
  const std::string_view nine = arg.substr(1, 9);
  EXPECT_EQ(nine.find(' '), std::string_view::npos);
  EXPECT_EQ(nine.find('\0'), std::string_view::npos);
  EXPECT_EQ(unscrambleMessage(nine), "#TESTSMS#");
  EXPECT_EQ(scrambleMessage("#TESTSMS#"), nine);
  EXPECT_NE(nine, "#TESTSMS#");
  EXPECT_EQ(buildTestCommandLine("C:\\K", " 0170 123 "), "C:\\K\\S.exe" + std::string(arg) + " 0170 123 ");
}

TEST(SenderCommandLine, SenderRecoversWhatTheProgramSent) {
  struct Case {
    const char* folder;
    std::string text;
  } cases[] = {
      {"C:\\Kantiq", "Einsatz \xFC" "ber Funk 100% \\ \t"},
      {"C:\\Program Files\\Kantiq", ""},
      {"C:\\Program Files\\Kantiq", " blanks at both ends "},
      {"D:\\a b\\c d", std::string(3, '\xF7') + "\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF"},
      // Quotes in the text, and a text whose scrambled form on the line is
      // quoted and names the sender again: the arguments are never looked into.
      {"C:\\Kantiq", "\"Brand\" in \"Halle 2\" \""},
      {"C:\\Program Files\\Kantiq", unscrambleMessage("\" \\S.exe \"x\" \"")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + (" / " + c.text));
    const CommandLineRequest r = parseSenderCommandLine(buildAlarmCommandLine(c.folder, c.text));
    EXPECT_EQ(r.kind, Kind::Alarm);
    EXPECT_EQ(r.alarmText, c.text);
  }
  for (const char* number : {"", "0170 1234567", " 0170 "}) {
    SCOPED_TRACE(number);
    const CommandLineRequest r = parseSenderCommandLine(buildTestCommandLine("C:\\Program Files\\K", number));
    EXPECT_EQ(r.kind, Kind::Test);
    EXPECT_EQ(r.number, number);
  }
  // A notice: its argument has no blank inside, and its text comes back
  // whole, even one that begins like the test argument in plain form.
  EXPECT_EQ(senderNoticeArgument().substr(1, 9).find(' '), std::string_view::npos);
  EXPECT_EQ(unscrambleMessage(senderNoticeArgument().substr(1, 9)), "#HINWEIS#");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("notice ") + c.folder + (" / " + c.text));
    const CommandLineRequest r = parseSenderCommandLine(buildNoticeCommandLine(c.folder, c.text));
    EXPECT_EQ(r.kind, Kind::Notice);
    EXPECT_EQ(r.alarmText, c.text);
  }
  EXPECT_EQ(parseSenderCommandLine(buildNoticeCommandLine("C:\\K", "#TESTSMS# 0170")).alarmText, "#TESTSMS# 0170");
  // An alarm whose text is the notice argument in plain form stays an alarm.
  EXPECT_EQ(parseSenderCommandLine(buildAlarmCommandLine("C:\\K", "#HINWEIS# Brand")).kind, Kind::Alarm);
}

TEST(SenderCommandLine, SenderFindsItsArgumentsAfterItsOwnPath) {
  // A folder that itself contains "\S.exe ": only the sender's own path,
  // when given, tells where the arguments begin.
  const std::string folder = "C:\\odd\\S.exe dir";
  const std::string line = buildAlarmCommandLine(folder, "Text");
  EXPECT_EQ(parseSenderCommandLine(line, senderPath(folder)).alarmText, "Text");
  EXPECT_EQ(parseSenderCommandLine(line, "c:\\ODD\\s.exe DIR\\S.EXE").alarmText, "Text");
  // Started by name from a console.
  const CommandLineRequest byName = parseSenderCommandLine("S.exe" + std::string(senderTestArgument()) + "0170");
  EXPECT_EQ(byName.kind, Kind::Test);
  EXPECT_EQ(byName.number, "0170");
  EXPECT_EQ(parseSenderCommandLine("C:\\K\\Other.exe abc").kind, Kind::Invalid);
  EXPECT_EQ(parseSenderCommandLine("C:\\K\\S.exe").kind, Kind::Invalid);
}

TEST(SenderCommandLine, LongTextsPassWholeUntilThePlatformLimit) {
  const std::string folder = "C:\\Program Files\\Kantiq";
  std::string text600;
  for (int i = 0; i < 600; ++i) text600.push_back(static_cast<char>('a' + i % 26));
  const std::string line600 = buildAlarmCommandLine(folder, text600);
  EXPECT_GT(line600.size(), 259u);
  EXPECT_EQ(parseSenderCommandLine(line600).alarmText, text600);

  const std::string huge(40000, 'Z');
  const std::string cut = buildAlarmCommandLine(folder, huge);
  EXPECT_EQ(cut.size(), kMaxSenderCommandLineChars);
  const std::string received = parseSenderCommandLine(cut).alarmText;
  EXPECT_EQ(received, huge.substr(0, kMaxSenderCommandLineChars - folder.size() - 7));
}

}  // namespace
}  // namespace kantiq
