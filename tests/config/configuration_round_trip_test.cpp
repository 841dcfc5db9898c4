#include "config/configuration_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "config/configuration_text.h"
#include "config/startup.h"
#include "detector/tone_detector.h"

namespace kantiq {
namespace {

Configuration randomConfiguration(std::mt19937& rng) {
  auto between = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
  };
  Configuration c;
  for (int n = 1; n <= kDetectorParameterCount; ++n) {
    detectorParameter(c.parameters, n) = between(INT32_MIN, INT32_MAX);
  }
  c.parameters.requiredHits = between(1, 5);
  const int alarms = between(0, 3) == 0 ? between(0, 999) : between(0, 20);
  for (int a = 0; a < alarms; ++a) {
    ConfiguredAlarm alarm;
    const int length = between(0, 40);
    for (int i = 0; i < length; ++i) {
      char ch;
      do ch = static_cast<char>(between(1, 255));
      while (ch == '#');
      alarm.text.push_back(ch);
    }
    const int steps = between(1, 10);
    for (int s = 0; s < steps; ++s) {
      alarm.steps.push_back({between(INT32_MIN, INT32_MAX), between(-5, 30000), between(0, 1) == 1});
    }
    c.alarms.push_back(std::move(alarm));
  }
  return c;
}

// Every configuration whose stored form is free of hazards loads back as it
// was written; one with a hazard does not, so refusing those is necessary.
TEST(ConfigurationRoundTrip, WrittenFilesLoadBackExactly) {
  std::mt19937 rng(20261208);
  auto detector = std::make_unique<ToneDetector>();
  int clean = 0;
  int hazardous = 0;
  for (int round = 0; round < 300; ++round) {
    const Configuration written = randomConfiguration(rng);
    const std::string text = composeConfiguration(written);
    const bool safe = findStorageHazards(text).empty();
    const std::vector<uint8_t> stored = encodeConfiguration(text);
    const std::string decoded = decodeConfiguration(deliverStoredBytes(stored));
    ASSERT_EQ(decoded == text, safe) << "round " << round;
    if (!safe) {
      ++hazardous;
      continue;
    }
    ++clean;
    ParseResult details;
    ASSERT_FALSE(loadStoredConfiguration(stored, *detector, &details).has_value())
        << "round " << round << " status " << static_cast<int>(details.status);
    ASSERT_EQ(configurationOf(*detector), written) << "round " << round;
  }
  // Random texts with control characters hit both kinds.
  EXPECT_GT(clean, 50);
  EXPECT_GT(hazardous, 5);
}

}  // namespace
}  // namespace kantiq
