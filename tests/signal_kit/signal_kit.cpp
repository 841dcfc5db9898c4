#include "signal_kit/signal_kit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace kantiq::signal {
namespace {

constexpr double kPi = 3.14159265358979323846;

size_t sampleCount(double seconds, int sampleRate) {
  return static_cast<size_t>(std::llround(std::max(0.0, seconds) * sampleRate));
}

// One biquad section (RBJ cookbook), direct form I.
struct Biquad {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

Biquad makeBiquad(bool highPass, double cutoffHz, double q, int sampleRate) {
  const double w0 = 2 * kPi * cutoffHz / sampleRate;
  const double alpha = std::sin(w0) / (2 * q);
  const double c = std::cos(w0);
  const double a0 = 1 + alpha;
  Biquad f{};
  if (highPass) {
    f.b0 = (1 + c) / 2 / a0;
    f.b1 = -(1 + c) / a0;
    f.b2 = (1 + c) / 2 / a0;
  } else {
    f.b0 = (1 - c) / 2 / a0;
    f.b1 = (1 - c) / a0;
    f.b2 = (1 - c) / 2 / a0;
  }
  f.a1 = -2 * c / a0;
  f.a2 = (1 - alpha) / a0;
  return f;
}

void putLe(std::FILE* f, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

}  // namespace

const ToneSet& toneSet(std::string_view name) {
  const ToneSet* set = tool::findToneSet(name);
  if (set == nullptr) throw std::invalid_argument("unknown tone set " + std::string(name));
  return *set;
}

const ToneSet& zvei1() { return toneSet("ZVEI1"); }

std::vector<double> codeFrequencies(std::string_view digits, const ToneSet& set) {
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
    throw std::invalid_argument("code digits must be 0 to 9");
  }
  // The repeat-tone rule is the table's own: a tone equal to the tone sent
  // just before goes out as the repeat tone ("111" is digit, repeat, digit).
  const std::vector<int32_t> hz = tool::expandCode(digits, set);
  return {hz.begin(), hz.end()};
}

Samples silence(double seconds, int sampleRate) { return Samples(sampleCount(seconds, sampleRate), 0.0); }

Samples tone(double frequencyHz, double seconds, double amplitude, int sampleRate, double phase) {
  Samples s(sampleCount(seconds, sampleRate));
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = amplitude * std::sin(2 * kPi * frequencyHz * static_cast<double>(i) / sampleRate + phase);
  }
  return s;
}

Samples toneSequence(const std::vector<double>& frequenciesHz, double toneSeconds, double amplitude,
                     int sampleRate, double gapSeconds) {
  std::vector<Samples> parts;
  for (size_t i = 0; i < frequenciesHz.size(); ++i) {
    if (i > 0 && gapSeconds > 0) parts.push_back(silence(gapSeconds, sampleRate));
    parts.push_back(tone(frequenciesHz[i], toneSeconds, amplitude, sampleRate));
  }
  return concat(parts);
}

Samples fiveToneCall(std::string_view digits, const ToneSet& set, double toneSeconds,
                     double amplitude, int sampleRate) {
  return toneSequence(codeFrequencies(digits, set), toneSeconds, amplitude, sampleRate);
}

Samples whiteNoise(double seconds, double rmsLevel, int sampleRate, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, rmsLevel);
  Samples s(sampleCount(seconds, sampleRate));
  for (double& v : s) v = gauss(rng);
  return s;
}

Samples bandLimitedNoise(double seconds, double rmsLevel, double lowHz, double highHz,
                         int sampleRate, uint32_t seed) {
  Samples s = whiteNoise(seconds, 1.0, sampleRate, seed);
  // Two Butterworth-Q sections per side make fourth-order slopes.
  std::vector<Biquad> chain = {
      makeBiquad(true, lowHz, 0.5412, sampleRate), makeBiquad(true, lowHz, 1.3066, sampleRate),
      makeBiquad(false, highHz, 0.5412, sampleRate), makeBiquad(false, highHz, 1.3066, sampleRate)};
  for (double& v : s) {
    for (Biquad& f : chain) v = f.run(v);
  }
  const double level = rms(s);
  if (level > 0) {
    for (double& v : s) v *= rmsLevel / level;
  }
  return s;
}

