#include "file_set.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "einrichtung/scratch_folder.h"

namespace fs = std::filesystem;
using kantiq::setup::FileReplacement;
using kantiq::setup::FileSetStep;
using kantiq::setup::replaceFileSet;
using kantiq::setup::testing::ScratchFolder;

namespace {

// The four files of an installation, three of them there before.
struct FourFiles {
  ScratchFolder folder;
  std::map<std::string, std::string> before;
  std::vector<FileReplacement> set{{"kantiq.toml", "neu toml"},
                                   {"SMSConfig1.dat", "neu dat"},
                                   {"SMSConfig2.dat", "", true},
                                   {"Kantiq.ini", "neu ini"}};

  FourFiles() {
    folder.put("kantiq.toml", "alt toml");
    folder.put("SMSConfig1.dat", "alt dat");
    folder.put("Kantiq.ini", "alt ini");
    before = folder.contents();
  }
};

TEST(FileSet, ReplacesEveryFileAndLeavesNothingElse) {
  FourFiles f;
  const auto result = replaceFileSet(f.folder.path(), f.set);
  ASSERT_TRUE(result.ok()) << describe(*result.failure);
  EXPECT_EQ(result.written, (std::vector<std::string>{"kantiq.toml", "SMSConfig1.dat", "SMSConfig2.dat", "Kantiq.ini"}));
  EXPECT_EQ(f.folder.contents(), (std::map<std::string, std::string>{{"kantiq.toml", "neu toml"},
                                                                      {"SMSConfig1.dat", "neu dat"},
                                                                      {"SMSConfig2.dat", ""},
                                                                      {"Kantiq.ini", "neu ini"}}));
}

TEST(FileSet, OnlyIfMissingLeavesAnExistingFileAsItIs) {
  FourFiles f;
  f.folder.put("SMSConfig2.dat", "vom Benutzer");
  const auto result = replaceFileSet(f.folder.path(), f.set);
  ASSERT_TRUE(result.ok()) << describe(*result.failure);
  EXPECT_EQ(result.written, (std::vector<std::string>{"kantiq.toml", "SMSConfig1.dat", "Kantiq.ini"}));
  EXPECT_EQ(f.folder.contents().at("SMSConfig2.dat"), "vom Benutzer");
  EXPECT_EQ(f.folder.contents().at("Kantiq.ini"), "neu ini");
}

// A read-only file among the four (under Wine: the read-only attribute) is
// found before anything is touched, and named.
TEST(FileSet, AReadOnlyTargetChangesNothingAndIsNamed) {
  FourFiles f;
  fs::permissions(f.folder.path() / "SMSConfig1.dat", fs::perms::owner_write | fs::perms::group_write |
                                                           fs::perms::others_write,
                  fs::perm_options::remove);
  const auto result = replaceFileSet(f.folder.path(), f.set);
  ASSERT_FALSE(result.ok());
  EXPECT_TRUE(result.written.empty());
  EXPECT_EQ(result.failure->file, "SMSConfig1.dat");
  EXPECT_EQ(result.failure->step, FileSetStep::Check);
  const std::string text = describe(*result.failure);
  EXPECT_NE(text.find("SMSConfig1.dat"), std::string::npos) << text;
  EXPECT_NE(text.find("schreibgeschützt"), std::string::npos) << text;
  EXPECT_EQ(f.folder.contents(), f.before);
}

// A move refused in the middle: the files already replaced get their old
// content back, a file that was not there before is gone again, and no
// temporary or set-aside file is left.
TEST(FileSet, AFailedMoveInTheMiddlePutsEveryOldFileBack) {
  for (const FileSetStep failing : {FileSetStep::MoveAside, FileSetStep::MoveIn}) {
    FourFiles f;
    const auto fault = [&](FileSetStep step, const std::string& file) {
      return step == failing && file == "Kantiq.ini" ? std::make_error_code(std::errc::permission_denied)
                                                     : std::error_code();
    };
    const auto result = replaceFileSet(f.folder.path(), f.set, fault);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.failure->file, "Kantiq.ini");
    EXPECT_EQ(result.failure->step, failing);
    EXPECT_TRUE(result.failure->notRestored.empty());
    const std::string text = describe(*result.failure);
    EXPECT_NE(text.find(std::make_error_code(std::errc::permission_denied).message()), std::string::npos) << text;
    EXPECT_EQ(f.folder.contents(), f.before) << "failing at step " << static_cast<int>(failing);
  }
}

}  // namespace
