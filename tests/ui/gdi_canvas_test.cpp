// The GDI canvases drawing into a memory bitmap, read back pixel by pixel.

#include "ui/gdi_canvas_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "detector/tone_detector.h"
#include "dsp/spectrum_transform.h"
#include "win32/owners_win.h"

namespace kantiq {
namespace {

// A 32-bit top-down DIB selected into a memory device context. The
// selection goes first, then the bitmap, then the context.
class MemoryBitmap {
 public:
  MemoryBitmap(int32_t width, int32_t height) : width_(width), dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<uint32_t*>(bits);
    selected_.emplace(dc_.get(), bitmap_.get());
    for (int32_t i = 0; i < width * height; ++i) bits_[i] = 0x123456;
  }

  HDC dc() const { return dc_.get(); }
  bool ok() const { return dc_ && bits_ != nullptr; }
  // 0xRRGGBB
  uint32_t pixel(int32_t x, int32_t y) const {
    GdiFlush();
    return bits_[y * width_ + x] & 0xFFFFFF;
  }

 private:
  int32_t width_;
  UniqueMemoryDc dc_;
  UniqueGdiObject<HBITMAP> bitmap_;
  std::optional<SelectedObject> selected_;
  uint32_t* bits_ = nullptr;
};

// A window for the clipping cases, destroyed with its owner.
class TestWindow {
 public:
  TestWindow(const char* windowClass, DWORD style, HWND parent, RECT at)
      : window_(CreateWindowExA(0, windowClass, "", style, at.left, at.top, at.right - at.left,
                                at.bottom - at.top, parent, nullptr, GetModuleHandleA(nullptr), nullptr)) {}
  ~TestWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

// Where a device context can draw on the screen, and where its origin lies.
struct ScreenReach {
  HRGN region = nullptr;
  POINT origin{};
};

ScreenReach reachOf(HDC dc) {
  ScreenReach r;
  r.region = CreateRectRgn(0, 0, 0, 0);
  GetRandomRgn(dc, r.region, SYSRGN);
  GetDCOrgEx(dc, &r.origin);
  return r;
}

// The device context of a frame is clipped exactly as GetDC clips: the
// parent's clipping for static controls, siblings and children as the
// styles ask.
TEST(GdiWindowDc, ClippedAsGetDcClips) {
  const char* kPlainClass = "KantiqTestPlainChild";
  const char* kOwnDcClass = "KantiqTestOwnDc";
  WNDCLASSA plain{};
  plain.lpfnWndProc = DefWindowProcA;
  plain.hInstance = GetModuleHandleA(nullptr);
  plain.lpszClassName = kPlainClass;
  RegisterClassA(&plain);
  WNDCLASSA ownDc = plain;
  ownDc.style = CS_OWNDC;
  ownDc.lpszClassName = kOwnDcClass;
  RegisterClassA(&ownDc);

  TestWindow top(kPlainClass, WS_OVERLAPPED | WS_VISIBLE, nullptr, {40, 40, 440, 340});
  ASSERT_NE(top.get(), nullptr);
  const DWORD child = WS_CHILD | WS_VISIBLE;
  // A static control and a window that clips its siblings, each with a
  // sibling laid over part of it (a later child goes below: raised).
  TestWindow spectrogram("Static", child | SS_BLACKRECT, top.get(), {10, 10, 150, 110});
  TestWindow overStatic(kPlainClass, child, top.get(), {100, 60, 200, 160});
  TestWindow clipsSiblings(kPlainClass, child | WS_CLIPSIBLINGS, top.get(), {220, 10, 380, 110});
  TestWindow overClipping(kPlainClass, child, top.get(), {300, 60, 390, 150});
  for (HWND over : {overStatic.get(), overClipping.get()}) {
    SetWindowPos(over, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  TestWindow clipsChildren(kPlainClass, child | WS_CLIPCHILDREN, top.get(), {10, 170, 190, 290});
  TestWindow inside(kPlainClass, child, clipsChildren.get(), {20, 20, 80, 80});
  TestWindow ownContext(kOwnDcClass, child, top.get(), {220, 170, 380, 290});

  const struct {
    const char* name;
    HWND window;
  } cases[] = {
      {"static control, covered in part", spectrogram.get()},
      {"clips siblings", clipsSiblings.get()},
      {"clips children", clipsChildren.get()},
      {"a child window", inside.get()},
      {"own context", ownContext.get()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.window, nullptr);
    ScreenReach expected;
    {
      const HDC dc = GetDC(c.window);
      ASSERT_NE(dc, nullptr);
      expected = reachOf(dc);
      ReleaseDC(c.window, dc);
    }
    ScreenReach actual;
    {
      const WindowDc dc = frameDc(c.window);
      ASSERT_NE(dc.get(), nullptr);
      actual = reachOf(dc.get());
    }
    RECT expectedBox{};
    RECT actualBox{};
    GetRgnBox(expected.region, &expectedBox);
    GetRgnBox(actual.region, &actualBox);
    EXPECT_TRUE(EqualRgn(expected.region, actual.region))
        << "GetDC reaches " << expectedBox.left << "," << expectedBox.top << "-" << expectedBox.right << ","
        << expectedBox.bottom << ", the frame's context " << actualBox.left << "," << actualBox.top << "-"
        << actualBox.right << "," << actualBox.bottom;
    EXPECT_FALSE(IsRectEmpty(&expectedBox));
    EXPECT_EQ(actual.origin.x, expected.origin.x);
    EXPECT_EQ(actual.origin.y, expected.origin.y);
    DeleteObject(expected.region);
    DeleteObject(actual.region);
  }
}

// While the main window is minimised nothing is drawn, but the spectrogram
// still reports its size: the detector examines the same bins either way.
TEST(GdiWindowDc, NothingIsDrawnWhileMinimised) {
  const char* kPlainClass = "KantiqTestMinimisedTop";
  WNDCLASSA plain{};
  plain.lpfnWndProc = DefWindowProcA;
  plain.hInstance = GetModuleHandleA(nullptr);
  plain.lpszClassName = kPlainClass;
  RegisterClassA(&plain);
  TestWindow top(kPlainClass, WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr, {40, 40, 440, 340});
  ASSERT_NE(top.get(), nullptr);
  TestWindow waveform("Static", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, top.get(), {10, 10, 271, 114});
  TestWindow spectrogram("Static", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, top.get(), {10, 120, 271, 320});
  GdiWaveformCanvas waveCanvas{DrawingTarget(waveform.get())};
  GdiSpectrogramCanvas spectrumCanvas{DrawingTarget(spectrogram.get())};

  const struct {
    const char* name;
    int show;
    bool drawn;
  } steps[] = {{"shown", SW_SHOWNORMAL, true}, {"minimised", SW_MINIMIZE, false}, {"restored", SW_RESTORE, true}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    ShowWindow(top.get(), step.show);
    ASSERT_EQ(IsIconic(top.get()) != FALSE, !step.drawn);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_EQ(waveCanvas.begin(width, height), step.drawn);
    if (step.drawn) waveCanvas.end();
    width = 0;
    height = 0;
    spectrumCanvas.beginFrame(width, height);
    EXPECT_EQ(width, 261);
    EXPECT_EQ(height, 200);
    spectrumCanvas.verticalLine(0, 0, height, kWhite);  // draws, or does nothing
    spectrumCanvas.endFrame();
  }
}

TEST(GdiSpectrogram, AFrameDrawnIntoABitmap) {
  MemoryBitmap image(20, 50);
  ASSERT_TRUE(image.ok());
  GdiSpectrogramCanvas canvas(DrawingTarget(image.dc(), 20, 50));
  auto d = std::make_unique<ToneDetector>();
  d->spectrogramWindow = &canvas;
  d->magnitudeThreshold = 1;
  d->peaksExamined = 2;
  d->frequencyTolerance = 30;
  d->requiredHits = 1;
  d->sequenceTimeout = 1000;
  d->retriggerDelay = 1000;
  d->alarmCount = 1;
  d->alarms[0].stepCount = 2;
  d->alarms[0].steps[0].frequency1 = 500;
  d->alarms[0].steps[1].frequency1 = 900;
  d->alarms[0].makeIdle();
  d->cursorColumn = 4;
  SpectrumTransform t(256, 25600);  // bin i is 100*i Hz
  for (auto& b : t.bins()) b = 0.0;
  t.bins()[5] = 100.5 * 256.0 * t.normaliser();  // matches the first step: blue marker
  t.bins()[8] = 300.5 * 256.0 * t.normaliser();  // strongest: red
  d->processFrame(t);

  EXPECT_EQ(image.pixel(4, 50 - 8 - 1), 0xFF0000u);
  EXPECT_EQ(image.pixel(5, 50 - 8 - 1), 0xFF0000u);
  EXPECT_EQ(image.pixel(4, 50 - 5 - 1), 0x0000FFu);
  EXPECT_EQ(image.pixel(5, 44), 0x0000FFu);
  EXPECT_EQ(image.pixel(4, 0), 0x000000u);   // erased pair, top row
  EXPECT_EQ(image.pixel(5, 49), 0x000000u);  // and bottom row
  EXPECT_EQ(image.pixel(6, 0), 0xFFFFFFu);   // the new cursor
  EXPECT_EQ(image.pixel(6, 49), 0xFFFFFFu);
  EXPECT_EQ(image.pixel(7, 20), 0x123456u);  // untouched
  EXPECT_EQ(d->cursorColumn, 6);
}

TEST(GdiWaveform, PolylineIntoABitmap) {
  MemoryBitmap image(100, 41);  // centre row 20
  ASSERT_TRUE(image.ok());
  GdiWaveformCanvas canvas(DrawingTarget(image.dc(), 100, 41));
  WaveformView view(canvas);
  std::vector<int32_t> samples(256, 0);
  for (int i = 0; i < 10; ++i) samples[static_cast<size_t>(i)] = 2560;  // five pixels below
  SpectrumTransform t(256, 44100);
  t.load(SpanSampleReader(samples));
  view.draw(t);
  EXPECT_EQ(image.pixel(0, 25), 0x00FF80u);
  EXPECT_EQ(image.pixel(9, 25), 0x00FF80u);
  EXPECT_EQ(image.pixel(50, 20), 0x00FF80u);
  EXPECT_EQ(image.pixel(50, 21), 0x000000u);  // filled black
  EXPECT_EQ(image.pixel(0, 0), 0x000000u);
}

// A window of 2048 samples: random values within spread of zero, each held
// for holdFor samples.
struct Signal {
  const char* name;
  int32_t spread;   // sample units around zero
  int32_t holdFor;  // samples that keep one value
};

std::vector<int32_t> samplesOf(const Signal& signal, std::mt19937& random) {
  std::uniform_int_distribution<int32_t> sample(-signal.spread, signal.spread);
  std::vector<int32_t> s(2048);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = i % static_cast<size_t>(signal.holdFor) == 0 ? sample(random) : s[i - 1];
  }
  return s;
}

// Expects image to hold what a black area with a polyline through every
// point of the window shows; returns how many pixels the pen drew.
int32_t expectPlainTrace(const MemoryBitmap& image, const SpectrumTransform& t, int32_t width, int32_t height) {
  MemoryBitmap plain(width, height);
  EXPECT_TRUE(plain.ok());
  std::array<ScreenPoint, WaveformView::kCapacity> p{};
  const int32_t n = WaveformView::computePoints(t.window(), width, height, p);
  std::vector<POINT> all;
  for (int32_t i = 0; i < n; ++i) all.push_back(POINT{p[static_cast<size_t>(i)].x, p[static_cast<size_t>(i)].y});
  RECT area{0, 0, width, height};
  FillRect(plain.dc(), &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  OwnedPen pen(PS_SOLID, 0, RGB(0, 255, 128));
  SelectedObject selected(plain.dc(), pen.get());
  Polyline(plain.dc(), all.data(), static_cast<int>(all.size()));

  int32_t penPixels = 0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (image.pixel(x, y) != plain.pixel(x, y)) {
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << image.pixel(x, y) << ", not "
                      << plain.pixel(x, y);
        return penPixels;
      }
      if (plain.pixel(x, y) == 0x00FF80u) ++penPixels;
    }
  }
  return penPixels;
}

constexpr int32_t kWaveformWidth = 261;  // the control's size in the main window
constexpr int32_t kWaveformHeight = 104;

const Signal kSignals[] = {
    {"silence", 0, 1}, {"hiss", 700, 1}, {"a call", 6000, 1}, {"clipping", 90000, 1}, {"steps", 9000, 7},
};

// The view draws only a frame's corners: GDI must make the same pixels of
// them as of a polyline through every point.
TEST(GdiWaveform, TheCornersDrawWhatEveryPointDraws) {
  std::mt19937 random(1208);
  for (const Signal& c : kSignals) {
    SCOPED_TRACE(c.name);
    SpectrumTransform t(2048, 44100);
    t.load(SpanSampleReader(samplesOf(c, random)));
    MemoryBitmap viewImage(kWaveformWidth, kWaveformHeight);
    ASSERT_TRUE(viewImage.ok());
    GdiWaveformCanvas canvas(DrawingTarget(viewImage.dc(), kWaveformWidth, kWaveformHeight));
    WaveformView view(canvas);
    view.draw(t);
    EXPECT_GE(expectPlainTrace(viewImage, t, kWaveformWidth, kWaveformHeight), kWaveformWidth - 1);
  }
}

// Frame after frame the canvas takes away the trace before the last one
// instead of clearing the whole area: each frame must still leave exactly
// its own trace on black, whatever came before it.
TEST(GdiWaveform, EachFrameLeavesOnlyItsOwnTrace) {
  std::mt19937 random(1209);
  MemoryBitmap image(kWaveformWidth, kWaveformHeight);
  ASSERT_TRUE(image.ok());
  GdiWaveformCanvas canvas(DrawingTarget(image.dc(), kWaveformWidth, kWaveformHeight));
  WaveformView view(canvas);
  SpectrumTransform t(2048, 44100);
  const int order[] = {0, 3, 1, 2, 2, 4, 0, 0, 3, 1};
  for (size_t frame = 0; frame < std::size(order); ++frame) {
    const Signal& c = kSignals[order[frame]];
    SCOPED_TRACE(testing::Message() << "frame " << frame << ": " << c.name);
    t.load(SpanSampleReader(samplesOf(c, random)));
    view.draw(t);
    EXPECT_GE(expectPlainTrace(image, t, kWaveformWidth, kWaveformHeight), kWaveformWidth - 1);
  }
}

}  // namespace
}  // namespace kantiq
