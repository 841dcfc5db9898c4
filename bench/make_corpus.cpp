// Writes the benchmark's synthetic corpus: five-tone calls at several
// signal-to-noise ratios and the negatives (noise, speech, off-grid bursts,
// unconfigured codes, near misses), plus a manifest and the configured codes.
//
//   make_corpus OUT_DIR [--calls N] [--seed S] [--speech FILE.wav ...]
//
// SNR is the tone's power over the power of noise band-limited to
// 300-3400 Hz. A mix that would exceed full scale is scaled down as a whole
// (its SNR unchanged), as a sound card's input gain would be set.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "signal_kit/signal_kit.h"

namespace {

namespace sk = kantiq::signal;
constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
constexpr double kLeadSeconds = 0.6;
constexpr double kTailSeconds = 1.2;

std::mt19937 rng;

double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

std::string randomCode() {
  std::string code;
  for (int i = 0; i < 5; ++i) code += static_cast<char>('0' + pick(0, 9));
  return code;
}

// Tones back to back, phase-continuous, each 55-90 ms, a third of them with a
// 10 ms fade to a tenth of the amplitude inside.
sk::Samples tones(const std::vector<double>& hz, double amplitude) {
  sk::Samples out;
  double phase = 0;
  for (double f : hz) {
    const auto n = static_cast<size_t>(uniform(0.055, 0.090) * kRate);
    const bool fade = uniform(0, 1) < 1.0 / 3;
    const size_t fadeAt = static_cast<size_t>(uniform(0.2, 0.7) * static_cast<double>(n));
    const size_t fadeLen = static_cast<size_t>(0.010 * kRate);
    for (size_t i = 0; i < n; ++i) {
      double gain = 1.0;
      if (fade && i >= fadeAt && i < fadeAt + fadeLen) {
        // A smooth dip: down to 0.1 and back within 10 ms.
        const double t = static_cast<double>(i - fadeAt) / static_cast<double>(fadeLen);
        gain = 1.0 - 0.9 * std::sin(kPi * t);
      }
      out.push_back(amplitude * gain * std::sin(phase));
      phase += 2 * kPi * f / kRate;
    }
  }
  return out;
}

sk::Samples zveiCall(const std::string& code, double amplitude) {
  const double error = uniform(-0.015, 0.015);
  std::vector<double> hz = sk::codeFrequencies(code, sk::zvei1());
  for (double& f : hz) f *= 1 + error;
  return tones(hz, amplitude);
}

// Puts a signal into band-limited noise at the given SNR (tone amplitude A:
// power A^2/2) and scales the mix to stay within full scale.
sk::Samples inNoise(const sk::Samples& signal, double amplitude, double snrDb, uint32_t seed) {
  const size_t lead = static_cast<size_t>(kLeadSeconds * kRate);
  const double total = static_cast<double>(signal.size()) / kRate + kLeadSeconds + kTailSeconds;
  const double noiseRms = amplitude / std::sqrt(2.0) / std::pow(10.0, snrDb / 20);
  sk::Samples mix = sk::bandLimitedNoise(total, noiseRms, 300, 3400, kRate, seed);
  sk::mixInto(mix, signal, lead);
  double peak = 0;
  for (double v : mix) peak = std::max(peak, std::abs(v));
  if (peak > 0.99) {
    for (double& v : mix) v *= 0.99 / peak;
  }
  return mix;
}

sk::Samples readWav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  sk::Samples out;
  if (f == nullptr) return out;
  std::vector<double> frame(static_cast<size_t>(info.channels));
  while (sf_readf_double(f, frame.data(), 1) == 1) out.push_back(frame[0]);
  sf_close(f);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_corpus OUT_DIR [--calls N] [--seed S] [--speech FILE...]\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  int calls = 50;
  uint32_t seed = 20261208;
  std::vector<std::string> speech;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--calls" && i + 1 < argc) {
      calls = std::atoi(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<uint32_t>(std::atoll(argv[++i]));
    } else if (a == "--speech") {
      while (i + 1 < argc && argv[i + 1][0] != '-') speech.emplace_back(argv[++i]);
    }
  }
  rng.seed(seed);
  std::filesystem::create_directories(out);
  std::ofstream manifest(out / "manifest.tsv");
  manifest << "file\tkind\tsnr_db\tcode\n";
  uint32_t noiseSeed = seed;

  // The configured codes: twenty random ones, all different.
  std::set<std::string> configured;
  while (configured.size() < 20) configured.insert(randomCode());
  const std::vector<std::string> codes(configured.begin(), configured.end());
  std::ofstream(out / "codes.txt") << [&] {
    std::string s;
    for (const auto& c : codes) s += c + "\n";
    return s;
  }();

  auto write = [&](const std::string& name, const sk::Samples& s, const std::string& kind, const std::string& snr,
                   const std::string& code) {
    const std::filesystem::path p = out / name;
    std::filesystem::create_directories(p.parent_path());
    if (!sk::writeWav(p.string(), s, kRate, 16)) {
      std::fprintf(stderr, "make_corpus: cannot write %s\n", p.c_str());
      std::exit(1);
    }
    manifest << name << '\t' << kind << '\t' << snr << '\t' << code << '\n';
  };

  // Positives.
  for (int snr : {6, 3, 0, -3, -6, -9, -12}) {
    char level[16];
    std::snprintf(level, sizeof level, "%+03d", snr);
    for (int i = 0; i < calls; ++i) {
      const std::string code = codes[static_cast<size_t>(pick(0, 19))];
      const double amplitude = uniform(0.2, 2.0 / 3);
      char name[64];
      std::snprintf(name, sizeof name, "calls/snr%s/call%03d.wav", level, i);
      write(name, inNoise(zveiCall(code, amplitude), amplitude, snr, ++noiseSeed), "call", level, code);
    }
  }

  // Negatives, at SNRs spread over the same range.
  auto negativeSnr = [] { return static_cast<double>(pick(-12, 6)); };
  for (int i = 0; i < calls; ++i) {
    char name[64];
    const double level = uniform(0.05, 0.4);
    std::snprintf(name, sizeof name, "noise/noise%03d.wav", i);
    sk::Samples noise = i % 2 ? sk::bandLimitedNoise(10, level, 300, 3400, kRate, ++noiseSeed)
                              : sk::whiteNoise(10, level, kRate, ++noiseSeed);
    write(name, noise, "noise", "-", "-");

    // Off-grid bursts: five tones, each at least 4 % away from every ZVEI1 tone.
    std::vector<double> hz;
    while (hz.size() < 5) {
      const double f = uniform(600, 3200);
      bool near = false;
      for (double g : sk::zvei1().digitHz) near |= std::abs(f - g) < 0.04 * g;
      near |= std::abs(f - sk::zvei1().repeatHz) < 0.04 * sk::zvei1().repeatHz;
      if (!near) hz.push_back(f);
    }
    double amplitude = uniform(0.2, 2.0 / 3);
    std::snprintf(name, sizeof name, "offgrid/burst%03d.wav", i);
    write(name, inNoise(tones(hz, amplitude), amplitude, negativeSnr(), ++noiseSeed), "offgrid", "-", "-");

    // Codes nobody configured.
    std::string other;
    do other = randomCode();
    while (configured.count(other) != 0);
    amplitude = uniform(0.2, 2.0 / 3);
    std::snprintf(name, sizeof name, "unconfigured/call%03d.wav", i);
    write(name, inNoise(zveiCall(other, amplitude), amplitude, negativeSnr(), ++noiseSeed), "unconfigured", "-",
          other);

    // Near misses: a configured code with one digit changed (and not
    // thereby another configured code).
    std::string miss;
    do {
      miss = codes[static_cast<size_t>(pick(0, 19))];
      const size_t at = static_cast<size_t>(pick(0, 4));
      char d;
      do d = static_cast<char>('0' + pick(0, 9));
      while (d == miss[at]);
      miss[at] = d;
    } while (configured.count(miss) != 0);
    amplitude = uniform(0.2, 2.0 / 3);
    const double snr = i % 2 ? 20.0 : negativeSnr();  // half of them clean
    std::snprintf(name, sizeof name, "nearmiss/call%03d.wav", i);
    write(name, inNoise(zveiCall(miss, amplitude), amplitude, snr, ++noiseSeed), "nearmiss", "-", miss);
  }

  // Speech, each file with light noise.
  int n = 0;
  for (const std::string& path : speech) {
    sk::Samples s = readWav(path);
    if (s.empty()) continue;
    const double level = sk::rms(s);
    sk::Samples mix = sk::bandLimitedNoise(static_cast<double>(s.size()) / kRate, level / 10, 300, 3400, kRate,
                                           ++noiseSeed);
    sk::mixInto(mix, s);
    double peak = 0;
    for (double v : mix) peak = std::max(peak, std::abs(v));
    for (double& v : mix) v *= 0.9 / std::max(peak, 1e-9);
    char name[64];
    std::snprintf(name, sizeof name, "speech/speech%03d.wav", n++);
    write(name, mix, "speech", "-", "-");
  }

  // One long file for throughput: ten minutes of noise with a call every 20 s.
  sk::Samples longFile = sk::bandLimitedNoise(600, 0.05, 300, 3400, kRate, ++noiseSeed);
  for (int i = 0; i < 30; ++i) {
    sk::mixInto(longFile, zveiCall(codes[static_cast<size_t>(i % 20)], 0.4), static_cast<size_t>((i * 20 + 5) * kRate));
  }
  write("long/long.wav", longFile, "long", "-", "-");
  return 0;
}
