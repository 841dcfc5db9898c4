// The bare capture loop of Kantiq's live format, as a yardstick for what
// listening costs without any of the program's own work: the default input
// opened at 44100 Hz, 8-bit mono, with an event the driver sets per filled
// buffer; a ring of eight buffers of 1472 samples, seven of them queued;
// each filled buffer is recycled the way the program does it (the current
// one leaves the queue, the previous one re-enters it) and nothing else.
//
//   bare_capture.exe
//
// Prints "listening" once capture runs, and at the end the number of
// buffers taken. Runs until its standard input ends (or a line arrives),
// so that whoever started it can read its CPU time while it still runs.
#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "win32/owners_win.h"

namespace {

constexpr DWORD kSampleRateHz = 44100;
constexpr WORD kBitsPerSample = 8;
constexpr DWORD kSamplesPerBuffer = 1472;
constexpr int kBufferCount = 8;
constexpr int kQueuedCount = 7;
// Only to notice a stop while no buffer arrives.
constexpr DWORD kWaitMs = 1000;

// The open device with its ring; closing resets it, unprepares and closes.
class Capture {
 public:
  Capture() : memory_(kBufferCount * kSamplesPerBuffer) {}
  ~Capture() { close(); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  MMRESULT open(HANDLE event) {
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 1;
    wf.nSamplesPerSec = kSampleRateHz;
    wf.wBitsPerSample = kBitsPerSample;
    wf.nBlockAlign = 1;
    wf.nAvgBytesPerSec = kSampleRateHz;
    MMRESULT rc = waveInOpen(&device_, WAVE_MAPPER, &wf, reinterpret_cast<DWORD_PTR>(event), 0,
                             CALLBACK_EVENT);
    if (rc != MMSYSERR_NOERROR) {
      device_ = nullptr;
      return rc;
    }
    for (int b = 0; b < kQueuedCount && rc == MMSYSERR_NOERROR; ++b) rc = queue(b);
    if (rc == MMSYSERR_NOERROR) rc = waveInStart(device_);
    return rc;
  }

  bool currentDone() const {
    const volatile DWORD& flags = headers_[static_cast<size_t>(current_)].dwFlags;
    return (flags & WHDR_DONE) != 0;
  }

  // The current buffer leaves the queue, the one before it is queued again.
  void recycle() {
    const int a = current_;
    if (waveInUnprepareHeader(device_, &headers_[static_cast<size_t>(a)], sizeof(WAVEHDR)) ==
        MMSYSERR_NOERROR) {
      prepared_[static_cast<size_t>(a)] = false;
    }
    const int p = a == 0 ? kBufferCount - 1 : a - 1;
    current_ = a == kBufferCount - 1 ? 0 : a + 1;
    if (prepared_[static_cast<size_t>(p)] &&
        waveInUnprepareHeader(device_, &headers_[static_cast<size_t>(p)], sizeof(WAVEHDR)) ==
            MMSYSERR_NOERROR) {
      prepared_[static_cast<size_t>(p)] = false;
    }
    if (!prepared_[static_cast<size_t>(p)]) queue(p);
  }

  void close() {
    if (device_ == nullptr) return;
    waveInReset(device_);
    for (int b = 0; b < kBufferCount; ++b) {
      if (prepared_[static_cast<size_t>(b)]) {
        waveInUnprepareHeader(device_, &headers_[static_cast<size_t>(b)], sizeof(WAVEHDR));
      }
    }
    waveInClose(device_);
    device_ = nullptr;
  }

 private:
  MMRESULT queue(int b) {
    WAVEHDR& h = headers_[static_cast<size_t>(b)];
    h = WAVEHDR{};
    h.lpData = reinterpret_cast<LPSTR>(memory_.data() + static_cast<size_t>(b) * kSamplesPerBuffer);
    h.dwBufferLength = kSamplesPerBuffer;
    MMRESULT rc = waveInPrepareHeader(device_, &h, sizeof(WAVEHDR));
    if (rc != MMSYSERR_NOERROR) return rc;
    prepared_[static_cast<size_t>(b)] = true;
    return waveInAddBuffer(device_, &h, sizeof(WAVEHDR));
  }

  HWAVEIN device_ = nullptr;
  std::vector<uint8_t> memory_;
  std::array<WAVEHDR, kBufferCount> headers_{};
  std::array<bool, kBufferCount> prepared_{};
  int current_ = 0;
};

// Sets the stop event once standard input ends or brings a line.
DWORD WINAPI watchInput(LPVOID stop) {
  char c = 0;
  DWORD got = 0;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
  }
  SetEvent(static_cast<HANDLE>(stop));
  return 0;
}

}  // namespace

int main() {
  const kantiq::UniqueHandle filled(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const kantiq::UniqueHandle stop(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!filled || !stop) {
    std::printf("CreateEvent failed: %lu\n", GetLastError());
    return 1;
  }
  Capture capture;
  const MMRESULT rc = capture.open(filled.get());
  if (rc != MMSYSERR_NOERROR) {
    std::printf("waveIn failed: %u\n", rc);
    return 1;
  }
  const kantiq::UniqueHandle watcher(CreateThread(nullptr, 0, &watchInput, stop.get(), 0, nullptr));
  if (!watcher) {
    std::printf("CreateThread failed: %lu\n", GetLastError());
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);

  uint64_t buffers = 0;
  const HANDLE waits[] = {filled.get(), stop.get()};
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kWaitMs);
    if (woken == WAIT_OBJECT_0 + 1) break;
    if (woken == WAIT_OBJECT_0 && capture.currentDone()) {
      capture.recycle();
      ++buffers;
    }
  }
  capture.close();
  std::printf("buffers %llu\n", static_cast<unsigned long long>(buffers));
  std::fflush(stdout);
  return 0;
}
