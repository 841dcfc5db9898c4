#include "ui/gdi_canvas_win.h"

#include <algorithm>
#include <stdexcept>

namespace kantiq {
namespace {

COLORREF toColorRef(Rgb c) { return RGB(c.r, c.g, c.b); }

}  // namespace

WindowDc frameDc(HWND window) {
  const ULONG_PTR classStyle = window != nullptr ? GetClassLongPtrA(window, GCL_STYLE) : 0;
  // The screen, and windows with a context of their own or of their class,
  // are never reset on release anyway.
  if (window == nullptr || (classStyle & (CS_OWNDC | CS_CLASSDC)) != 0) return WindowDc(window);
  // GetDC's own choice for a window from the cache: the parent's clipping
  // for CS_PARENTDC (every static control), siblings and children cut out
  // as the window's style asks.
  const auto style = static_cast<ULONG_PTR>(GetWindowLongPtrA(window, GWL_STYLE));
  DWORD flags = DCX_CACHE | DCX_NORESETATTRS;
  if ((classStyle & CS_PARENTDC) != 0) flags |= DCX_PARENTCLIP;
  if ((style & WS_CLIPSIBLINGS) != 0) flags |= DCX_CLIPSIBLINGS;
  if ((style & WS_CLIPCHILDREN) != 0 && (style & WS_MINIMIZE) == 0) flags |= DCX_CLIPCHILDREN;
  return WindowDc(window, GetDCEx(window, nullptr, flags));
}

OwnedPen::OwnedPen(int style, int width, COLORREF colour) : pen_(CreatePen(style, width, colour)) {
  if (pen_ == nullptr) throw std::runtime_error("CreatePen");
}

void DrawingTarget::open(int32_t& width, int32_t& height) {
  if (window_ == nullptr) {
    width = width_;
    height = height_;
    return;
  }
  RECT client{};
  if (GetClientRect(window_, &client)) {
    width = client.right - client.left;
    height = client.bottom - client.top;
  } else {
    width = 0;
    height = 0;
  }
  // Nothing of a minimised window is on the screen, so the frame is drawn
  // nowhere; the size above still tells the detector which bins have a row.
  if (::IsIconic(::GetAncestor(window_, GA_ROOT))) return;
  windowDc_.emplace(frameDc(window_));
}

void GdiSpectrogramCanvas::verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) {
  const HDC dc = target_.dc();
  if (dc == nullptr) return;
  // The detector draws only black and white lines: the stock pens serve.
  std::optional<OwnedPen> own;
  HGDIOBJ pen = nullptr;
  if (colour == kBlack) {
    pen = GetStockObject(BLACK_PEN);
  } else if (colour == kWhite) {
    pen = GetStockObject(WHITE_PEN);
  } else {
    own.emplace(PS_SOLID, 0, toColorRef(colour));
    pen = own->get();
  }
  SelectedObject selected(dc, pen);
  MoveToEx(dc, x, yFrom, nullptr);
  LineTo(dc, x, yTo);  // leaves out the end point
}

void GdiSpectrogramCanvas::setPixel(int32_t x, int32_t y, Rgb colour) {
  const HDC dc = target_.dc();
  if (dc != nullptr) SetPixel(dc, x, y, toColorRef(colour));
}

GdiWaveformCanvas::GdiWaveformCanvas(DrawingTarget target)
    : target_(std::move(target)), pen_(PS_SOLID, 0, RGB(0, 255, 128)) {}

bool GdiWaveformCanvas::begin(int32_t& width, int32_t& height) {
  target_.open(width, height);
  const HDC dc = target_.dc();
  if (dc == nullptr) {
    target_.close();
    return false;
  }
  RECT area{0, 0, width, height};
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  return true;
}

void GdiWaveformCanvas::polyline(std::span<const ScreenPoint> points) {
  const HDC dc = target_.dc();
  const size_t n = std::min(points.size(), points_.size());
  for (size_t i = 0; i < n; ++i) points_[i] = POINT{points[i].x, points[i].y};
  SelectedObject selected(dc, pen_.get());
  Polyline(dc, points_.data(), static_cast<int>(n));
}

}  // namespace kantiq
