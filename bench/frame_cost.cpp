// What one frame of listening costs in computation alone: the program's
// format (44100 Hz, 8-bit mono, 1472 samples a buffer, a 2048-point
// transform), buffers of noise slid into the transform as the analysis
// thread slides them, and the detector with the example configuration's
// parameters and a few five-tone alarms, drawing nowhere. Prints the time
// per frame of each step and what thirty frames a second of it cost in % of
// one core. Built natively and for Windows (run it under Wine there: the
// 32-bit build computes with the x87 unit).
//
//   frame_cost [FRAMES] [NOISE]
//
//   FRAMES  frames timed per step (default 20000, about eleven minutes of audio)
//   NOISE   the noise's standard deviation in 8-bit steps (default 2.2: the
//           steady noise bench/live_cpu.sh plays)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "capture/capture_buffer_loader.h"
#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"

namespace {

using kantiq::TimeValue;

constexpr int32_t kSampleRate = 44100;
constexpr int32_t kSamplesPerBuffer = 1472;
constexpr int32_t kPoints = 2048;
constexpr double kFramesPerSecond = static_cast<double>(kSampleRate) / kSamplesPerBuffer;

// Time as the capture sees it: one buffer's worth per frame.
class FrameClock final : public kantiq::Clock {
 public:
  TimeValue now() override {
    return TimeValue::fromTicks(samples * TimeValue::kTicksPerSecond / kSampleRate);
  }
  int64_t tickMs() override { return now().ticks / TimeValue::kTicksPerMillisecond; }
  int64_t samples = 0;
};

void configure(kantiq::ToneDetector& d) {
  // The parameters of examples/kantiq.toml.
  d.frequencyTolerance = 50;
  d.minimumFrequency = 1000;
  d.requiredHits = 2;
  d.sequenceTimeout = 1000;
  d.retriggerDelay = 10000;
  d.peaksExamined = 3;
  d.magnitudeThreshold = 8;
  // Five five-tone alarms on the ZVEI1 tones.
  constexpr int32_t kTones[] = {2400, 1060, 1160, 1270, 1400, 1530, 1670, 1830, 2000, 2200};
  const char* codes[] = {"23345", "23346", "12345", "67890", "21314"};
  for (const char* code : codes) {
    kantiq::AlarmDefinition& a = d.alarms[static_cast<size_t>(d.alarmCount++)];
    a.text = code;
    a.stepCount = 5;
    for (int s = 0; s < 5; ++s) a.steps[static_cast<size_t>(s)].frequency1 = kTones[code[s] - '0'];
  }
}

double microsecondsPerFrame(std::chrono::steady_clock::duration d, int32_t frames) {
  return std::chrono::duration<double, std::micro>(d).count() / frames;
}

}  // namespace

int main(int argc, char** argv) {
  const int32_t frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  const double noise = argc > 2 ? std::atof(argv[2]) : 2.2;

  // A few seconds of distinct buffers, used round and round.
  std::mt19937 random(20261209);
  std::normal_distribution<double> sample(128.0, noise);
  std::vector<std::vector<uint8_t>> buffers(128, std::vector<uint8_t>(kSamplesPerBuffer));
  for (auto& b : buffers) {
    for (auto& s : b) s = static_cast<uint8_t>(std::clamp(std::lround(sample(random)), 0L, 255L));
  }
  auto detector = std::make_unique<kantiq::ToneDetector>();
  configure(*detector);
  FrameClock clock;
  detector->clock = &clock;
  kantiq::SpectrumTransform transform(kPoints, kSampleRate);

  // Each step timed on its own, frame by frame, as the analysis thread runs
  // them one after another.
  using Clock = std::chrono::steady_clock;
  Clock::duration loading{};
  Clock::duration transforming{};
  Clock::duration detecting{};
  int64_t checksum = 0;
  for (int32_t f = 0; f < frames; ++f) {
    const auto& b = buffers[static_cast<size_t>(f) % buffers.size()];
    const auto t0 = Clock::now();
    kantiq::loadCaptureBuffer(transform, 8, b.data(), kSamplesPerBuffer);
    const auto t1 = Clock::now();
    transform.transform();
    const auto t2 = Clock::now();
    clock.samples += kSamplesPerBuffer;
    detector->processFrame(transform);
    const auto t3 = Clock::now();
    loading += t1 - t0;
    transforming += t2 - t1;
    detecting += t3 - t2;
    checksum += detector->cursorColumn;
  }

  const double loadUs = microsecondsPerFrame(loading, frames);
  const double transformUs = microsecondsPerFrame(transforming, frames);
  const double detectorUs = microsecondsPerFrame(detecting, frames);
  const double totalUs = loadUs + transformUs + detectorUs;
  std::printf("frame cost: %d frames of noise (sd %.1f steps), %.1f frames a second\n", frames, noise,
              kFramesPerSecond);
  std::printf("loading the buffer:  %7.1f us a frame\n", loadUs);
  std::printf("transform:           %7.1f us a frame\n", transformUs);
  std::printf("detector:            %7.1f us a frame\n", detectorUs);
  std::printf("together:            %7.1f us a frame, %.3f %% of one core\n", totalUs,
              totalUs * kFramesPerSecond / 1e4);
  // The work must have happened: every frame moved the cursor on.
  return checksum > 0 && std::isfinite(totalUs) ? 0 : 1;
}
