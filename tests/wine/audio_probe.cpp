// audio_probe SECONDS [THRESHOLD]
//
// Records SECONDS of 44.1 kHz 8-bit mono from the default wave-input device
// and reports what arrived. Used to check that the Wine test environment
// delivers sound played into its null sink to a recording program.
//
// Exit status: 0 sound (peak-to-peak above THRESHOLD, default 16 of 255),
// 1 silence, 2 no device or the device could not be opened,
// 3 the device delivered well under SECONDS of audio, 4 bad arguments.

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRate = 44100;
constexpr DWORD kBufferBytes = kRate / 10;  // 100 ms per buffer
constexpr int kBufferCount = 4;

enum Exit { kSound = 0, kSilence = 1, kNoDevice = 2, kStalled = 3, kUsage = 4 };

std::string errorText(MMRESULT rc) {
  std::array<char, MAXERRORLENGTH> text{};
  if (waveInGetErrorTextA(rc, text.data(), static_cast<UINT>(text.size())) != MMSYSERR_NOERROR) {
    return "MMRESULT " + std::to_string(rc);
  }
  return std::string(text.data()) + " (MMRESULT " + std::to_string(rc) + ")";
}

// Running statistics of unsigned 8-bit samples (silence is 128).
struct Stats {
  int min = 255;
  int max = 0;
  double sumSquares = 0.0;
  std::uint64_t count = 0;

  void add(const char* data, DWORD bytes) {
    for (DWORD i = 0; i < bytes; ++i) {
      const int s = static_cast<unsigned char>(data[i]);
      min = s < min ? s : min;
      max = s > max ? s : max;
      const double centred = s - 128.0;
      sumSquares += centred * centred;
    }
    count += bytes;
  }
  int peakToPeak() const { return count == 0 ? 0 : max - min; }
  double rms() const { return count == 0 ? 0.0 : std::sqrt(sumSquares / static_cast<double>(count)); }
};

// Owns an open wave-input device, its notification event and its buffers.
// The destructor stops the device and hands every buffer back before the
// buffers themselves are freed.
class WaveIn {
 public:
  WaveIn() = default;
  WaveIn(const WaveIn&) = delete;
  WaveIn& operator=(const WaveIn&) = delete;

  ~WaveIn() {
    if (device_ != nullptr) {
      waveInReset(device_);  // returns every queued buffer as done
      for (auto& header : headers_) {
        if ((header.dwFlags & WHDR_PREPARED) != 0) {
          waveInUnprepareHeader(device_, &header, sizeof header);
        }
      }
      waveInClose(device_);
    }
    if (event_ != nullptr) {
      CloseHandle(event_);
    }
  }

  // Returns an empty string on success, otherwise why it failed.
  std::string open() {
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) {
      return "CreateEvent failed, error " + std::to_string(GetLastError());
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = 8;
    format.nBlockAlign = 1;
    format.nAvgBytesPerSec = kRate;
    const MMRESULT rc = waveInOpen(&device_, WAVE_MAPPER, &format,
                                   reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
    if (rc != MMSYSERR_NOERROR) {
      device_ = nullptr;
      return "waveInOpen(WAVE_MAPPER, 44100 Hz, 8-bit mono) failed: " + errorText(rc);
    }
    for (int i = 0; i < kBufferCount; ++i) {
      buffers_[i].assign(kBufferBytes, 0);
      WAVEHDR& header = headers_[i];
      header = WAVEHDR{};
      header.lpData = buffers_[i].data();
      header.dwBufferLength = kBufferBytes;
      MMRESULT prep = waveInPrepareHeader(device_, &header, sizeof header);
      if (prep != MMSYSERR_NOERROR) {
        return "waveInPrepareHeader failed: " + errorText(prep);
      }
      MMRESULT add = waveInAddBuffer(device_, &header, sizeof header);
      if (add != MMSYSERR_NOERROR) {
        return "waveInAddBuffer failed: " + errorText(add);
      }
    }
    return {};
  }

  // Records until `wanted` bytes have arrived or `timeoutMs` has passed.
  std::string record(std::uint64_t wanted, DWORD timeoutMs, Stats& stats) {
    const MMRESULT start = waveInStart(device_);
    if (start != MMSYSERR_NOERROR) {
      return "waveInStart failed: " + errorText(start);
    }
    std::printf("recording %.1f s\n", static_cast<double>(wanted) / kRate);
    std::fflush(stdout);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (stats.count < wanted && GetTickCount64() < deadline) {
      WaitForSingleObject(event_, 100);
      for (auto& header : headers_) {
        if ((header.dwFlags & WHDR_DONE) == 0) {
          continue;
        }
        const std::uint64_t left = wanted - stats.count;
        const DWORD used = header.dwBytesRecorded < left ? header.dwBytesRecorded : static_cast<DWORD>(left);
        stats.add(header.lpData, used);
        header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        header.dwBytesRecorded = 0;
        if (stats.count < wanted) {
          const MMRESULT add = waveInAddBuffer(device_, &header, sizeof header);
          if (add != MMSYSERR_NOERROR) {
            return "waveInAddBuffer failed while recording: " + errorText(add);
          }
        }
      }
    }
    return {};
  }

 private:
  HWAVEIN device_ = nullptr;
  HANDLE event_ = nullptr;
  std::array<std::vector<char>, kBufferCount> buffers_;
  std::array<WAVEHDR, kBufferCount> headers_{};
};

bool parseInt(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && out >= low && out <= high;
}

}  // namespace

int main(int argc, char** argv) {
  long seconds = 0;
  long threshold = 16;
  if (argc < 2 || argc > 3 || !parseInt(argv[1], 1, 60, seconds) ||
      (argc == 3 && !parseInt(argv[2], 0, 254, threshold))) {
    std::fprintf(stderr, "usage: audio_probe SECONDS(1-60) [THRESHOLD(0-254)]\n");
    return kUsage;
  }

  const UINT devices = waveInGetNumDevs();
  std::printf("wave-input devices: %u\n", devices);
  if (devices == 0) {
    std::printf("no wave-input device\n");
    return kNoDevice;
  }

  Stats stats;
  {
    WaveIn in;
    if (std::string why = in.open(); !why.empty()) {
      std::printf("%s\n", why.c_str());
      return kNoDevice;
    }
    const std::uint64_t wanted = static_cast<std::uint64_t>(seconds) * kRate;
    if (std::string why = in.record(wanted, static_cast<DWORD>(seconds) * 1000 + 3000, stats); !why.empty()) {
      std::printf("%s\n", why.c_str());
      return kNoDevice;
    }
  }

  const double received = static_cast<double>(stats.count) / kRate;
  std::printf("received %.2f s, min %d, max %d, peak-to-peak %d, rms %.2f\n", received,
              stats.min, stats.max, stats.peakToPeak(), stats.rms());
  if (received < 0.9 * static_cast<double>(seconds)) {
    std::printf("stalled: expected %ld s of audio\n", seconds);
    return kStalled;
  }
  const bool sound = stats.peakToPeak() > threshold;
  std::printf("%s\n", sound ? "sound" : "silence");
  return sound ? kSound : kSilence;
}
