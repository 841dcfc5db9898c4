// The setup window's form: read from the two files, written back in the
// examples' form, and judged by the files' own readers.

#include "setup_form.h"

#include "common/cp1252.h"
#include "sender/config/sender_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace kantiq::setup {
namespace {

using ::testing::HasSubstr;

std::string readExample(const char* name) {
  std::ifstream in(std::string(KANTIQ_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(SetupForm, TheShippedExamplesAreWrittenBackByteForByte) {
  const std::string monitor = readExample("kantiq.toml");
  const std::string sender = readExample("S.toml");
  const LoadedSetup loaded = loadSetup(monitor, sender);
  EXPECT_TRUE(loaded.problems.empty());
  EXPECT_FALSE(loaded.monitorHandMade);
  EXPECT_FALSE(loaded.senderHandMade);
  EXPECT_FALSE(loaded.monitorFromExample);
  EXPECT_EQ(renderMonitorFile(loaded.form), monitor);
  EXPECT_EQ(renderSenderFile(loaded.form), sender);
  EXPECT_EQ(loaded.form, exampleForm());

  ASSERT_EQ(loaded.form.alarms.size(), 3u);
  EXPECT_EQ(loaded.form.alarms[0], (AlarmEntry{"Feuerwehr Musterstadt: Einsatz für alle Kräfte", "23345", "ZVEI1", ""}));
  EXPECT_EQ(loaded.form.alarms[2].steps, "[1160, 1270, 1400, 2600, 1670, [1240, 1860]]");
  ASSERT_EQ(loaded.form.groups.size(), 4u);
  EXPECT_EQ(loaded.form.groups[3], (GroupEntry{"Gerätewart", false, true, {}, {"+49 151 2223334"}}));
  EXPECT_EQ(loaded.form.sender.at("modem.anschluss"), "COM3");
  EXPECT_EQ(loaded.form.monitor.at("detector.required_hits"), "2");
  EXPECT_EQ(loaded.form.sender.count("modem.pin"), 0u);
  EXPECT_TRUE(checkForm(loaded.form).empty());

  // Saved by an editor with CRLF and a byte order mark: still the example.
  std::string crlf = "\xEF\xBB\xBF";
  for (char c : sender) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_FALSE(loadSetup(monitor, crlf).senderHandMade);
}

TEST(SetupForm, MissingFilesGiveTheExamplesValuesMarkedAsSuch) {
  const LoadedSetup fresh = loadSetup(std::nullopt, std::nullopt);
  EXPECT_TRUE(fresh.monitorFromExample);
  EXPECT_TRUE(fresh.senderFromExample);
  EXPECT_FALSE(fresh.monitorHandMade);
  EXPECT_EQ(fresh.form.alarms.size(), 3u);
  EXPECT_EQ(exampleValue(FileId::Monitor, "detector.magnitude_threshold"), "8");
  EXPECT_EQ(exampleValue(FileId::Sender, "modem.pin"), "1234");  // only in a comment
  EXPECT_EQ(kindOf(FileId::Sender, "http.kopfzeilen"), ValueKind::Toml);
  EXPECT_EQ(kindOf(FileId::Sender, "http.proxy"), ValueKind::Text);  // a comment two levels deep
  EXPECT_EQ(kindOf(FileId::Monitor, "input.position"), ValueKind::Number);
  EXPECT_FALSE(kindOf(FileId::Sender, "modem.farbe").has_value());
}

// What the user changes survives a write and a read, the readers accept it,
// and a file the window wrote is never taken for a hand-made one.
TEST(SetupForm, EditsSurviveWritingAndReading) {
  SetupForm form = exampleForm();
  form.alarms.push_back({"LZ Süd \"Nord\" \\ Einsatz", "54321", "CCIR", ""});
  form.groups.push_back({"Drehleiter", false, false, {"DLK", "Leiter"}, {"0171 / 555-123"}});
  form.sender["modem.pin"] = "4711";                      // a commented key set
  form.sender.erase("modem.baudrate");                    // a set key unset
  form.sender["ersatzkanal"] = "http";                    // the commented section put to use
  form.sender["http.url"] = "https://sms.example.net/api/send?x=1";
  form.sender["http.kopfzeilen"] = "{ Authorization = \"Bearer X\" }";
  form.sender["http.proxy"] = "proxy.example.net:8080";
  form.monitor["input.name"] = "Line 1 (USB Audio Device)";
  form.monitor["notices.sign_of_life"] = "aus";
  form.monitor.erase("detector.peaks_examined");

  const std::string monitor = renderMonitorFile(form);
  const std::string sender = renderSenderFile(form);
  EXPECT_THAT(sender, HasSubstr("\n# baudrate = 115200\n"));
  EXPECT_THAT(sender, HasSubstr("\npin = \"4711\"\n"));
  EXPECT_THAT(sender, HasSubstr("\n[http]\nurl = \"https://sms.example.net/api/send?x=1\"\n"));
  // The example's alternative lines stay comments once [http] is in use.
  EXPECT_THAT(sender, HasSubstr("\n# format = \"json\"\n"));
  EXPECT_THAT(sender, HasSubstr("\nproxy = \"proxy.example.net:8080\"\n"));
  EXPECT_THAT(monitor, HasSubstr("\n# peaks_examined = 3\n"));
  EXPECT_THAT(monitor, HasSubstr("text = \"LZ Süd \\\"Nord\\\" \\\\ Einsatz\""));

  const LoadedSetup back = loadSetup(monitor, sender);
  EXPECT_TRUE(back.problems.empty());
  EXPECT_FALSE(back.monitorHandMade);
  EXPECT_FALSE(back.senderHandMade);
  EXPECT_EQ(back.form, form);
  // The example's method and format lines are set in the example's [http]
  // comment only, so they stay unset: the gateway is form-less until chosen.
  EXPECT_EQ(back.form.sender.count("http.methode"), 0u);
  EXPECT_TRUE(checkForm(back.form).empty()) << checkForm(back.form).front().message;
}

struct Fault {
  const char* what;
  std::function<void(SetupForm&)> change;
  Place place;
  const char* reason;  // part of the message
};

TEST(SetupForm, EachFaultIsNamedWhereItIs) {
  const Fault faults[] = {
      {"a code with a letter", [](SetupForm& f) { f.alarms[1].code = "2334a"; },
       Place::ofAlarm(1, "code"), "Ziffern"},
      {"an empty code", [](SetupForm& f) { f.alarms[0].code = ""; }, Place::ofAlarm(0, "code"), "Code"},
      {"a code too long", [](SetupForm& f) { f.alarms[0].code = "12345678901234567"; },
       Place::ofAlarm(0, "code"), "höchstens"},
      {"an unknown tone set", [](SetupForm& f) { f.alarms[0].toneSet = "ZVEI9"; },
       Place::ofAlarm(0, "code"), "Tonsystem"},
      {"a duplicate code", [](SetupForm& f) { f.alarms.push_back({"Noch einer", "23346", "", ""}); },
       Place::ofAlarm(3, "code"), "Alarm 2"},
      {"a duplicate written in another tone set's name with the same tones",
       [](SetupForm& f) { f.alarms.push_back({"Noch einer", "23345", "PZVEI", ""}); },
       Place::ofAlarm(3, "code"), "Alarm 1"},
      {"a '#' in an alarm text", [](SetupForm& f) { f.alarms[0].text = "Brand #2"; },
       Place::ofAlarm(0, "text"), "'#'"},
      {"a phone number with letters", [](SetupForm& f) { f.groups[1].numbers.push_back("0172 abc"); },
       Place::ofGroup(1, "nummern"), "0172 abc"},
      {"a number value typed with letters", [](SetupForm& f) { f.monitor["detector.required_hits"] = "zwei"; },
       Place::ofKey(FileId::Monitor, "detector.required_hits"), "ganze Zahl"},
      {"a detector value out of range", [](SetupForm& f) { f.monitor["detector.required_hits"] = "9"; },
       Place::ofKey(FileId::Monitor, "detector.required_hits"), "required_hits"},
      {"a URL without a scheme",
       [](SetupForm& f) {
         f.sender["kanal"] = "http";
         f.sender["http.url"] = "sms.example.net/send";
       },
       Place::ofKey(FileId::Sender, "http.url"), "url"},
      {"a PIN with letters", [](SetupForm& f) { f.sender["modem.pin"] = "12a4"; }, Place::ofKey(FileId::Sender, "modem.pin"), "pin"},
      {"a sign of life on no weekday", [](SetupForm& f) { f.monitor["notices.sign_of_life"] = "Mondtag 10:00"; },
       Place::ofKey(FileId::Monitor, "notices.sign_of_life"), "sign_of_life"},
      {"steps that are no list", [](SetupForm& f) { f.alarms[2].steps = "1160, 1270"; },
       Place::ofAlarm(2, "steps"), ""},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    SetupForm form = exampleForm();
    fault.change(form);
    const std::vector<Problem> problems = checkForm(form);
    ASSERT_FALSE(problems.empty());
    EXPECT_EQ(problems.front().place, fault.place);
    EXPECT_THAT(problems.front().message, HasSubstr(fault.reason));
    EXPECT_FALSE(problems.front().warning);
  }
}

TEST(SetupForm, ValuesAreCheckedAsTyped) {
  EXPECT_EQ(checkCode("23345", ""), "");
  EXPECT_EQ(checkCode("2345", "CCIR"), "");
  EXPECT_THAT(checkCode("23 45", ""), HasSubstr("Ziffern"));
  EXPECT_THAT(checkCode("1", "Morse"), HasSubstr("Tonsystem"));
  EXPECT_EQ(checkPhoneNumber("+49 (171) 555-12.3"), "");
  EXPECT_THAT(checkPhoneNumber("+49 171 ABC"), HasSubstr("keine gültige Mobilfunknummer"));
  EXPECT_EQ(checkNumberValue(" 120 "), "");
  EXPECT_EQ(checkNumberValue("-3"), "");
  for (const char* bad : {"", "-", "1.5", "12345678901", "1e3"}) EXPECT_NE(checkNumberValue(bad), "") << bad;

  SetupForm form = exampleForm();
  EXPECT_EQ(duplicateCodeOf(form, form.alarms[1], 1), -1);
  EXPECT_EQ(duplicateCodeOf(form, AlarmEntry{"x", "23346", "", ""}, -1), 1);
  EXPECT_EQ(duplicateCodeOf(form, AlarmEntry{"x", "23346", "CCIR", ""}, -1), -1);
}

TEST(SetupForm, HandMadeAndBrokenFiles) {
  const std::string monitor = readExample("kantiq.toml");
  const std::string sender = readExample("S.toml");

  // Own comments and another order: read as they are, marked hand-made.
  const std::string own = "# Unsere Wehr\n" + replaced(sender, "anschluss = \"COM3\"", "anschluss = \"COM7\" # neu");
  const LoadedSetup handMade = loadSetup(monitor, own);
  EXPECT_TRUE(handMade.problems.empty());
  EXPECT_TRUE(handMade.senderHandMade);
  EXPECT_FALSE(handMade.monitorHandMade);
  EXPECT_FALSE(handMade.senderFromExample);
  EXPECT_EQ(handMade.form.sender.at("modem.anschluss"), "COM7");

  struct Broken {
    const char* what;
    std::string text;
    uint32_t line;
    const char* reason;
  };
  const Broken broken[] = {
      {"a missing quote", replaced(sender, "kanal = \"modem\"", "kanal = \"modem"), 22, "TOML"},
      {"an unknown key", replaced(sender, "baudrate = 115200", "baudrate = 115200\nfarbe = 3"), 40, "modem.farbe"},
      {"a number for a text", replaced(sender, "anschluss = \"COM3\"", "anschluss = 3"), 37, "anschluss"},
      {"a group with a number that is no text", replaced(sender, "nummern = [\"0172 1112223\"]", "nummern = [172]"),
       140, "nummern"},
  };
  for (const Broken& b : broken) {
    SCOPED_TRACE(b.what);
    const LoadedSetup loaded = loadSetup(monitor, b.text);
    ASSERT_EQ(loaded.problems.size(), 1u);
    EXPECT_EQ(loaded.problems[0].line, b.line);
    EXPECT_EQ(loaded.problems[0].place.file, FileId::Sender);
    EXPECT_THAT(loaded.problems[0].message, HasSubstr(b.reason));
    EXPECT_TRUE(loaded.senderFromExample);
    EXPECT_EQ(loaded.form.groups, exampleForm().groups);
    EXPECT_FALSE(loaded.monitorFromExample);
  }
}

// S.toml's groups are read by the form and by S.exe, through the same reader
// of values: a fault in one gets the same words at the same line from both.
TEST(SetupForm, AGroupsFaultReadsAsTheSenderSaysIt) {
  const std::string monitor = readExample("kantiq.toml");
  const std::string sender = readExample("S.toml");
  const std::pair<std::string, std::string> faults[] = {
      {"name = \"Wehrführung\"", "name = 7"},
      {"alle_alarme = true\nnummern", "alle_alarme = \"ja\"\nnummern"},
      {"nummern = [\"+49 170 1234567\", \"+49 171 7654321\"]", "nummern = [\"+49 170 1234567\", 171]"},
      {"nummern = [\"+49 170 1234567\", \"+49 171 7654321\"]", "nummern = \"+49 170 1234567\""},
  };
  for (const auto& [from, to] : faults) {
    SCOPED_TRACE(to);
    const std::string text = replaced(sender, from, to);
    const LoadedSetup loaded = loadSetup(monitor, text);
    const sender::ConfigResult read = sender::parseSenderConfig(text);
    ASSERT_EQ(loaded.problems.size(), 1u);
    ASSERT_FALSE(read.ok);
    EXPECT_EQ("Zeile " + std::to_string(loaded.problems[0].line) + ": " + loaded.problems[0].message,
              tool::cp1252ToUtf8(read.error));
  }
}

}  // namespace
}  // namespace kantiq::setup
