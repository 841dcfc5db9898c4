#include "dsp/spectrum_transform.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kantiq {
namespace {

int32_t checkedPoints(int32_t points) {
  if (points < 1 || (points & (points - 1)) != 0) {
    throw std::invalid_argument("transform size must be a power of two");
  }
  return points;
}

}  // namespace

SpectrumTransform::SpectrumTransform(int32_t points, int32_t sampleRate)
    : points_(checkedPoints(points)),
      sampleRate_(sampleRate),
      normaliser_(std::sqrt(static_cast<double>(points))),
      bitReversal_(static_cast<size_t>(points)),
      bins_(static_cast<size_t>(points)),
      window_(static_cast<size_t>(points), 0.0) {
  const size_t n = static_cast<size_t>(points);

  for (uint32_t rest = static_cast<uint32_t>(points) - 1; rest != 0; rest >>= 1) ++stages_;

  int32_t j = 0;
  for (int32_t i = 0; i < points - 1; ++i) {
    bitReversal_[static_cast<size_t>(i)] = j;
    int32_t k = points / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  bitReversal_[n - 1] = points - 1;

  const double pi = 2.0 * std::asin(1.0);
  twiddles_.resize(static_cast<size_t>(stages_));
  for (int32_t s = 1; s <= stages_; ++s) {
    const double m = static_cast<double>(1 << s);
    auto& table = twiddles_[static_cast<size_t>(s - 1)];
    table.resize(n);
    for (size_t e = 0; e < n; ++e) {
      const double angle = 2.0 * pi * static_cast<double>(e) / m;
      table[e] = {std::cos(angle), -std::sin(angle)};
    }
  }
}

void SpectrumTransform::load(const SampleReader& reader) {
  const int32_t n = reader.samplesPerBuffer();
  if (n > points_ || n < 0) return;
  const size_t keep = static_cast<size_t>(points_ - n);
  std::copy(window_.begin() + n, window_.end(), window_.begin());
  for (int32_t i = 0; i < n; ++i) {
    window_[keep + static_cast<size_t>(i)] = static_cast<double>(reader.readSample(i));
  }
  for (size_t i = 0; i < window_.size(); ++i) {
    bins_[static_cast<size_t>(bitReversal_[i])] = {window_[i], 0.0};
  }
}

void SpectrumTransform::transform() {
  // The butterflies of one stage touch disjoint pairs, so they may run in any
  // order: block by block, with the twiddle index innermost, walks the array
  // and the table forwards and gives exactly the same sums as twiddle-major.
  const size_t n = bins_.size();
  std::complex<double>* const bins = bins_.data();
  for (int32_t s = 1; s <= stages_; ++s) {
    const size_t h = size_t{1} << (s - 1);
    const size_t m = 2 * h;
    const std::complex<double>* const table = twiddles_[static_cast<size_t>(s - 1)].data();
    for (size_t block = 0; block < n; block += m) {
      std::complex<double>* const lo = bins + block;
      std::complex<double>* const hi = lo + h;
      for (size_t j = 0; j < h; ++j) {
        const double wr = table[j].real();
        const double wi = table[j].imag();
        const double br = hi[j].real();
        const double bi = hi[j].imag();
        const double tr = wr * br - wi * bi;
        const double ti = wi * br + wr * bi;
        const double ar = lo[j].real();
        const double ai = lo[j].imag();
        hi[j] = {ar - tr, ai - ti};
        lo[j] = {ar + tr, ai + ti};
      }
    }
  }
}

}  // namespace kantiq
