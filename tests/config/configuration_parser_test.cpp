#include "config/configuration_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/configuration_messages.h"
#include "detector/tone_detector.h"

namespace kantiq {
namespace {

// Format 100 and ten parameters, requiredHits 3.
const std::string kHead = "100#11#12#3#14#15#16#17#18#19#20#";

struct Parsed {
  std::unique_ptr<ToneDetector> detector = std::make_unique<ToneDetector>();
  ParseResult result;
};

Parsed parse(std::string_view text) {
  Parsed p;
  p.result = parseConfiguration(text, *p.detector);
  return p;
}

TEST(ConfigurationParser, ParametersGoToTheirFields) {
  const Parsed p = parse(kHead + "A1#2#101#102#0#201#202#1#");
  ASSERT_TRUE(p.result.ok());
  const ToneDetector& d = *p.detector;
  EXPECT_EQ(d.frequencyTolerance, 11);
  EXPECT_EQ(d.minimumFrequency, 12);
  EXPECT_EQ(d.requiredHits, 3);
  EXPECT_EQ(d.sequenceTimeout, 14);
  EXPECT_EQ(d.peaksExamined, 15);  // parameter 5
  EXPECT_EQ(d.magnitudeThreshold, 16);
  EXPECT_EQ(d.retriggerDelay, 17);  // parameter 7
  EXPECT_EQ(d.loadHighThreshold, 18);
  EXPECT_EQ(d.loadLowThreshold, 19);
  EXPECT_EQ(d.restartInterval, 20);
  ASSERT_EQ(d.alarmCount, 1);
  const AlarmDefinition& a = d.alarms[0];
  EXPECT_EQ(a.text, "A1");
  ASSERT_EQ(a.stepCount, 2);
  EXPECT_EQ(a.steps[0].frequency1, 101);
  EXPECT_EQ(a.steps[0].frequency2, 102);
  EXPECT_FALSE(a.steps[0].dualTone);
  EXPECT_EQ(a.steps[1].frequency1, 201);
  EXPECT_EQ(a.steps[1].frequency2, 202);
  EXPECT_TRUE(a.steps[1].dualTone);
  // Loaded idle.
  EXPECT_FALSE(a.raised);
  EXPECT_FALSE(a.raisedMs.has_value());
  EXPECT_FALSE(a.steps[1].detectedMs.has_value());
  EXPECT_FALSE(a.steps[1].hits[0]);
}

TEST(ConfigurationParser, FormatFieldIsTestedWhenFieldOneEnds) {
  struct Case {
    std::string text;
    ConfigurationProblem status;
  } cases[] = {
      {"", ConfigurationProblem::None},
      {"100#", ConfigurationProblem::None},
      {"7#", ConfigurationProblem::None},
      {"0#", ConfigurationProblem::None},
      {"7#1", ConfigurationProblem::None},  // field 1 never ends
      {"99#1#", ConfigurationProblem::FormatUnknown},
      {"-100#1#", ConfigurationProblem::FormatUnknown},
      {"101#", ConfigurationProblem::None},
      {"101##", ConfigurationProblem::FormatUnknown},
      {"0#1#", ConfigurationProblem::FormatZero},
      {"abc#1#", ConfigurationProblem::FormatZero},
      {"#1#", ConfigurationProblem::FormatZero},
      {std::string(" 100") + kHead.substr(3), ConfigurationProblem::None},
      {std::string("0100") + kHead.substr(3), ConfigurationProblem::None},
      {std::string("100.0") + kHead.substr(3), ConfigurationProblem::None},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(c.text);
    EXPECT_EQ(p.result.status, c.status) << "text \"" << c.text << "\"";
    if (p.result.status == ConfigurationProblem::FormatUnknown ||
        p.result.status == ConfigurationProblem::FormatZero) {
      // Nothing is stored past the format test.
      EXPECT_EQ(p.detector->frequencyTolerance, kDefaultDetectorParameters.frequencyToleranceHz);
      EXPECT_EQ(p.detector->alarmCount, 0);
    }
  }
}

TEST(ConfigurationParser, TextWithoutParametersRunsWithTheDefaults) {
  for (const char* text : {"", "100#", "7#"}) {
    const Parsed p = parse(text);
    EXPECT_TRUE(p.result.ok()) << text;
    EXPECT_EQ(detectorParametersOf(*p.detector), kDefaultDetectorParameters) << text;
    EXPECT_EQ(p.detector->alarmCount, 0);
  }
}

TEST(ConfigurationParser, TextEndingInsideTheParametersIsRefused) {
  const Parsed p = parse("100#11#12#3#14");
  EXPECT_EQ(p.result.status, ConfigurationProblem::ParametersIncomplete);
  EXPECT_EQ(p.result.findings.at(0).value, 3);
  EXPECT_EQ(p.detector->frequencyTolerance, 11);
  EXPECT_EQ(p.detector->sequenceTimeout, kDefaultDetectorParameters.sequenceTimeoutMs);
  EXPECT_TRUE(parse(kHead).result.ok());
}

TEST(ConfigurationParser, FieldsAreNotTrimmed) {
  const Parsed p = parse("100#\n11#12#3#14#15#16#17#18#19#20#\nA#1# 300#0#0#");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.detector->frequencyTolerance, 11);  // the number skips the LF
  EXPECT_EQ(p.detector->alarms[0].text, "\nA");   // the text keeps it
  EXPECT_EQ(p.detector->alarms[0].steps[0].frequency1, 300);
}

TEST(ConfigurationParser, DualToneFlagIsAnyNonZeroNumber) {
  struct Case {
    std::string flag;
    bool dual;
  } cases[] = {{"1", true},  {"2", true},  {"-1", true}, {"0", false},
               {"", false},  {"x", false}, {" 7x", true}};
  for (const Case& c : cases) {
    const Parsed p = parse(kHead + "A#1#300#400#" + c.flag + "#");
    ASSERT_TRUE(p.result.ok());
    EXPECT_EQ(p.detector->alarms[0].steps[0].dualTone, c.dual) << "flag \"" << c.flag << "\"";
  }
}

TEST(ConfigurationParser, EntryWithoutStepsTakesNoStepFieldsAndIsRefused) {
  const Parsed p = parse(kHead + "A#0#B#1#300#0#0#");
  ASSERT_EQ(p.result.status, ConfigurationProblem::AlarmWithoutSteps);
  ASSERT_EQ(p.result.findings.size(), 1u);
  EXPECT_EQ(p.result.findings[0].entry, 0);
  EXPECT_EQ(p.result.findings[0].alarmText, "A");
  ASSERT_EQ(p.detector->alarmCount, 2);
  EXPECT_EQ(p.detector->alarms[0].stepCount, 0);
  EXPECT_EQ(p.detector->alarms[1].text, "B");
  EXPECT_EQ(p.detector->alarms[1].stepCount, 1);
  EXPECT_EQ(p.detector->alarms[1].steps[0].frequency1, 300);
  const StartupRefusal r = refusalFor(p.result.findings[0]);
  EXPECT_EQ(r.caption, "Fehler");
  EXPECT_NE(r.text.find("Die Alarmierung Nr. 1 'A' hat keine Töne."), std::string::npos) << r.text;
}

TEST(ConfigurationParser, NegativeStepCountTakesNoStepFieldsAndIsRefused) {
  const Parsed p = parse(kHead + "A#-1#B#1#300#0#0#");
  EXPECT_EQ(p.result.status, ConfigurationProblem::StepCountNegative);
  EXPECT_EQ(p.result.findings.at(0).value, -1);
  ASSERT_EQ(p.detector->alarmCount, 2);
  EXPECT_EQ(p.detector->alarms[0].stepCount, 0);
  EXPECT_EQ(p.detector->alarms[1].steps[0].frequency1, 300);
}

TEST(ConfigurationParser, BytesAfterTheLastFieldAreIgnored) {
  const Parsed p = parse(kHead + "A#1#300#0#0#junk\r\n");
  ASSERT_TRUE(p.result.ok());
  EXPECT_EQ(p.result.ignoredTrailingBytes, 6u);
  EXPECT_EQ(p.detector->alarmCount, 1);
}

TEST(ConfigurationParser, EntryCutShortIsRefusedWithTheStepsItHas) {
  {
    const Parsed p = parse(kHead + "A#3#300#0#0#400#0#");
    EXPECT_EQ(p.result.status, ConfigurationProblem::EntryCutShort);
    EXPECT_EQ(p.detector->alarmCount, 1);
    EXPECT_EQ(p.detector->alarms[0].stepCount, 1);  // only the complete step
    EXPECT_EQ(p.detector->alarms[0].steps[0].frequency1, 300);
    EXPECT_FALSE(p.detector->alarms[0].steps[1].hits[0]);
  }
  {
    const Parsed p = parse(kHead + "A#");  // not even the count
    EXPECT_EQ(p.result.status, ConfigurationProblem::EntryCutShort);
    EXPECT_EQ(p.detector->alarms[0].stepCount, 0);
    EXPECT_EQ(p.detector->alarmCount, 1);
  }
  {
    const Parsed p = parse(kHead + "A#1#300#0#0");  // last field not ended
    EXPECT_EQ(p.result.status, ConfigurationProblem::EntryCutShort);
    EXPECT_NE(refusalFor(p.result.findings[0]).text.find("'A' ist unvollständig"),
              std::string::npos);
  }
}

TEST(ConfigurationParser, RequiredHitsOutsideOneToFiveIsRefused) {
  for (int hits : {0, 6, -1}) {
    const Parsed p = parse(std::string("100#11#12#") + std::to_string(hits) + "#14#15#16#17#18#19#20#");
    EXPECT_EQ(p.result.status, ConfigurationProblem::RequiredHitsOutOfRange) << hits;
  }
  for (int hits : {1, 5}) {
    EXPECT_TRUE(parse(std::string("100#11#12#") + std::to_string(hits) + "#14#15#16#17#18#19#20#").result.ok());
  }
}

std::string stepFields(int n, int base) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::to_string(base + i) + "#0#0#";
  return s;
}

