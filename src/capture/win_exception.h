#pragma once

#include <cstdint>
#include <cstdio>

namespace kantiq {

// The program's own exception, thrown by value when building a system object
// fails: the last-error or device result code, then a fixed text naming what
// failed. Shown to the user as a message box captioned "Exception".
struct WinException {
  int32_t code;
  const char* message;
};

// The text a failed reconfiguration shows for a WinException: "<message>, Error <code>".
inline void formatWinException(const WinException& e, char* out, size_t size) {
  std::snprintf(out, size, "%s, Error %d", e.message != nullptr ? e.message : "",
                static_cast<int>(e.code));
}

}  // namespace kantiq
