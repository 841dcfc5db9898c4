#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <cstring>
#include <vector>

#include "capture/capture_buffer_loader.h"
#include "capture/capture_format.h"
#include "capture/capture_ring.h"
#include "capture/input_choice.h"
#include "capture/load_watcher.h"
#include "capture/pcm_sample_readers.h"
#include "capture/win_exception.h"
#include "dsp/spectrum_transform.h"
#include "signal_kit/signal_kit.h"

namespace kantiq {
namespace {

TEST(SampleReaderTest, EightBitSamplesAreCentredAndScaledBy64) {
  const std::array<uint8_t, 5> bytes{0xFF, 0x00, 0x80, 0x81, 0x7F};
  Pcm8BufferReader reader(bytes.data(), 5);
  EXPECT_EQ(reader.samplesPerBuffer(), 5);
  EXPECT_EQ(reader.readSample(0), 8128);
  EXPECT_EQ(reader.readSample(1), -8192);
  EXPECT_EQ(reader.readSample(2), 0);
  EXPECT_EQ(reader.readSample(3), 64);
  EXPECT_EQ(reader.readSample(4), -64);
}

TEST(SampleReaderTest, SixteenBitSamplesAreSignedLittleEndian) {
  const std::array<uint8_t, 10> bytes{0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12, 0xFF, 0xFF, 0x00, 0x00};
  Pcm16BufferReader reader(bytes.data(), 5);
  EXPECT_EQ(reader.samplesPerBuffer(), 5);
  EXPECT_EQ(reader.readSample(0), 32767);
  EXPECT_EQ(reader.readSample(1), -32768);
  EXPECT_EQ(reader.readSample(2), 0x1234);
  EXPECT_EQ(reader.readSample(3), -1);
  EXPECT_EQ(reader.readSample(4), 0);
}

// A tone captured at either width slides into the transform exactly as the
// samples the signal kit says live capture delivers.
TEST(SampleReaderTest, CaptureBufferLoadsTheWindowAsCaptureDelivers) {
  const int rate = 11025;
  const int samples = 192;
  const signal::Samples tone = signal::tone(1000.0, 0.05, 0.7, rate);

  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    std::vector<uint8_t> bytes;
    std::vector<std::vector<int32_t>> expected;
    if (bits == 8) {
      bytes = signal::toPcm8(tone);
      expected = signal::captureBlocks8(tone, samples);
    } else {
      const std::vector<int16_t> pcm = signal::toPcm16(tone);
      bytes.resize(pcm.size() * 2);
      for (size_t i = 0; i < pcm.size(); ++i) {
        const auto u = static_cast<uint16_t>(pcm[i]);
        bytes[2 * i] = static_cast<uint8_t>(u & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
      }
      expected = signal::captureBlocks16(tone, samples);
    }
    ASSERT_GE(expected.size(), 2u);

    SpectrumTransform transform(256, rate);
    const size_t bytesPerBuffer = static_cast<size_t>(samples * bits / 8);
    loadCaptureBuffer(transform, bits, bytes.data(), samples);
    loadCaptureBuffer(transform, bits, bytes.data() + bytesPerBuffer, samples);

    // 256-point window: 64 samples of the first block, then the whole second.
    const auto window = transform.window();
    for (int i = 0; i < 64; ++i) EXPECT_EQ(window[i], expected[0][samples - 64 + i]) << i;
    for (int i = 0; i < samples; ++i) EXPECT_EQ(window[64 + i], expected[1][i]) << i;
  }
}

TEST(CaptureRingTest, DriverOrderWrapsAfterTheEighthBuffer) {
  std::vector<int32_t> order;
  int32_t b = 0;
  for (int i = 0; i < 10; ++i) {
    order.push_back(b);
    b = nextCaptureBuffer(b);
  }
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));
  EXPECT_EQ(previousCaptureBuffer(0), 7);
  EXPECT_EQ(previousCaptureBuffer(5), 4);
  for (int32_t a = 0; a < kCaptureBufferCount; ++a) {
    EXPECT_EQ(previousCaptureBuffer(nextCaptureBuffer(a)), a);
  }
}

