#pragma once

// The detector's start-up under Windows: the named mutex, the files in the
// program's folder and the message boxes.

#include <functional>
#include <string>

#include "config/startup.h"

namespace kantiq {

class SpectrogramCanvas;
class ToneDetector;

// MessageBoxA without owner, warning icon, OK only.
class Win32WarningBox final : public WarningBox {
 public:
  void show(const std::string& caption, const std::string& text) override;
};

// The named mutex and the two files next to the executable.
class Win32StartupPlatform final : public StartupPlatform {
 public:
  bool takeSingleInstanceGuard() override;
  bool readStoredConfiguration(std::vector<uint8_t>& bytes, size_t maxBytes) override;
};

// Lets go of the single-instance guard before the process ends, so that a
// new instance started by this one may take it (the guard is otherwise held
// to the end of the process).
void releaseSingleInstanceGuard();

// Constructs the detector the way the application starts: see
// prepareDetector(). Returns only when the program may run; otherwise the box
// has been shown and the process has ended with refuseStart's status. When another
// instance holds the guard, whenAlreadyRunning (if given) runs after the box
// has been closed, before the end: the program shows the running window.
void constructToneDetector(ToneDetector& detector, SpectrogramCanvas* canvas,
                           const std::function<void()>& resetHandoverCounters,
                           const std::function<void()>& whenAlreadyRunning = {});

}  // namespace kantiq
