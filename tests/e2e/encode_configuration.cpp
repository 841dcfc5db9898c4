// Writes a configuration text in the stored form of "SMSConfig1.dat":
//   encode_configuration TEXT FILE
// for start-ups with configurations the configuration tool would not write.

#include <cstdio>
#include <string>

#include "config/configuration_text.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto bytes = kantiq::encodeConfiguration(argv[1]);
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) return 1;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}
