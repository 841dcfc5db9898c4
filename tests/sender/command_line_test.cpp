#include "sender/command_line/command_line.h"

#include <gtest/gtest.h>

#include "dispatch/message_key.h"
#include "dispatch/sender_protocol.h"

namespace kantiq::sender {
namespace {

TEST(SenderCommandLine, AlarmTestAndNoticeAsTheProgramBuildsThem) {
  const std::string folder = "C:\\Program Files\\Kantiq";
  SendRequest r;
  ASSERT_TRUE(requestFromCommandLine(buildAlarmCommandLine(folder, "Brand Süd"), folder + "\\S.exe", r));
  EXPECT_EQ(r.kind, SendRequest::Kind::Alarm);
  EXPECT_EQ(r.text, "Brand Süd");

  SendRequest t;
  ASSERT_TRUE(requestFromCommandLine(buildTestCommandLine(folder, " 0170 123 "), "", t));
  EXPECT_EQ(t.kind, SendRequest::Kind::Test);
  EXPECT_EQ(t.number, " 0170 123 ");

  SendRequest n;
  ASSERT_TRUE(requestFromCommandLine(buildNoticeCommandLine(folder, "Tonausfall seit 10:00"), folder + "\\S.exe", n));
  EXPECT_EQ(n.kind, SendRequest::Kind::Notice);
  EXPECT_EQ(n.text, "Tonausfall seit 10:00");
  EXPECT_FALSE(isResendRequest(buildNoticeCommandLine(folder, "--nachsenden"), folder + "\\S.exe"));
}

TEST(SenderCommandLine, TextEndsAtAZeroByteAndALineWithoutArgumentsIsRefused) {
  // A command line carries no zero byte, but a scrambled byte may unscramble to one.
  const std::string line = "C:\\K\\S.exe " + scrambleMessage(std::string("Wache\0Rest", 10));
  SendRequest r;
  ASSERT_TRUE(requestFromCommandLine(line, "", r));
  EXPECT_EQ(r.text, "Wache");

  SendRequest none;
  EXPECT_FALSE(requestFromCommandLine("C:\\K\\S.exe", "C:\\K\\S.exe", none));
  EXPECT_FALSE(requestFromCommandLine("", "", none));
}

TEST(SenderCommandLine, CheckModeFromAShortcutOrAPrompt) {
  const std::string program = "C:\\Program Files\\Kantiq\\S.exe";
  for (const std::string& line : {program + " --pruefen", "\"" + program + "\" --pruefen", "\"" + program + "\"  --PRUEFEN ",
                                  std::string("S.exe --pruefen"), std::string("S /pruefen"), program + " --prüfen"}) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(isCheckRequest(line, program));
  }
  for (const std::string& line : {program, program + " --pruefen jetzt", buildTestCommandLine("C:\\K", "--pruefen"),
                                  buildAlarmCommandLine("C:\\K", "--pruefen"), std::string("\"") + program,
                                  buildAlarmCommandLine("C:\\K", unscrambleMessage("\"--pruefen\""))}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(isCheckRequest(line, program));
  }
  // The one alarm text that would be taken for a check: nine characters no
  // alarm configuration is likely to hold.
  const std::string lookalike = unscrambleMessage("--pruefen");
  EXPECT_TRUE(isCheckRequest(buildAlarmCommandLine("C:\\K", lookalike), "C:\\K\\S.exe"));
}

TEST(SenderCommandLine, ResendModeIsReadLikeTheCheck) {
  const std::string program = "C:\\Program Files\\Kantiq\\S.exe";
  for (const std::string& line : {program + " --nachsenden", "\"" + program + "\"  --NachSenden ",
                                  std::string("S.exe /nachsenden")}) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(isResendRequest(line, program));
    EXPECT_FALSE(isCheckRequest(line, program));
  }
  for (const std::string& line : {program + " --pruefen", program + " --nachsenden jetzt",
                                  buildAlarmCommandLine("C:\\K", "--nachsenden"), buildTestCommandLine("C:\\K", "--nachsenden")}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(isResendRequest(line, program));
  }
  // The one alarm text that would be taken for it; docs/sender.md names it.
  const std::string lookalike = unscrambleMessage("--nachsenden");
  EXPECT_EQ(lookalike, "-)j[bgjal[_g");
  EXPECT_TRUE(isResendRequest(buildAlarmCommandLine("C:\\K", lookalike), "C:\\K\\S.exe"));
}

}  // namespace
}  // namespace kantiq::sender
