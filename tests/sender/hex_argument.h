#pragma once

// The test programs take bytes a shell cannot pass safely (a sender's
// scrambled text, bytes of Windows-1252) as a hexadecimal argument.

#include <cstdio>
#include <cstring>
#include <string>

inline bool unhex(const char* hex, std::string& out) {
  const size_t n = std::strlen(hex);
  if (n % 2) return false;
  for (size_t i = 0; i < n; i += 2) {
    unsigned v = 0;
    if (std::sscanf(hex + i, "%2x", &v) != 1) return false;
    out += static_cast<char>(v);
  }
  return true;
}
