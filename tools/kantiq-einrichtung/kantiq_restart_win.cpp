#include "kantiq_restart_win.h"

#include <windows.h>

#include <optional>

#include "win32/life_signs_win.h"
#include "win32/owners_win.h"
#include "win32/restart_request_win.h"

namespace kantiq::setup {

namespace {

constexpr DWORD kPollMs = 100;

// The Kantiq the signs of life name, when its window is there and it has
// not announced its end.
std::optional<LifeSignsReading> runningKantiq() {
  std::optional<LifeSignsReading> reading = readLifeSigns();
  if (!reading || reading->announcedExit || reading->window == nullptr || !::IsWindow(reading->window)) {
    return std::nullopt;
  }
  return reading;
}

}  // namespace

bool kantiqRunning() { return runningKantiq().has_value(); }

RestartResult restartKantiq(unsigned timeoutMs) {
  const std::optional<LifeSignsReading> old = runningKantiq();
  if (!old) {
    return {false, "Kantiq läuft nicht. Bitte starten Sie Kantiq; es liest die neue Einrichtung beim Start."};
  }
  // Held to see the old process end, whatever the signs of life say by then.
  const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, old->processId));
  const UINT message = restartRequestMessage();
  if (message == 0 || !::PostMessageA(old->window, message, 0, 0)) {
    return {false, "Kantiq konnte nicht gebeten werden, neu zu starten. Bitte beenden Sie Kantiq und starten Sie "
                   "es neu; es liest die neue Einrichtung beim Start."};
  }
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  bool oldEnded = false;
  for (;;) {
    if (!oldEnded) {
      oldEnded = process ? ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 : !::IsWindow(old->window);
    }
    const std::optional<LifeSignsReading> now = runningKantiq();
    if (now && now->processId != old->processId) {
      return {true, "Kantiq wurde neu gestartet und arbeitet jetzt mit der neuen Einrichtung."};
    }
    if (::GetTickCount64() >= deadline) break;
    ::Sleep(kPollMs);
  }
  if (!oldEnded) {
    return {false, "Kantiq hat sich nicht beendet und arbeitet noch mit der alten Einrichtung. Bitte beenden Sie "
                   "Kantiq und starten Sie es neu."};
  }
  return {false, "Kantiq hat sich beendet, aber es ist kein neues Kantiq gestartet. Bitte starten Sie Kantiq."};
}

}  // namespace kantiq::setup
