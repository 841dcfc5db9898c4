#include "capture/recorder_win.h"

#include <array>

#include "capture/win_exception.h"

namespace kantiq {
namespace {

constexpr UINT kErrorTextChars = 164;
constexpr char kCaption[] = "Recorder";
constexpr char kNoFormatText[] = "Fehler: Ihre Soundkarte unterstützt kein WAV-Format";
constexpr char kInUseText[] =
    "Fehler: Ihre Soundkarte wird zur Zeit von einer anderen Anwendung verwendet.\n"
    "Beenden Sie diese Anwendung und starten Sie Brevalo Kantiq erneut.";

bool isMissingDevice(MMRESULT code) { return code == MMSYSERR_BADDEVICEID || code == MMSYSERR_NODRIVER; }

}  // namespace

Recorder::Recorder(int32_t samplesPerBuffer, int32_t sampleRateHz, int32_t bitsPerSample,
                   WaveInApi& api, RecorderWarningBox& box)
    : api_(api), box_(box), format_{samplesPerBuffer, sampleRateHz, 1, bitsPerSample} {
  if (!format_.isValid()) throw WinException{MMSYSERR_INVALPARAM, "Recorder"};
  ring_ = std::make_unique<Ring>();
  const size_t bytes = static_cast<size_t>(format_.bytesPerBuffer()) * kCaptureBufferCount;
  ring_->memory = std::make_unique<uint8_t[]>(bytes);
}

Recorder::~Recorder() {
  stop();
  if (openStatus_ == 0) {
    // The driver would not close, so it may still write into the ring: leave
    // the ring to it rather than free memory it holds.
    static_cast<void>(ring_.release());
  }
}

uint8_t* Recorder::bufferData(int32_t b) const {
  return ring_->memory.get() + static_cast<size_t>(b) * static_cast<size_t>(format_.bytesPerBuffer());
}

void Recorder::showError(MMRESULT code) {
  if (code == MMSYSERR_ALLOCATED) {
    box_.show(kInUseText, kCaption);
    return;
  }
  std::array<char, kErrorTextChars> text{};
  if (api_.errorText(code, text.data(), kErrorTextChars) != MMSYSERR_NOERROR) text[0] = '\0';
  text.back() = '\0';
  box_.show(text.data(), kCaption);
}

MMRESULT Recorder::queueBuffer(int32_t b) {
  WAVEHDR& h = ring_->headers[static_cast<size_t>(b)];
  h = WAVEHDR{};
  h.lpData = reinterpret_cast<LPSTR>(bufferData(b));
  h.dwBufferLength = static_cast<DWORD>(format_.bytesPerBuffer());
  h.dwFlags = 0;
  h.dwLoops = 0;
  MMRESULT rc = api_.prepareHeader(device_, &h);
  if (rc != MMSYSERR_NOERROR) return rc;
  ring_->prepared[static_cast<size_t>(b)] = true;
  return api_.addBuffer(device_, &h);
}

std::vector<std::string> Recorder::inputNames() {
  std::vector<std::string> names;
  const UINT count = api_.deviceCount();
  for (UINT id = 0; id < count; ++id) {
    std::string name;
    // One that cannot be asked keeps its place, under a name no request has.
    if (!api_.deviceName(id, name)) name.clear();
    names.push_back(std::move(name));
  }
  return names;
}

std::optional<UINT> Recorder::resolveInput() {
  const std::vector<std::string> names = inputNames();
  std::optional<FoundInput> found;
  if (!wanted_.name.empty()) {
    found = findInput(names, wanted_);
  } else if (UINT id = 0; api_.defaultDevice(id)) {
    found = inputAt(names, id);
    // Kept by name from now on: the system may make another input the
    // default while this one is away.
    if (found && !found->input.name.empty()) {
      wanted_ = found->input;
      chosen_ = found->input;
    }
  }
  if (!found) return std::nullopt;
  inUse_ = found->input;
  return found->deviceId;
}

bool Recorder::start(HANDLE event) {
  // A second start must not re-queue headers the driver still holds. A
  // device that will not close may still hold and fill them: no new device
  // is opened over them, and every later start tries to close it again
  // first; the caller's retries bring capture back once it lets go.
  if (!close()) return false;

  inputMissing_ = false;
  const std::optional<UINT> deviceId = resolveInput();
  if (!deviceId) {
    inputMissing_ = true;
    return false;
  }

  WAVEFORMATEX wf{};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = static_cast<WORD>(format_.channels);
  wf.nSamplesPerSec = static_cast<DWORD>(format_.sampleRateHz);
  wf.nAvgBytesPerSec = static_cast<DWORD>(format_.averageBytesPerSecond());
  wf.nBlockAlign = static_cast<WORD>(format_.bytesPerSample());
  wf.wBitsPerSample = static_cast<WORD>(format_.bitsPerSample);
  wf.cbSize = 0;

  // An input that went away after it was listed is missing, not unfit.
  const MMRESULT query = api_.open(*deviceId, nullptr, wf, nullptr, WAVE_FORMAT_QUERY);
  if (isMissingDevice(query)) {
    inputMissing_ = true;
    return false;
  }
  if (query != MMSYSERR_NOERROR) {
    box_.show(kNoFormatText, kCaption);
    return false;
  }

  HWAVEIN device = nullptr;
  const MMRESULT opened = api_.open(*deviceId, &device, wf, event, CALLBACK_EVENT);
  openStatus_ = static_cast<int32_t>(opened);
  if (isMissingDevice(opened)) {
    inputMissing_ = true;
    return false;
  }
  if (opened != MMSYSERR_NOERROR) {
    showError(opened);
    return false;
  }
  device_ = device;

  MMRESULT rc = MMSYSERR_NOERROR;
  for (int32_t b = 0; b < kQueuedBufferCount && rc == MMSYSERR_NOERROR; ++b) rc = queueBuffer(b);
  recording_ = true;
  current_ = 0;
  if (rc == MMSYSERR_NOERROR) rc = api_.start(device_);
  if (rc != MMSYSERR_NOERROR) {
    // A ring with a gap would stall at the missing buffer: give up cleanly.
    recording_ = false;
    if (closeDevice()) openStatus_ = static_cast<int32_t>(rc);
    showError(rc);
    return false;
  }
  return true;
}

bool Recorder::closeDevice() {
  api_.reset(device_);  // the driver hands every queued buffer back
  for (int32_t b = 0; b < kCaptureBufferCount; ++b) {
    if (!ring_->prepared[static_cast<size_t>(b)]) continue;
    if (api_.unprepareHeader(device_, &ring_->headers[static_cast<size_t>(b)]) == MMSYSERR_NOERROR) {
      ring_->prepared[static_cast<size_t>(b)] = false;
    }
  }
  closeResult_ = api_.close(device_);
  if (closeResult_ != MMSYSERR_NOERROR) return false;
  device_ = nullptr;
  openStatus_ = kClosed;
  // A device that died (its sound server gone) neither hands its buffers
  // back nor lets them be unprepared, but it does close. Nothing it held
  // stays prepared then: a header still marked so would be refused by the
  // next device at its first recycle, leave a gap in the ring and stall it.
  ring_->prepared.fill(false);
  for (WAVEHDR& h : ring_->headers) h = WAVEHDR{};
  return true;
}

void Recorder::stop() {
  recording_ = false;
  if (openStatus_ == 0) closeDevice();
}

bool Recorder::close() {
  stop();
  if (openStatus_ != 0) return true;
  showError(closeResult_);
  return false;
}

bool Recorder::recycle() {
  if (openStatus_ != 0) return false;
  const int32_t a = current_;
  if (api_.unprepareHeader(device_, &ring_->headers[static_cast<size_t>(a)]) == MMSYSERR_NOERROR) {
    ring_->prepared[static_cast<size_t>(a)] = false;
  }
  const int32_t p = previousCaptureBuffer(a);
  current_ = nextCaptureBuffer(a);
  // Buffer 7 is first queued here; later, p was unprepared by the last recycle.
  // A header still prepared may still be queued: never rewrite it then.
  if (ring_->prepared[static_cast<size_t>(p)]) {
    if (api_.unprepareHeader(device_, &ring_->headers[static_cast<size_t>(p)]) != MMSYSERR_NOERROR) {
      return false;
    }
    ring_->prepared[static_cast<size_t>(p)] = false;
  }
  return queueBuffer(p) == MMSYSERR_NOERROR;
}

bool Recorder::currentBufferDone() const {
  if (!recording_) return false;
  // The driver sets the flag from its own thread.
  const volatile DWORD& flags = ring_->headers[static_cast<size_t>(current_)].dwFlags;
  return (flags & WHDR_DONE) != 0;
}

}  // namespace kantiq