TEST(ConfigurationParser, TenStepsFillTheArrayElevenAreReadButRefused) {
  {
    const Parsed p = parse(kHead + "A#10#" + stepFields(10, 1000));
    ASSERT_TRUE(p.result.ok());
    EXPECT_EQ(p.detector->alarms[0].stepCount, 10);
    EXPECT_EQ(p.detector->alarms[0].steps[9].frequency1, 1009);
  }
  {
    // The eleventh step's fields belong to the entry: B is still found.
    const Parsed p = parse(kHead + "A#11#" + stepFields(11, 1000) + "B#1#300#0#0#");
    EXPECT_EQ(p.result.status, ConfigurationProblem::StepCountTooLarge);
    EXPECT_EQ(p.result.findings.at(0).value, 11);
    ASSERT_EQ(p.detector->alarmCount, 2);
    EXPECT_EQ(p.detector->alarms[0].stepCount, 10);
    EXPECT_EQ(p.detector->alarms[0].steps[9].frequency1, 1009);
    EXPECT_EQ(p.detector->alarms[1].text, "B");
    EXPECT_EQ(p.detector->alarms[1].steps[0].frequency1, 300);
  }
  {
    // A huge count runs into the end of the text.
    const Parsed p = parse(kHead + "A#2147483647#1#2#3#");
    EXPECT_EQ(p.result.status, ConfigurationProblem::StepCountTooLarge);
    EXPECT_EQ(p.result.findings.size(), 2u);  // and cut short
    EXPECT_EQ(p.detector->alarms[0].stepCount, 1);
  }
}

