#include "ui/running_instance_win.h"

#include <windows.h>

#include <cstring>

#include "resources/resource_ids.h"

namespace kantiq {

namespace {

struct Search {
  DWORD ownProcess;
  HWND found = nullptr;
};

// The main window is a visible dialog without owner, with the program's
// caption, in another process (this one's own dialog is still hidden while
// its start is refused). The about box has the same caption but an owner.
BOOL CALLBACK visit(HWND window, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == s->ownProcess || !::IsWindowVisible(window) ||
      ::GetWindow(window, GW_OWNER) != nullptr) {
    return TRUE;
  }
  char text[64] = {};
  if (::GetClassNameA(window, text, sizeof text) == 0 || std::strcmp(text, "#32770") != 0) return TRUE;
  if (::GetWindowTextA(window, text, sizeof text) == 0 || std::strcmp(text, KANTIQ_WINDOW_CAPTION) != 0) {
    return TRUE;
  }
  s->found = window;
  return FALSE;
}

struct OwnedSearch {
  HWND owner;
  HWND found = nullptr;
};

// The topmost visible window the main window owns (windows are enumerated
// from the top down).
BOOL CALLBACK visitOwned(HWND window, LPARAM p) {
  auto* s = reinterpret_cast<OwnedSearch*>(p);
  if (::GetWindow(window, GW_OWNER) != s->owner || !::IsWindowVisible(window)) return TRUE;
  s->found = window;
  return FALSE;
}

}  // namespace

bool showRunningInstance() {
  Search search{::GetCurrentProcessId()};
  ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return false;
  if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
  // A dialog the window has open (the about box, the test message's number)
  // is what it waits for: that one comes to the front, above its owner.
  OwnedSearch owned{search.found};
  ::EnumWindows(visitOwned, reinterpret_cast<LPARAM>(&owned));
  // The user has just closed this process's box, so it may hand the
  // foreground on.
  ::SetForegroundWindow(owned.found != nullptr ? owned.found : search.found);
  return true;
}

}  // namespace kantiq
