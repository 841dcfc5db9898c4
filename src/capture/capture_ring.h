#pragma once

// The ring of capture buffers the recorder and the driver pass round.

#include <cstdint>

namespace kantiq {

// Eight capture buffers; seven are queued at the driver while the eighth is analysed.
constexpr int32_t kCaptureBufferCount = 8;
constexpr int32_t kQueuedBufferCount = 7;

// The buffer the driver fills after buffer b.
constexpr int32_t nextCaptureBuffer(int32_t b) { return b == kCaptureBufferCount - 1 ? 0 : b + 1; }
// The buffer filled before buffer b: the one handed back to the driver when b is analysed.
constexpr int32_t previousCaptureBuffer(int32_t b) { return b == 0 ? kCaptureBufferCount - 1 : b - 1; }

}  // namespace kantiq
