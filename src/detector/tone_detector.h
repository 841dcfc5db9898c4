#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "detector/detector_ports.h"
#include "detector/time_value.h"

namespace kantiq {

class SpectrogramCanvas;
class SpectrumTransform;

// One tone of an alarm's sequence and the hits it has collected.
struct ToneStep {
  static constexpr int kMaxHits = 5;

  int32_t frequency1 = 0;  // Hz
  int32_t frequency2 = 0;  // Hz, only for a dual-tone step
  bool dualTone = false;   // either frequency counts for the step
  // Most recent hit, on the clock's monotonic tick; none while the step has none.
  std::optional<int64_t> detectedMs;
  std::array<bool, kMaxHits> hits{};
  // The strongest magnitude the step's tone has shown since its first hit,
  // while the step was current or previous; 0 while the step has no hits.
  // A dual-tone step's tone is its two frequencies together.
  int32_t level = 0;
  // The step's tone has stood clear of the noise in some frame: at least
  // ToneDetector::kClearToneTenths tenths of that frame's noise floor, and
  // one hill within the tolerance of each of its frequencies.
  bool clear = false;
  // The frequency the step's tone showed at its level (single tones only).
  int32_t levelFrequency = 0;
  // When the step's tone was last heard: a hit, or a clear frame of its tone.
  std::optional<int64_t> heardMs;
};

// A configured alarm: its tone sequence, its text and whether it is raised.
struct AlarmDefinition {
  static constexpr int kMaxSteps = 10;

  std::array<ToneStep, kMaxSteps> steps{};
  int32_t stepCount = 0;
  std::string text;
  // When last raised, on the clock's monotonic tick; none while not raised.
  std::optional<int64_t> raisedMs;
  bool raised = false;
  // The sequence has outlasted one frame without its tones (a weak tone that
  // dropped out of the frame for a moment); the next such frame ends it.
  bool dropoutHeld = false;
  // The frequency of a clear tone the last frame held that is neither the
  // sequence's last step's nor its next step's; 0 when it held none.
  int32_t otherToneHz = 0;
  // When the sequence was last complete, on the monotonic tick.
  std::optional<int64_t> completedMs;
  // A completion not yet raised: its first step never stood clear, and the
  // alarm at this index had heard all its other tones as its own first ones
  // (-1: none held). Raised unless that alarm completes on the same call.
  int32_t heldFor = -1;
  std::optional<int64_t> heldMs;  // when the completion was held