TEST(CaptureFormatTest, SizesFollowWidthAndRate) {
  CaptureFormat eight{1472, 44100, 1, 8};
  EXPECT_EQ(eight.bytesPerSample(), 1);
  EXPECT_EQ(eight.bytesPerBuffer(), 1472);
  EXPECT_EQ(eight.averageBytesPerSecond(), 44100);
  EXPECT_TRUE(eight.isValid());

  CaptureFormat sixteen{512, 11025, 1, 16};
  EXPECT_EQ(sixteen.bytesPerSample(), 2);
  EXPECT_EQ(sixteen.bytesPerBuffer(), 1024);
  EXPECT_EQ(sixteen.averageBytesPerSecond(), 22050);
  EXPECT_TRUE(sixteen.isValid());

  EXPECT_FALSE((CaptureFormat{512, 11025, 1, 12}.isValid()));
  EXPECT_FALSE((CaptureFormat{0, 11025, 1, 8}.isValid()));
  EXPECT_FALSE((CaptureFormat{512, 0, 1, 8}.isValid()));
  EXPECT_FALSE((CaptureFormat{512, 11025, 2, 8}.isValid()));
  EXPECT_FALSE((CaptureFormat{1 << 30, 11025, 1, 16}.isValid()));
}

struct WatcherCase {
  const char* name;
  int32_t high;
  int32_t low;
  std::vector<int32_t> loads;
  std::vector<bool> requests;
};

TEST(LoadWatcherTest, RequestsOneRestartWhenHighLoadHasEnded) {
  const std::vector<WatcherCase> cases = {
      {"high then low", 90, 50, {95, 97, 40}, {false, false, true}},
      {"low without high", 90, 50, {40, 40}, {false, false}},
      {"exactly high does not arm", 90, 50, {90, 40}, {false, false}},
      {"exactly low does not trigger", 90, 50, {95, 50, 49}, {false, false, true}},
      {"disarmed after the request", 90, 50, {95, 40, 40, 91, 10}, {false, true, false, false, true}},
      {"failed measurement counts as 0", 90, 50, {95, 0}, {false, true}},
      {"low 0 never triggers", 90, 0, {95, 0, 0}, {false, false, false}},
      // Unsigned: a negative load is huge, so it arms and never triggers.
      {"negative load arms", 90, 50, {-1, 30}, {false, true}},
      {"negative high never arms", -1, 50, {99, 10}, {false, false}},
  };
  for (const WatcherCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoadWatcher watcher(c.high, c.low);
    std::vector<bool> got;
    for (int32_t load : c.loads) got.push_back(watcher.observe(load));
    EXPECT_EQ(got, c.requests);
  }
}

TEST(LoadPercentTest, AverageOverAllProcessorsRounded) {
  const int64_t second = 10'000'000;  // 100-ns units
  EXPECT_EQ(loadPercent(0, second / 2, 0, second, 1), 50);
  EXPECT_EQ(loadPercent(100, 100 + second, 7, 7 + second, 2), 50);  // one of two cores idle
  EXPECT_EQ(loadPercent(0, 0, 0, second, 4), 100);
  EXPECT_EQ(loadPercent(0, 4 * second, 0, second, 4), 0);
  EXPECT_EQ(loadPercent(0, second / 3, 0, second, 1), 67);  // 66.67 rounds up
  EXPECT_EQ(loadPercent(0, second * 2 / 3, 0, second, 1), 33);
  // Samples that cannot give a load count as a failed measurement.
  EXPECT_EQ(loadPercent(0, 5, 100, 100, 1), 0);
  EXPECT_EQ(loadPercent(0, 5, 100, 50, 1), 0);
  EXPECT_EQ(loadPercent(0, 5, 0, second, 0), 0);
}

// Answers the three queries from fixed values and records what was asked.
class FakeSystem final : public SystemInformationSource {
 public:
  bool present = true;
  int failAtQuery = -1;  // 0-based index of the query that fails; -1 none
  uint8_t processors = 2;
  std::vector<int64_t> times{1'000'000, 11'000'000};
  std::vector<int64_t> idles{500, 500 + 5'000'000};  // half of one of two cores: 75 %
  std::vector<uint32_t> asked;
  std::vector<uint32_t> sizes;
  int32_t sleptMs = 0;

  bool available() const override { return present; }
  bool query(uint32_t cls, void* buffer, uint32_t bytes) override {
    const int index = static_cast<int>(asked.size());
    asked.push_back(cls);
    sizes.push_back(bytes);
    if (index == failAtQuery) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    std::memset(p, 0xEE, bytes);
    if (cls == kBasicClass) p[kBasicProcessorsAt] = processors;
    if (cls == kTimeOfDayClass) std::memcpy(p + 8, &times[timeIndex++], 8);
    if (cls == kPerformanceClass) std::memcpy(p, &idles[idleIndex++], 8);
    return true;
  }
  void sleepMs(int32_t ms) override { sleptMs += ms; }

 private:
  size_t timeIndex = 0;
  size_t idleIndex = 0;
};

