#include "config/kantiq_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kantiq {
namespace {

namespace fs = std::filesystem;

KantiqSettings settings(std::string name, int32_t position, int64_t silenceMs) {
  return {std::move(name), position, silenceMs};
}

const KantiqSettings kDefaults;

std::string line(int n) { return "EINSTELLUNGEN: Kantiq.ini, Zeile " + std::to_string(n) + ": "; }

TEST(KantiqSettings, ParsesEveryKindOfLine) {
  struct Case {
    const char* what;
    std::string text;
    KantiqSettings expected;
    std::vector<std::string> problems;
  } cases[] = {
      {"empty", "", kDefaults, {}},
      {"all three, LF", "input_name = \"Line 1 (USB Audio)\"\ninput_position = 2\nsilence_limit_s = 300\n",
       settings("Line 1 (USB Audio)", 2, 300000), {}},
      {"CRLF, BOM, comments, blanks, tabs, no last line end",
       "\xEF\xBB\xBF# Kommentar\r\n\r\n  \t# eingerückt\r\n\tinput_name=\"Mikrofon \"Hüfte\" \"\t\r\nsilence_limit_s =0",
       settings("Mikrofon \"Hüfte\" ", 1, 0), {}},
      {"empty name, longest name, limits",
       "input_name = \"\"\ninput_position = 99\nsilence_limit_s = 86400\n", settings("", 99, 86400000), {}},
      {"no '='", "input_name = \"A\"\n[Kantiq]\n", settings("A", 1, 120000),
       {line(2) + "\"[Kantiq]\" hat nicht die Form Name = Wert. Die Zeile bleibt unbeachtet."}},
      {"unknown name, case matters", "Silence_limit_s = 5\r\n", kDefaults,
       {line(1) + "Unbekannter Name \"Silence_limit_s\" (bekannt: input_name, input_position, silence_limit_s, sms_retry_s, notice_delay_s, sign_of_life_day, sign_of_life_minute). "
                  "Die Zeile bleibt unbeachtet."}},
      {"not a number", "\n\nsilence_limit_s = abc\n", kDefaults,
       {line(3) + "silence_limit_s = \"abc\" ist keine Zahl von 0 bis 86400. Kantiq nimmt die Vorgabe 120."}},
      {"numbers out of range, repeated after a bad line",
       "silence_limit_s = 86401\nsilence_limit_s = -1\ninput_position = 0\ninput_position = 100\n",
       kDefaults,
       {line(1) + "silence_limit_s = \"86401\" ist keine Zahl von 0 bis 86400. Kantiq nimmt die Vorgabe 120.",
        line(2) + "silence_limit_s steht schon in Zeile 1. Kantiq nimmt die Vorgabe 120.",
        line(3) + "input_position = \"0\" ist keine Zahl von 1 bis 99. Kantiq nimmt die Vorgabe 1.",
        line(4) + "input_position steht schon in Zeile 3. Kantiq nimmt die Vorgabe 1."}},
      {"each malformed number on its own", "input_position = 99999999999999999999\nsilence_limit_s = 2 s\n", kDefaults,
       {line(1) + "input_position = \"99999999999999999999\" ist keine Zahl von 1 bis 99. Kantiq nimmt die Vorgabe 1.",
        line(2) + "silence_limit_s = \"2 s\" ist keine Zahl von 0 bis 86400. Kantiq nimmt die Vorgabe 120."}},
      {"a repeat keeps the earlier value", "input_position = 3\r\ninput_name = \"A\"\r\ninput_position = 4\r\ninput_name = \"B\"\r\n",
       settings("A", 3, 120000),
       {line(3) + "input_position steht schon in Zeile 1. Kantiq nimmt den Wert 3 aus Zeile 1.",
        line(4) + "input_name steht schon in Zeile 2. Kantiq nimmt den Eingang \"A\" aus Zeile 2."}},
      {"name without quotes, or none", "input_name = Line 1\ninput_position = 2\n\ninput_name =\n", settings("", 2, 120000),
       {line(1) + "Der Name muss in Anführungszeichen stehen (input_name = \"Name\"); hier steht Line 1. "
                  "Kantiq nimmt die Vorgabe: den voreingestellten Eingang.",
        line(4) + "input_name steht schon in Zeile 1. Kantiq nimmt die Vorgabe: den voreingestellten Eingang."}},
      {"name too long", "input_name = \"12345678901234567890123456789012\"\r\nsilence_limit_s = 60\r\n",
       settings("", 1, 60000),
       {line(1) + "input_name = \"12345678901234567890123456789012\" ist länger als 31 Zeichen. "
                  "Kantiq nimmt die Vorgabe: den voreingestellten Eingang."}},
      {"control bytes and long values are shown tamed", std::string("x\0\x01y\n", 5) + "input_name = " + std::string(50, 'a'),
       kDefaults,
       {line(1) + "\"x??y\" hat nicht die Form Name = Wert. Die Zeile bleibt unbeachtet.",
        line(2) + "Der Name muss in Anführungszeichen stehen (input_name = \"Name\"); hier steht " + std::string(40, 'a') +
            "…. Kantiq nimmt die Vorgabe: den voreingestellten Eingang."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SettingsReading r = parseSettings(c.text);
    EXPECT_EQ(r.settings, c.expected);
    EXPECT_EQ(r.problems, c.problems);
  }
}

// Whatever the bytes, every problem names its line and the settings stay in range.
TEST(KantiqSettings, GarbageNeverBreaksTheReading) {
  std::mt19937 random(20261209);
  const std::string pieces[] = {"input_name", "input_position", "silence_limit_s", "=", "\"", "\r", "\n", "#",
                                " ", "99", "-", "\xEF\xBB\xBF", std::string(1, '\0'), "\xFC"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      if (random() % 3 == 0) {
        text.push_back(static_cast<char>(random() % 256));
      } else {
        text += pieces[random() % std::size(pieces)];
      }
    }
    const SettingsReading r = parseSettings(text);
    for (const std::string& p : r.problems) EXPECT_EQ(p.rfind("EINSTELLUNGEN: Kantiq.ini, Zeile ", 0), 0u) << p;
    EXPECT_LE(r.settings.inputName.size(), kMaxInputNameLength);
    EXPECT_GE(r.settings.inputPosition, 1);
    EXPECT_LE(r.settings.inputPosition, 99);
    EXPECT_GE(r.settings.silenceLimitMs, 0);
    EXPECT_LE(r.settings.silenceLimitMs, 86400000);
  }
}

TEST(KantiqSettings, ComposedFileReadsBackTheSame) {
  for (const KantiqSettings& s : {kDefaults, settings("Line 1 (USB Audio)", 2, 0),
                                  settings("Stereomix \"Ä\" #1", 99, 86400000),
                                  settings("1234567890123456789012345678901", 1, 1000),
                                  KantiqSettings{"", 1, 120000, 30000, 10000, 0, 0},
                                  KantiqSettings{"", 1, 120000, 86400000, 86400000, 7, 1439}}) {
    SCOPED_TRACE(s.inputName);
    const std::string text = composeSettings(s);
    const SettingsReading r = parseSettings(text);
    EXPECT_EQ(r.settings, s);
    EXPECT_TRUE(r.problems.empty());
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
      }
    }
  }
}

