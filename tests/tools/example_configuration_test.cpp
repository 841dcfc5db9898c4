// The example configuration a fire brigade starts from: it must read, load
// through the stored form as Kantiq loads it, and with its detector
// parameters recognise its own calls as live capture would feed them
// (44100 Hz, 8 bits, 2048 points, 1472 samples per buffer).

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration_text.h"
#include "config/startup.h"
#include "capture_feed.h"
#include "config_source.h"
#include "detector/tone_detector.h"
#include "signal_kit/signal_kit.h"

namespace kantiq {
namespace {

constexpr int kRate = testing::kCaptureRate;

std::unique_ptr<ToneDetector> loadExample() {
  std::ifstream in(KANTIQ_EXAMPLE_TOML, std::ios::binary);
  const std::string toml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(toml.empty()) << KANTIQ_EXAMPLE_TOML;
  tool::SourceReading reading = tool::readConfigurationSource(toml, "kantiq.toml");
  const std::string text = tool::composeCheckedText(reading);
  EXPECT_TRUE(reading.ok()) << tool::formatDiagnostics(reading.diagnostics, "kantiq.toml");
  auto d = std::make_unique<ToneDetector>();
  EXPECT_FALSE(loadStoredConfiguration(encodeConfiguration(text), *d).has_value());
  return d;
}

std::vector<std::string> listen(ToneDetector& d, const signal::Samples& audio) {
  std::vector<std::string> texts;
  for (testing::RaisedAt& r : testing::listenAsCaptured(d, audio)) texts.push_back(std::move(r.text));
  return texts;
}

signal::Samples call(std::string_view code, double amplitude) {
  return signal::concat({signal::silence(0.3, kRate),
                         signal::fiveToneCall(code, signal::zvei1(), 0.070, amplitude, kRate),
                         signal::silence(0.5, kRate)});
}

TEST(ExampleConfiguration, RecognisesItsCallsAndNothingElse) {
  auto d = loadExample();
  ASSERT_EQ(d->alarmCount, 3);
  for (double amplitude : {0.5, 0.1, 0.03}) {
    SCOPED_TRACE("amplitude " + std::to_string(amplitude));
    auto fresh = loadExample();
    EXPECT_EQ(listen(*fresh, call("23345", amplitude)),
              std::vector<std::string>{d->alarms[0].text});
    fresh = loadExample();
    EXPECT_EQ(listen(*fresh, call("23346", amplitude)),
              std::vector<std::string>{d->alarms[1].text});
  }
  // A call in the noise of the radio channel.
  auto noisy = loadExample();
  signal::Samples c = call("23345", 0.2);
  signal::mixInto(c, signal::bandLimitedNoise(static_cast<double>(c.size()) / kRate, 0.1, 300, 3400, kRate, 3));
  EXPECT_EQ(listen(*noisy, c).size(), 1u);
  // Other codes and noise raise nothing.
  auto quiet = loadExample();
  signal::Samples other = signal::concat({call("23344", 0.5), call("12345", 0.5),
                                          signal::whiteNoise(5.0, 0.3, kRate, 5),
                                          signal::bandLimitedNoise(5.0, 0.3, 300, 3400, kRate, 9)});
  EXPECT_TRUE(listen(*quiet, other).empty());
}

}  // namespace
}  // namespace kantiq
