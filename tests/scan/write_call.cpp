// Writes a five-tone call between a second of silence on each side:
//   write_call FILE CODE RATE BITS [TONE_SET [TONE_MS]]
// The tone set defaults to ZVEI1, the tone length to 70 ms.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "signal_kit/signal_kit.h"

int main(int argc, char** argv) {
  namespace sk = kantiq::signal;
  if (argc < 5 || argc > 7) return 2;
  const int rate = std::atoi(argv[3]);
  const double toneSeconds = argc > 6 ? std::atof(argv[6]) / 1000.0 : 0.070;
  try {
    const sk::ToneSet& set = argc > 5 ? sk::toneSet(argv[5]) : sk::zvei1();
    const sk::Samples s = sk::concat({sk::silence(1.0, rate), sk::fiveToneCall(argv[2], set, toneSeconds, 0.5, rate),
                                      sk::silence(1.0, rate)});
    return sk::writeWav(argv[1], s, rate, std::atoi(argv[4])) ? 0 : 1;
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "write_call: %s\n", e.what());
    return 2;
  }
}