  // Puts the alarm into its loaded state: no hits, no stamps, not raised.
  void makeIdle();
};

// The detector's state from frame to frame: parameters, the alarm table, the
// peak lists of the frame being processed and the spectrogram position.
// About half a megabyte: keep it on the heap.
class ToneDetector {
 public:
  static constexpr int kMaxAlarms = 999;
  static constexpr int kMaxPeaks = 1000;
  // Bins a frame examines at most: half of the largest transform.
  static constexpr int kMaxBins = 2048;
  // A candidate is a tone of the frame only while it is at least this many
  // tenths of the frame's strongest candidate: a weaker one is splatter at a
  // tone change, a skirt or noise beside the tone that is really sounding.
  static constexpr int32_t kDominanceTenths = 3;
  // A hit on a step needs at least this many tenths of the previous step's
  // level: one call is sent at one level, and a tone far weaker than the one
  // before it is not the next tone of that call.
  static constexpr int32_t kStepLevelFallTenths = 3;
  // A tone more than this many times the previous step's level, when that
  // step's tone never stood clear of the noise, shows that the steps so far
  // were not this call (noise stood in for them): the sequence starts again
  // from that tone.
  static constexpr int32_t kStepLevelRiseFactor = 4;
  // Noise before a call stands in for a first tone more easily than for any
  // other: a second tone more than twice the level of a first step that
  // never stood clear of the noise starts the sequence again.
  static constexpr int32_t kFirstStepRiseFactor = 2;
  // A first step whose tone stood clear of the noise is still not the
  // call's when the next tone rises above it more than this many times: on a
  // quiet channel the splatter of a call's abrupt start stands clear of the
  // noise at a tenth of the call's level, just before the call's first tone.
  static constexpr int32_t kClearFirstStepRiseFactor = 4;
  // A hit does not count while a tone more than this many tenths of it
  // belongs to neither the current nor the previous step: that tone is the
  // one being sent, and the match beside it is noise.
  static constexpr int32_t kForeignToneTenths = 16;
  // A tone is clear of the noise at this many tenths of its frame's noise
  // floor (the mean magnitude of the bins examined above the minimum
  // frequency). Noise standing in for a tone seldom gets there; a call's
  // tones mostly do down to -9 dB.
  static constexpr int32_t kClearToneTenths = 50;
  // A step whose tone never stood clear of the noise may have been noise:
  // the sequence starts again when the next tone rises above it (by
  // kFirstStepRiseFactor for the first step, kStepLevelRiseFactor for
  // others), and the last step completes only at no less than the earlier
  // steps' level divided by this (the second strongest of two or more).
  static constexpr int32_t kUnclearLastStepFallFactor = 2;
  // A sequence whose last tone heard stood clear of the noise outlasts one
  // frame without its tones, unless that frame holds a tone of at least this
  // many tenths of its noise floor: the call has moved on to a tone the
  // alarm does not have.
  static constexpr int32_t kDropoutToneTenths = 40;
  // One encoder sends every tone of a call off by the same fraction. A
  // first step whose tone never stood clear of the noise and lies further
  // than this many tenths of a bin from where a later clear tone of the call
  // puts it was noise before the call: the sequence starts again.
  static constexpr int32_t kOffCallFirstStepTenths = 20;
  // The last step, unless clear, completes only within this many tenths of
  // a bin of where the call's clear tones put it.
  static constexpr int32_t kOffCallLastStepTenths = 15;
  // A step's first hit must come within this many milliseconds of the last
  // frame that heard the step before (a hit or a clear frame of its tone):
  // an encoder sends a call's tones back to back.
  static constexpr int64_t kStepGapMs = 200;
  // A call of one code holds the tones of another code shifted by one step
  // (33333 sent is 3 R 3 R 3; 43333 is 4 3 R 3 R), so noise before it that
  // stands in for the other code's first tone completes that code one tone
  // before the call's own. Such a completion, whose first step never stood
  // clear of the noise, waits while the alarm that had heard the call's
  // tones from its start goes on, at most this long; when that alarm
  // completes, the held one is not raised.
  static constexpr int64_t kLongestHoldMs = 400;
  // Size of the spectrogram assumed when no spectrogram is drawn (offline):
  // the client area of the spectrogram control (174 x 133 dialog units in a
  // dialog set in 8 pt "MS Sans Serif"), as measured under Wine with
  // bench/spectrogram_size_probe_win.cpp. Windows' own font maps the height
  // to 216 pixels.
  static constexpr int32_t kSpectrogramWidthPx = 261;
  static constexpr int32_t kSpectrogramHeightPx = 200;

  ToneDetector() = default;
  // Tells the watchdog starter, whose threads outlive it.
  ~ToneDetector();
  ToneDetector(const ToneDetector&) = delete;
  ToneDetector& operator=(const ToneDetector&) = delete;

  // --- derived notions over the alarm table ---
  // The step's first requiredHits flags are all set.
  bool isStepComplete(const ToneStep& step) const;
  // Number of leading complete steps, 0 to stepCount.
  int32_t progress(const AlarmDefinition& alarm) const;
  // The first step has its first hit.
  static bool hasStarted(const AlarmDefinition& alarm) { return alarm.steps[0].hits[0]; }
  // Every step in use is complete.
  bool isSequenceComplete(const AlarmDefinition& alarm) const;
  // Clears every hit and stamp of the steps in use; raised stays as it is.
  static void resetSequence(AlarmDefinition& alarm);

  // One transformed frame: extracts the peaks, paints a spectrogram column,
  // runs the timers, advances every alarm's sequence and raises the alarms
  // that completed, then restarts capture if that was asked for.
  void processFrame(const SpectrumTransform& transform);

  // The spectrogram operations of one frame, in this order: eraseCursor
  // once (it also takes the frame's width and height), paintPeak and
  // paintMatch at most once each, advanceCursor once.
  void eraseCursor();
  void paintPeak(int32_t bin, int32_t magnitude);
  void paintMatch(int32_t bin);
  void advanceCursor();