TEST(MeasureLoadTest, BasicInformationLayoutOfA32And64BitProcess) {
  EXPECT_EQ(basicInformationLayout(4).processorsAt, 40u);
  EXPECT_EQ(basicInformationLayout(4).bytes, 44u);
  EXPECT_EQ(basicInformationLayout(8).processorsAt, 56u);
  EXPECT_EQ(basicInformationLayout(8).bytes, 64u);
}

TEST(MeasureLoadTest, QueriesBasicTimeIdleThenTimeIdleAfterOneInterval) {
  FakeSystem system;
  EXPECT_EQ(measureLoad(system), 75);
  using S = SystemInformationSource;
  EXPECT_EQ(system.asked, (std::vector<uint32_t>{S::kBasicClass, S::kTimeOfDayClass,
                                                 S::kPerformanceClass, S::kTimeOfDayClass,
                                                 S::kPerformanceClass}));
  EXPECT_EQ(system.sizes, (std::vector<uint32_t>{S::kBasicBytes, 32, 312, 32, 312}));
  EXPECT_EQ(system.sleptMs, 1000);
}

TEST(MeasureLoadTest, EveryFailureCountsAsZeroAndStillTakesOneInterval) {
  for (int fail = 0; fail < 5; ++fail) {
    SCOPED_TRACE(fail);
    FakeSystem system;
    system.failAtQuery = fail;
    EXPECT_EQ(measureLoad(system), 0);
    EXPECT_EQ(system.asked.size(), static_cast<size_t>(fail + 1));
    EXPECT_EQ(system.sleptMs, 1000);
  }
  FakeSystem missing;
  missing.present = false;
  EXPECT_EQ(measureLoad(missing), 0);
  EXPECT_TRUE(missing.asked.empty());
  EXPECT_EQ(missing.sleptMs, 1000);
}

TEST(WinExceptionTest, FormatsTextThenCode) {
  char text[64];
  formatWinException(WinException{-5, "CreateEvent"}, text, sizeof text);
  EXPECT_STREQ(text, "CreateEvent, Error -5");
  formatWinException(WinException{8, nullptr}, text, sizeof text);
  EXPECT_STREQ(text, ", Error 8");
}


// "No signal at all": every sample within one step of one value. A quiet
// but live input (a few steps of noise) is signal.
TEST(FlatBufferTest, OnlyBuffersWithinOneStepOfAValueAreFlat) {
  struct Row {
    int32_t bits;
    std::vector<uint8_t> bytes;
    bool flat;
  };
  const Row rows[] = {
      {8, {128, 128, 128, 128}, true},
      {8, {0, 0, 0}, true},               // constant at an end of the range
      {8, {127, 128, 129, 128}, true},    // one step either side
      {8, {128, 129, 130, 129}, true},
      {8, {127, 128, 130, 128}, false},   // three steps end to end
      {8, {128, 128, 128, 200}, false},   // one click at the end
      {16, {0x00, 0x00, 0xFF, 0xFF, 0x01, 0x00}, true},  // 0, -1, 1
      {16, {0xFF, 0xFF, 0x02, 0x00}, false},             // -1, 2
      {16, {0xFF, 0x7F, 0x00, 0x80}, false},             // 32767, -32768
      {16, {0x10, 0x00, 0x10, 0x01}, false},             // 16, 272: the high byte counts
  };
  for (const Row& row : rows) {
    const auto samples = static_cast<int32_t>(row.bytes.size()) / (row.bits / 8);
    EXPECT_EQ(bufferIsFlat(row.bits, row.bytes.data(), samples), row.flat)
        << row.bits << " bits, first byte " << int{row.bytes[0]} << ", " << samples << " samples";
  }
}

TEST(InputChoiceTest, EqualNamesAreToldApartByTheirPlace) {
  const std::vector<std::string> names{"USB Audio", "Mikrofon", "USB Audio", ""};
  EXPECT_EQ(findInput(names, {"USB Audio", 2})->deviceId, 2u);
  EXPECT_FALSE(findInput(names, {"USB Audio", 3}).has_value());
  EXPECT_FALSE(findInput(names, {"usb audio", 1}).has_value());  // names as the system spells them
  EXPECT_EQ(inputAt(names, 2)->input, (InputRequest{"USB Audio", 2}));
  EXPECT_FALSE(inputAt(names, 4).has_value());
  EXPECT_EQ(inputLabel({"USB Audio", 2}), "USB Audio (2.)");
  EXPECT_EQ(inputLabel({"USB Audio", 1}), "USB Audio");
}

}  // namespace
}  // namespace kantiq
