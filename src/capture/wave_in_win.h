#pragma once

// The sound driver's wave-input calls and the user's warning boxes, each
// behind a small interface: the program uses the system's, tests put in
// their own to make a call fail, count buffers or capture a box.

#include <windows.h>
#include <mmsystem.h>

#include <string>

namespace kantiq {

class WaveInApi {
 public:
  virtual ~WaveInApi() = default;
  // waveInOpen on input deviceId. With WAVE_FORMAT_QUERY in flags, device
  // may be null and nothing is opened.
  virtual MMRESULT open(UINT deviceId, HWAVEIN* device, const WAVEFORMATEX& format, HANDLE event,
                        DWORD flags) = 0;
  virtual MMRESULT prepareHeader(HWAVEIN device, WAVEHDR* header) = 0;
  virtual MMRESULT unprepareHeader(HWAVEIN device, WAVEHDR* header) = 0;
  virtual MMRESULT addBuffer(HWAVEIN device, WAVEHDR* header) = 0;
  virtual MMRESULT start(HWAVEIN device) = 0;
  virtual MMRESULT reset(HWAVEIN device) = 0;
  virtual MMRESULT close(HWAVEIN device) = 0;
  virtual MMRESULT errorText(MMRESULT code, char* text, UINT size) = 0;
  virtual UINT deviceCount() = 0;
  // The name input deviceId gives itself (Windows-1252); false when the
  // device cannot be asked.
  virtual bool deviceName(UINT deviceId, std::string& name) = 0;
  // The system's default input; false when there is none.
  virtual bool defaultDevice(UINT& deviceId) = 0;
};

// The real driver (winmm).
WaveInApi& systemWaveIn();

// A warning box with an OK button and no owner window.
class RecorderWarningBox {
 public:
  virtual ~RecorderWarningBox() = default;
  virtual void show(const char* text, const char* caption) = 0;
};

// MessageBoxA with MB_ICONWARNING | MB_OK.
RecorderWarningBox& systemWarningBox();

}  // namespace kantiq
