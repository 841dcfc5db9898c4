#include "capture/capture_format.h"

namespace kantiq {

bool CaptureFormat::isValid() const {
  return (bitsPerSample == 8 || bitsPerSample == 16) && channels == 1 && samplesPerBuffer > 0 &&
         samplesPerBuffer <= kMaxSamplesPerBuffer && sampleRateHz > 0 && sampleRateHz <= 1'000'000;
}

}  // namespace kantiq
