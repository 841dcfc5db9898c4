#include "config/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration_text.h"
#include "config/program_exit.h"
#include "detector/tone_detector.h"

namespace kantiq {
namespace {

const std::string kHead = "100#11#12#3#14#15#16#17#18#19#20#";

// Records what start-up asked of the platform, in order.
class FakePlatform final : public StartupPlatform {
 public:
  bool otherInstance = false;
  bool filesPresent = true;
  std::vector<uint8_t> stored;
  std::vector<std::string> calls;
  size_t maxBytesAsked = 0;

  bool takeSingleInstanceGuard() override {
    calls.push_back("guard");
    return !otherInstance;
  }
  bool readStoredConfiguration(std::vector<uint8_t>& bytes, size_t maxBytes) override {
    calls.push_back("files");
    maxBytesAsked = maxBytes;
    if (!filesPresent) return false;
    bytes.assign(stored.begin(), stored.begin() + static_cast<long>(std::min(maxBytes, stored.size())));
    return true;
  }
};

class DummyCanvasOwner {};

TEST(StartupMessages, TextsAreTheProgramsOwn) {
  const StartupRefusal running = alreadyRunningRefusal();
  EXPECT_EQ(running.caption, "Fehler");
  EXPECT_EQ(running.text, "'Brevalo Kantiq' ist bereits gestartet");

  const StartupRefusal missing = missingConfigurationRefusal();
  EXPECT_EQ(missing.caption, "Fehler");
  EXPECT_EQ(missing.text,
            "'Brevalo Kantiq' ist noch nicht korrekt für den Betrieb konfiguriert.\n\nGrund: Kann "
            "Konfigurationsdatei von 'Brevalo' für 'Brevalo Kantiq' nicht finden.\nBitte starten "
            "Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq' in den Optionseinstellungen.");
  // Windows-1252: "für" is 66 FC 72.
  EXPECT_NE(missing.text.find("f\xFCr"), std::string::npos);

  const StartupRefusal zero = refusalFor({ConfigurationProblem::FormatZero, -1, 0, {}});
  EXPECT_EQ(zero.caption, "Fehler");
  EXPECT_EQ(zero.text,
            "'Brevalo Kantiq' hat einen Fehler in der Konfigurationsdatei festgestellt.\nBitte "
            "starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq erneut.");

  const StartupRefusal newer = refusalFor({ConfigurationProblem::FormatUnknown, -1, 99, {}});
  EXPECT_EQ(newer.caption, "Unbekanntes Format");
  EXPECT_EQ(newer.text,
            "Es wurde eine Konfigurationsdatei von einer weiterentwickelten 'Brevalo "
            "Kantiq'-Version gefunden.\nDiese 'Brevalo Kantiq'-Version ist nicht in der Lage, die "
            "Datei zu öffnen.\nLaden Sie sich die aktuelle 'Brevalo Kantiq'-Version von unserer "
            "Homepage 'https://kantiq.example.org'\nherunter, installieren Sie diese und "
            "versuchen Sie den Vorgang erneut. ");
}

TEST(StartupMessages, AlarmTextsInRefusalsAreShortAndPrintable) {
  const std::string longText = "Zeile 1\nZeile 2" + std::string(100, 'x');
  const StartupRefusal r =
      refusalFor({ConfigurationProblem::AlarmWithoutSteps, 4, 0, longText});
  EXPECT_NE(r.text.find("Nr. 5 'Zeile 1 Zeile 2xxx"), std::string::npos) << r.text;
  EXPECT_NE(r.text.find("x...' hat keine"), std::string::npos) << r.text;
  EXPECT_EQ(r.text.find(std::string(61, 'x')), std::string::npos);
}

TEST(StartupLoading, StoredBytesLoadOrAreRefused) {
  auto d = std::make_unique<ToneDetector>();
  EXPECT_FALSE(loadStoredConfiguration({}, *d).has_value());  // empty file: no message
  EXPECT_EQ(d->alarmCount, 0);

  const std::vector<uint8_t> good = encodeConfiguration(kHead + "A#1#300#0#0#");
  EXPECT_FALSE(loadStoredConfiguration(good, *d).has_value());
  EXPECT_EQ(d->alarmCount, 1);

  const auto newer = loadStoredConfiguration(encodeConfiguration("99#1#"), *d);
  ASSERT_TRUE(newer.has_value());
  EXPECT_EQ(newer->caption, "Unbekanntes Format");
}

TEST(StartupLoading, DataLongerThan65535BytesIsRefused) {
  auto d = std::make_unique<ToneDetector>();
  // Parameters, then one alarm whose text fills the data up to the limit.
  const std::string head = kHead + "A#1#300#0#0#";
  std::string text = head + std::string(65535 - head.size(), 'x');
  ParseResult details;
  EXPECT_FALSE(loadStoredConfiguration(encodeConfiguration(text), *d, &details).has_value());
  EXPECT_EQ(details.ignoredTrailingBytes, 65535 - head.size());

  text.push_back('x');
  const auto refusal = loadStoredConfiguration(encodeConfiguration(text), *d, &details);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(details.status, ConfigurationProblem::DataTooLong);
  EXPECT_EQ(details.findings.at(0).value, 65536);
  EXPECT_NE(refusal->text.find("zu groß"), std::string::npos);
}

TEST(StartupLoading, ReadingIsBoundedButTheVerdictIsTheSame) {
  auto d = std::make_unique<ToneDetector>();
  FakePlatform platform;
  // A short configuration, a 0x1A, then a megabyte of anything.
  platform.stored = encodeConfiguration(kHead + "A#1#300#0#0#");
  platform.stored.push_back(0x1A);
  platform.stored.resize(1 << 20, 0x0D);
  EXPECT_FALSE(loadConfigurationFrom(platform, *d).has_value());
  EXPECT_EQ(platform.maxBytesAsked, kMaxStoredBytesRead);
  EXPECT_EQ(d->alarmCount, 1);

  // Only CR LF pairs: the bounded read still delivers more than the limit.
  platform.stored.clear();
  for (int i = 0; i < 200000; ++i) {
    platform.stored.push_back(0x0D);
    platform.stored.push_back(0x0A);
  }
  const auto refusal = loadConfigurationFrom(platform, *d);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_NE(refusal->text.find("zu groß"), std::string::npos);
}

TEST(StartupOrder, InstanceGuardComesBeforeTheFiles) {
  auto d = std::make_unique<ToneDetector>();
  d->alarms[5].text = "left over";
  d->cursorColumn = 77;
  d->restartRequested = 1;
  auto* canvas = reinterpret_cast<SpectrogramCanvas*>(0x1000);
  FakePlatform platform;
  platform.stored = encodeConfiguration(kHead + "A#1#300#0#0#");
  std::vector<std::string>& calls = platform.calls;
  const auto refusal = prepareDetector(*d, canvas, [&] { calls.push_back("counters"); }, platform);
  EXPECT_FALSE(refusal.has_value());
  EXPECT_EQ(calls, (std::vector<std::string>{"counters", "guard", "files"}));
  EXPECT_EQ(d->spectrogramWindow, canvas);
  EXPECT_EQ(d->cursorColumn, 0);
  EXPECT_EQ(d->restartRequested.load(), 0);
  EXPECT_TRUE(d->alarms[5].text.empty());
  EXPECT_EQ(d->alarmCount, 1);
}

TEST(StartupOrder, SecondInstanceNeverTouchesTheFiles) {
  auto d = std::make_unique<ToneDetector>();
  FakePlatform platform;
  platform.otherInstance = true;
  platform.filesPresent = false;
  const auto refusal = prepareDetector(*d, nullptr, {}, platform);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(*refusal, alreadyRunningRefusal());
  EXPECT_EQ(platform.calls, std::vector<std::string>{"guard"});
}

TEST(StartupOrder, MissingFilesGiveTheMissingConfigurationMessage) {
  auto d = std::make_unique<ToneDetector>();
  FakePlatform platform;
  platform.filesPresent = false;
  const auto refusal = prepareDetector(*d, nullptr, {}, platform);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(*refusal, missingConfigurationRefusal());
}

class PrintingBox final : public WarningBox {
 public:
  void show(const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  }
};

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
// The watchdog leaves a second instance and an unusable configuration alone
// by these codes; a crash ends with neither.
TEST(StartupRefusalDeathTest, ShowsTheBoxThenExitsWithTheRefusalsCode) {
  PrintingBox box;
  EXPECT_EXIT(refuseStart(box, alreadyRunningRefusal()), testing::ExitedWithCode(kExitAlreadyRunning),
              "\\[Fehler\\] 'Brevalo Kantiq' ist bereits gestartet");
  EXPECT_EXIT(refuseStart(box, missingConfigurationRefusal()), testing::ExitedWithCode(kExitStartRefused), "");
}
#endif

}  // namespace
}  // namespace kantiq
