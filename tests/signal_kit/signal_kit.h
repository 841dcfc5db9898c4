#pragma once

// Test signals for the detector: tones, five-tone calls, noise, and the
// capture-buffer blocks live capture would deliver. Amplitudes are fractions
// of full scale (1.0 = the largest sample a capture format holds).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/tone_sets.h"

namespace kantiq::signal {

using Samples = std::vector<double>;

// A five-tone system's frequencies: one per digit 0 to 9, and the repeat tone
// sent in place of a digit equal to the one before it. The same table
// kantiq-config reads codes with (tools/common/tone_sets.cpp).
using ToneSet = tool::ToneSet;

// The set of that name (ZVEI1, CCIR, ...); throws std::invalid_argument for
// a name the table lacks.
const ToneSet& toneSet(std::string_view name);
// ZVEI1: 1=1060, 2=1160, ... 9=2200, 0=2400 Hz, repeat tone 2600 Hz.
const ToneSet& zvei1();

// The tone frequencies of a code, with the repeat-tone rule applied.
std::vector<double> codeFrequencies(std::string_view digits, const ToneSet& set);

Samples silence(double seconds, int sampleRate);
Samples tone(double frequencyHz, double seconds, double amplitude, int sampleRate,
             double phase = 0.0);
// Tones back to back, each toneSeconds long, with gapSeconds of silence between.
Samples toneSequence(const std::vector<double>& frequenciesHz, double toneSeconds,
                     double amplitude, int sampleRate, double gapSeconds = 0.0);
// A five-tone call of a code (repeat-tone rule applied).
Samples fiveToneCall(std::string_view digits, const ToneSet& set, double toneSeconds,
                     double amplitude, int sampleRate);

// Gaussian white noise of the given RMS (fraction of full scale).
Samples whiteNoise(double seconds, double rms, int sampleRate, uint32_t seed);
// Noise band-limited to lowHz..highHz (fourth-order filters each side), scaled to rms.
Samples bandLimitedNoise(double seconds, double rms, double lowHz, double highHz, int sampleRate,
                         uint32_t seed);

Samples concat(const std::vector<Samples>& parts);
// Adds b into a from offset on, growing a as needed.
void mixInto(Samples& a, const Samples& b, size_t offset = 0);
double rms(const Samples& s);

// Capture formats: 8-bit unsigned (128 is zero, read back as (b - 128) * 64)
// and 16-bit signed. Values beyond full scale are clipped.
std::vector<uint8_t> toPcm8(const Samples& s);
std::vector<int16_t> toPcm16(const Samples& s);
int32_t readPcm8(uint8_t b);

// The samples live capture hands the transform: the signal cut into blocks of
// samplesPerBuffer (a short last block is dropped, as a buffer is only handed
// over when full), each sample as the recorder's reader returns it.
std::vector<std::vector<int32_t>> captureBlocks8(const Samples& s, int samplesPerBuffer);
std::vector<std::vector<int32_t>> captureBlocks16(const Samples& s, int samplesPerBuffer);

// Writes a mono PCM WAV file of 8 or 16 bits; false on failure.
bool writeWav(const std::string& path, const Samples& s, int sampleRate, int bits);

}  // namespace kantiq::signal
