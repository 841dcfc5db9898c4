#include "capture/wave_in_win.h"

#include <mmddk.h>

namespace kantiq {
namespace {

class SystemWaveIn final : public WaveInApi {
 public:
  MMRESULT open(UINT deviceId, HWAVEIN* device, const WAVEFORMATEX& format, HANDLE event,
                DWORD flags) override {
    return waveInOpen(device, deviceId, &format, reinterpret_cast<DWORD_PTR>(event), 0, flags);
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
  bool deviceName(UINT deviceId, std::string& name) override {
    WAVEINCAPSA caps{};
    if (waveInGetDevCapsA(deviceId, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    name = caps.szPname;
    return true;
  }
  bool defaultDevice(UINT& deviceId) override {
    // The mapper's preferred input; where the driver cannot say, the first.
    DWORD preferred = 0;
    DWORD flags = 0;
    if (waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)), DRVM_MAPPER_PREFERRED_GET,
                      reinterpret_cast<DWORD_PTR>(&preferred), reinterpret_cast<DWORD_PTR>(&flags)) ==
            MMSYSERR_NOERROR &&
        preferred < waveInGetNumDevs()) {
      deviceId = preferred;
      return true;
    }
    if (waveInGetNumDevs() == 0) return false;
    deviceId = 0;
    return true;
  }
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
