// What the setup window does after writing a new installation, on its own
// for the watchdog's test: "kantiq_restart_probe MS" asks the running Kantiq
// to start afresh and waits up to MS milliseconds. Prints the process ids of
// the Kantiq before and after and the message for the user; exit 0 when it
// was restarted, 1 when not, 2 when no Kantiq ran.

#include <cstdio>
#include <cstdlib>

#include "kantiq_restart_win.h"
#include "win32/life_signs_win.h"

namespace {

unsigned long kantiqProcess() {
  const auto reading = kantiq::readLifeSigns();
  return reading ? reading->processId : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned timeoutMs = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 20000;
  if (!kantiq::setup::kantiqRunning()) {
    std::printf("not running\n");
    return 2;
  }
  std::printf("before %lu\n", kantiqProcess());
  const kantiq::setup::RestartResult result = kantiq::setup::restartKantiq(timeoutMs);
  std::printf("after %lu\nrunning %d\nmessage %s\n", kantiqProcess(), kantiq::setup::kantiqRunning() ? 1 : 0,
              result.message.c_str());
  return result.restarted ? 0 : 1;
}
