// winctl.exe: drives the windows of other programs from test scripts under
// Wine (or Windows). Every command finds a top-level window by its exact
// caption, does one thing and exits 0 on success; on failure it prints why to
// stderr and exits 1 (2 for a bad command line). Text goes out as UTF-8,
// without a trailing line break, so `$(winctl.exe msgbox-text Fehler)` is the
// text exactly.
//
//   winctl.exe list                         every top-level window: handle, class, visible, caption
//   winctl.exe children CAPTION [MS]        the window's controls: id, class, text
//   winctl.exe wait-window CAPTION [MS]     waits until a visible window with that caption exists
//   winctl.exe wait-gone CAPTION [MS]       waits until no visible window with that caption exists
//   winctl.exe msgbox-text CAPTION [MS]     text of a message box (dialog class #32770, static 0xFFFF)
//   winctl.exe msgbox-ok CAPTION [MS]       presses the box's OK (or only) button and waits until it is gone
//   winctl.exe click CAPTION ID [MS]        posts BM_CLICK to control ID (decimal or 0x hex)
//   winctl.exe get-text CAPTION ID [MS]     text of control ID (WM_GETTEXT)
//   winctl.exe set-text CAPTION ID TEXT [MS]  sets the text of control ID (WM_SETTEXT)
//   winctl.exe send-key CAPTION VK [ID] [MS]  posts WM_KEYDOWN/WM_KEYUP of virtual key VK to the
//                                           window, or to its control ID
//   winctl.exe close CAPTION [MS]           posts WM_CLOSE
//   winctl.exe minimize CAPTION [MS]        minimises the window (ShowWindowAsync)
//   winctl.exe window-state CAPTION [MS]    "normal" or "iconic", then "foreground" or "background"
//   winctl.exe control-state CAPTION ID [MS]  "enabled" or "disabled", then "visible" or "hidden"
//   winctl.exe picture-rect CAPTION [MS]    "x y w h": screen rectangle of the client area of the
//                                           window's first picture control (static, SS_BITMAP)
//   winctl.exe window-rect CAPTION [MS]     "x y w h": screen rectangle of the window, frame included
//
// A CAPTION ending in "*" matches every caption that begins with the rest
// (a wizard's caption changes from page to page); "@HANDLE", a handle as
// `list` prints it, names that one window (two windows may share a caption).
//
// MS is how long to wait for the window to appear (default 10000 ms); the
// window is looked for every 50 ms. Arguments are read as Unicode, so German
// captions work from a UTF-8 shell. Messages are posted, not sent, where the
// target may be inside a modal loop; texts are read with a 5 s send timeout.
//
// Example (bash, inside scripts/wine-env.sh):
//   wine Kantiq.exe & pid=$!
//   text=$(wine winctl.exe msgbox-text Fehler 20000) && wine winctl.exe msgbox-ok Fehler
//   wait $pid; echo "exit $?"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr DWORD kPollMs = 50;
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;

std::string toUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

void print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

int failure(const std::wstring& why) {
  const std::string s = "winctl: " + toUtf8(why) + "\n";
  std::fwrite(s.data(), 1, s.size(), stderr);
  return 1;
}

std::wstring windowText(HWND h) {
  wchar_t buf[4096];
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, sizeof buf / sizeof buf[0],
                           reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return {};
  }
  return std::wstring(buf, static_cast<size_t>(length));
}

