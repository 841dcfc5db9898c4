#pragma once

// Runs the detector over recorded audio exactly as live capture feeds it:
// the samples are quantised to the capture format, cut into capture buffers,
// slid through the transform one buffer at a time, and each frame is
// processed with the audio position as the clock.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"

namespace kantiq::scan {

struct CaptureFormat {
  int32_t bits = 8;                  // 8 or 16
  int32_t sampleRate = 44100;        // Hz
  int32_t points = 2048;             // transform size
  int32_t samplesPerBuffer = 1472;   // never more than points
};

struct RaisedAlarm {
  int64_t milliseconds = 0;  // audio position of the frame that raised it
  std::string text;          // as configured (Windows-1252)
};

// The audio position, in samples at the capture rate, as a clock.
class AudioClock final : public Clock {
 public:
  explicit AudioClock(int32_t sampleRate) : sampleRate_(sampleRate) {}
  TimeValue now() override;
  // The same audio position, in whole milliseconds: audio never goes back.
  int64_t tickMs() override;
  int64_t samples = 0;

 private:
  int32_t sampleRate_;
};

class Scanner final : private AlarmSink {
 public:
  // The detector must hold its parameters and alarms already; the scanner
  // plugs in its own clock and alarm sink for as long as it lives.
  Scanner(ToneDetector& detector, const CaptureFormat& format);
  ~Scanner() override;
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Starts a new recording: a fresh transform window, every alarm idle, the
  // clock at 0.
  void startRecording();
  // Feeds samples at the capture rate, full scale -1 to 1.
  void feed(std::span<const float> samples);

  // Alarms raised since startRecording.
  const std::vector<RaisedAlarm>& raised() const { return raised_; }
  int64_t samplesFed() const { return clock_.samples + filled_; }
  int64_t framesProcessed() const { return frames_; }

  // One sample as the capture format holds it and the recorder reads it back.
  static int32_t quantise(float x, int32_t bits);

 private:
  void raiseAlarm(ToneDetector& detector, std::string text) override;

  ToneDetector& detector_;
  CaptureFormat format_;
  AudioClock clock_;
  std::unique_ptr<SpectrumTransform> transform_;
  std::vector<int32_t> buffer_;  // one capture buffer
  int32_t filled_ = 0;
  int64_t frames_ = 0;
  std::vector<RaisedAlarm> raised_;
};

}  // namespace kantiq::scan