Samples concat(const std::vector<Samples>& parts) {
  Samples out;
  for (const Samples& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void mixInto(Samples& a, const Samples& b, size_t offset) {
  if (a.size() < offset + b.size()) a.resize(offset + b.size(), 0.0);
  for (size_t i = 0; i < b.size(); ++i) a[offset + i] += b[i];
}

double rms(const Samples& s) {
  if (s.empty()) return 0.0;
  double sum = 0;
  for (double v : s) sum += v * v;
  return std::sqrt(sum / static_cast<double>(s.size()));
}

std::vector<uint8_t> toPcm8(const Samples& s) {
  std::vector<uint8_t> out(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const long v = std::lround(std::clamp(s[i], -1.0, 1.0) * 127.0);
    out[i] = static_cast<uint8_t>(std::clamp(v + 128, 0L, 255L));
  }
  return out;
}

std::vector<int16_t> toPcm16(const Samples& s) {
  std::vector<int16_t> out(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    out[i] = static_cast<int16_t>(std::lround(std::clamp(s[i], -1.0, 1.0) * 32767.0));
  }
  return out;
}

int32_t readPcm8(uint8_t b) { return (static_cast<int32_t>(b) - 128) * 64; }

std::vector<std::vector<int32_t>> captureBlocks8(const Samples& s, int samplesPerBuffer) {
  const std::vector<uint8_t> pcm = toPcm8(s);
  std::vector<std::vector<int32_t>> blocks;
  const size_t n = static_cast<size_t>(samplesPerBuffer);
  for (size_t at = 0; at + n <= pcm.size(); at += n) {
    std::vector<int32_t>& block = blocks.emplace_back(n);
    for (size_t i = 0; i < n; ++i) block[i] = readPcm8(pcm[at + i]);
  }
  return blocks;
}

std::vector<std::vector<int32_t>> captureBlocks16(const Samples& s, int samplesPerBuffer) {
  const std::vector<int16_t> pcm = toPcm16(s);
  std::vector<std::vector<int32_t>> blocks;
  const size_t n = static_cast<size_t>(samplesPerBuffer);
  for (size_t at = 0; at + n <= pcm.size(); at += n) {
    blocks.emplace_back(pcm.begin() + static_cast<std::ptrdiff_t>(at),
                        pcm.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  return blocks;
}

bool writeWav(const std::string& path, const Samples& s, int sampleRate, int bits) {
  if (bits != 8 && bits != 16) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const uint32_t bytesPerSample = static_cast<uint32_t>(bits / 8);
  const uint32_t dataBytes = static_cast<uint32_t>(s.size()) * bytesPerSample;
  std::fwrite("RIFF", 1, 4, f);
  putLe(f, 36 + dataBytes, 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  putLe(f, 16, 4);
  putLe(f, 1, 2);  // PCM
  putLe(f, 1, 2);  // mono
  putLe(f, static_cast<uint32_t>(sampleRate), 4);
  putLe(f, static_cast<uint32_t>(sampleRate) * bytesPerSample, 4);
  putLe(f, bytesPerSample, 2);
  putLe(f, static_cast<uint32_t>(bits), 2);
  std::fwrite("data", 1, 4, f);
  putLe(f, dataBytes, 4);
  if (bits == 8) {
    const std::vector<uint8_t> pcm = toPcm8(s);
    std::fwrite(pcm.data(), 1, pcm.size(), f);
  } else {
    for (int16_t v : toPcm16(s)) putLe(f, static_cast<uint16_t>(v), 2);
  }
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

}  // namespace kantiq::signal