  // Hands a recognised alarm's text to alarm raising.
  void raiseAlarm(std::string text);

  // Asks the end of the next frame to restart capture; any thread may call it.
  void requestRestart() { restartRequested.store(1, std::memory_order_relaxed); }

  // Hit flags that count: requiredHits, kept within the flags a step has.
  int32_t countedHits() const;

  // --- fields, in the order of the design ---
  SpectrogramCanvas* spectrogramWindow = nullptr;
  int32_t alarmCount = 0;
  std::array<AlarmDefinition, kMaxAlarms> alarms{};
  int32_t frequencyTolerance = 0;  // Hz, half-width of the open match window
  int32_t minimumFrequency = 0;    // Hz, bins at or below are never peaks
  int32_t requiredHits = 1;        // hits a step needs, 1 to 5
  int32_t sequenceTimeout = 0;     // ms since the last hit on the first step
  int32_t retriggerDelay = 0;      // ms before a raised alarm may be raised again
  int32_t peaksExamined = 0;       // strongest peaks compared per frame
  int32_t magnitudeThreshold = 0;  // magnitudes at or below are never peaks
  int32_t cursorColumn = 0;        // x of the spectrogram's current column pair
  MonitorInterface* monitor = nullptr;
  int32_t loadHighThreshold = 0;  // percent
  int32_t loadLowThreshold = 0;   // percent
  int32_t restartInterval = 0;    // ms
  std::array<int32_t, kMaxPeaks> peakMagnitude{};
  std::array<int32_t, kMaxPeaks> peakFrequency{};
  std::array<int32_t, kMaxPeaks> peakBin{};
  std::atomic<int32_t> restartRequested{0};
  // Scaled magnitude of every bin the frame examined, peak or not.
  std::array<int32_t, kMaxBins> binMagnitude{};
  // The tones of the frame, strongest first: each examined peak taken up to
  // the top of the spectral hill it lies on (frequency, magnitude and bin of
  // that top), the weak ones dropped.
  std::array<int32_t, kMaxPeaks> candidateFrequency{};
  std::array<int32_t, kMaxPeaks> candidateMagnitude{};
  std::array<int32_t, kMaxPeaks> candidateBin{};

  // --- the outside world ---
  Clock* clock = nullptr;                      // the system clock when unset
  AlarmSink* alarmSink = nullptr;              // raising does nothing when unset
  WatchdogStarter* watchdogStarter = nullptr;  // asked by the process's first frame; none when unset
  // Spectrogram size used while spectrogramWindow is unset; the height bounds
  // the bins examined just as the control's height does on the screen.
  int32_t offlineWidth = kSpectrogramWidthPx;
  int32_t offlineHeight = kSpectrogramHeightPx;

