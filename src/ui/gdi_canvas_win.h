#pragma once

// The spectrogram and the waveform drawn with GDI, either on a control's
// window (a device context taken per frame and given back at its end) or on
// a device context the caller owns, such as a memory bitmap.

#include <windows.h>

#include <array>
#include <optional>
#include <utility>

#include "detector/spectrogram.h"
#include "ui/waveform_view.h"
#include "win32/owners_win.h"

namespace kantiq {

// A window's device context for one frame, clipped as GetDC would clip it
// but keeping its attributes when it goes back to the cache: Wine otherwise
// resets them on every release, and putting the default font and pen back
// costs it more than a frame's drawing (Windows ignores the request). The
// canvases select what they draw with and put back what they replaced, so
// nothing depends on a context's earlier attributes.
WindowDc frameDc(HWND window);

// A pen of our own, deleted with its owner.
class OwnedPen {
 public:
  OwnedPen(int style, int width, COLORREF colour);  // throws when GDI refuses
  ~OwnedPen() {
    if (pen_ != nullptr) DeleteObject(pen_);
  }
  OwnedPen(const OwnedPen&) = delete;
  OwnedPen& operator=(const OwnedPen&) = delete;
  OwnedPen(OwnedPen&& o) noexcept : pen_(o.pen_) { o.pen_ = nullptr; }
  OwnedPen& operator=(OwnedPen&&) = delete;
  HPEN get() const { return pen_; }

 private:
  HPEN pen_;
};

// Where a canvas draws: a window, whose device context is taken per frame,
// or a device context of fixed size that someone else owns.
class DrawingTarget {
 public:
  explicit DrawingTarget(HWND window) : window_(window) {}
  DrawingTarget(HDC dc, int32_t width, int32_t height) : fixedDc_(dc), width_(width), height_(height) {}
  // Takes the device context and the client size; the context is null when
  // the window's top-level window is minimised or the system refuses one
  // (nothing is drawn then).
  void open(int32_t& width, int32_t& height);
  void close() { windowDc_.reset(); }
  HDC dc() const { return windowDc_ ? windowDc_->get() : fixedDc_; }

 private:
  HWND window_ = nullptr;
  HDC fixedDc_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::optional<WindowDc> windowDc_;
};

class GdiSpectrogramCanvas final : public SpectrogramCanvas {
 public:
  explicit GdiSpectrogramCanvas(DrawingTarget target) : target_(std::move(target)) {}
  void beginFrame(int32_t& width, int32_t& height) override { target_.open(width, height); }
  void verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) override;
  void setPixel(int32_t x, int32_t y, Rgb colour) override;
  void endFrame() override { target_.close(); }

 private:
  DrawingTarget target_;
};

class GdiWaveformCanvas final : public WaveformCanvas {
 public:
  explicit GdiWaveformCanvas(DrawingTarget target);
  bool begin(int32_t& width, int32_t& height) override;
  void polyline(std::span<const ScreenPoint> points) override;
  void end() override { target_.close(); }

 private:
  DrawingTarget target_;
  OwnedPen pen_;
  std::array<POINT, WaveformView::kCapacity> points_{};
};

}  // namespace kantiq
