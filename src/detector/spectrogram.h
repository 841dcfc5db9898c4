#pragma once

// The spectrogram: a waterfall drawn one column pair per frame, time running
// left to right and wrapping, one pixel row per transform bin (bin 0 at the
// bottom). The detector draws it through a SpectrogramCanvas, which is GDI on
// the screen and an image in memory for tests and offline use.

#include <cstdint>
#include <vector>

namespace kantiq {

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kOrange{255, 128, 0};
inline constexpr Rgb kRed{255, 0, 0};
// The marker of the first peak that matched an alarm's current step.
inline constexpr Rgb kMatchColour = kBlue;

// Colour of the frame's strongest peak by its scaled magnitude: navy below 16,
// then one band per doubling up to red from 256 on.
Rgb magnitudeColour(int32_t magnitude);

// A drawing surface for one frame at a time.
class SpectrogramCanvas {
 public:
  virtual ~SpectrogramCanvas() = default;
  // Starts a frame and yields the client width and height in pixels.
  virtual void beginFrame(int32_t& width, int32_t& height) = 0;
  // A vertical line in column x from row yFrom down to row yTo, yTo excluded.
  virtual void verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) = 0;
  virtual void setPixel(int32_t x, int32_t y, Rgb colour) = 0;
  // Ends the frame; every beginFrame is matched by one endFrame.
  virtual void endFrame() = 0;
};

// A spectrogram image in memory. Drawing outside the image is clipped, as
// on the screen.
class MemorySpectrogramCanvas final : public SpectrogramCanvas {
 public:
  MemorySpectrogramCanvas(int32_t width, int32_t height);

  void beginFrame(int32_t& width, int32_t& height) override;
  void verticalLine(int32_t x, int32_t yFrom, int32_t yTo, Rgb colour) override;
  void setPixel(int32_t x, int32_t y, Rgb colour) override;
  void endFrame() override;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // Black outside the image.
  Rgb pixel(int32_t x, int32_t y) const;
  void fill(Rgb colour);

  int32_t framesBegun() const { return framesBegun_; }
  int32_t framesEnded() const { return framesEnded_; }
  // Pixels set with setPixel since the canvas was made (inside or outside).
  int32_t pixelsSet() const { return pixelsSet_; }

 private:
  int32_t width_;
  int32_t height_;
  std::vector<Rgb> pixels_;
  int32_t framesBegun_ = 0;
  int32_t framesEnded_ = 0;
  int32_t pixelsSet_ = 0;
};

}  // namespace kantiq
