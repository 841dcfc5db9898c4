#pragma once

// Asking a running Kantiq to start afresh (the setup program, after writing
// a new installation): a registered window message posted to Kantiq's main
// window, whose handle is in the signs of life. Kantiq hands over to a new
// instance as it does for an input that came late; under its watchdog it
// ends with kExitStartAgain and the watchdog starts it at once.

#include <windows.h>

namespace kantiq {

inline constexpr char kRestartRequestName[] = "BrevaloKantiqNeuStart";

// The message's number in this session; the same in every program that asks.
inline UINT restartRequestMessage() {
  static const UINT message = ::RegisterWindowMessageA(kRestartRequestName);
  return message;
}

}  // namespace kantiq
