#pragma once

// Mono PCM capture from the default sound input into a ring of eight
// buffers, seven of them queued at the driver while the eighth is analysed.

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cstdint>
#include <memory>

#include "capture/capture_format.h"
#include "capture/capture_ring.h"
#include "capture/wave_in_win.h"

namespace kantiq {

class Recorder {
 public:
  // Open status while the device is closed (also the initial value).
  static constexpr int32_t kClosed = 2;

  // Sizes the ring and allocates it; the device is not opened. Throws
  // WinException for a format the ring cannot hold (no samples, too many,
  // a width other than 8 or 16 bits).
  Recorder(int32_t samplesPerBuffer, int32_t sampleRateHz, int32_t bitsPerSample,
           WaveInApi& api = systemWaveIn(), RecorderWarningBox& box = systemWarningBox());
  // Stops capture; the ring is freed only once the driver has handed every
  // buffer back.
  ~Recorder();
  // The driver keeps the headers' addresses: neither copied nor moved.
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Opens the default input and queues buffers 0 to 6; the driver sets event
  // for every filled buffer. On failure shows a "Recorder" box and returns false;
  // so too, opening nothing, while the last device still refuses to close.
  bool start(HANDLE event);
  // Stops capture, hands every buffer back and closes the device. A device
  // that refuses to close stays open (openStatus() 0), and is tried again.
  void stop();
  // stop(), then true when the device is closed; false, after a "Recorder"
  // box with the driver's reason, while it refuses to close.
  bool close();
  // Hands the current buffer, just filled, over for analysis and re-queues the
  // previous one. False when the previous buffer could not be queued again.
  bool recycle();

  // The current buffer has been filled while recording.
  bool currentBufferDone() const;
  const WAVEHDR& currentHeader() const { return ring_->headers[static_cast<size_t>(current_)]; }
  const uint8_t* currentBufferData() const { return bufferData(current_); }

  bool recording() const { return recording_; }
  int32_t openStatus() const { return openStatus_; }
  int32_t currentBuffer() const { return current_; }
  const CaptureFormat& format() const { return format_; }
  int32_t sampleRate() const { return format_.sampleRateHz; }
  int32_t samplesPerBuffer() const { return format_.samplesPerBuffer; }
  int32_t bitsPerSample() const { return format_.bitsPerSample; }

 private:
  // Buffer memory and headers live together on the heap so that, should the
  // driver refuse to give them back, both can be left to it.
  struct Ring {
    std::unique_ptr<uint8_t[]> memory;
    std::array<WAVEHDR, kCaptureBufferCount> headers{};
    std::array<bool, kCaptureBufferCount> prepared{};
  };

  uint8_t* bufferData(int32_t b) const;
  // Re-initialises header b, prepares it and adds it to the driver's queue.
  MMRESULT queueBuffer(int32_t b);
  // Reset, unprepare every prepared header, close; true when closed.
  bool closeDevice();
  void showError(MMRESULT code);

  WaveInApi& api_;
  RecorderWarningBox& box_;
  bool recording_ = false;
  HWAVEIN device_ = nullptr;
  int32_t openStatus_ = kClosed;
  MMRESULT closeResult_ = MMSYSERR_NOERROR;  // of the last close
  CaptureFormat format_;
  int32_t current_ = 0;
  std::unique_ptr<Ring> ring_;
};

}  // namespace kantiq
