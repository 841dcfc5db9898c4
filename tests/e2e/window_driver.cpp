// A small console driver for the end-to-end tests: finds top-level dialog
// windows by caption, reads and sets control texts, presses buttons and
// answers message boxes. Texts are read and written as Windows-1252 and
// printed as UTF-8.
//
//   window_driver wait CAPTION [ms]        exit 0 once a visible window has the caption
//   window_driver gone CAPTION [ms]        exit 0 once no window has it
//   window_driver text CAPTION ID          print a control's text (ID -1: the window's)
//   window_driver statictext CAPTION       print the text of the window's first static control
//   window_driver settext CAPTION ID TEXT  set an edit control's text
//   window_driver click CAPTION ID         press a button (posted)
//   window_driver command CAPTION ID       post WM_COMMAND with the id
//   window_driver close CAPTION            post WM_CLOSE
//   window_driver box CAPTION [ms]         print a message box's text, press OK
//   window_driver visible CAPTION ID       exit 0 when the control is visible
//   window_driver enabled CAPTION ID       exit 0 when the control is enabled
//   window_driver image CAPTION ID         print the bitmap handle a button shows
//   window_driver key CAPTION ID VK        post a key press (virtual-key code) to a control
//   window_driver rect CAPTION ID          print a control's screen rectangle "x y w h"
//   window_driver pixel CAPTION ID         print "r g b" of a point right of a control's middle

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/cp1252.h"

namespace {

using kantiq::tool::cp1252ToUtf8;

std::string fromUtf8(const char* utf8) { return kantiq::tool::utf8ToCp1252(utf8).text; }

// A selector is a caption, optionally followed by "|ID=TEXT": the window
// must then also have a control ID showing TEXT (two windows may share a
// caption).
struct Search {
  std::string caption;
  int controlId = 0;
  std::string controlText;
  HWND found = nullptr;
};

std::string quickText(HWND w) {
  char text[512] = {};
  ::GetWindowTextA(w, text, sizeof text);
  return text;
}

BOOL CALLBACK visit(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  if (s->caption != quickText(w) || !::IsWindowVisible(w)) return TRUE;
  if (s->controlId != 0) {
    HWND c = ::GetDlgItem(w, s->controlId);
    if (c == nullptr || quickText(c) != s->controlText) return TRUE;
  }
  s->found = w;
  return FALSE;
}

HWND find(const std::string& selector) {
  Search s;
  const size_t bar = selector.find('|');
  s.caption = selector.substr(0, bar);
  if (bar != std::string::npos) {
    const size_t eq = selector.find('=', bar);
    s.controlId = std::atoi(selector.substr(bar + 1, eq - bar - 1).c_str());
    if (eq != std::string::npos) s.controlText = selector.substr(eq + 1);
  }
  ::EnumWindows(visit, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND waitFor(const std::string& caption, int ms) {
  for (int waited = 0;; waited += 50) {
    if (HWND w = find(caption)) return w;
    if (waited >= ms) return nullptr;
    ::Sleep(50);
  }
}

std::string textOf(HWND w) {
  char text[8192] = {};
  DWORD_PTR n = 0;
  ::SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &n);
  return text;
}

int fail(const char* what, const std::string& caption) {
  std::fprintf(stderr, "window_driver: %s: %s\n", what, cp1252ToUtf8(caption).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 3) return 2;
  const std::string cmd = argv[1];
  const std::string caption = fromUtf8(argv[2]);
  const int defaultMs = 10000;
  if (cmd == "wait") return waitFor(caption, argc > 3 ? std::atoi(argv[3]) : defaultMs) ? 0 : fail("no window", caption);
  if (cmd == "gone") {
    const int ms = argc > 3 ? std::atoi(argv[3]) : defaultMs;
    for (int waited = 0; waited < ms; waited += 50) {
      if (!find(caption)) return 0;
      ::Sleep(50);
    }
    return fail("still there", caption);
  }
  if (cmd == "box") {
    HWND box = waitFor(caption, argc > 3 ? std::atoi(argv[3]) : defaultMs);
    if (!box) return fail("no box", caption);
    std::printf("%s\n", cp1252ToUtf8(textOf(::GetDlgItem(box, 0xFFFF))).c_str());
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  HWND w = waitFor(caption, defaultMs);
  if (!w) return fail("no window", caption);
  if (cmd == "close") {
    ::PostMessageA(w, WM_CLOSE, 0, 0);
    return 0;
  }
  if (cmd == "statictext") {
    // Dialog templates give their labels no id of their own.
    HWND label = ::FindWindowExA(w, nullptr, "Static", nullptr);
    if (!label) return fail("no static control", caption);
    std::printf("%s\n", cp1252ToUtf8(textOf(label)).c_str());
    return 0;
  }
  if (argc < 4) return 2;
  const int id = std::atoi(argv[3]);
  HWND control = id == -1 ? w : ::GetDlgItem(w, id);
  if (!control) return fail("no such control", caption);
  if (cmd == "text") {
    std::printf("%s\n", cp1252ToUtf8(textOf(control)).c_str());
    return 0;
  }
  if (cmd == "settext" && argc > 4) {
    const std::string text = fromUtf8(argv[4]);
    ::SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
    return 0;
  }
  if (cmd == "click") {
    ::PostMessageA(control, BM_CLICK, 0, 0);
    return 0;
  }
  if (cmd == "command") {
    ::PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return 0;
  }
  if (cmd == "pixel") {
    // A point in the right part of the control, middle height.
    RECT r{};
    ::GetClientRect(control, &r);
    HDC dc = ::GetDC(control);
    const COLORREF c = ::GetPixel(dc, r.right * 4 / 5, r.bottom / 2);
    ::ReleaseDC(control, dc);
    std::printf("%d %d %d\n", GetRValue(c), GetGValue(c), GetBValue(c));
    return 0;
  }
  if (cmd == "key" && argc > 4) {
    // A key press as the keyboard delivers it, through the dialog's loop.
    const WPARAM vk = static_cast<WPARAM>(std::atoi(argv[4]));
    ::PostMessageA(control, WM_KEYDOWN, vk, 1);
    ::PostMessageA(control, WM_KEYUP, vk, 0xC0000001);
    return 0;
  }
  if (cmd == "rect") {
    RECT r{};
    ::GetWindowRect(control, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == "visible") return ::IsWindowVisible(control) ? 0 : 1;
  if (cmd == "enabled") return ::IsWindowEnabled(control) ? 0 : 1;
  if (cmd == "image") {
    DWORD_PTR image = 0;
    ::SendMessageTimeoutA(control, BM_GETIMAGE, IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, 5000, &image);
    std::printf("%llx\n", static_cast<unsigned long long>(image));
    return 0;
  }
  return 2;
}
