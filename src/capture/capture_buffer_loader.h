#pragma once

// Loading one filled capture buffer into the spectrum transform.

#include <cstdint>

#include "dsp/spectrum_transform.h"

namespace kantiq {

// Slides one filled buffer of the given width into the transform, through the
// reader for that width; nothing is allocated.
void loadCaptureBuffer(SpectrumTransform& transform, int32_t bitsPerSample, const uint8_t* data,
                       int32_t samplesPerBuffer);

}  // namespace kantiq
