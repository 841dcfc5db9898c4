#include "ui/waveform_view.h"

#include <algorithm>
#include <cstdlib>

#include "dsp/spectrum_transform.h"

namespace kantiq {

int32_t WaveformView::computePoints(std::span<const double> window, int32_t width, int32_t height,
                                    std::span<ScreenPoint, kCapacity> points) {
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(window.size()), kCapacity);
  const int32_t centre = (height - 1) / 2;
  for (int32_t i = 0; i < n; ++i) {
    ScreenPoint& p = points[static_cast<size_t>(i)];
    if (i < width) {
      // The window holds whole samples; the conversion truncates toward zero.
      const auto s = static_cast<int32_t>(window[static_cast<size_t>(i)]);
      int32_t y = centre + s / kSampleUnitsPerPixel;
      if (y < 0) {
        y = 0;
      } else if (y >= height) {
        y = height - 1;
      }
      p = {i, y};
    } else {
      p = {width - 1, centre};  // beyond the width: the last column, on the centre line
    }
  }
  return n;
}

namespace {

// b lies strictly between a and c on one horizontal or vertical line.
bool splitsStraightRun(ScreenPoint a, ScreenPoint b, ScreenPoint c) {
  if (a.y == b.y && b.y == c.y) return (a.x < b.x && b.x < c.x) || (a.x > b.x && b.x > c.x);
  if (a.x == b.x && b.x == c.x) return (a.y < b.y && b.y < c.y) || (a.y > b.y && b.y > c.y);
  return false;
}

}  // namespace

int32_t WaveformView::polylineCorners(std::span<const ScreenPoint> points, std::span<ScreenPoint> corners) {
  size_t n = 0;
  for (const ScreenPoint& p : points) {
    if (n == corners.size()) break;
    if (n >= 1 && corners[n - 1] == p) continue;
    if (n >= 2 && splitsStraightRun(corners[n - 2], corners[n - 1], p)) {
      corners[n - 1] = p;  // the run goes on to p
      continue;
    }
    corners[n++] = p;
  }
  return static_cast<int32_t>(n);
}

void WaveformView::draw(const SpectrumTransform& transform) {
  int32_t width = 0;
  int32_t height = 0;
  if (!canvas_->begin(width, height)) return;
  const int32_t n = computePoints(transform.window(), width, height, points_);
  const int32_t corners =
      polylineCorners(std::span<const ScreenPoint>(points_.data(), static_cast<size_t>(n)), corners_);
  canvas_->polyline(std::span<const ScreenPoint>(corners_.data(), static_cast<size_t>(corners)));
  canvas_->end();
}

MemoryWaveformCanvas::MemoryWaveformCanvas(int32_t width, int32_t height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0xFFFFFF) {}

bool MemoryWaveformCanvas::begin(int32_t& width, int32_t& height) {
  std::fill(pixels_.begin(), pixels_.end(), kBlack);
  width = width_;
  height = height_;
  return true;
}

void MemoryWaveformCanvas::polyline(std::span<const ScreenPoint> points) {
  for (size_t i = 1; i < points.size(); ++i) line(points[i - 1], points[i]);
}

// Bresenham from one point towards the next, the next point left out.
void MemoryWaveformCanvas::line(ScreenPoint from, ScreenPoint to) {
  const int32_t dx = std::abs(to.x - from.x);
  const int32_t dy = -std::abs(to.y - from.y);
  const int32_t sx = from.x < to.x ? 1 : -1;
  const int32_t sy = from.y < to.y ? 1 : -1;
  int32_t err = dx + dy;
  int32_t x = from.x;
  int32_t y = from.y;
  while (x != to.x || y != to.y) {
    set(x, y, kPen);
    const int32_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void MemoryWaveformCanvas::set(int32_t x, int32_t y, uint32_t rgb) {
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
  pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = rgb;
}

uint32_t MemoryWaveformCanvas::pixel(int32_t x, int32_t y) const {
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return kBlack;
  return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

}  // namespace kantiq