 private:
  // An alarm the detector can run: one to ten steps. Others never match and
  // are never raised.
  static bool isRunnable(const AlarmDefinition& alarm) {
    return alarm.stepCount >= 1 && alarm.stepCount <= AlarmDefinition::kMaxSteps;
  }
  int32_t extractPeaks(const SpectrumTransform& transform);
  void sortPeaks(int32_t count);
  int32_t findCandidates(const SpectrumTransform& transform, int32_t peakCount);
  void runTimers(int64_t nowMs);
  void matchAlarm(AlarmDefinition& alarm, int32_t candidateCount, int64_t nowMs,
                  bool& matchPainted);
  // A clear tone that is neither the previous step's nor the current one's,
  // held into the next frame at kDropoutToneTenths of its floor, is the call
  // moving on to a tone this alarm does not have: the sequence starts again
  // (true). Otherwise notes this frame's clear other tone for the next.
  bool callMovedOn(AlarmDefinition& alarm, const ToneStep& previous, const ToneStep* current,
                   int32_t candidateCount);
  // The current step's tone, heard at frequency and magnitude, shows that the
  // steps so far were not this call's.
  bool notThisCall(const AlarmDefinition& alarm, const ToneStep& previous, const ToneStep& current,
                   int32_t candidateCount, int32_t frequency, int64_t magnitude, int64_t nowMs) const;
  // False for a last step that never stood clear of the noise and stays far
  // below the call's other tones, or lies off where they put it: noise after
  // the call, which gathers hits but does not complete.
  bool mayComplete(const AlarmDefinition& alarm, const ToneStep& step) const;
  // The index of an alarm that has heard, as its own first steps, every tone
  // of this just completed alarm but its first, which never stood clear;
  // -1 when there is none or the first step stood clear.
  int32_t longerReading(const AlarmDefinition& alarm) const;
  // Steps complete, plus the step after them when it has a hit.
  int32_t stepsHeard(const AlarmDefinition& alarm) const;
  // Decides a held completion: dropped once the longer reading completed,
  // raised once it stopped short of that or held for kLongestHoldMs.
  void settleHeld(AlarmDefinition& alarm, int64_t nowMs);
  // A just completed alarm whose last step never stood clear, and whose
  // other steps are the last steps of an alarm raised since its first step
  // was heard: that call was the other alarm's (43333 sent as 4 3 R 3 R,
  // read as 33333's 3 R 3 R), and noise after it stood in for this one's
  // last tone.
  bool readFromEarlierCall(const AlarmDefinition& alarm, int64_t nowMs) const;
  void raise(AlarmDefinition& alarm, int64_t nowMs);
  // Sets the step's next hit flag; its last only when it completes.
  static void countHit(ToneStep& step, int32_t hitsNeeded, bool completes);
  // A frame without the sequence's tones: held once while the last tone heard
  // was clear and nothing else sounds, otherwise the sequence starts again.
  void holdThroughDropout(AlarmDefinition& alarm, const ToneStep* current, const ToneStep* previous,
                          int32_t candidateCount);
  bool matches(const ToneStep& step, int32_t frequency) const;
  // How far above a step's level the next tone may rise and still be the
  // same call's.
  static int64_t riseLimit(const AlarmDefinition& alarm, const ToneStep& step);
  // Magnitude rises above the step's level by more than the step's rise
  // limit, when the step's tone never stood clear of the noise, or by more
  // than kClearFirstStepRiseFactor, when the step is the first and stood clear.
  static bool risesAboveStep(const AlarmDefinition& alarm, const ToneStep& step, int64_t magnitude);
  // The frequency step's tone showed at its level lies more than
  // tenthsOfABin tenths of a bin from where a clear tone of the call, heard
  // at clearFrequency for clearStep, puts it: one encoder sends every tone of
  // a call off by the same fraction.
  bool liesOffCall(const ToneStep& step, const ToneStep& clearStep, int32_t clearFrequency,
                   int32_t tenthsOfABin) const;
  // The magnitude of step's tone in this frame, given a candidate of it at
  // magnitude: for a dual-tone step, its two frequencies' strongest
  // candidates together (each sounds at about half the level of a single
  // tone).
  int64_t toneMagnitude(const ToneStep& step, int32_t candidateCount, int64_t magnitude) const;
  // A tone that stands clear of this frame's noise floor.
  bool isClearTone(int64_t magnitude) const;
  // The frame's candidates within the tolerance of each of the step's
  // frequencies lie on one hill. A steady tone shows as one hill: the side
  // lobes of the transform's rectangular window stay under
  // kDominanceTenths of it and are no candidates. Two separate hills in one
  // tone's window are noise, or the splatter of a tone change beside it.
  bool showsOneHill(const ToneStep& step, int32_t candidateCount) const;
  // The step's tone, at magnitude tone, stands clear of this frame's noise
  // floor and shows as one hill.
  bool standsClear(const ToneStep& step, int32_t candidateCount, int64_t tone) const;
  // Keeps a step's loudest tone and where it lay; true when this one stood clear.
  bool noteTone(ToneStep& step, int32_t candidateCount, int64_t tone, int32_t frequency) const;
  bool strongerForeignTone(const ToneStep* previous, const ToneStep& current, int32_t candidateCount,
                           int64_t magnitude) const;

  int32_t frameWidth_ = 0;
  int32_t frameHeight_ = 0;
  int32_t binsExamined_ = 0;
  int32_t noiseFloor_ = 0;  // mean magnitude of the frame's bins above the minimum frequency
  int32_t points_ = 0;      // of the frame's transform
  int32_t sampleRate_ = 0;  // of the frame's transform
};

}  // namespace kantiq
