#include "ui/picture_control_win.h"

#include <algorithm>

namespace kantiq {

namespace {

BOOL CALLBACK fitOne(HWND control, LPARAM) {
  SIZE bitmap{};
  if (!pictureBitmapSize(control, bitmap)) return TRUE;
  RECT window{}, client{};
  if (!::GetWindowRect(control, &window) || !::GetClientRect(control, &client)) return TRUE;
  const LONG shrinkX = std::max<LONG>(0, client.right - bitmap.cx);
  const LONG shrinkY = std::max<LONG>(0, client.bottom - bitmap.cy);
  if (shrinkX == 0 && shrinkY == 0) return TRUE;
  // The window's place in the dialog's client area.
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&window), 2);
  ::SetWindowPos(control, nullptr, window.left + shrinkX / 2, window.top + shrinkY / 2,
                 window.right - window.left - shrinkX, window.bottom - window.top - shrinkY,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

}  // namespace

bool pictureBitmapSize(HWND control, SIZE& size) {
  char className[16] = {};
  if (::GetClassNameA(control, className, sizeof className) == 0 ||
      ::lstrcmpiA(className, "Static") != 0) {
    return false;
  }
  if ((::GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) return false;
  const auto bitmap = reinterpret_cast<HBITMAP>(::SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP info{};
  if (bitmap == nullptr || ::GetObjectA(bitmap, sizeof info, &info) == 0) return false;
  size = {info.bmWidth, info.bmHeight};
  return true;
}

void fitPicturesToBitmaps(HWND dialog) { ::EnumChildWindows(dialog, fitOne, 0); }

}  // namespace kantiq
