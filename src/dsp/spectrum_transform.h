#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

namespace kantiq {

// The samples of one filled capture buffer, read in order as signed integers.
class SampleReader {
 public:
  virtual ~SampleReader() = default;
  virtual int32_t samplesPerBuffer() const = 0;
  virtual int32_t readSample(int32_t index) const = 0;
};

// A sample reader over samples already in memory.
class SpanSampleReader final : public SampleReader {
 public:
  explicit SpanSampleReader(std::span<const int32_t> samples) : samples_(samples) {}
  int32_t samplesPerBuffer() const override { return static_cast<int32_t>(samples_.size()); }
  int32_t readSample(int32_t index) const override { return samples_[static_cast<size_t>(index)]; }

 private:
  std::span<const int32_t> samples_;
};

// A sliding window of the newest N samples and its radix-2 FFT. N is a power
// of two (256 to 2048 in the program). Everything that depends only on N is
// computed at construction, so a frame costs one pass over the window plus the
// butterflies, with no allocation and no trigonometry.
//
// After transform(), bins()[k] is the unscaled forward DFT of the window,
// sum over n of window[n] * exp(-2*pi*i*k*n/N), in natural order: bin 0 is DC,
// bin N/2 the Nyquist frequency; for real input only bins 0 to N/2-1 are used.
class SpectrumTransform {
 public:
  SpectrumTransform(int32_t points, int32_t sampleRate);

  // Slides the samples of one buffer into the window and lays the window out
  // in bit-reversed order in bins(). A buffer of more than N samples is
  // ignored: window and bins stay unchanged.
  void load(const SampleReader& reader);

  // Turns bins() into the spectrum of the window, in place.
  void transform();

  int32_t points() const { return points_; }
  int32_t sampleRate() const { return sampleRate_; }
  int32_t stages() const { return stages_; }
  double normaliser() const { return normaliser_; }
  std::span<const std::complex<double>> bins() const { return bins_; }
  std::span<std::complex<double>> bins() { return bins_; }
  // The newest N samples, oldest first.
  std::span<const double> window() const { return window_; }
  std::span<const int32_t> bitReversal() const { return bitReversal_; }

 private:
  int32_t points_;
  int32_t sampleRate_;
  int32_t stages_ = 0;
  double normaliser_;
  std::vector<int32_t> bitReversal_;
  std::vector<std::complex<double>> bins_;
  // twiddles_[s-1][j] = (cos(2*pi*j/2^s), -sin(2*pi*j/2^s)), one table per stage
  std::vector<std::vector<std::complex<double>>> twiddles_;
  std::vector<double> window_;
};

}  // namespace kantiq
