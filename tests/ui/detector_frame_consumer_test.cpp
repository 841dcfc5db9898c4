// The frame the running program hands the capture chain: a captured buffer
// goes through the detector and then the waveform view.

#include "ui/detector_frame_consumer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/capture_buffer_loader.h"
#include "dsp/spectrum_transform.h"
#include "signal_kit/signal_kit.h"
#include "ui/waveform_view.h"

namespace kantiq {
namespace {

class CountingMonitor final : public MonitorInterface {
 public:
  bool restartCapture() override {
    ++restarts;
    return true;
  }
  void appendResultLine(const std::string&) override {}
  int restarts = 0;
};

class TextSink final : public AlarmSink {
 public:
  void raiseAlarm(ToneDetector&, std::string text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

// A captured 1 kHz buffer through the frame the program runs: the detector
// raises the single-tone alarm, carries out the pending restart, and the
// waveform is drawn from the same window.
TEST(DetectorFrameConsumerTest, RunsTheDetectorThenDrawsTheWaveform) {
  auto detector = std::make_unique<ToneDetector>();
  CountingMonitor monitor;
  TextSink sink;
  detector->monitor = &monitor;
  detector->alarmSink = &sink;
  detector->frequencyTolerance = 40;
  detector->minimumFrequency = 300;
  detector->requiredHits = 1;
  detector->sequenceTimeout = 1000;
  detector->retriggerDelay = 10000;
  detector->peaksExamined = 3;
  detector->magnitudeThreshold = 8;
  AlarmDefinition& alarm = detector->alarms[0];
  alarm.text = "Probe";
  alarm.stepCount = 1;
  alarm.steps[0].frequency1 = 1000;
  alarm.makeIdle();
  detector->alarmCount = 1;
  detector->restartRequested.store(1);

  MemoryWaveformCanvas canvas(200, 100);
  WaveformView waveform(canvas);
  DetectorFrameConsumer frame(*detector, &waveform);

  const int rate = 44100;
  const std::vector<uint8_t> pcm = signal::toPcm8(signal::tone(1000.0, 0.1, 0.5, rate));
  SpectrumTransform transform(2048, rate);
  loadCaptureBuffer(transform, 8, pcm.data(), 1472);
  loadCaptureBuffer(transform, 8, pcm.data() + 1472, 1472);
  transform.transform();
  frame.onFrame(transform);

  EXPECT_EQ(sink.texts, (std::vector<std::string>{"Probe"}));
  EXPECT_EQ(monitor.restarts, 1);
  int penPixels = 0;
  for (int x = 0; x < 200; ++x) {
    for (int y = 0; y < 100; ++y) penPixels += canvas.pixel(x, y) == MemoryWaveformCanvas::kPen;
  }
  EXPECT_GT(penPixels, 150);
}

}  // namespace
}  // namespace kantiq
