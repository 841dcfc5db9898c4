// The frame the running program hands the capture chain: a captured buffer
// goes through the detector and then the waveform view.

#include "ui/detector_frame_consumer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "capture/capture_buffer_loader.h"
#include "detector/memory_spectrogram_canvas.h"
#include "dsp/spectrum_transform.h"
#include "signal_kit/signal_kit.h"
#include "ui/deferred_spectrogram_canvas.h"
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


// A detector with the example configuration's parameters and two five-tone
// alarms, one of which the test signal calls.
std::unique_ptr<ToneDetector> callDetector(AlarmSink& sink) {
  auto d = std::make_unique<ToneDetector>();
  d->alarmSink = &sink;
  d->frequencyTolerance = 50;
  d->minimumFrequency = 1000;
  d->requiredHits = 2;
  d->sequenceTimeout = 1000;
  d->retriggerDelay = 3000;
  d->peaksExamined = 3;
  d->magnitudeThreshold = 8;
  const char* codes[] = {"23345", "12345"};
  for (const char* code : codes) {
    AlarmDefinition& a = d->alarms[static_cast<size_t>(d->alarmCount++)];
    a.text = code;
    const std::vector<double> f = signal::codeFrequencies(code, signal::zvei1());
    a.stepCount = static_cast<int32_t>(f.size());
    for (size_t i = 0; i < f.size(); ++i) a.steps[i].frequency1 = static_cast<int32_t>(f[i]);
    a.makeIdle();
  }
  return d;
}

// Time as the capture sees it: one buffer's worth per frame.
class FrameClock final : public Clock {
 public:
  TimeValue now() override { return TimeValue::fromTicks(frames * 1472 * TimeValue::kTicksPerSecond / 44100); }
  int64_t tickMs() override { return now().ticks / TimeValue::kTicksPerMillisecond; }
  int64_t frames = 0;
};

// Counts the waveform's pictures and keeps the last one.
class CountingWaveformCanvas final : public WaveformCanvas {
 public:
  CountingWaveformCanvas() : image(261, 104) {}
  bool begin(int32_t& width, int32_t& height) override {
    ++pictures;
    return image.begin(width, height);
  }
  void polyline(std::span<const ScreenPoint> points) override { image.polyline(points); }
  void end() override { image.end(); }
  MemoryWaveformCanvas image;
  int pictures = 0;
};

