#pragma once

// The live waveform: the transform's sample window drawn as a polyline, one
// sample per pixel column, 512 sample units per pixel, positive samples below
// the centre line.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kantiq {

class SpectrumTransform;

struct ScreenPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// Where the waveform is drawn: the control on the screen, or an image.
class WaveformCanvas {
 public:
  virtual ~WaveformCanvas() = default;
  // Starts a drawing, clears the area to black and yields its width and
  // height in pixels; false when there is nothing to draw on.
  virtual bool begin(int32_t& width, int32_t& height) = 0;
  // Draws the waveform's pen through the points (the last point itself is
  // left out, as the platform's polyline does).
  virtual void polyline(std::span<const ScreenPoint> points) = 0;
  virtual void end() = 0;
};

class WaveformView {
 public:
  static constexpr int32_t kCapacity = 2048;
  static constexpr int32_t kSampleUnitsPerPixel = 512;

  explicit WaveformView(WaveformCanvas& canvas) : canvas_(&canvas) {}
  WaveformView(const WaveformView&) = delete;
  WaveformView& operator=(const WaveformView&) = delete;

  // Redraws the transform's sample window.
  void draw(const SpectrumTransform& transform);

  // The points of a window in an area of width x height pixels; returns how
  // many were written (at most kCapacity).
  static int32_t computePoints(std::span<const double> window, int32_t width, int32_t height,
                               std::span<ScreenPoint, kCapacity> points);

  // The corners of a polyline: the points it cannot do without. A point
  // equal to the one before it starts a segment of no length, and a point
  // inside a horizontal or vertical run (one direction) only splits a
  // segment in two: each segment leaves out its end point, where the next
  // one begins, so the corners draw exactly the pixels of all the points.
  // Returns how many were written to corners, which needs room for as many
  // as there are points (the corners stop where it ends).
  static int32_t polylineCorners(std::span<const ScreenPoint> points, std::span<ScreenPoint> corners);

  std::span<const ScreenPoint> points() const { return points_; }

 private:
  WaveformCanvas* canvas_;
  std::array<ScreenPoint, kCapacity> points_{};
  // What is drawn: most of a frame's points lie on the centre line, about
  // two thousand of them at one spot beyond the area's width, and a
  // platform polyline pays for each point.
  std::array<ScreenPoint, kCapacity> corners_{};
};

// A waveform image in memory: black background, the pen's colour where the
// polyline passes.
class MemoryWaveformCanvas final : public WaveformCanvas {
 public:
  static constexpr uint32_t kBlack = 0x000000;
  static constexpr uint32_t kPen = 0x00FF80;  // RGB(0, 255, 128)

  MemoryWaveformCanvas(int32_t width, int32_t height);
  bool begin(int32_t& width, int32_t& height) override;
  void polyline(std::span<const ScreenPoint> points) override;
  void end() override {}

  // 0xRRGGBB; black outside the image.
  uint32_t pixel(int32_t x, int32_t y) const;
  void set(int32_t x, int32_t y, uint32_t rgb);

 private:
  void line(ScreenPoint from, ScreenPoint to);
  int32_t width_;
  int32_t height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace kantiq
