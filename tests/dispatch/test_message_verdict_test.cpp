#include "dispatch/test_message_verdict.h"

#include <gtest/gtest.h>

namespace kantiq {
namespace {

TEST(TestMessageVerdict, TheBoxSaysWhatTheSenderSaid) {
  struct Case {
    const char* name;
    bool started, ended;
    uint32_t code;
    std::string output;
    bool sent;
    std::string caption;
    std::string text;  // part of it
  };
  const Case cases[] = {
      {"sent", true, true, 0, "S.exe: Test-SMS an 01712345678 gesendet.\r\n", true, "Test-SMS",
       "Die Test-SMS wurde gesendet.\n\nTest-SMS an 01712345678 gesendet."},
      {"sent, log not writable", true, true, 7,
       "S.exe: Test-SMS an 0171 gesendet. Achtung: SendeLog.txt lässt sich nicht schreiben (Fehler 5).\r\n", true,
       "Test-SMS", "Achtung: SendeLog.txt"},
      {"refused PIN", true, true, 1,
       "noise\r\nS.exe: Test-SMS an 01712345678 nicht gesendet: Die SIM-Karte verlangt die PUK.\r\n\r\n", false,
       "Fehler", "Die Test-SMS wurde nicht gesendet.\n\nTest-SMS an 01712345678 nicht gesendet: Die SIM-Karte verlangt die PUK."},
      {"broken configuration", true, true, 2, "S.exe: Test-SMS an 0171 nicht gesendet: Konfigurationsfehler\n", false,
       "Fehler", "Einzelheiten stehen in SendeLog.txt"},
      {"silent sender", true, true, 3, "", false, "Fehler", "S.exe hat sich mit dem Code 3 beendet."},
      {"crashed sender", true, true, 0xC0000005u, "", false, "Fehler", "mit dem Code 3221225477 beendet."},
      {"not started", false, false, 0, "", false, "Fehler", "konnte nicht gestartet werden"},
      {"still running", true, false, 0, "S.exe: Test-SMS an 0171 gesendet.\r\n", false, "Fehler", "noch nicht fertig"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TestMessageVerdict v = judgeTestMessage(c.started, c.ended, c.code, c.output);
    EXPECT_EQ(v.sent, c.sent);
    EXPECT_EQ(v.caption, c.caption);
    EXPECT_NE(v.text.find(c.text), std::string::npos) << v.text;
  }
}

TEST(TestMessageVerdict, SummaryIsTheLastLineKeptToOneLine) {
  EXPECT_EQ(senderSummaryLine("a\r\nb\r\n"), "b");
  EXPECT_EQ(senderSummaryLine("S.exe: x\ty"), "x y");
  EXPECT_EQ(senderSummaryLine("\r\n\r\n"), "");
  EXPECT_EQ(senderSummaryLine(std::string(1000, 'z')).size(), 403u);
}

}  // namespace
}  // namespace kantiq