TEST(KantiqSettings, RememberedInputReplacesOnlyTheInputLines) {
  const std::string note =
      "# Von Kantiq beim ersten Start gemerkt: der Eingang, den Windows damals voreingestellt hatte.";
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"nothing", "", note + "\r\ninput_name = \"Line\"\r\ninput_position = 2\r\n"},
      {"both in place, LF, the rest kept",
       "# input_name = \"alt\"\nfoo\n  input_position=7 \ninput_name = Kaputt\nsilence_limit_s = 5\ninput_name = \"B\"",
       "# input_name = \"alt\"\nfoo\ninput_position = 2\ninput_name = \"Line\"\nsilence_limit_s = 5\ninput_name = \"B\""},
      {"one missing, last line without its end", "\xEF\xBB\xBFinput_name = \"X\"\r\nsilence_limit_s = 0",
       "\xEF\xBB\xBFinput_name = \"Line\"\r\nsilence_limit_s = 0\r\n" + note + "\r\ninput_position = 2\r\n"},
      {"a composed file stays as composed", composeSettings(kDefaults), composeSettings(settings("Line", 2, 120000))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(withRememberedInput(c.before, "Line", 2), c.after);
  }
}

// A folder of its own, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int count = 0;
    path_ = fs::temp_directory_path() /
            ("kantiq_settings_test_" + std::to_string(std::random_device()()) + "_" + std::to_string(++count));
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& path() const { return path_; }
  fs::path file() const { return path_ / kSettingsFileName; }

  void write(const std::string& bytes) const { std::ofstream(file(), std::ios::binary) << bytes; }
  std::string read() const {
    std::ifstream in(file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {})); }

 private:
  fs::path path_;
};

