#pragma once

#include "ui/alarm_monitor_win.h"

namespace kantiq {

// The parts behind the real window: waveform view and spectrogram on their
// controls, the detector with its start-up checks, alarm raising with the
// dispatch jobs, the watchdogs and the analysis thread on the sound card.
std::unique_ptr<MonitorEngine> makeProgramEngine(HWND dialog, MonitorInterface& monitor,
                                                 CaptureObserver& observer, int32_t samplesPerBuffer,
                                                 int32_t sampleRate, int32_t points);

}  // namespace kantiq
