#include <windows.h>
#include <cstdio>
#include <cstring>
#include <vector>
// Measures the spectrogram control of the main window in pixels: a dialog
// in 8 pt "MS Sans Serif" with a black static at 27,166,174,133 dialog units
// (id 1002). Run it under Wine with a display; prints the client size.
static void put16(std::vector<WORD>& v, WORD w) { v.push_back(w); }
static void putStr(std::vector<WORD>& v, const wchar_t* s) { while (*s) v.push_back(*s++); v.push_back(0); }
static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
int main() {
  std::vector<WORD> t;
  DWORD style = DS_SETFONT | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_3DLOOK;
  put16(t, LOWORD(style)); put16(t, HIWORD(style)); put16(t, 0); put16(t, 0);
  put16(t, 1); put16(t, 0); put16(t, 0); put16(t, 433); put16(t, 342);
  put16(t, 0); put16(t, 0); putStr(t, L"Brevalo Kantiq"); put16(t, 8); putStr(t, L"MS Sans Serif");
  if (t.size() % 2) t.push_back(0);
  DWORD cs = WS_CHILD | WS_VISIBLE | SS_BLACKRECT;
  put16(t, LOWORD(cs)); put16(t, HIWORD(cs)); put16(t, 0); put16(t, 0);
  put16(t, 27); put16(t, 166); put16(t, 174); put16(t, 133); put16(t, 1002);
  put16(t, 0xFFFF); put16(t, 0x0082); putStr(t, L""); put16(t, 0);
  HWND d = CreateDialogIndirectW(GetModuleHandle(nullptr), (LPCDLGTEMPLATEW)t.data(), nullptr,
                                 Proc);
  if (!d) { printf("CreateDialog failed %lu\n", GetLastError()); return 1; }
  RECT r{0, 0, 174, 133}; MapDialogRect(d, &r);
  RECT c{}; GetClientRect(GetDlgItem(d, 1002), &c);
  LONG base = GetDialogBaseUnits();
  printf("MapDialogRect 174x133 -> %ldx%ld; control client %ldx%ld; GetDialogBaseUnits %d,%d\n",
         r.right, r.bottom, c.right, c.bottom, LOWORD(base), HIWORD(base));
  DestroyWindow(d);
  return 0;
}
