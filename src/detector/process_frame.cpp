#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
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

// The frequency of a bin, in whole hertz, rounded down.
int32_t binFrequency(const SpectrumTransform& transform, int32_t bin) {
  return static_cast<int32_t>(int64_t{transform.sampleRate()} * bin / transform.points());
}

// The count steps of a from aFrom are the same tones (or pairs of tones) as
// those of b from bFrom.
bool sameTones(const AlarmDefinition& a, int32_t aFrom, const AlarmDefinition& b, int32_t bFrom, int32_t count) {
  for (int32_t s = 0; s < count; ++s) {
    const ToneStep& x = a.steps[static_cast<size_t>(aFrom + s)];
    const ToneStep& y = b.steps[static_cast<size_t>(bFrom + s)];
    if (x.frequency1 != y.frequency1 || x.dualTone != y.dualTone || (x.dualTone && x.frequency2 != y.frequency2)) {
      return false;
    }
  }
  return true;
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

  // 3., 4. The peaks of this frame, weakest first, and the tones they
  // belong to, strongest first.
  const int32_t peakCount = extractPeaks(transform);
  sortPeaks(peakCount);
  const int32_t candidateCount = findCandidates(transform, peakCount);

  // 5. One reading of the monotonic tick for the whole frame. The timers
  // measure time on it, never on the wall clock, which is set back or forward.
  SystemClock systemClock;
  const int64_t nowMs = clock != nullptr ? clock->tickMs() : systemClock.tickMs();

  // 6. Timers.
  runTimers(nowMs);

  // 7. Matching, completion and raising, alarm by alarm in table order; a
  // completion held for a longer reading of the call is decided in a later
  // frame. The frame's strongest peak is shown once, while the first alarm
  // is looked at.
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  const bool anyExamined = peaksExamined > 0 && peakCount > 0;
  if (count > 0 && anyExamined) {
    paintPeak(peakBin[static_cast<size_t>(peakCount - 1)],
              peakMagnitude[static_cast<size_t>(peakCount - 1)]);
  }
  bool matchPainted = false;
  for (int32_t a = 0; a < count; ++a) {
    AlarmDefinition& alarm = alarms[static_cast<size_t>(a)];
    if (!isRunnable(alarm)) continue;
    matchAlarm(alarm, candidateCount, nowMs, matchPainted);
    settleHeld(alarm, nowMs);
    if (!isSequenceComplete(alarm)) continue;
    alarm.completedMs = nowMs;
    if (alarm.raised) continue;
    // Noise after another alarm's call gave this one its last tone.
    const bool readEarlier = readFromEarlierCall(alarm, nowMs);
    const int32_t longer = readEarlier ? -1 : longerReading(alarm);
    resetSequence(alarm);
    if (readEarlier || alarm.heldFor >= 0) continue;  // or an earlier completion is still held
    if (longer >= 0) {
      alarm.heldFor = longer;
      alarm.heldMs = nowMs;
    } else {
      raise(alarm, nowMs);
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
  points_ = points;
  sampleRate_ = transform.sampleRate();
  const double normaliser = transform.normaliser();
  const auto bins = transform.bins();
  // Bins at or above the spectrogram's height have no row to be drawn in and
  // are never examined.
  const int32_t limit = std::min({points / 2, frameHeight_, int32_t{kMaxBins}});
  binsExamined_ = std::max(limit, 0);
  int32_t count = 0;
  int64_t inBandSum = 0;
  int32_t inBandBins = 0;
  for (int32_t i = 0; i < limit; ++i) {
    const int32_t m = scaledMagnitude(bins[static_cast<size_t>(i)], normaliser);
    binMagnitude[static_cast<size_t>(i)] = m;
    const int32_t f = binFrequency(transform, i);
    if (f > minimumFrequency) {
      inBandSum += m;
      ++inBandBins;
    }
    if (m > magnitudeThreshold && f > minimumFrequency && count < kMaxPeaks) {
      const auto at = static_cast<size_t>(count++);
      peakMagnitude[at] = m;
      peakFrequency[at] = f;
      peakBin[at] = i;
    }
  }
  noiseFloor_ = inBandBins > 0 ? static_cast<int32_t>(inBandSum / inBandBins) : 0;
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

void ToneDetector::runTimers(int64_t nowMs) {
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  for (int32_t a = 0; a < count; ++a) {
    AlarmDefinition& alarm = alarms[static_cast<size_t>(a)];
    if (!isRunnable(alarm)) continue;
    const ToneStep& first = alarm.steps[0];
    if (first.hits[0] && first.detectedMs && nowMs - *first.detectedMs > int64_t{sequenceTimeout}) {
      resetSequence(alarm);
    }
    if (alarm.raised && alarm.raisedMs && nowMs - *alarm.raisedMs > int64_t{retriggerDelay}) {
      alarm.raised = false;
      alarm.raisedMs.reset();
    }
  }
}

bool ToneDetector::matches(const ToneStep& step, int32_t frequency) const {
  if (isNear(frequency, step.frequency1, frequencyTolerance)) return true;
  return step.dualTone && isNear(frequency, step.frequency2, frequencyTolerance);
}

bool ToneDetector::strongerForeignTone(const ToneStep* previous, const ToneStep& current,
                                       int32_t candidateCount, int64_t magnitude) const {
  for (int32_t c = 0; c < candidateCount; ++c) {
    const int32_t frequency = candidateFrequency[static_cast<size_t>(c)];
    if (int64_t{candidateMagnitude[static_cast<size_t>(c)]} * 10 <= magnitude * kForeignToneTenths) continue;
    if (matches(current, frequency)) continue;
    if (previous != nullptr && matches(*previous, frequency)) continue;
    return true;
  }
  return false;
}

int64_t ToneDetector::riseLimit(const AlarmDefinition& alarm, const ToneStep& step) {
  return &step == &alarm.steps[0] ? kFirstStepRiseFactor : kStepLevelRiseFactor;
}

bool ToneDetector::risesAboveStep(const AlarmDefinition& alarm, const ToneStep& step, int64_t magnitude) {
  if (!step.clear) return magnitude > int64_t{step.level} * riseLimit(alarm, step);
  return &step == &alarm.steps[0] && magnitude > int64_t{step.level} * kClearFirstStepRiseFactor;
}

bool ToneDetector::liesOffCall(const ToneStep& step, const ToneStep& clearStep, int32_t clearFrequency,
                               int32_t tenthsOfABin) const {
  if (step.dualTone || clearStep.dualTone || step.levelFrequency == 0 || clearStep.frequency1 <= 0) return false;
  // Where the call's own frequency error puts the step's tone.
  const int64_t expected = int64_t{step.frequency1} * clearFrequency / clearStep.frequency1;
  const int64_t off = std::abs(int64_t{step.levelFrequency} - expected);
  return off * points_ * 10 > int64_t{sampleRate_} * tenthsOfABin;
}

int64_t ToneDetector::toneMagnitude(const ToneStep& step, int32_t candidateCount, int64_t magnitude) const {
  if (!step.dualTone) return magnitude;
  int64_t first = 0;
  int64_t second = 0;
  for (int32_t c = 0; c < candidateCount; ++c) {
    const int32_t frequency = candidateFrequency[static_cast<size_t>(c)];
    const int64_t m = candidateMagnitude[static_cast<size_t>(c)];
    if (isNear(frequency, step.frequency1, frequencyTolerance)) {
      first = std::max(first, m);
    } else if (isNear(frequency, step.frequency2, frequencyTolerance)) {
      second = std::max(second, m);
    }
  }
  return std::max(magnitude, first + second);
}

bool ToneDetector::isClearTone(int64_t magnitude) const {
  return magnitude * 10 >= int64_t{noiseFloor_} * kClearToneTenths;
}

bool ToneDetector::showsOneHill(const ToneStep& step, int32_t candidateCount) const {
  const auto oneHillAt = [&](int32_t tone) {
    int32_t lowest = -1;
    int32_t highest = -1;
    for (int32_t c = 0; c < candidateCount; ++c) {
      if (!isNear(candidateFrequency[static_cast<size_t>(c)], tone, frequencyTolerance)) continue;
      const int32_t bin = candidateBin[static_cast<size_t>(c)];
      lowest = lowest < 0 ? bin : std::min(lowest, bin);
      highest = std::max(highest, bin);
    }
    // Two tops side by side are one hill whose top is shared by two bins.
    return highest - lowest <= 1;
  };
  return oneHillAt(step.frequency1) && (!step.dualTone || oneHillAt(step.frequency2));
}

bool ToneDetector::standsClear(const ToneStep& step, int32_t candidateCount, int64_t tone) const {
  return isClearTone(tone) && showsOneHill(step, candidateCount);
}

bool ToneDetector::noteTone(ToneStep& step, int32_t candidateCount, int64_t tone, int32_t frequency) const {
  if (tone > step.level) step.levelFrequency = frequency;
  step.level = static_cast<int32_t>(std::max<int64_t>(step.level, tone));
  const bool clear = standsClear(step, candidateCount, tone);
  if (clear) step.clear = true;
  return clear;
}

int32_t ToneDetector::findCandidates(const SpectrumTransform& transform, int32_t peakCount) {
  const int32_t lowest = peaksExamined > 0 ? std::max(0, peakCount - peaksExamined) : peakCount;
  const auto magnitudeAt = [this](int32_t bin) { return binMagnitude[static_cast<size_t>(bin)]; };
  int32_t count = 0;
  int32_t strongest = 0;
  for (int32_t p = peakCount - 1; p >= lowest; --p) {
    // Up the hill: a bin on the slope of a tone stands for that tone, not
    // for whatever tone happens to lie near the slope's own frequency.
    int32_t bin = peakBin[static_cast<size_t>(p)];
    for (;;) {
      if (bin + 1 < binsExamined_ && magnitudeAt(bin + 1) > magnitudeAt(bin)) {
        ++bin;
      } else if (bin > 0 && magnitudeAt(bin - 1) > magnitudeAt(bin)) {
        --bin;
      } else {
        break;
      }
    }
    const int32_t frequency = binFrequency(transform, bin);
    if (frequency <= minimumFrequency) continue;  // a tone below the band
    const auto at = static_cast<size_t>(count++);
    candidateFrequency[at] = frequency;
    candidateMagnitude[at] = magnitudeAt(bin);
    candidateBin[at] = bin;
    strongest = std::max(strongest, magnitudeAt(bin));
  }
  // Keep the tones that hold their own beside the strongest, in order.
  int32_t kept = 0;
  for (int32_t c = 0; c < count; ++c) {
    const auto from = static_cast<size_t>(c);
    if (int64_t{candidateMagnitude[from]} * 10 < int64_t{strongest} * kDominanceTenths) continue;
    const auto to = static_cast<size_t>(kept++);
    candidateFrequency[to] = candidateFrequency[from];
    candidateMagnitude[to] = candidateMagnitude[from];
    candidateBin[to] = candidateBin[from];
  }
  return kept;
}

bool ToneDetector::callMovedOn(AlarmDefinition& alarm, const ToneStep& previous, const ToneStep* current,
                               int32_t candidateCount) {
  // Such a tone is the one being sent, no weaker than the steps' tones in
  // its frame: the splatter of the change from the last step's tone to the
  // next step's stays under one of them. In its second frame it need not
  // stand clear: a weak call's tone seldom does twice running.
  int32_t stepTone = 0;  // the strongest candidate of either step
  for (int32_t c = 0; c < candidateCount; ++c) {
    const int32_t frequency = candidateFrequency[static_cast<size_t>(c)];
    if (matches(previous, frequency) || (current != nullptr && matches(*current, frequency))) {
      stepTone = std::max(stepTone, candidateMagnitude[static_cast<size_t>(c)]);
    }
  }
  int32_t otherHz = 0;
  bool heldOn = false;
  for (int32_t c = 0; c < candidateCount; ++c) {
    const int32_t frequency = candidateFrequency[static_cast<size_t>(c)];
    const int32_t magnitude = candidateMagnitude[static_cast<size_t>(c)];
    if (magnitude < stepTone || matches(previous, frequency)) continue;
    if (current != nullptr && matches(*current, frequency)) continue;
    if (alarm.otherToneHz != 0 && isNear(frequency, alarm.otherToneHz, frequencyTolerance) &&
        int64_t{magnitude} * 10 >= int64_t{noiseFloor_} * kDropoutToneTenths) {
      heldOn = true;
    }
    if (otherHz == 0 && isClearTone(magnitude)) otherHz = frequency;
  }
  if (heldOn) {
    resetSequence(alarm);
    return true;
  }
  alarm.otherToneHz = otherHz;
  return false;
}

bool ToneDetector::notThisCall(const AlarmDefinition& alarm, const ToneStep& previous, const ToneStep& current,
                               int32_t candidateCount, int32_t frequency, int64_t magnitude,
                               int64_t nowMs) const {
  // The previous step never stood clear, or was a clear first step, and this
  // tone rises far above it.
  if (risesAboveStep(alarm, previous, magnitude)) return true;
  // A clear tone shows where the call's frequency error puts its other
  // tones: a first step that never stood clear and lies off that was noise
  // before the call. Not on a tone's first frame, which can span the change
  // from the tone before and show its top off the tone.
  const bool heardBefore = current.detectedMs && *current.detectedMs < nowMs;
  if (!alarm.steps[0].clear && heardBefore &&
      standsClear(current, candidateCount, toneMagnitude(current, candidateCount, magnitude)) &&
      liesOffCall(alarm.steps[0], current, frequency, kOffCallFirstStepTenths)) {
    return true;
  }
  // The call's tones follow one another: a step whose tone was last heard
  // long before was not this call's.
  return !current.hits[0] && previous.heardMs && nowMs - *previous.heardMs > kStepGapMs;
}

bool ToneDetector::mayComplete(const AlarmDefinition& alarm, const ToneStep& step) const {
  const ToneStep* const last = &alarm.steps[static_cast<size_t>(alarm.stepCount - 1)];
  if (&step != last || &step == &alarm.steps[0] || step.clear) return true;
  int32_t strongest = 0;
  int32_t second = 0;
  for (const ToneStep* before = &alarm.steps[0]; before < &step; ++before) {
    if (before->level > strongest) {
      second = strongest;
      strongest = before->level;
    } else {
      second = std::max(second, before->level);
    }
  }
  // With two or more steps before it, the second strongest: one frame of
  // noise on top of a weak call's tone sets no bar for its last tone.
  if (&step - &alarm.steps[0] >= 2) strongest = second;
  if (int64_t{step.level} * kUnclearLastStepFallFactor < strongest) return false;
  for (const ToneStep* before = &alarm.steps[0]; before < &step; ++before) {
    if (before->clear && liesOffCall(step, *before, before->levelFrequency, kOffCallLastStepTenths)) {
      return false;
    }
  }
  return true;
}

int32_t ToneDetector::stepsHeard(const AlarmDefinition& alarm) const {
  const int32_t k = progress(alarm);
  return k < alarm.stepCount && alarm.steps[static_cast<size_t>(k)].hits[0] ? k + 1 : k;
}

int32_t ToneDetector::longerReading(const AlarmDefinition& alarm) const {
  const int32_t n = alarm.stepCount;
  if (n < 2 || alarm.steps[0].clear) return -1;
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  for (int32_t b = 0; b < count; ++b) {
    const AlarmDefinition& other = alarms[static_cast<size_t>(b)];
    // An alarm later in the table has not yet heard this frame: one step
    // less will do, and the next frame shows whether it heard the step.
    const int32_t heard = &other < &alarm ? n - 1 : n - 2;
    if (&other == &alarm || !isRunnable(other) || other.stepCount < n || stepsHeard(other) < heard) continue;
    if (sameTones(alarm, 1, other, 0, n - 1)) return b;
  }
  return -1;
}

bool ToneDetector::readFromEarlierCall(const AlarmDefinition& alarm, int64_t nowMs) const {
  const int32_t n = alarm.stepCount;
  if (n < 2 || alarm.steps[static_cast<size_t>(n - 1)].clear || !alarm.steps[0].detectedMs) return false;
  const int64_t firstStepMs = *alarm.steps[0].detectedMs;
  const int32_t count = std::min<int32_t>(alarmCount, kMaxAlarms);
  for (int32_t b = 0; b < count; ++b) {
    const AlarmDefinition& other = alarms[static_cast<size_t>(b)];
    if (&other == &alarm || !isRunnable(other) || other.stepCount < n - 1 || !other.raisedMs) continue;
    if (*other.raisedMs < firstStepMs || *other.raisedMs >= nowMs) continue;
    // This alarm's steps but the last are the other's last steps.
    if (sameTones(alarm, 0, other, other.stepCount - (n - 1), n - 1)) return true;
  }
  return false;
}

void ToneDetector::settleHeld(AlarmDefinition& alarm, int64_t nowMs) {
  if (alarm.heldFor < 0) return;
  const int64_t heldMs = alarm.heldMs.value_or(nowMs);
  // A table that shrank under the hold leaves nothing to wait for.
  if (alarm.heldFor < std::min<int32_t>(alarmCount, kMaxAlarms)) {
    const AlarmDefinition& longer = alarms[static_cast<size_t>(alarm.heldFor)];
    if (longer.completedMs && *longer.completedMs >= heldMs) {
      alarm.heldFor = -1;  // the call was the longer alarm's
      alarm.heldMs.reset();
      return;
    }
    if (stepsHeard(longer) >= alarm.stepCount - 1 && nowMs - heldMs <= kLongestHoldMs) return;
  }
  alarm.heldFor = -1;
  alarm.heldMs.reset();
  if (!alarm.raised) raise(alarm, nowMs);
}

void ToneDetector::raise(AlarmDefinition& alarm, int64_t nowMs) {
  alarm.raised = true;
  alarm.raisedMs = nowMs;
  raiseAlarm(alarm.text);  // a copy: the sink keeps its own text
}

void ToneDetector::countHit(ToneStep& step, int32_t hitsNeeded, bool completes) {
  for (int32_t h = 0; h < hitsNeeded; ++h) {
    if (!step.hits[static_cast<size_t>(h)]) {
      if (h + 1 < hitsNeeded || completes) step.hits[static_cast<size_t>(h)] = true;
      break;
    }
  }
}

void ToneDetector::holdThroughDropout(AlarmDefinition& alarm, const ToneStep* current,
                                      const ToneStep* previous, int32_t candidateCount) {
  // A weak tone can drop out of a frame for a moment; noise or another
  // tone cannot hold a sequence whose last tone heard was not clear.
  const bool heardClear = (current != nullptr && current->hits[0] && current->clear) ||
                          (previous != nullptr && previous->clear);
  bool otherTone = false;
  for (int32_t c = 0; c < candidateCount; ++c) {
    if (int64_t{candidateMagnitude[static_cast<size_t>(c)]} * 10 >= int64_t{noiseFloor_} * kDropoutToneTenths) {
      otherTone = true;
    }
  }
  if (heardClear && !otherTone && !alarm.dropoutHeld) {
    alarm.dropoutHeld = true;
  } else {
    resetSequence(alarm);
  }
}

void ToneDetector::matchAlarm(AlarmDefinition& alarm, int32_t candidateCount, int64_t nowMs,
                              bool& matchPainted) {
  const int32_t k = progress(alarm);
  ToneStep* current = k < alarm.stepCount ? &alarm.steps[static_cast<size_t>(k)] : nullptr;
  ToneStep* previous = k >= 1 ? &alarm.steps[static_cast<size_t>(k - 1)] : nullptr;
  const int32_t hitsNeeded = countedHits();

  if (previous != nullptr && callMovedOn(alarm, *previous, current, candidateCount)) {
    current = &alarm.steps[0];
    previous = nullptr;
  }

  bool silent = true;
  bool startedAgain = false;
  // The steps so far were not this call: its sequence starts again, at most
  // once a frame.
  const auto startAgain = [&] {
    resetSequence(alarm);
    startedAgain = true;
    current = &alarm.steps[0];
    previous = nullptr;
  };
  for (int32_t c = 0; c < candidateCount; ++c) {
    const int32_t frequency = candidateFrequency[static_cast<size_t>(c)];
    const int64_t magnitude = candidateMagnitude[static_cast<size_t>(c)];
    if (previous != nullptr && matches(*previous, frequency)) {
      silent = false;
      if (noteTone(*previous, candidateCount, toneMagnitude(*previous, candidateCount, magnitude), frequency)) {
        previous->heardMs = nowMs;
      }
      // A step can complete on the first weak frames of its tone; the tone
      // at its full level then shows whether the steps before were this call's.
      const ToneStep* before = previous != &alarm.steps[0] ? previous - 1 : nullptr;
      if (before != nullptr && !startedAgain && risesAboveStep(alarm, *before, magnitude)) startAgain();
    }
    if (current == nullptr || !matches(*current, frequency)) continue;
    silent = false;
    if (!matchPainted) {
      paintMatch(candidateBin[static_cast<size_t>(c)]);
      matchPainted = true;
    }
    if (previous != nullptr &&
        magnitude * 10 < int64_t{previous->level} * kStepLevelFallTenths) {
      continue;
    }
    if (strongerForeignTone(previous, *current, candidateCount, magnitude)) continue;
    if (previous != nullptr && !startedAgain &&
        notThisCall(alarm, *previous, *current, candidateCount, frequency, magnitude, nowMs)) {
      startAgain();  // from this tone, if it is the first step's
      if (!matches(*current, frequency)) continue;
    }
    noteTone(*current, candidateCount, toneMagnitude(*current, candidateCount, magnitude), frequency);
    current->heardMs = nowMs;
    countHit(*current, hitsNeeded, mayComplete(alarm, *current));
    current->detectedMs = nowMs;
  }

  if (!silent) {
    alarm.dropoutHeld = false;
  } else if (hasStarted(alarm)) {
    holdThroughDropout(alarm, current, previous, candidateCount);
  }
}

}  // namespace kantiq