TEST(ConfigurationParser, TableHolds999AlarmsAndRefusesMore) {
  std::string entries;
  for (int i = 0; i < 999; ++i) {
    const std::string n = std::to_string(i);
    entries.append("E").append(n).append("#1#").append(n).append("#0#0#");
  }
  {
    const Parsed p = parse(kHead + entries);
    ASSERT_TRUE(p.result.ok());
    EXPECT_EQ(p.detector->alarmCount, 999);
    EXPECT_EQ(p.detector->alarms[998].text, "E998");
    EXPECT_EQ(p.detector->alarms[998].steps[0].frequency1, 998);
  }
  {
    const Parsed p = parse(kHead + entries + "X#1#5#0#0#Y#0#");
    EXPECT_EQ(p.result.status, ConfigurationProblem::TooManyAlarms);
    EXPECT_EQ(p.result.findings.at(0).value, 1001);
    EXPECT_EQ(p.result.entriesRead, 1001);
    EXPECT_EQ(p.detector->alarmCount, 999);
    EXPECT_EQ(p.detector->alarms[998].text, "E998");  // not overwritten
    EXPECT_NE(refusalFor(p.result.findings[0]).text.find("1001 Alarmierungen"), std::string::npos);
  }
}

TEST(ConfigurationParser, ReparsingLeavesNothingOfTheEarlierTable) {
  auto d = std::make_unique<ToneDetector>();
  ASSERT_TRUE(parseConfiguration(kHead + "A#2#1#2#1#3#4#1#", *d).ok());
  ASSERT_TRUE(parseConfiguration(kHead + "B#1#300#0#0#", *d).ok());
  EXPECT_EQ(d->alarmCount, 1);
  EXPECT_EQ(d->alarms[0].stepCount, 1);
  EXPECT_EQ(d->alarms[0].steps[1].frequency1, 0);
  EXPECT_FALSE(d->alarms[0].steps[1].dualTone);
}

}  // namespace
}  // namespace kantiq
