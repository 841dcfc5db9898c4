#pragma once

// Whether Kantiq runs, and asking it to start afresh so that it reads a new
// installation (it does so only at start).

#include <string>

namespace kantiq::setup {

// A Kantiq has published its window in the signs of life, and it is there.
bool kantiqRunning();

struct RestartResult {
  bool restarted = false;
  std::string message;  // German (UTF-8), for the user: what happened
};

// Asks the running Kantiq to start again (restartRequestMessage) and waits
// up to timeoutMs until a Kantiq with another process id has published its
// window.
RestartResult restartKantiq(unsigned timeoutMs);

}  // namespace kantiq::setup
