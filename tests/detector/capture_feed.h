#pragma once

// Audio fed to a detector as live capture hands it over with the running
// configuration: 8-bit buffers of 1472 samples at 44100 Hz, slid through a
// 2048-point transform, with the audio position as the clock.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"
#include "signal_kit/signal_kit.h"

namespace kantiq::testing {

inline constexpr int kCaptureRate = 44100;
inline constexpr int kCapturePoints = 2048;
inline constexpr int kCaptureSamplesPerBuffer = 1472;

struct RaisedAt {
  std::string text;
  double seconds;  // audio position of the frame that raised it
};

namespace detail {

class AudioPositionClock final : public Clock {
 public:
  TimeValue now() override { return TimeValue::fromTicks(samples * TimeValue::kTicksPerSecond / kCaptureRate); }
  // The same audio position, in whole milliseconds.
  int64_t tickMs() override { return now().ticks / TimeValue::kTicksPerMillisecond; }
  int64_t samples = 0;
};

class RaisedAtSink final : public AlarmSink {
 public:
  explicit RaisedAtSink(const AudioPositionClock& clock) : clock_(clock) {}
  void raiseAlarm(ToneDetector&, std::string text) override {
    raised.push_back({std::move(text), static_cast<double>(clock_.samples) / kCaptureRate});
  }
  std::vector<RaisedAt> raised;

 private:
  const AudioPositionClock& clock_;
};

}  // namespace detail

// Every alarm the detector raises while hearing the audio, in order.
inline std::vector<RaisedAt> listenAsCaptured(ToneDetector& d, const signal::Samples& audio) {
  detail::AudioPositionClock clock;
  detail::RaisedAtSink sink(clock);
  d.clock = &clock;
  d.alarmSink = &sink;
  SpectrumTransform transform(kCapturePoints, kCaptureRate);
  for (const auto& block : signal::captureBlocks8(audio, kCaptureSamplesPerBuffer)) {
    clock.samples += kCaptureSamplesPerBuffer;
    transform.load(SpanSampleReader(block));
    transform.transform();
    d.processFrame(transform);
  }
  d.clock = nullptr;
  d.alarmSink = nullptr;
  return sink.raised;
}

}  // namespace kantiq::testing
