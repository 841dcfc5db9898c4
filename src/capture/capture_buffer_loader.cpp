#include "capture/capture_buffer_loader.h"

#include "capture/pcm_sample_readers.h"

namespace kantiq {

void loadCaptureBuffer(SpectrumTransform& transform, int32_t bitsPerSample, const uint8_t* data,
                       int32_t samplesPerBuffer) {
  if (bitsPerSample == 8) {
    transform.load(Pcm8BufferReader(data, samplesPerBuffer));
  } else {
    transform.load(Pcm16BufferReader(data, samplesPerBuffer));
  }
}

}  // namespace kantiq
