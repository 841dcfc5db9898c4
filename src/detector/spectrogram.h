#pragma once

// The spectrogram: a waterfall drawn one column pair per frame, time running
// left to right and wrapping, one pixel row per transform bin (bin 0 at the
// bottom). The detector draws it through a SpectrogramCanvas, which is GDI on
// the screen (ui/gdi_canvas_win.h) and an image in memory for tests and
// offline use (memory_spectrogram_canvas.h). The detector's four drawing
// operations are in spectrogram.cpp.

#include <cstdint>

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

}  // namespace kantiq
