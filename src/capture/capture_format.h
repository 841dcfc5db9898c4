#pragma once

// The sizes of one capture format, which the recorder opens the device with
// and sizes its buffers by.

#include <cstdint>

namespace kantiq {

// The largest capture buffer a format may ask for, in samples.
constexpr int32_t kMaxSamplesPerBuffer = 1 << 16;

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

}  // namespace kantiq
