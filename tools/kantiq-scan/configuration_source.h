#pragma once

#include <string>
#include <string_view>

#include "detector/tone_detector.h"

namespace kantiq::scan {

// Fills the detector from a configuration: the scrambled file the program
// reads, or its decoded text. False with a message when the file cannot be
// read or its format is not one the program runs with.
bool loadScrambledConfiguration(const std::string& path, ToneDetector& detector, std::string& error);
bool loadConfigurationText(const std::string& path, ToneDetector& detector, std::string& error);

// The decoded text's grammar: '#'-terminated fields, the format number 100,
// ten detector parameters, then alarm entries (text, step count, three
// numbers per step).
bool parseConfigurationText(std::string_view text, ToneDetector& detector, std::string& error);

}  // namespace kantiq::scan
