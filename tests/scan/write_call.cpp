// Writes a five-tone call between a second of silence on each side:
//   write_call FILE CODE RATE BITS
#include <cstdio>
#include <cstdlib>

#include "signal_kit/signal_kit.h"

int main(int argc, char** argv) {
  namespace sk = kantiq::signal;
  if (argc != 5) return 2;
  const int rate = std::atoi(argv[3]);
  const sk::Samples s = sk::concat({sk::silence(1.0, rate), sk::fiveToneCall(argv[2], sk::zvei1(), 0.07, 0.5, rate),
                                    sk::silence(1.0, rate)});
  return sk::writeWav(argv[1], s, rate, std::atoi(argv[4])) ? 0 : 1;
}