TEST(KantiqSettingsFile, MissingUnreadableTooLong) {
  ScratchFolder folder;
  SettingsReading r = readSettingsFile(folder.path());
  EXPECT_FALSE(r.found);
  EXPECT_FALSE(r.unreadable);
  EXPECT_EQ(r.settings, kDefaults);
  EXPECT_TRUE(r.problems.empty());

  folder.write("input_position = 4\r\n");
  r = readSettingsFile(folder.path());
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.settings.inputPosition, 4);

  // Past the limit: the lines before it count, a line it cuts does not.
  std::string longText = "input_position = 5\r\n";
  while (longText.size() < kMaxSettingsBytes) longText += "# Füllzeile\r\n";
  longText.resize(kMaxSettingsBytes - 3);
  longText += "\r\nsilence_limit_s = 7\r\n";
  folder.write(longText);
  r = readSettingsFile(folder.path());
  EXPECT_EQ(r.settings, settings("", 5, 120000));
  EXPECT_EQ(r.problems, std::vector<std::string>{"EINSTELLUNGEN: Kantiq.ini ist länger als 65536 Bytes. Kantiq liest "
                                                 "nur die Zeilen darin, die in den ersten 65536 Bytes stehen."});
  EXPECT_FALSE(rememberInput(folder.path(), "Line", 1));
  EXPECT_EQ(folder.read(), longText);

  fs::remove(folder.file());
  fs::create_directory(folder.file());
  r = readSettingsFile(folder.path());
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.unreadable);
  EXPECT_EQ(r.settings, kDefaults);
  EXPECT_EQ(r.problems, std::vector<std::string>{"EINSTELLUNGEN: Kantiq.ini kann nicht gelesen werden. Kantiq nimmt "
                                                 "für alle Einstellungen die Vorgaben."});
  EXPECT_FALSE(rememberInput(folder.path(), "Line", 1));
  EXPECT_TRUE(fs::is_directory(folder.file()));
  EXPECT_EQ(folder.entries(), 1u);
}

TEST(KantiqSettingsFile, RememberInputReplacesTheFile) {
  ScratchFolder folder;
  ASSERT_TRUE(rememberInput(folder.path(), "Line 1 (USB Audio)", 2));
  EXPECT_EQ(readSettingsFile(folder.path()).settings, settings("Line 1 (USB Audio)", 2, 120000));

  folder.write(composeSettings(settings("", 1, 0)));
  ASSERT_TRUE(rememberInput(folder.path(), "Mikrofon", 1));
  EXPECT_EQ(folder.read(), composeSettings(settings("Mikrofon", 1, 0)));
  EXPECT_EQ(folder.entries(), 1u);  // no temporary file left

  EXPECT_FALSE(rememberInput(folder.path() / "nicht da" / "auch nicht", "Line", 1));
}

#ifndef _WIN32
// A folder nobody may write into while this lives: by its mode, or for root
// (whom modes do not stop) by the immutable flag.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(fs::path path) : path_(std::move(path)), done_(lock(true)) {}
  ~UnwritableFolder() {
    if (done_) lock(false);
  }
  UnwritableFolder(const UnwritableFolder&) = delete;
  UnwritableFolder& operator=(const UnwritableFolder&) = delete;

  bool done() const { return done_; }

 private:
  bool lock(bool on) {
    if (::geteuid() != 0) {
      fs::permissions(path_, fs::perms::owner_write, on ? fs::perm_options::remove : fs::perm_options::add);
      return true;
    }
    struct Descriptor {
      int fd;
      ~Descriptor() {
        if (fd >= 0) ::close(fd);
      }
    } dir{::open(path_.c_str(), O_RDONLY | O_DIRECTORY)};
    int flags = 0;
    if (dir.fd < 0 || ::ioctl(dir.fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return ::ioctl(dir.fd, FS_IOC_SETFLAGS, &flags) == 0;
  }

  fs::path path_;
  bool done_;
};

// A link to a folder could be renamed over; it must not be, as it cannot be read.
TEST(KantiqSettingsFile, RememberInputLeavesAnUnreadableFileAlone) {
  ScratchFolder folder;
  fs::create_directory(folder.path() / "anderswo");
  fs::create_directory_symlink("anderswo", folder.file());
  EXPECT_TRUE(readSettingsFile(folder.path()).unreadable);
  EXPECT_FALSE(rememberInput(folder.path(), "Line", 1));
  EXPECT_TRUE(fs::is_symlink(folder.file()));
}

TEST(KantiqSettingsFile, RememberInputLeavesTheOldFileWhenTheFolderIsUnwritable) {
  ScratchFolder folder;
  const std::string old = "silence_limit_s = 0\n";
  folder.write(old);
  {
    UnwritableFolder locked(folder.path());
    if (!locked.done()) GTEST_SKIP() << "cannot make a folder unwritable here";
    EXPECT_FALSE(rememberInput(folder.path(), "Line", 1));
  }
  EXPECT_EQ(folder.read(), old);
  EXPECT_EQ(folder.entries(), 1u);
}
#endif

}  // namespace
}  // namespace kantiq
