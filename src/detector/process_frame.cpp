#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "detector/spectrogram.h"
#include "detector/tone_detector.h"
#include "detector/watchdog_flag_test_seam.h"
#include "dsp/spectrum_transform.h"

namespace kantiq {
namespace {

// Set until the first frame of the process has started the watchdogs.
std::atomic<bool> watchdogFlag{true};

constexpr double kMagnitudeScale = 0.00390625;  // 1/256

// sqrt(re^2 + im^2) / normaliser / 256, truncated toward zero. Values beyond
// the int32 range (only a hand-made spectrum gets there) are held at its
// ends instead of overflowing the conversion.
int32_t scaledMagnitude(std::complex<double> bin, double normaliser) {
  const double re = bin.real();
  const double im = bin.imag();
  const double m = std::sqrt(re * re + im * im) / normaliser * kMagnitudeScale;
  if (std::isnan(m)) return 0;
  if (m >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(m);
}

bool isNear(int32_t frequency, int32_t tone, int32_t tolerance) {
  const int64_t f = frequency;
  return int64_t{tone} - tolerance < f && f < int64_t{tone} + tolerance;
}

}  // namespace

bool watchdogFlagIsSet() { return watchdogFlag.load(); }
void resetWatchdogFlagForTesting() { watchdogFlag.store(true); }

void ToneDetector::processFrame(const SpectrumTransform& transform) {
  // 1. The first frame of the process starts the watchdogs.
  if (watchdogFlag.exchange(false) && watchdogStarter != nullptr) {
    watchdogStarter->startWatchdogs(*this);
  }

  // 2. Open the column.
  eraseCursor();

  // 3., 4. The peaks of this frame, weakest first.
  const int32_t peakCount = extractPeaks(transform);
  sortPeaks(peakCount);

  // 5. One time stamp for the whole frame.
  SystemClock systemClock;
  const TimeValue now = clock != nullptr ? clock->now() : systemClock.now();

  // 6. Timers.
  runTimers(now);

  // 7. Matching, completion and raising, alarm by alarm in table order.
  bool peakPainted = false;
  bool matchPainted = false;
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  for (int32_t a = 0; a < count; ++a) {
    AlarmDefinition& alarm = alarms[static_cast<size_t>(a)];
    matchAlarm(alarm, peakCount, now, peakPainted, matchPainted);
    if (!isRunnable(alarm)) continue;
    if (isSequenceComplete(alarm) && !alarm.raised) {
      resetSequence(alarm);
      alarm.raised = true;
      alarm.raisedTime = now;
      raiseAlarm(alarm.text);  // a copy: the sink keeps its own text
    }
  }

  // 8. Close the column.
  advanceCursor();

  // 9. Restart capture when some thread asked for it.
  if (restartRequested.exchange(0) != 0 && monitor != nullptr) {
    monitor->restartCapture();
  }

  // 10. Release the drawing surface.
  if (spectrogramWindow != nullptr) spectrogramWindow->endFrame();
}

int32_t ToneDetector::extractPeaks(const SpectrumTransform& transform) {
  const int32_t points = transform.points();
  const int32_t sampleRate = transform.sampleRate();
  const double normaliser = transform.normaliser();
  const auto bins = transform.bins();
  // Bins at or above the spectrogram's height have no row to be drawn in and
  // are never examined.
  const int32_t limit = std::min(points / 2, frameHeight_);
  int32_t count = 0;
  for (int32_t i = 0; i < limit && count < kMaxPeaks; ++i) {
    const int32_t m = scaledMagnitude(bins[static_cast<size_t>(i)], normaliser);
    const auto f = static_cast<int32_t>(int64_t{sampleRate} * i / points);
    if (m > magnitudeThreshold && f > minimumFrequency) {
      const auto at = static_cast<size_t>(count++);
      peakMagnitude[at] = m;
      peakFrequency[at] = f;
      peakBin[at] = i;
    }
  }
  return count;
}

void ToneDetector::sortPeaks(int32_t count) {
  // Insertion sort: stable, in place, and quick for the few dozen peaks a
  // frame has. Equal magnitudes keep their bin order.
  for (int32_t i = 1; i < count; ++i) {
    const int32_t m = peakMagnitude[static_cast<size_t>(i)];
    const int32_t f = peakFrequency[static_cast<size_t>(i)];
    const int32_t b = peakBin[static_cast<size_t>(i)];
    int32_t j = i;
    while (j > 0 && peakMagnitude[static_cast<size_t>(j - 1)] > m) {
      peakMagnitude[static_cast<size_t>(j)] = peakMagnitude[static_cast<size_t>(j - 1)];
      peakFrequency[static_cast<size_t>(j)] = peakFrequency[static_cast<size_t>(j - 1)];
      peakBin[static_cast<size_t>(j)] = peakBin[static_cast<size_t>(j - 1)];
      --j;
    }
    peakMagnitude[static_cast<size_t>(j)] = m;
    peakFrequency[static_cast<size_t>(j)] = f;
    peakBin[static_cast<size_t>(j)] = b;
  }
}

void ToneDetector::runTimers(const TimeValue& now) {
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  for (int32_t a = 0; a < count; ++a) {
    AlarmDefinition& alarm = alarms[static_cast<size_t>(a)];
    if (!isRunnable(alarm)) continue;
    const ToneStep& first = alarm.steps[0];
    // A clock set back makes these differences negative: the timers then
    // wait until it has caught up.
    if (first.hits[0] && !first.detectedTime.isNull() &&
        (now - first.detectedTime).milliseconds() > int64_t{sequenceTimeout}) {
      resetSequence(alarm);
    }
    if (alarm.raised && !alarm.raisedTime.isNull() &&
        (now - alarm.raisedTime).milliseconds() > int64_t{retriggerDelay}) {
      alarm.raised = false;
      alarm.raisedTime = TimeValue::null();
    }
  }
}

bool ToneDetector::matches(const ToneStep& step, int32_t frequency) const {
  if (isNear(frequency, step.frequency1, frequencyTolerance)) return true;
  return step.dualTone && isNear(frequency, step.frequency2, frequencyTolerance);
}

void ToneDetector::matchAlarm(AlarmDefinition& alarm, int32_t peakCount, const TimeValue& now,
                              bool& peakPainted, bool& matchPainted) {
  const int32_t lowest = peaksExamined > 0 ? std::max(0, peakCount - peaksExamined) : peakCount;
  if (!isRunnable(alarm)) {
    // Nothing to match, but the frame's strongest peak is still shown.
    if (!peakPainted && lowest < peakCount) {
      paintPeak(peakBin[static_cast<size_t>(peakCount - 1)],
                peakMagnitude[static_cast<size_t>(peakCount - 1)]);
      peakPainted = true;
    }
    return;
  }

  const int32_t k = progress(alarm);
  const bool hasCurrent = k < alarm.stepCount;
  const bool hasPrevious = k >= 1;
  ToneStep* current = hasCurrent ? &alarm.steps[static_cast<size_t>(k)] : nullptr;
  const ToneStep* previous = hasPrevious ? &alarm.steps[static_cast<size_t>(k - 1)] : nullptr;
  const int32_t hitsNeeded = countedHits();

  bool silent = true;
  for (int32_t p = peakCount - 1; p >= lowest; --p) {
    const int32_t frequency = peakFrequency[static_cast<size_t>(p)];
    if (previous != nullptr && matches(*previous, frequency)) silent = false;
    if (!peakPainted) {
      paintPeak(peakBin[static_cast<size_t>(p)], peakMagnitude[static_cast<size_t>(p)]);
      peakPainted = true;
    }
    if (current != nullptr && matches(*current, frequency)) {
      silent = false;
      if (!matchPainted) {
        paintMatch(peakBin[static_cast<size_t>(p)]);
        matchPainted = true;
      }
      for (int32_t h = 0; h < hitsNeeded; ++h) {
        if (!current->hits[static_cast<size_t>(h)]) {
          current->hits[static_cast<size_t>(h)] = true;
          break;
        }
      }
      current->detectedTime = now;
    }
  }

  if (silent && hasStarted(alarm)) resetSequence(alarm);
}

}  // namespace kantiq
