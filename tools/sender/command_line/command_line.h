#pragma once

#include <string_view>

#include "sender/delivery/send_run.h"

namespace kantiq::sender {

// Reads what the program asks for from S.exe's own command line (byte for
// byte as GetCommandLineA gives it): an alarm or a notice with its
// unscrambled text, or a test message with the number as typed. False if the
// line holds none of them.
bool requestFromCommandLine(std::string_view commandLine, std::string_view programPath, SendRequest& out);

// Whether S.exe was started to check its set-up: "S.exe --pruefen", with the
// program quoted or not, as a shortcut or a command prompt starts it. The
// program itself never starts S.exe so: an alarm's scrambled text would have
// to be exactly "--pruefen".
bool isCheckRequest(std::string_view commandLine, std::string_view programPath);

// Whether S.exe was started to send only what waits in its outbox:
// "S.exe --nachsenden" (or "/nachsenden", any case), read like the check.
bool isResendRequest(std::string_view commandLine, std::string_view programPath);

}  // namespace kantiq::sender
