#pragma once

// What the recorder and the analysis agree on without the sound driver: the
// sizes of one capture format, the ring of capture buffers and how a filled
// buffer's bytes read as samples.

#include <cstddef>
#include <cstdint>

#include "dsp/spectrum_transform.h"

namespace kantiq {

// Mono PCM of 8 or 16 bits at one of the offered rates, cut into buffers of
// samplesPerBuffer samples.
struct CaptureFormat {
  int32_t samplesPerBuffer = 0;
  int32_t sampleRateHz = 0;
  int32_t channels = 1;
  int32_t bitsPerSample = 16;

  int32_t bytesPerSample() const { return channels * bitsPerSample / 8; }
  int32_t bytesPerBuffer() const { return samplesPerBuffer * channels * bitsPerSample / 8; }
  int32_t averageBytesPerSecond() const { return channels * bitsPerSample * sampleRateHz / 8; }
  // Sensible values only: 8 or 16 bits, at least one sample and one hertz, and
  // a buffer ring small enough to allocate (the program uses at most 2048 samples).
  bool isValid() const;
};

// Eight capture buffers; seven are queued at the driver while the eighth is analysed.
constexpr int32_t kCaptureBufferCount = 8;
constexpr int32_t kQueuedBufferCount = 7;
constexpr int32_t kMaxSamplesPerBuffer = 1 << 16;

// The buffer the driver fills after buffer b.
constexpr int32_t nextCaptureBuffer(int32_t b) { return b == kCaptureBufferCount - 1 ? 0 : b + 1; }
// The buffer filled before buffer b: the one handed back to the driver when b is analysed.
constexpr int32_t previousCaptureBuffer(int32_t b) { return b == 0 ? kCaptureBufferCount - 1 : b - 1; }

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

// Slides one filled buffer of the given width into the transform, through the
// reader for that width; nothing is allocated.
void loadCaptureBuffer(SpectrumTransform& transform, int32_t bitsPerSample, const uint8_t* data,
                       int32_t samplesPerBuffer);

}  // namespace kantiq
