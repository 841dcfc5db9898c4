#include "capture/wave_in_win.h"

namespace kantiq {
namespace {

class SystemWaveIn final : public WaveInApi {
 public:
  MMRESULT open(HWAVEIN* device, const WAVEFORMATEX& format, HANDLE event, DWORD flags) override {
    return waveInOpen(device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, flags);
  }
  MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* header) override {
    return waveInPrepareHeader(device, header, sizeof(WAVEHDR));
  }
  MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* header) override {
    return waveInUnprepareHeader(device, header, sizeof(WAVEHDR));
  }
  MMRESULT addBuffer(HWAVEIN device, WAVEHDR* header) override {
    return waveInAddBuffer(device, header, sizeof(WAVEHDR));
  }
  MMRESULT start(HWAVEIN device) override { return waveInStart(device); }
  MMRESULT reset(HWAVEIN device) override { return waveInReset(device); }
  MMRESULT close(HWAVEIN device) override { return waveInClose(device); }
  MMRESULT errorText(MMRESULT code, char* text, UINT size) override {
    return waveInGetErrorTextA(code, text, size);
  }
  UINT deviceCount() override { return waveInGetNumDevs(); }
};

class SystemWarningBox final : public RecorderWarningBox {
 public:
  void show(const char* text, const char* caption) override {
    MessageBoxA(nullptr, text, caption, MB_ICONWARNING | MB_OK);
  }
};

}  // namespace

WaveInApi& systemWaveIn() {
  static SystemWaveIn api;
  return api;
}

RecorderWarningBox& systemWarningBox() {
  static SystemWarningBox box;
  return box;
}

}  // namespace kantiq
