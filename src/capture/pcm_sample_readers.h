#pragma once

// How the bytes of a filled capture buffer read as samples.

#include <cstddef>
#include <cstdint>

#include "dsp/spectrum_transform.h"

namespace kantiq {

// One 8-bit sample: unsigned with 128 as zero, scaled by 64 (-8192 to 8128).
constexpr int32_t readPcm8Sample(uint8_t byte) { return (static_cast<int32_t>(byte) - 128) * 64; }
// One 16-bit sample: signed little-endian.
constexpr int32_t readPcm16Sample(const uint8_t* bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// The samples of one filled 8-bit capture buffer. Every buffer is read in full.
class Pcm8BufferReader final : public SampleReader {
 public:
  Pcm8BufferReader(const uint8_t* data, int32_t samplesPerBuffer)
      : data_(data), samplesPerBuffer_(samplesPerBuffer) {}
  int32_t samplesPerBuffer() const override { return samplesPerBuffer_; }
  int32_t readSample(int32_t index) const override { return readPcm8Sample(data_[index]); }

 private:
  const uint8_t* data_;
  int32_t samplesPerBuffer_;
};

// The samples of one filled 16-bit capture buffer.
class Pcm16BufferReader final : public SampleReader {
 public:
  Pcm16BufferReader(const uint8_t* data, int32_t samplesPerBuffer)
      : data_(data), samplesPerBuffer_(samplesPerBuffer) {}
  int32_t samplesPerBuffer() const override { return samplesPerBuffer_; }
  int32_t readSample(int32_t index) const override {
    return readPcm16Sample(data_ + static_cast<ptrdiff_t>(index) * 2);
  }

 private:
  const uint8_t* data_;
  int32_t samplesPerBuffer_;
};

}  // namespace kantiq