// The window gets a new picture only every few frames: the spectrogram's
// strokes are kept and drawn together, the waveform is drawn from the
// picture's frame. Next to a pipeline that draws every frame straight onto
// its images, every picture must show exactly what that one shows at the
// same frame, and the detector must see the same size and raise the same
// alarms at the same frames.
TEST(DetectorFrameConsumerTest, APictureEveryFewFramesShowsWhatEveryFrameDraws) {
  const int rate = 44100;
  // Noise, a call of 23345 over it, noise again: peaks, matches and a raise.
  signal::Samples audio = signal::whiteNoise(3.0, 0.02, rate, 77);
  signal::mixInto(audio, signal::fiveToneCall("23345", signal::zvei1(), 0.07, 0.5, rate),
                  static_cast<size_t>(rate));
  const std::vector<uint8_t> pcm = signal::toPcm8(audio);
  const int32_t frames = static_cast<int32_t>(pcm.size() / 1472);

  for (const int32_t framesPerPicture : {1, 2, 3, 8}) {
    SCOPED_TRACE(testing::Message() << "a picture every " << framesPerPicture << " frames");
    TextSink directSink;
    TextSink pacedSink;
    auto direct = callDetector(directSink);
    auto paced = callDetector(pacedSink);
    FrameClock directClock;
    FrameClock pacedClock;
    direct->clock = &directClock;
    paced->clock = &pacedClock;

    MemorySpectrogramCanvas directSpectrogram(261, 200);
    MemorySpectrogramCanvas screen(261, 200);
    DeferredSpectrogramCanvas strokes(screen);
    direct->spectrogramWindow = &directSpectrogram;
    paced->spectrogramWindow = &strokes;
    CountingWaveformCanvas directWave;
    CountingWaveformCanvas pacedWave;
    WaveformView directView(directWave);
    WaveformView pacedView(pacedWave);
    DetectorFrameConsumer directFrame(*direct, &directView);
    DetectorFrameConsumer pacedFrame(*paced, &pacedView, &strokes, framesPerPicture);

    SpectrumTransform directTransform(2048, rate);
    SpectrumTransform pacedTransform(2048, rate);
    int pictures = 0;
    for (int32_t f = 0; f < frames; ++f) {
      const uint8_t* buffer = pcm.data() + static_cast<size_t>(f) * 1472;
      directClock.frames = pacedClock.frames = f + 1;
      loadCaptureBuffer(directTransform, 8, buffer, 1472);
      loadCaptureBuffer(pacedTransform, 8, buffer, 1472);
      directTransform.transform();
      pacedTransform.transform();
      directFrame.onFrame(directTransform);
      pacedFrame.onFrame(pacedTransform);

      ASSERT_EQ(pacedSink.texts, directSink.texts) << "frame " << f;
      ASSERT_EQ(paced->cursorColumn, direct->cursorColumn) << "frame " << f;
      if ((f + 1) % framesPerPicture != 0) continue;
      ++pictures;
      ASSERT_EQ(pacedWave.pictures, pictures);
      for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 0; x < 261; ++x) {
          ASSERT_EQ(screen.pixel(x, y), directSpectrogram.pixel(x, y)) << "frame " << f << ", pixel " << x << "," << y;
        }
      }
      for (int32_t y = 0; y < 104; ++y) {
        for (int32_t x = 0; x < 261; ++x) {
          ASSERT_EQ(pacedWave.image.pixel(x, y), directWave.image.pixel(x, y)) << "frame " << f;
        }
      }
    }
    EXPECT_EQ(directSink.texts, (std::vector<std::string>{"23345"}));
    EXPECT_EQ(directWave.pictures, frames);
    EXPECT_EQ(pacedWave.pictures, frames / framesPerPicture);
    // One frame of the screen's for each picture, and one to learn its size.
    EXPECT_EQ(screen.framesBegun(), frames / framesPerPicture + 1);
    EXPECT_EQ(screen.framesEnded(), screen.framesBegun());
  }
}

// Strokes beyond what the canvas keeps go to the screen early, none lost:
// a hundred frames without a picture still end up as drawn straight.
TEST(DeferredSpectrogramCanvasTest, StrokesBeyondItsRoomGoToTheScreenEarly) {
  TextSink sinkA;
  TextSink sinkB;
  auto direct = callDetector(sinkA);
  auto deferred = callDetector(sinkB);
  MemorySpectrogramCanvas directImage(261, 200);
  MemorySpectrogramCanvas screen(261, 200);
  DeferredSpectrogramCanvas strokes(screen);
  direct->spectrogramWindow = &directImage;
  deferred->spectrogramWindow = &strokes;
  const int rate = 44100;
  const std::vector<uint8_t> pcm =
      signal::toPcm8(signal::concat({signal::whiteNoise(1.0, 0.05, rate, 5),
                                     signal::fiveToneCall("12345", signal::zvei1(), 0.07, 0.5, rate),
                                     signal::whiteNoise(2.0, 0.05, rate, 6)}));
  SpectrumTransform transform(2048, rate);
  const int32_t frames = std::min<int32_t>(100, static_cast<int32_t>(pcm.size() / 1472));
  ASSERT_EQ(frames, 100);
  for (int32_t f = 0; f < frames; ++f) {
    loadCaptureBuffer(transform, 8, pcm.data() + static_cast<size_t>(f) * 1472, 1472);
    transform.transform();
    direct->processFrame(transform);
    deferred->processFrame(transform);
    ASSERT_LE(strokes.strokesKept(), DeferredSpectrogramCanvas::kMaxFrames * DeferredSpectrogramCanvas::kStrokesPerFrame);
  }
  EXPECT_GT(screen.framesBegun(), 1);  // it went to the screen on its own
  strokes.present();
  EXPECT_EQ(strokes.strokesKept(), 0);
  for (int32_t y = 0; y < 200; ++y) {
    for (int32_t x = 0; x < 261; ++x) {
      ASSERT_EQ(screen.pixel(x, y), directImage.pixel(x, y)) << "pixel " << x << "," << y;
    }
  }
  EXPECT_GT(directImage.pixelsSet(), 0);
}

}  // namespace
}  // namespace kantiq
