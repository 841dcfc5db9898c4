// Applying the setup window's form to a program folder: nothing written for
// a form with a fault, every file written from a good one, hand-made files
// kept as copies, all in one set.

#include "setup_apply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/configuration_writer.h"
#include "config/kantiq_settings.h"
#include "config/startup.h"
#include "config_source.h"
#include "detector/tone_detector.h"
#include "einrichtung/scratch_folder.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace kantiq::setup {
namespace {

using testing::ScratchFolder;

TEST(ApplySetup, AFormWithAFaultWritesNothing) {
  ScratchFolder folder;
  folder.put("kantiq.toml", "# von Hand\n");
  folder.put("Kantiq.ini", "input_name = Line 1\n");
  const auto before = folder.contents();
  SetupForm form = exampleForm();
  form.alarms[1].code = "2334a";
  const ApplyReport report = applySetup(folder.path(), form, true, true);
  EXPECT_FALSE(report.written);
  ASSERT_FALSE(report.problems.empty());
  EXPECT_EQ(report.problems.front().place, Place::ofAlarm(1, "code"));
  EXPECT_THAT(report.summary, HasSubstr("Nichts geschrieben: "));
  EXPECT_TRUE(report.copiesKept.empty());
  EXPECT_EQ(folder.contents(), before);
}

// The files as the form gives them: kantiq.toml reads back to the form's
// alarms, SMSConfig1.dat loads in Kantiq's own loader to the same, and the
// input Kantiq remembered stays in Kantiq.ini when the form names none.
TEST(ApplySetup, WritesEveryFileFromTheForm) {
  ScratchFolder folder;
  folder.put("Kantiq.ini", composeSettings(KantiqSettings{"USB Audio", 2}));
  SetupForm form = exampleForm();
  form.monitor.erase("input.name");
  form.monitor.erase("input.position");
  form.alarms.push_back({"Drehleiter", "54321", "", ""});

  const ApplyReport report = applySetup(folder.path(), form, false, false);
  ASSERT_TRUE(report.written) << report.summary;
  EXPECT_EQ(report.summary, "Geschrieben: kantiq.toml, S.toml, SMSConfig1.dat (4 Alarme), SMSConfig2.dat, Kantiq.ini.");
  const auto files = folder.contents();
  EXPECT_EQ(files.size(), 5u);
  EXPECT_EQ(files.at("kantiq.toml"), renderMonitorFile(form));
  EXPECT_EQ(files.at("S.toml"), renderSenderFile(form));
  EXPECT_EQ(files.at("SMSConfig2.dat"), "");

  const tool::SourceReading reading = tool::readConfigurationSource(files.at("kantiq.toml"), "kantiq.toml");
  ASSERT_TRUE(reading.ok());
  ASSERT_EQ(reading.configuration.alarms.size(), form.alarms.size());
  EXPECT_EQ(reading.configuration.alarms[3].text, "Drehleiter");

  const std::string& stored = files.at("SMSConfig1.dat");
  auto detector = std::make_unique<ToneDetector>();
  EXPECT_FALSE(loadStoredConfiguration(std::vector<uint8_t>(stored.begin(), stored.end()), *detector, nullptr));
  EXPECT_EQ(configurationOf(*detector), reading.configuration);

  const SettingsReading settings = parseSettings(files.at("Kantiq.ini"));
  EXPECT_EQ(settings.settings.inputName, "USB Audio");
  EXPECT_EQ(settings.settings.inputPosition, 2);
}

// A hand-made file is kept as it was, in the same set; an older copy of that
// name is replaced; an existing SMSConfig2.dat is left alone.
TEST(ApplySetup, KeepsACopyOfAHandMadeFile) {
  ScratchFolder folder;
  folder.put("kantiq.toml", "# meine eigene Datei\n");
  folder.put("kantiq (vorher).toml", "# eine ältere Kopie\n");
  folder.put("S.toml", "# S von Hand\n");
  folder.put("SMSConfig2.dat", "da");
  const ApplyReport report = applySetup(folder.path(), exampleForm(), true, false);
  ASSERT_TRUE(report.written) << report.summary;
  EXPECT_EQ(report.copiesKept, (std::vector<std::string>{"kantiq (vorher).toml"}));
  EXPECT_THAT(report.summary, HasSubstr("SMSConfig1.dat (3 Alarme), Kantiq.ini."));
  EXPECT_THAT(report.summary, HasSubstr("\"kantiq (vorher).toml\""));
  const auto files = folder.contents();
  EXPECT_EQ(files.at("kantiq (vorher).toml"), "# meine eigene Datei\n");
  EXPECT_EQ(files.count("S (vorher).toml"), 0u);
  EXPECT_EQ(files.at("S.toml"), renderSenderFile(exampleForm()));
  EXPECT_EQ(files.at("SMSConfig2.dat"), "da");
}

// One file that cannot be replaced keeps the copy from being made too.
TEST(ApplySetup, AFileThatCannotBeReplacedLeavesTheFolderAsItWas) {
  ScratchFolder folder;
  folder.put("kantiq.toml", "# meine eigene Datei\n");
  folder.put("Kantiq.ini", "silence_limit_s = 60\n");
  fs::permissions(folder.path() / "Kantiq.ini",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const auto before = folder.contents();
  const ApplyReport report = applySetup(folder.path(), exampleForm(), true, false);
  EXPECT_FALSE(report.written);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_THAT(report.problems.front().message, HasSubstr("Kantiq.ini"));
  EXPECT_THAT(report.summary, HasSubstr("Nichts geschrieben: Kantiq.ini: "));
  EXPECT_EQ(folder.contents(), before);
}

}  // namespace
}  // namespace kantiq::setup
