#include "scanner.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "capture/pcm_sample_readers.h"

namespace kantiq::scan {

TimeValue AudioClock::now() {
  return TimeValue::fromTicks(samples * TimeValue::kTicksPerSecond / sampleRate_);
}

int64_t AudioClock::tickMs() { return now().ticks / TimeValue::kTicksPerMillisecond; }

Scanner::Scanner(ToneDetector& detector, const CaptureFormat& format)
    : detector_(detector),
      format_(format),
      clock_(format.sampleRate),
      buffer_(static_cast<size_t>(format.samplesPerBuffer)) {
  detector_.clock = &clock_;
  detector_.alarmSink = this;
  startRecording();
}

Scanner::~Scanner() {
  detector_.clock = nullptr;
  detector_.alarmSink = nullptr;
}

void Scanner::startRecording() {
  transform_ = std::make_unique<SpectrumTransform>(format_.points, format_.sampleRate);
  const int32_t count = std::min<int32_t>(detector_.alarmCount, ToneDetector::kMaxAlarms);
  for (int32_t a = 0; a < count; ++a) detector_.alarms[static_cast<size_t>(a)].makeIdle();
  detector_.cursorColumn = 0;
  clock_.samples = 0;
  filled_ = 0;
  frames_ = 0;
  raised_.clear();
}

int32_t Scanner::quantise(float x, int32_t bits) {
  // Rounded to the nearest step, halves upwards; the offset keeps the value
  // positive so that the conversion's truncation is a floor.
  const float v = std::clamp(x, -1.0f, 1.0f);
  if (bits == 8) {
    // Unsigned bytes around 128, read back as the recorder reads them.
    const int32_t byte = std::min(static_cast<int32_t>(v * 128.0f + 128.5f), 255);
    return readPcm8Sample(static_cast<uint8_t>(byte));
  }
  return std::min(static_cast<int32_t>(v * 32768.0f + 32768.5f), 65535) - 32768;
}

void Scanner::feed(std::span<const float> samples) {
  const size_t perBuffer = buffer_.size();
  for (float x : samples) {
    buffer_[static_cast<size_t>(filled_++)] = quantise(x, format_.bits);
    if (static_cast<size_t>(filled_) < perBuffer) continue;
    // A full capture buffer: handed over at the moment its last sample came in.
    clock_.samples += filled_;
    filled_ = 0;
    transform_->load(SpanSampleReader(buffer_));
    transform_->transform();
    detector_.processFrame(*transform_);
    ++frames_;
  }
}

void Scanner::raiseAlarm(ToneDetector&, std::string text) {
  raised_.push_back({clock_.samples * 1000 / format_.sampleRate, std::move(text)});
}

}  // namespace kantiq::scan
