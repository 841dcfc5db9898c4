#pragma once

// A sound driver in memory for the capture tests: buffers are filled when the
// test says so, and every call can be made to fail or be counted.

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "capture/wave_in_win.h"

namespace kantiq::testing {

class FakeWaveIn final : public WaveInApi {
 public:
  // Results the test sets up.
  MMRESULT queryResult = MMSYSERR_NOERROR;
  MMRESULT openResult = MMSYSERR_NOERROR;
  MMRESULT startResult = MMSYSERR_NOERROR;
  int failPrepareAt = -1;  // 0-based index of the prepare call that fails
  int failAddAt = -1;
  int refuseCloses = 0;  // this many closes of an emptied device fail

  // The inputs the system lists, by device number, and its default one.
  void setInputs(std::vector<std::string> names, UINT defaultId = 0) {
    std::lock_guard<std::mutex> g(m_);
    inputs_ = std::move(names);
    defaultInput_ = defaultId;
  }

  MMRESULT open(UINT deviceId, HWAVEIN* device, const WAVEFORMATEX& format, HANDLE event,
                DWORD flags) override {
    std::lock_guard<std::mutex> g(m_);
    if (deviceId >= inputs_.size()) return MMSYSERR_BADDEVICEID;
    if ((flags & WAVE_FORMAT_QUERY) != 0) {
      ++queries_;
      queriedFormat_ = format;
      queriedInput_ = deviceId;
      return queryResult;
    }
    ++opens_;
    openFlags_ = flags;
    openedInput_ = deviceId;
    if (openResult != MMSYSERR_NOERROR) return openResult;
    if (open_) ++violations_;  // a second device while the first is open
    open_ = true;
    event_ = event;
    openedFormat_ = format;
    *device = reinterpret_cast<HWAVEIN>(static_cast<uintptr_t>(0x1000 + opens_));
    device_ = *device;
    return MMSYSERR_NOERROR;
  }
  MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* h) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    if (isQueued(h)) ++violations_;
    if (prepares_++ == failPrepareAt) return MMSYSERR_NOMEM;
    h->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }
  MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* h) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    // As winmm does, by the header's own flag: a header a dead device never
    // handed back stays "in the queue" for good.
    if (isQueued(h) || (h->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    h->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    ++unprepares_;
    return MMSYSERR_NOERROR;
  }
  MMRESULT addBuffer(HWAVEIN device, WAVEHDR* h) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    if ((h->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if (isQueued(h)) ++violations_;
    if (adds_++ == failAddAt) return MMSYSERR_NOMEM;
    h->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    h->dwFlags |= WHDR_INQUEUE;
    queue_.push_back(h);
    return MMSYSERR_NOERROR;
  }
  MMRESULT start(HWAVEIN device) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    ++starts_;
    return startResult;
  }
  MMRESULT reset(HWAVEIN device) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    ++resets_;
    if (dead_) return MMSYSERR_ERROR;  // keeps its buffers
    const bool any = !queue_.empty();
    for (WAVEHDR* h : queue_) markDone(h, 0);
    queue_.clear();
    if (any) SetEvent(event_);
    return MMSYSERR_NOERROR;
  }
  MMRESULT close(HWAVEIN device) override {
    std::lock_guard<std::mutex> g(m_);
    checkDevice(device);
    if (dead_) {
      // Gone with the buffers it held, which keep their flags.
      queue_.clear();
      dead_ = false;
    }
    if (!queue_.empty()) return WAVERR_STILLPLAYING;
    if (refuseCloses > 0) {
      --refuseCloses;
      return MMSYSERR_ERROR;
    }
    ++closes_;
    open_ = false;
    device_ = nullptr;
    return MMSYSERR_NOERROR;
  }
  MMRESULT errorText(MMRESULT code, char* text, UINT size) override {
    std::lock_guard<std::mutex> g(m_);
    errorTextSize_ = size;
    std::snprintf(text, size, "fake error %u", static_cast<unsigned>(code));
    return MMSYSERR_NOERROR;
  }
  UINT deviceCount() override {
    std::lock_guard<std::mutex> g(m_);
    return static_cast<UINT>(inputs_.size());
  }
  bool deviceName(UINT deviceId, std::string& name) override {
    std::lock_guard<std::mutex> g(m_);
    if (deviceId >= inputs_.size()) return false;
    name = inputs_[deviceId];
    return true;
  }
  bool defaultDevice(UINT& deviceId) override {
    std::lock_guard<std::mutex> g(m_);
    if (defaultInput_ >= inputs_.size()) return false;
    deviceId = defaultInput_;
    return true;
  }

  // The driver fills the oldest queued buffer with one 16-bit or 8-bit value
  // in every sample (or, alternating, with value and -value) and signals the
  // event (unless told not to). Returns the filled header, or null when
  // nothing is queued.
  WAVEHDR* fill(int32_t value, bool signal = true, bool alternating = false) {
    std::lock_guard<std::mutex> g(m_);
    if (dead_ || queue_.empty()) return nullptr;
    WAVEHDR* h = queue_.front();
    queue_.pop_front();
    auto* p = reinterpret_cast<uint8_t*>(h->lpData);
    const bool eightBit = openedFormat_.wBitsPerSample == 8;
    const DWORD samples = eightBit ? h->dwBufferLength : h->dwBufferLength / 2;
    for (DWORD i = 0; i < samples; ++i) {
      if (alternating) value = -value;
      if (eightBit) {
        p[i] = static_cast<uint8_t>(value / 64 + 128);
      } else {
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(value));
        p[2 * i] = static_cast<uint8_t>(u & 0xFF);
        p[2 * i + 1] = static_cast<uint8_t>(u >> 8);
      }
    }
    markDone(h, h->dwBufferLength);
    filled_.push_back(h);
    if (signal) SetEvent(event_);
    return h;
  }

  // The sound server goes away: the open device fills nothing more, hands
  // nothing back on reset, and can only be closed.
  void die() {
    std::lock_guard<std::mutex> g(m_);
    dead_ = true;
  }

  size_t queued() {
    std::lock_guard<std::mutex> g(m_);
    return queue_.size();
  }
  int opens() { return get(opens_); }
  int queries() { return get(queries_); }
  int closes() { return get(closes_); }
  int resets() { return get(resets_); }
  int starts() { return get(starts_); }
  int unprepares() { return get(unprepares_); }
  int violations() { return get(violations_); }
  UINT errorTextSize() {
    std::lock_guard<std::mutex> g(m_);
    return errorTextSize_;
  }
  bool isOpen() {
    std::lock_guard<std::mutex> g(m_);
    return open_;
  }
  WAVEFORMATEX openedFormat() {
    std::lock_guard<std::mutex> g(m_);
    return openedFormat_;
  }
  WAVEFORMATEX queriedFormat() {
    std::lock_guard<std::mutex> g(m_);
    return queriedFormat_;
  }
  // Device numbers of the last open and the last format query.
  UINT openedInput() {
    std::lock_guard<std::mutex> g(m_);
    return openedInput_;
  }
  UINT queriedInput() {
    std::lock_guard<std::mutex> g(m_);
    return queriedInput_;
  }
  DWORD lastOpenFlags() {
    std::lock_guard<std::mutex> g(m_);
    return openFlags_;
  }
  std::vector<WAVEHDR*> filled() {
    std::lock_guard<std::mutex> g(m_);
    return filled_;
  }

 private:
  int get(const int& v) {
    std::lock_guard<std::mutex> g(m_);
    return v;
  }
  bool isQueued(const WAVEHDR* h) const {
    return std::find(queue_.begin(), queue_.end(), h) != queue_.end();
  }
  void checkDevice(HWAVEIN device) {
    if (!open_ || device != device_) ++violations_;  // a call on a device that is not open
  }
  static void markDone(WAVEHDR* h, DWORD bytes) {
    h->dwBytesRecorded = bytes;
    h->dwFlags &= ~static_cast<DWORD>(WHDR_INQUEUE);
    h->dwFlags |= WHDR_DONE;
  }

  std::mutex m_;
  std::deque<WAVEHDR*> queue_;
  std::vector<WAVEHDR*> filled_;
  HANDLE event_ = nullptr;
  HWAVEIN device_ = nullptr;
  bool open_ = false;
  bool dead_ = false;
  WAVEFORMATEX openedFormat_{};
  WAVEFORMATEX queriedFormat_{};
  DWORD openFlags_ = 0;
  std::vector<std::string> inputs_{"Line In (Fake Audio)"};
  UINT defaultInput_ = 0;
  UINT openedInput_ = 0;
  UINT queriedInput_ = 0;
  UINT errorTextSize_ = 0;
  int queries_ = 0, opens_ = 0, prepares_ = 0, adds_ = 0, unprepares_ = 0;
  int starts_ = 0, resets_ = 0, closes_ = 0, violations_ = 0;
};

// prefix followed by code in decimal.
inline std::string textWithCode(const char* prefix, unsigned code) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%u", prefix, code);
  return text;
}

// Keeps the boxes instead of showing them.
class CapturedBoxes final : public RecorderWarningBox {
 public:
  struct Box {
    std::string text;
    std::string caption;
  };
  void show(const char* text, const char* caption) override {
    std::lock_guard<std::mutex> g(m_);
    boxes_.push_back({text, caption});
  }
  std::vector<Box> boxes() {
    std::lock_guard<std::mutex> g(m_);
    return boxes_;
  }

 private:
  std::mutex m_;
  std::vector<Box> boxes_;
};

}  // namespace kantiq::testing
