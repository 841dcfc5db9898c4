// What drawing a frame costs under the real window system: a window with the
// program's two drawing controls (black static controls of the main window's
// sizes), its message loop on the main thread, and a worker that runs frames
// of noise through the transform, the detector drawing the spectrogram and
// the waveform view through the program's frame consumer. The worker runs
// the same frames once for each way of drawing and prints, per frame, the
// CPU time of the whole process (user + kernel, so the window system's
// share inside the process counts) and what 30 frames a second of it cost.
//
//   draw_cost.exe [FRAMES] [paced]
//
//   FRAMES  frames per way of drawing (default 3000, 100 s of audio)
//   paced   waits for messages 33 ms before each frame, as the sound
//           driver's thread does once per buffer in the program: under Wine
//           such a wait copies whatever was drawn to the X server. Without
//           it the frames follow each other as fast as they can and only
//           the drawing itself is measured.

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "capture/capture_buffer_loader.h"
#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"
#include "ui/deferred_spectrogram_canvas.h"
#include "ui/detector_frame_consumer.h"
#include "ui/gdi_canvas_win.h"
#include "ui/waveform_view.h"
#include "win32/owners_win.h"

namespace {

constexpr int32_t kSampleRate = 44100;
constexpr int32_t kSamplesPerBuffer = 1472;
constexpr int32_t kPoints = 2048;
constexpr double kFramesPerSecond = static_cast<double>(kSampleRate) / kSamplesPerBuffer;
constexpr UINT kMsgDone = WM_APP + 1;

int64_t processCpu100ns() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto v = [](FILETIME t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return v(kernel) + v(user);
}

struct Run {
  HWND top = nullptr;
  HWND waveform = nullptr;
  HWND spectrogram = nullptr;
  int32_t frames = 0;
  bool paced = false;
  int status = 0;
};

struct Way {
  const char* name;
  bool spectrogram;
  bool waveform;
  int32_t framesPerPicture;
};

DWORD WINAPI worker(LPVOID parameter) {
  Run& run = *static_cast<Run*>(parameter);
  std::mt19937 random(20261209);
  std::normal_distribution<double> sample(128.0, 2.2);
  std::vector<std::vector<uint8_t>> buffers(128, std::vector<uint8_t>(kSamplesPerBuffer));
  for (auto& b : buffers) {
    for (auto& s : b) s = static_cast<uint8_t>(std::clamp(std::lround(sample(random)), 0L, 255L));
  }
  const Way ways[] = {
      {"nothing drawn", false, false, 1},
      {"spectrogram only", true, false, 1},
      {"waveform only", false, true, 1},
      {"both, every frame", true, true, 1},
      {"both, every 2nd frame", true, true, 2},
      {"both, every 3rd frame", true, true, 3},
  };
  std::printf("draw cost: %d frames of noise per way, %.1f frames a second in the program\n", run.frames,
              kFramesPerSecond);
  double nothingUs = 0;
  for (const Way& way : ways) {
    auto detector = std::make_unique<kantiq::ToneDetector>();
    detector->magnitudeThreshold = 8;
    detector->minimumFrequency = 1000;
    kantiq::SpectrumTransform transform(kPoints, kSampleRate);
    kantiq::GdiSpectrogramCanvas spectrumCanvas{kantiq::DrawingTarget(run.spectrogram)};
    kantiq::GdiWaveformCanvas waveCanvas{kantiq::DrawingTarget(run.waveform)};
    kantiq::WaveformView view(waveCanvas);
    kantiq::DeferredSpectrogramCanvas strokes(spectrumCanvas);
    if (way.spectrogram) detector->spectrogramWindow = &strokes;
    kantiq::DetectorFrameConsumer frame(*detector, way.waveform ? &view : nullptr,
                                        way.spectrogram ? &strokes : nullptr, way.framesPerPicture);

    const int64_t before = processCpu100ns();
    for (int32_t f = 0; f < run.frames; ++f) {
      if (run.paced) MsgWaitForMultipleObjects(0, nullptr, FALSE, 33, QS_ALLINPUT);
      const auto& b = buffers[static_cast<size_t>(f) % buffers.size()];
      kantiq::loadCaptureBuffer(transform, 8, b.data(), kSamplesPerBuffer);
      transform.transform();
      frame.onFrame(transform);
    }
    GdiFlush();
    const double us = static_cast<double>(processCpu100ns() - before) / 10.0 / run.frames;
    if (!way.spectrogram && !way.waveform) nothingUs = us;
    std::printf("%-24s %7.1f us a frame (%.3f %% of one core at 30 frames a second)", way.name, us,
                us * kFramesPerSecond / 1e4);
    if (way.spectrogram || way.waveform) {
      std::printf(", drawing %.1f us (%.3f %%)", us - nothingUs, (us - nothingUs) * kFramesPerSecond / 1e4);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  PostMessageA(run.top, kMsgDone, 0, 0);
  return 0;
}

LRESULT CALLBACK topProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kMsgDone) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace

int main(int argc, char** argv) {
  Run run;
  run.frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3000;
  run.paced = argc > 2 && std::string_view(argv[2]) == "paced";
  WNDCLASSA topClass{};
  topClass.lpfnWndProc = topProcedure;
  topClass.hInstance = GetModuleHandleA(nullptr);
  topClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  topClass.lpszClassName = "KantiqDrawCost";
  if (RegisterClassA(&topClass) == 0) return 2;
  // The main window's layout: the waveform above the spectrogram.
  run.top = CreateWindowExA(0, topClass.lpszClassName, "draw cost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                            640, 520, nullptr, nullptr, topClass.hInstance, nullptr);
  if (run.top == nullptr) return 2;
  const DWORD child = WS_CHILD | WS_VISIBLE | SS_BLACKRECT;
  run.waveform = CreateWindowExA(0, "Static", "", child, 40, 140, 261, 104, run.top, nullptr, nullptr, nullptr);
  run.spectrogram =
      CreateWindowExA(0, "Static", "", child, 40, 262, 261, 200, run.top, nullptr, nullptr, nullptr);
  if (run.waveform == nullptr || run.spectrogram == nullptr) return 2;
  UpdateWindow(run.top);

  const kantiq::UniqueHandle thread(CreateThread(nullptr, 0, worker, &run, 0, nullptr));
  if (!thread) return 2;
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  WaitForSingleObject(thread.get(), INFINITE);
  DestroyWindow(run.top);
  return run.status;
}
