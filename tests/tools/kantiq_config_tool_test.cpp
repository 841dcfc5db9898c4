#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "config/configuration_text.h"
#include "config/kantiq_settings.h"
#include "config_source.h"
#include "command_line.h"
#include "common/cp1252.h"
#include "common/tone_sets.h"

namespace kantiq::tool {
namespace {

bool hasError(const SourceReading& r, uint32_t line, std::string_view part) {
  for (const Diagnostic& d : r.diagnostics) {
    if (!d.warning && d.line == line && d.message.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(ToneCodes, RepeatToneReplacesAToneEqualToTheOneBefore) {
  const ToneSet& zvei = *findToneSet("zvei1");
  EXPECT_EQ(expandCode("111", zvei), (std::vector<int32_t>{1060, 2600, 1060}));
  EXPECT_EQ(expandCode("23345", zvei), (std::vector<int32_t>{1160, 1270, 2600, 1400, 1530}));
  EXPECT_EQ(expandCode("1234567890", zvei),
            (std::vector<int32_t>{1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200, 2400}));
  EXPECT_EQ(codeOfTones({1060, 2600, 1060}, zvei), "111");
  EXPECT_EQ(codeOfTones({1160, 1270, 2600, 1400, 1530}, zvei), "23345");
  EXPECT_FALSE(codeOfTones({1060, 1060}, zvei).has_value());  // a code never sends that
  EXPECT_FALSE(codeOfTones({2600}, zvei).has_value());
  EXPECT_FALSE(codeOfTones({1061}, zvei).has_value());
  EXPECT_EQ(findToneSet("ZVEI9"), nullptr);
}

// The table itself: every set can send every code unambiguously.
TEST(ToneSets, EachSetHasElevenDistinctTonesInTheVoiceBand) {
  std::set<std::string> names;
  for (const ToneSet& set : allToneSets()) {
    SCOPED_TRACE(std::string(set.name));
    names.insert(std::string(set.name));
    std::set<int32_t> tones(set.digitHz.begin(), set.digitHz.end());
    tones.insert(set.repeatHz);
    EXPECT_EQ(tones.size(), 11u);  // the repeat tone differs from every digit's
    EXPECT_GE(*tones.begin(), 300);
    EXPECT_LE(*tones.rbegin(), 3000);
    std::string lower(set.name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_EQ(findToneSet(lower), &set);
  }
  EXPECT_EQ(names, (std::set<std::string>{"ZVEI1", "ZVEI2", "ZVEI3", "DZVEI", "PZVEI", "CCIR", "CCITT", "EEA", "EIA"}));
  EXPECT_EQ(defaultToneSet().name, "ZVEI1");
  EXPECT_EQ(allToneSets().front().name, "ZVEI1");
}

// Steps that are a code of several sets are named for ZVEI1 first, then for
// the first set of the table.
TEST(ToneSets, StepsAreNamedForTheFirstSetThatSendsThem) {
  struct Case {
    const char* sentIn;
    const char* code;
    const char* namedFor;
    const char* namedCode;
  } cases[] = {
      {"ZVEI1", "12345", "ZVEI1", "12345"},  // also DZVEI 23456, ZVEI2 and PZVEI 12345
      {"PZVEI", "11", "ZVEI1", "11"},        // PZVEI sends ZVEI1's frequencies
      {"ZVEI2", "11", "ZVEI2", "11"},        // its own repeat tone, 970 Hz
      {"ZVEI2", "12", "ZVEI1", "12"},        // no repeat: the same tones as ZVEI1
      {"DZVEI", "1", "DZVEI", "1"},          // 970 Hz is no ZVEI1 digit
      {"ZVEI3", "1556", "DZVEI", "1556"},    // ZVEI3 sends DZVEI's frequencies
      {"DZVEI", "4556", "ZVEI1", "3405"},    // all of them ZVEI1 tones, its repeat 2400 Hz ZVEI1's 0
      {"EEA", "9112", "CCIR", "9112"},
      {"CCITT", "00", "CCITT", "00"},        // 400 Hz and its repeat 2300 Hz
      {"EIA", "1234567890", "EIA", "1234567890"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sentIn) + " " + c.code);
    const std::vector<int32_t> tones = expandCode(c.code, *findToneSet(c.sentIn));
    const auto named = codeInAnySet(tones);
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->set->name, c.namedFor);
    EXPECT_EQ(named->code, c.namedCode);
    EXPECT_EQ(expandCode(named->code, *named->set), tones);
  }
  EXPECT_FALSE(codeInAnySet({1060, 1061}).has_value());
  EXPECT_FALSE(codeInAnySet({}).has_value());
}

TEST(ConfigurationSource, ToneSetIsChosenPerAlarm) {
  const SourceReading r = readConfigurationSource(R"(
[detector]
minimum_frequency_hz = 300
[[alarm]]
text = "a"
code = "112"
tone_set = "cCiR"
[[alarm]]
text = "b"
code = "112"
[[alarm]]
text = "c"
code = "10"
tone_set = "CCITT"
[[alarm]]
text = "d"
code = "1"
tone_set = "ZVEI4"
)",
                                                  "s.toml");
  ASSERT_EQ(r.configuration.alarms.size(), 4u);
  auto tones = [&](size_t a) {
    std::vector<int32_t> hz;
    for (const ConfiguredStep& s : r.configuration.alarms[a].steps) hz.push_back(s.frequency1Hz);
    return hz;
  };
  EXPECT_EQ(tones(0), (std::vector<int32_t>{1124, 2110, 1197}));
  EXPECT_EQ(tones(1), (std::vector<int32_t>{1060, 2600, 1160}));  // ZVEI1 when none is named
  EXPECT_EQ(tones(2), (std::vector<int32_t>{697, 400}));
  EXPECT_TRUE(hasError(r, 18, "unbekanntes Tonsystem 'ZVEI4'"));
  EXPECT_TRUE(hasError(r, 18, "ZVEI1, ZVEI2, DZVEI, ZVEI3, PZVEI, CCIR, CCITT, EEA, EIA"));
}

// A tone the detector never examines makes its alarm deaf: write says so.
TEST(ConfigurationSource, TonesAtOrBelowTheMinimumFrequencyAreWarnedAbout) {
  const std::string alarms = "[[alarm]]\ntext = \"EIA\"\ncode = \"10\"\ntone_set = \"EIA\"\n";
  const SourceReading deaf = readConfigurationSource("[detector]\nminimum_frequency_hz = 741\n" + alarms, "d.toml");
  EXPECT_TRUE(deaf.ok());  // a warning, the file is still written
  std::vector<std::string> warnings;
  for (const Diagnostic& d : deaf.diagnostics) {
    if (d.warning) warnings.push_back(d.message);
  }
  ASSERT_EQ(warnings.size(), 2u);  // 741 Hz (equal to the minimum) and 600 Hz, once each
  EXPECT_NE(warnings[0].find("741 Hz kann nie erkannt werden"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("600 Hz"), std::string::npos) << warnings[1];
  const SourceReading heard = readConfigurationSource("[detector]\nminimum_frequency_hz = 500\n" + alarms, "h.toml");
  EXPECT_TRUE(heard.diagnostics.empty()) << formatDiagnostics(heard.diagnostics, "h.toml");
}

TEST(CommandLine, SubcommandsDropAndMistakes) {
  struct Case {
    std::vector<std::string> args;
    CommandKind kind;
    std::vector<std::string> operands;
    const char* says;  // part of the help or the complaint
  } cases[] = {
      {{"write", "a.toml", "C:\\Kantiq"}, CommandKind::Write, {"a.toml", "C:\\Kantiq"}, ""},
      {{"check", "--", "-x.dat"}, CommandKind::Check, {"-x.dat"}, ""},
      {{"show", "/tmp/SMSConfig1.dat"}, CommandKind::Show, {"/tmp/SMSConfig1.dat"}, ""},
      {{"encode", "t.txt", "o.dat"}, CommandKind::Encode, {"t.txt", "o.dat"}, ""},
      {{"decode", "o.dat"}, CommandKind::Decode, {"o.dat"}, ""},
      {{"inputs"}, CommandKind::Inputs, {}, ""},
      {{"inputs", "USB Audio", "2"}, CommandKind::Inputs, {"USB Audio", "2"}, ""},
      {{"inputs", "a", "1", "x"}, CommandKind::Usage, {}, "Zu viele Angaben"},
      {{"inputs", "-h"}, CommandKind::Help, {}, "Aufruf: kantiq-config inputs [NAME [POSITION]]"},
      {{"C:\\Users\\J\u00fcrgen\\Einrichtung.TOML"}, CommandKind::Drop,
       {"C:\\Users\\J\u00fcrgen\\Einrichtung.TOML"}, ""},
      {{"write"}, CommandKind::Usage, {}, "fehlt QUELLE"},
      {{"write", "a.toml"}, CommandKind::Usage, {}, "fehlt ORDNER"},
      {{"show", "a", "b"}, CommandKind::Usage, {}, "Zu viele Angaben"},
      {{"check", "--frob", "x"}, CommandKind::Usage, {}, "Unbekannte Option '--frob'"},
      {{"a.toml", "C:\\Kantiq"}, CommandKind::Usage, {}, "Unbekannter Befehl 'a.toml'"},
      {{".toml"}, CommandKind::Usage, {}, "Unbekannter Befehl"},
      {{"kantiq.txt"}, CommandKind::Usage, {}, "Unbekannter Befehl"},
      {{}, CommandKind::Usage, {}, "Es fehlt ein Befehl"},
      {{"--help"}, CommandKind::Help, {}, "Rückgabewerte: 0 erledigt"},
      {{"/?"}, CommandKind::Help, {}, "QUELLE.toml"},
      {{"write", "-h"}, CommandKind::Help, {}, "Aufruf: kantiq-config write QUELLE ORDNER"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"kantiq-config"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const Command command = parseCommandLine(args);
    EXPECT_EQ(command.kind, c.kind) << command.text;
    EXPECT_EQ(command.operands, c.operands);
    EXPECT_NE(command.text.find(c.says), std::string::npos) << command.text;
  }
}

TEST(Cp1252, EveryByteSurvivesTheWayThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const Utf8Conversion back = utf8ToCp1252(cp1252ToUtf8(all));
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.text, all);
  EXPECT_EQ(cp1252ToUtf8("\x80\xE4"), "€ä");
  const Utf8Conversion omega = utf8ToCp1252("ab\u03A9");
  EXPECT_FALSE(omega.ok);
  EXPECT_EQ(omega.badCodePoint, U'\u03A9');
  EXPECT_EQ(omega.badOffset, 2u);
  EXPECT_TRUE(utf8ToCp1252("\xC3").malformed);      // cut short
  EXPECT_TRUE(utf8ToCp1252("\xC0\x80").malformed);  // overlong
  EXPECT_TRUE(utf8ToCp1252("\xED\xA0\x80").malformed);  // surrogate
}

TEST(ConfigurationSource, ReadsParametersByNameAndTheThreeStepForms) {
  const SourceReading r = readConfigurationSource(R"(
[detector]
required_hits = 3
peaks_examined = 7
retrigger_delay_ms = 120000

[[alarm]]
text = "Löschzug Süd"
code = "111"

[[alarm]]
text = "Zweiton"
steps = [675, [1060, 1240], { frequency1_hz = 300, frequency2_hz = 5, dual_tone = false }]
)",
                                                  "t.toml");
  ASSERT_TRUE(r.ok()) << formatDiagnostics(r.diagnostics, "t.toml");
  const Configuration& c = r.configuration;
  EXPECT_EQ(c.parameters.requiredHits, 3);
  EXPECT_EQ(c.parameters.peaksExamined, 7);
  EXPECT_EQ(c.parameters.retriggerDelayMs, 120000);
  EXPECT_EQ(c.parameters.frequencyToleranceHz, kDefaultDetectorParameters.frequencyToleranceHz);
  ASSERT_EQ(c.alarms.size(), 2u);
  EXPECT_EQ(c.alarms[0].text, "L\xF6schzug S\xFC" "d");
  EXPECT_EQ(c.alarms[0].steps, (std::vector<ConfiguredStep>{{1060, 0, false}, {2600, 0, false}, {1060, 0, false}}));
  EXPECT_EQ(c.alarms[1].steps,
            (std::vector<ConfiguredStep>{{675, 0, false}, {1060, 1240, true}, {300, 5, false}}));
  EXPECT_EQ(r.alarmLines, (std::vector<uint32_t>{7, 11}));
}

TEST(ConfigurationSource, BrokenSourcesNameLineAndField) {
  const SourceReading r = readConfigurationSource(R"([detector]
required_hits = 6
tolerance = 3
[[alarm]]
text = "A#B"
code = "12x"
[[alarm]]
text = "B"
steps = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11]
[[alarm]]
text = "C"
[[alarm]]
text = 5
steps = [0]
colour = 1
)",
                                                  "b.toml");
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(hasError(r, 2, "required_hits ist 6"));
  EXPECT_TRUE(hasError(r, 3, "unbekannter Parameter 'tolerance'"));
  EXPECT_TRUE(hasError(r, 5, "'#'"));
  EXPECT_TRUE(hasError(r, 6, "Ziffern 0 bis 9"));
  EXPECT_TRUE(hasError(r, 9, "11 Töne"));
  EXPECT_TRUE(hasError(r, 10, "keine Töne"));
  EXPECT_TRUE(hasError(r, 13, "muss eine Zeichenkette sein"));
  EXPECT_TRUE(hasError(r, 14, "1 bis 22049"));
  EXPECT_TRUE(hasError(r, 15, "unbekannter Schlüssel 'colour'"));

