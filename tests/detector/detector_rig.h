#pragma once

// A detector wired to a hand-set clock, an in-memory spectrogram and sinks
// that record what comes out, fed with spectra built bin by bin.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "detector/memory_spectrogram_canvas.h"
#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"

namespace kantiq::testing {

// A hand-set clock. Frames move both readings on together; stepWall moves
// the wall clock alone, as the end of summer time or a user does.
class ManualClock final : public Clock {
 public:
  TimeValue now() override { return TimeValue::fromTicks(ms * TimeValue::kTicksPerMillisecond); }
  int64_t tickMs() override { return tick; }
  void stepWall(int64_t deltaMs) { ms += deltaMs; }
  int64_t ms = 1'000'000;  // wall time
  int64_t tick = 20'000;   // monotonic
};

class RecordingSink final : public AlarmSink {
 public:
  void raiseAlarm(ToneDetector& d, std::string text) override {
    texts.push_back(text);
    if (onRaise) onRaise(d, text);
  }
  std::vector<std::string> texts;
  std::function<void(ToneDetector&, const std::string&)> onRaise;
};

class RecordingMonitor final : public MonitorInterface {
 public:
  bool restartCapture() override {
    ++restarts;
    if (onRestart) onRestart();
    return true;
  }
  void appendResultLine(const std::string& line) override { lines.push_back(line); }
  int restarts = 0;
  std::vector<std::string> lines;
  std::function<void()> onRestart;
};

// 256 points at 25600 Hz: bin i is exactly 100*i Hz, bins 0 to 127 are read.
struct DetectorRig {
  static constexpr int32_t kPoints = 256;
  static constexpr int32_t kRate = 25600;

  explicit DetectorRig(int32_t width = 348, int32_t height = 200)
      : detector(std::make_unique<ToneDetector>()), canvas(width, height), transform(kPoints, kRate) {
    ToneDetector& d = *detector;
    d.clock = &clock;
    d.alarmSink = &sink;
    d.monitor = &monitor;
    d.spectrogramWindow = &canvas;
    d.frequencyTolerance = 30;
    d.minimumFrequency = 0;
    d.requiredHits = 1;
    d.sequenceTimeout = 1000;
    d.retriggerDelay = 5000;
    d.peaksExamined = 3;
    d.magnitudeThreshold = 5;
  }

  // Appends an alarm whose steps are single tones; returns its index.
  int addAlarm(const std::string& text, const std::vector<int32_t>& frequencies) {
    ToneDetector& d = *detector;
    AlarmDefinition& a = d.alarms[static_cast<size_t>(d.alarmCount)];
    a.text = text;
    a.stepCount = static_cast<int32_t>(frequencies.size());
    for (size_t s = 0; s < frequencies.size(); ++s) {
      a.steps[s].frequency1 = frequencies[s];
      a.steps[s].dualTone = false;
    }
    a.makeIdle();
    return d.alarmCount++;
  }

  // Sets bin's scaled magnitude to exactly m (the detector truncates).
  void setBin(int32_t bin, int32_t m) {
    transform.bins()[static_cast<size_t>(bin)] = (m + 0.5) * 256.0 * transform.normaliser();
  }

  // One frame holding the given (bin, magnitude) peaks, msLater (not
  // negative: time never goes back) after the last; every other bin holds
  // noise.
  void frame(std::initializer_list<std::pair<int32_t, int32_t>> peaks, int64_t msLater = 50) {
    frameOf(std::vector<std::pair<int32_t, int32_t>>(peaks), msLater);
  }
  void frameOf(const std::vector<std::pair<int32_t, int32_t>>& peaks, int64_t msLater = 50) {
    for (auto& b : transform.bins()) b = 0.0;
    for (int32_t bin = 1; bin < kPoints / 2; ++bin) setBin(bin, noise);
    for (auto [bin, m] : peaks) setBin(bin, m);
    clock.ms += msLater;
    clock.tick += msLater;
    detector->processFrame(transform);
  }

  // Magnitude of the bins a frame leaves without a peak: the frame's noise
  // floor, kept at or below the magnitude threshold so it adds no peaks.
  int32_t noise = 0;

  std::unique_ptr<ToneDetector> detector;
  ManualClock clock;
  RecordingSink sink;
  RecordingMonitor monitor;
  MemorySpectrogramCanvas canvas;
  SpectrumTransform transform;
};

}  // namespace kantiq::testing
