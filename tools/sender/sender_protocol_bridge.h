#pragma once

#include <string_view>

#include "delivery.h"

namespace kantiq::sender {

// Reads what the program asks for from S.exe's own command line (byte for
// byte as GetCommandLineA gives it): an alarm with its unscrambled text, or a
// test message with the number as typed. False if the line holds neither.
bool requestFromCommandLine(std::string_view commandLine, std::string_view programPath, SendRequest& out);

}  // namespace kantiq::sender
