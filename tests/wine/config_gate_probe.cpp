// Constructs the tone detector the way Kantiq does at start (the
// single-instance guard, then the configuration next to the exe) and reports
// what it loaded. With the argument "hold" it then keeps the guard until its
// box "Kantiq-Probe" is closed, so a second instance can be tried meanwhile.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "config/startup_win.h"
#include "detector/tone_detector.h"

int main(int argc, char** argv) {
  auto detector = std::make_unique<kantiq::ToneDetector>();
  bool countersReset = false;
  kantiq::constructToneDetector(*detector, nullptr, [&] { countersReset = true; });
  std::printf("loaded %d alarms, requiredHits %d, restartInterval %d, counters %s\n",
              static_cast<int>(detector->alarmCount), static_cast<int>(detector->requiredHits),
              static_cast<int>(detector->restartInterval), countersReset ? "reset" : "untouched");
  if (detector->alarmCount > 0) std::printf("first alarm: %s\n", detector->alarms[0].text.c_str());
  std::fflush(stdout);
  if (argc > 1 && std::strcmp(argv[1], "hold") == 0) {
    MessageBoxA(nullptr, "geladen", "Kantiq-Probe", MB_OK);
  }
  return 0;
}