std::wstring captionOf(HWND h) {
  wchar_t buf[1024];
  const int n = GetWindowTextW(h, buf, 1024);
  return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

std::wstring classOf(HWND h) {
  wchar_t buf[256];
  const int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

struct Search {
  const std::wstring* caption;
  const wchar_t* className;  // nullptr: any class
  HWND found = nullptr;
};

bool captionMatches(const std::wstring& caption, const std::wstring& wanted) {
  if (!wanted.empty() && wanted.back() == L'*') {
    return caption.compare(0, wanted.size() - 1, wanted, 0, wanted.size() - 1) == 0;
  }
  return caption == wanted;
}

BOOL CALLBACK matchTopLevel(HWND h, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  if (!IsWindowVisible(h)) return TRUE;
  if (s->className != nullptr && classOf(h) != s->className) return TRUE;
  if (!captionMatches(captionOf(h), *s->caption)) return TRUE;
  s->found = h;
  return FALSE;
}

HWND findNow(const std::wstring& caption, const wchar_t* className) {
  if (caption.size() > 1 && caption[0] == L'@') {
    wchar_t* end = nullptr;
    const auto handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(caption.c_str() + 1, &end, 16)));
    if (*end != L'\0' || !IsWindow(handle) || !IsWindowVisible(handle)) return nullptr;
    if (className != nullptr && classOf(handle) != className) return nullptr;
    return handle;
  }
  Search s{&caption, className};
  EnumWindows(matchTopLevel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND waitFor(const std::wstring& caption, const wchar_t* className, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND h = findNow(caption, className)) return h;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

struct ChildSearch {
  int id;
  HWND found = nullptr;
};

BOOL CALLBACK matchChild(HWND h, LPARAM p) {
  auto* s = reinterpret_cast<ChildSearch*>(p);
  if (GetDlgCtrlID(h) == s->id) {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}

// Controls can sit inside other controls; look through all descendants.
HWND findControl(HWND top, int id) {
  ChildSearch s{id};
  EnumChildWindows(top, matchChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

BOOL CALLBACK matchPicture(HWND h, LPARAM p) {
  if (_wcsicmp(classOf(h).c_str(), L"Static") != 0 || (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) return TRUE;
  *reinterpret_cast<HWND*>(p) = h;
  return FALSE;
}

BOOL CALLBACK listTopLevel(HWND h, LPARAM) {
  char line[64];
  std::snprintf(line, sizeof line, "%08llX\t", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  print(line + toUtf8(classOf(h)) + (IsWindowVisible(h) ? "\tvisible\t" : "\thidden\t") +
        toUtf8(captionOf(h)) + "\n");
  return TRUE;
}

BOOL CALLBACK listChild(HWND h, LPARAM) {
  char line[32];
  std::snprintf(line, sizeof line, "%d\t", GetDlgCtrlID(h));
  print(line + toUtf8(classOf(h)) + "\t" + toUtf8(windowText(h)) + "\n");
  return TRUE;
}

bool parseNumber(const std::wstring& s, long& out) {
  if (s.empty()) return false;
  wchar_t* end = nullptr;
  out = std::wcstol(s.c_str(), &end, 0);
  return end != nullptr && *end == L'\0';
}

int usage() {
  std::fputs("usage: winctl.exe list | children CAPTION [MS] | wait-window CAPTION [MS] |\n"
             "       wait-gone CAPTION [MS] | msgbox-text CAPTION [MS] | msgbox-ok CAPTION [MS] |\n"
             "       click CAPTION ID [MS] | get-text CAPTION ID [MS] | set-text CAPTION ID TEXT [MS] |\n"
             "       send-key CAPTION VK [ID] [MS] | close CAPTION [MS] | minimize CAPTION [MS] |\n"
             "       window-state CAPTION [MS] | control-state CAPTION ID [MS] | picture-rect CAPTION [MS] |\n"
             "       window-rect CAPTION [MS]\n",
             stderr);
  return 2;
}

int run(const std::vector<std::wstring>& a) {
  if (a.empty()) return usage();
  const std::wstring& cmd = a[0];
  if (cmd == L"list") {
    EnumWindows(listTopLevel, 0);
    return 0;
  }
  if (a.size() < 2) return usage();
  const std::wstring& caption = a[1];
  // Optional trailing timeout after the fixed arguments of each command.
  auto timeoutAt = [&](size_t i, DWORD& t) {
    t = kDefaultTimeoutMs;
    if (a.size() <= i) return true;
    long v = 0;
    if (!parseNumber(a[i], v) || v < 0) return false;
    t = static_cast<DWORD>(v);
    return a.size() == i + 1;
  };
  DWORD timeout = kDefaultTimeoutMs;

  if (cmd == L"picture-rect") {
    if (!timeoutAt(2, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    HWND picture = nullptr;
    EnumChildWindows(h, matchPicture, reinterpret_cast<LPARAM>(&picture));
    if (picture == nullptr) return failure(L"window \"" + caption + L"\" has no picture control");
    RECT r{};
    GetClientRect(picture, &r);
    MapWindowPoints(picture, nullptr, reinterpret_cast<POINT*>(&r), 2);
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
    print(text);
    return 0;
  }
  if (cmd == L"window-rect") {
    if (!timeoutAt(2, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    RECT r{};
    GetWindowRect(h, &r);
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
    print(text);
    return 0;
  }
  if (cmd == L"wait-window" || cmd == L"children" || cmd == L"close" || cmd == L"minimize" ||
      cmd == L"window-state") {
    if (!timeoutAt(2, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    if (cmd == L"children") EnumChildWindows(h, listChild, 0);
    if (cmd == L"close") PostMessageW(h, WM_CLOSE, 0, 0);
    // As the task bar does it, even to a window that a modal box disables.
    if (cmd == L"minimize") ShowWindowAsync(h, SW_MINIMIZE);
    if (cmd == L"window-state") {
      print(std::string(IsIconic(h) ? "iconic" : "normal") +
            (GetForegroundWindow() == h ? " foreground" : " background"));
    }
    return 0;
  }
  if (cmd == L"wait-gone") {
    if (!timeoutAt(2, timeout)) return usage();
    const DWORD start = GetTickCount();
    while (findNow(caption, nullptr) != nullptr) {
      if (GetTickCount() - start >= timeout) return failure(L"window \"" + caption + L"\" still there");
      Sleep(kPollMs);
    }
    return 0;
  }
  if (cmd == L"msgbox-text" || cmd == L"msgbox-ok") {
    if (!timeoutAt(2, timeout)) return usage();
    HWND box = waitFor(caption, L"#32770", timeout);
    if (box == nullptr) return failure(L"no message box \"" + caption + L"\"");
    if (cmd == L"msgbox-text") {
      HWND text = GetDlgItem(box, kMessageBoxTextId);
      if (text == nullptr) return failure(L"message box \"" + caption + L"\" has no text control");
      print(toUtf8(windowText(text)));
      return 0;
    }
    if (HWND ok = GetDlgItem(box, IDOK)) {
      PostMessageW(ok, BM_CLICK, 0, 0);
    } else {
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    const DWORD start = GetTickCount();
    while (IsWindow(box)) {
      if (GetTickCount() - start >= timeout) return failure(L"message box \"" + caption + L"\" did not close");
      Sleep(kPollMs);
    }
    return 0;
  }
  if (a.size() < 3) return usage();
  long id = 0;
  if (!parseNumber(a[2], id)) return usage();

  if (cmd == L"click" || cmd == L"get-text" || cmd == L"control-state") {
    if (!timeoutAt(3, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    HWND control = findControl(h, static_cast<int>(id));
    if (control == nullptr) return failure(L"window \"" + caption + L"\" has no control " + a[2]);
    if (cmd == L"click") {
      PostMessageW(control, BM_CLICK, 0, 0);
    } else if (cmd == L"get-text") {
      print(toUtf8(windowText(control)));
    } else {
      print(std::string(IsWindowEnabled(control) ? "enabled" : "disabled") +
            (IsWindowVisible(control) ? " visible" : " hidden"));
    }
    return 0;
  }
  if (cmd == L"set-text") {
    if (a.size() < 4 || !timeoutAt(4, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    HWND control = findControl(h, static_cast<int>(id));
    if (control == nullptr) return failure(L"window \"" + caption + L"\" has no control " + a[2]);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) || !result) {
      return failure(L"control " + a[2] + L" did not take the text");
    }
    return 0;
  }
  if (cmd == L"send-key") {
    // send-key CAPTION VK [ID] [MS]
    long control = -1;
    if (a.size() >= 4 && !parseNumber(a[3], control)) return usage();
    if (!timeoutAt(a.size() >= 4 ? 4 : 3, timeout)) return usage();
    HWND h = waitFor(caption, nullptr, timeout);
    if (h == nullptr) return failure(L"no window \"" + caption + L"\"");
    HWND target = h;
    if (control >= 0) {
      target = findControl(h, static_cast<int>(control));
      if (target == nullptr) return failure(L"window \"" + caption + L"\" has no control " + a[3]);
    }
    const auto vk = static_cast<WPARAM>(id);
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3L << 30));
    return 0;
  }
  return usage();
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  std::vector<std::wstring> args(argv + 1, argv + argc);
  LocalFree(argv);
  const int rc = run(args);
  std::fflush(stdout);
  return rc;
}
