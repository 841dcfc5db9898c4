#include "capture/capture_format.h"

namespace kantiq {

bool CaptureFormat::isValid() const {
  return (bitsPerSample == 8 || bitsPerSample == 16) && channels == 1 && samplesPerBuffer > 0 &&
         samplesPerBuffer <= kMaxSamplesPerBuffer && sampleRateHz > 0 && sampleRateHz <= 1'000'000;
}

void loadCaptureBuffer(SpectrumTransform& transform, int32_t bitsPerSample, const uint8_t* data,
                       int32_t samplesPerBuffer) {
  if (bitsPerSample == 8) {
    transform.load(Pcm8BufferReader(data, samplesPerBuffer));
  } else {
    transform.load(Pcm16BufferReader(data, samplesPerBuffer));
  }
}

}  // namespace kantiq