  const SourceReading syntax = readConfigurationSource("[[alarm]]\ntext = \"x\n", "s.toml");
  ASSERT_FALSE(syntax.ok());
  EXPECT_EQ(syntax.diagnostics.at(0).line, 2u);
}

// [input]: Kantiq's own settings, for Kantiq.ini.
TEST(ConfigurationSource, InputSectionGivesKantiqsOwnSettings) {
  struct Case {
    const char* toml;
    uint32_t errorLine;  // 0: no error
    const char* error;
    KantiqSettings settings;
    bool named;
  } cases[] = {
      {"", 0, "", {}, false},
      {"[input]\nsilence_limit_s = 0\n", 0, "", {"", 1, 0}, false},
      {"[input]\nname = \"Line 1 (Hü)\"\nposition = 2\nsilence_limit_s = 86400\n", 0, "",
       {"Line 1 (H\xFC)", 2, 86400000}, true},
      {"[input]\nname = \"\"\n", 0, "", {}, true},
      {"[input]\nposition = 2\n", 2, "gilt nur zusammen mit input.name", {"", 2, 120000}, false},
      {"[input]\nname = \"Ж\"\n", 2, "in Windows-1252 nicht gibt", {}, false},
      {"[input]\nname = \"a\\tb\"\n", 2, "keine Steuerzeichen", {}, false},
      {"[input]\nname = \"12345678901234567890123456789012\"\n", 2, "hat 32 Zeichen", {}, false},
      {"[input]\nsilence_limit_s = 86401\n", 2, "erlaubt ist 0 bis 86400", {}, false},
      {"[input]\nname = \"x\"\nposition = 100\n", 3, "erlaubt ist 1 bis 99", {"x", 1, 120000}, true},
      {"[input]\nvolume = 3\n", 2, "unbekannter Schlüssel 'volume' in [input]", {}, false},
      {"input = 3\n", 1, "'input' muss eine Tabelle sein", {}, false},
      // [notices]
      {"[notices]\ndelay_s = 20\nsign_of_life = \"Mittwoch 07:05\"\n", 0, "",
       {"", 1, 120000, 180000, 20000, 3, 425}, false},
      {"[notices]\nsign_of_life = \"so 23:59\"\n", 0, "", {"", 1, 120000, 180000, 600000, 7, 1439}, false},
      {"[notices]\nsign_of_life = \"AUS\"\n", 0, "", {"", 1, 120000, 180000, 600000, 0, 600}, false},
      {"[notices]\nsign_of_life = \"Montag 24:00\"\n", 2, "z. B. \"Montag 10:00\"", {}, false},
      {"[notices]\nsign_of_life = \"Mo\"\n", 2, "z. B. \"Montag 10:00\"", {}, false},
      {"[notices]\nsign_of_life = \"M 10:00\"\n", 2, "z. B. \"Montag 10:00\"", {}, false},
      {"[notices]\nsign_of_life = 1\n", 2, "z. B. \"Montag 10:00\"", {}, false},
      {"[notices]\ndelay_s = 9\n", 2, "erlaubt ist 10 bis 86400", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.toml);
    const SourceReading r = readConfigurationSource(std::string(c.toml) + "\n[[alarm]]\ntext = \"A\"\ncode = \"12\"\n", "i.toml");
    EXPECT_EQ(r.settings, c.settings);
    EXPECT_EQ(r.inputNamed, c.named);
    if (c.errorLine == 0) {
      EXPECT_TRUE(r.ok()) << formatDiagnostics(r.diagnostics, "i.toml");
    } else {
      EXPECT_TRUE(hasError(r, c.errorLine, c.error)) << formatDiagnostics(r.diagnostics, "i.toml");
    }
  }
}

TEST(ConfigurationSource, MoreThan999AlarmsAreRefused) {
  std::string toml;
  for (int i = 0; i < 1000; ++i) toml += "[[alarm]]\ntext = \"a\"\nsteps = [1060]\n";
  const SourceReading r = readConfigurationSource(toml, "m.toml");
  EXPECT_TRUE(hasError(r, 2998, "mehr als 999 Alarme"));
}

TEST(ConfigurationSource, TextsTheStoredFormWouldChangeAreRefusedByName) {
  // Find a control character at the first text position that the key turns
  // into the end-of-file mark, and one pair that becomes CR LF.
  SourceReading probe = readConfigurationSource("[[alarm]]\ntext = \"x\"\nsteps = [1060]\n", "p.toml");
  ASSERT_TRUE(probe.ok());
  std::vector<size_t> offsets;
  composeConfiguration(probe.configuration, &offsets);
  const auto& key = configurationKey();
  const size_t p = offsets.at(0);
  const int eof = 0x1A - key[p % 3601];
  const int cr = 0x0D - key[p % 3601];
  const int lf = 0x0A - key[(p + 1) % 3601];
  char toml[160];
  std::snprintf(toml, sizeof toml, "[[alarm]]\ntext = \"\\u%04X\"\nsteps = [1060]\n", eof);
  SourceReading r = readConfigurationSource(toml, "e.toml");
  ASSERT_TRUE(r.ok());
  composeCheckedText(r);
  ASSERT_FALSE(r.ok());
  EXPECT_TRUE(hasError(r, 1, "Alarm 1")) << r.diagnostics.at(0).message;
  EXPECT_TRUE(hasError(r, 1, "Dateiende-Zeichen"));
  EXPECT_TRUE(hasError(r, 1, "an Zeichen 1"));

  std::snprintf(toml, sizeof toml, "[[alarm]]\ntext = \"\\u%04X\\u%04X\"\nsteps = [1060]\n", cr, lf);
  r = readConfigurationSource(toml, "c.toml");
  ASSERT_TRUE(r.ok());
  composeCheckedText(r);
  EXPECT_TRUE(hasError(r, 1, "Wagenrücklauf direkt vor einem Zeilenvorschub"));

  r = readConfigurationSource("[[alarm]]\ntext = \"a\\u0000b\"\nsteps = [1060]\n", "z.toml");
  EXPECT_TRUE(hasError(r, 2, "U+0000"));
}

// What show prints reads back to the same configuration.
TEST(ConfigurationSource, ShownSourceReadsBackTheSame) {
  std::mt19937 rng(42);
  auto between = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  for (int round = 0; round < 200; ++round) {
    Configuration c;
    for (int n = 1; n <= kDetectorParameterCount; ++n) detectorParameter(c.parameters, n) = between(1000, 100000);
    c.parameters.requiredHits = between(1, 5);
    c.parameters.loadHighPercent = between(0, 100);
    c.parameters.loadLowPercent = between(0, 100);
    c.parameters.peaksExamined = between(1, 1000);
    const int alarms = between(0, 8);
    for (int a = 0; a < alarms; ++a) {
      ConfiguredAlarm alarm;
      for (int i = between(0, 30); i > 0; --i) {
        char ch;
        do ch = static_cast<char>(between(1, 255));
        while (ch == '#');
        alarm.text.push_back(ch);
      }
      for (int s = between(1, 10); s > 0; --s) {
        switch (between(0, 3)) {
          case 0: alarm.steps.push_back({between(1, 22049), 0, false}); break;
          case 1: alarm.steps.push_back({between(1, 22049), between(1, 22049), true}); break;
          case 2: alarm.steps.push_back({between(INT32_MIN, INT32_MAX), between(INT32_MIN, INT32_MAX), between(0, 1) == 1}); break;
          default: alarm.steps.push_back({2600, 0, false}); break;
        }
      }
      c.alarms.push_back(alarm);
    }
    const std::string shown = writeConfigurationSource(c);
    const SourceReading back = readConfigurationSource(shown, "shown.toml");
    ASSERT_TRUE(back.ok()) << formatDiagnostics(back.diagnostics, "shown.toml") << shown;
    ASSERT_EQ(back.configuration, c) << shown;
  }
}

}  // namespace
}  // namespace kantiq::tool
