#pragma once

#include <string>
#include <string_view>

#include "detector/tone_detector.h"

namespace kantiq::scan {

// Fills the detector from a configuration: the scrambled file the program
// reads ("SMSConfig1.dat"), or its decoded text. False, with the program's
// own refusal as the message (UTF-8), when the file cannot be read or the
// program would refuse to run with it.
bool loadScrambledConfiguration(const std::string& path, ToneDetector& detector, std::string& error);
bool loadConfigurationText(const std::string& path, ToneDetector& detector, std::string& error);
bool parseConfigurationText(std::string_view text, ToneDetector& detector, std::string& error);

}  // namespace kantiq::scan
