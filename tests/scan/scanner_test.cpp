#include "scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "configuration_source.h"
#include "signal_kit/signal_kit.h"

namespace kantiq::scan {
namespace {

namespace sk = kantiq::signal;

std::string zveiEntry(const std::string& text, const std::string& code) {
  std::string entry = text + "#5#";
  for (double hz : sk::codeFrequencies(code, sk::zvei1())) entry += std::to_string(static_cast<int>(hz)) + "#0#0#";
  return entry;
}

std::unique_ptr<ToneDetector> configured(const std::string& alarms) {
  auto d = std::make_unique<ToneDetector>();
  std::string error;
  EXPECT_TRUE(parseConfigurationText("100#40#300#2#1000#4#8#10000#80#20#3600000#" + alarms, *d, error)) << error;
  return d;
}

std::vector<float> asFloats(const sk::Samples& s) { return {s.begin(), s.end()}; }

TEST(Scanner, RaisesAtTheAudioPositionOfTheFrame) {
  auto d = configured(zveiEntry("Wache Nord", "12345") + zveiEntry("Wache Süd", "54321"));
  Scanner scanner(*d, CaptureFormat{});
  const sk::Samples audio = sk::concat({sk::silence(1.0, 44100),
                                        sk::fiveToneCall("54321", sk::zvei1(), 0.07, 0.5, 44100),
                                        sk::silence(1.0, 44100)});
  const std::vector<float> samples = asFloats(audio);
  // Fed in odd pieces: the capture buffers do not depend on them.
  for (size_t at = 0; at < samples.size(); at += 1000) {
    scanner.feed(std::span<const float>(samples).subspan(at, std::min<size_t>(1000, samples.size() - at)));
  }
  ASSERT_EQ(scanner.raised().size(), 1u);
  EXPECT_EQ(scanner.raised()[0].text, "Wache Süd");
  const int64_t ms = scanner.raised()[0].milliseconds;
  EXPECT_GT(ms, 1280);  // not before the last tone began
  EXPECT_LT(ms, 1450);
  // Frames end on whole capture buffers.
  const int64_t frames = scanner.framesProcessed();
  EXPECT_EQ(frames, static_cast<int64_t>(samples.size()) / 1472);
  EXPECT_EQ(scanner.samplesFed(), static_cast<int64_t>(samples.size()));

  // A new recording starts from idle at position 0 and raises again.
  scanner.startRecording();
  EXPECT_TRUE(scanner.raised().empty());
  scanner.feed(samples);
  ASSERT_EQ(scanner.raised().size(), 1u);
  EXPECT_EQ(scanner.raised()[0].milliseconds, ms);
}

TEST(Scanner, RestoresTheDetectorsHooks) {
  auto d = configured("");
  {
    Scanner scanner(*d, CaptureFormat{});
    EXPECT_NE(d->clock, nullptr);
  }
  EXPECT_EQ(d->clock, nullptr);
  EXPECT_EQ(d->alarmSink, nullptr);
}

TEST(Scanner, QuantisesAsTheCaptureFormatHoldsSamples) {
  struct Case {
    float x;
    int32_t bits;
    int32_t value;
  } cases[] = {{0.0f, 8, 0},       {1.0f, 8, 8128},       {-1.0f, 8, -8192}, {2.0f, 8, 8128},
               {1.0f / 128, 8, 64}, {0.0f, 16, 0},        {1.0f, 16, 32767}, {-1.0f, 16, -32768},
               {0.5f, 16, 16384},   {-3.0f, 16, -32768}};
  for (const Case& c : cases) {
    EXPECT_EQ(Scanner::quantise(c.x, c.bits), c.value) << c.x << " at " << c.bits << " bits";
  }
}

TEST(ConfigurationText, LoadsWhatTheProgramRunsAndRefusesTheRest) {
  auto d = std::make_unique<ToneDetector>();
  std::string error;
  ASSERT_TRUE(parseConfigurationText("100#11#12#3#14#15#16#17#18#19#20#A1#2#101#102#0#201#202#1#", *d, error))
      << error;
  EXPECT_EQ(d->peaksExamined, 15);
  EXPECT_EQ(d->retriggerDelay, 17);
  ASSERT_EQ(d->alarmCount, 1);
  EXPECT_TRUE(d->alarms[0].steps[1].dualTone);

  const std::string params = "100#40#300#2#1000#4#8#10000#80#20#3600000#";
  for (const std::string& text : {std::string("99#40#300#2#1000#4#8#10000#80#20#3600000#"), params + "A#0#",
                                  params + "A#11#", params + "A#2#1000#0#0#"}) {
    auto refused = std::make_unique<ToneDetector>();
    error.clear();
    EXPECT_FALSE(parseConfigurationText(text, *refused, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
}  // namespace kantiq::scan
