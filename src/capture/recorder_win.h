#pragma once

// Mono PCM capture from one sound input into a ring of eight buffers, seven
// of them queued at the driver while the eighth is analysed. The input is
// asked for by name (input_choice.h) and looked up at every start, so an
// input that went away is found again when it returns, wherever the system
// lists it then.

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_format.h"
#include "capture/input_choice.h"
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

  // The input the next start opens; by default the system's default input.
  void setInput(InputRequest wanted) { wanted_ = std::move(wanted); }
  const InputRequest& wantedInput() const { return wanted_; }

  // Opens the input asked for and queues buffers 0 to 6; the driver sets
  // event for every filled buffer. On failure shows a "Recorder" box and
  // returns false; so too, opening nothing, while the last device still
  // refuses to close. An input that is not there shows no box: false, and
  // inputMissing() says so. The default input, once found, is asked for
  // by its name from then on (takeChosenInput).
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

  // The last start found no such input (or no input at all).
  bool inputMissing() const { return inputMissing_; }
  // The input of the last start that found one.
  const std::optional<InputRequest>& inputInUse() const { return inUse_; }
  // The default input found by a start when none was asked for by name,
  // once; it is the input asked for from then on.
  std::optional<InputRequest> takeChosenInput() { return std::exchange(chosen_, std::nullopt); }
  // The names of the inputs the system lists now, by device number.
  std::vector<std::string> inputNames();

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
  // The device number of the input asked for, or nothing when it is absent.
  std::optional<UINT> resolveInput();

  WaveInApi& api_;
  RecorderWarningBox& box_;
  bool recording_ = false;
  HWAVEIN device_ = nullptr;
  int32_t openStatus_ = kClosed;
  MMRESULT closeResult_ = MMSYSERR_NOERROR;  // of the last close
  CaptureFormat format_;
  InputRequest wanted_;
  std::optional<InputRequest> inUse_;
  std::optional<InputRequest> chosen_;
  bool inputMissing_ = false;
  int32_t current_ = 0;
  std::unique_ptr<Ring> ring_;
};

}  // namespace kantiq
