#pragma once

// What this PC offers for the fields that name a device: its serial ports
// and its recording inputs, as suggestions (a device that is not plugged in
// can still be typed).

#include <string>
#include <vector>

namespace kantiq::setup {

// "COM1", "COM3", ... from HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, sorted.
std::vector<std::wstring> serialPorts();

// The recording inputs' names as Windows gives them to programs.
std::vector<std::wstring> recordingInputs();

}  // namespace kantiq::setup
