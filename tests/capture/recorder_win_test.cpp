#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "capture/pcm_sample_readers.h"
#include "capture/recorder_win.h"
#include "capture/win_exception.h"
#include "fake_wave_in.h"
#include "win32/owners_win.h"

namespace kantiq {
namespace {

using testing::CapturedBoxes;
using testing::FakeWaveIn;
using testing::textWithCode;

constexpr char kInUse[] =
    "Fehler: Ihre Soundkarte wird zur Zeit von einer anderen Anwendung verwendet.\n"
    "Beenden Sie diese Anwendung und starten Sie Brevalo Kantiq erneut.";

struct Rig {
  FakeWaveIn driver;
  CapturedBoxes boxes;
  UniqueHandle event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

int32_t bufferIndex(const Recorder& r, const WAVEHDR* h) {
  const auto* first = reinterpret_cast<const uint8_t*>(h->lpData);
  const auto* base = r.currentBufferData() - static_cast<ptrdiff_t>(r.currentBuffer()) *
                                                 r.format().bytesPerBuffer();
  return static_cast<int32_t>((first - base) / r.format().bytesPerBuffer());
}

TEST(RecorderTest, StartOpensTheMapperAndQueuesSevenOfEightBuffers) {
  Rig rig;
  Recorder recorder(1472, 44100, 8, rig.driver, rig.boxes);
  EXPECT_EQ(recorder.openStatus(), Recorder::kClosed);
  EXPECT_FALSE(recorder.recording());

  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_TRUE(recorder.recording());
  EXPECT_EQ(recorder.openStatus(), 0);
  EXPECT_EQ(recorder.currentBuffer(), 0);
  EXPECT_EQ(rig.driver.queries(), 1);
  EXPECT_EQ(rig.driver.opens(), 1);
  EXPECT_EQ(rig.driver.lastOpenFlags(), static_cast<DWORD>(CALLBACK_EVENT));
  EXPECT_EQ(rig.driver.starts(), 1);
  EXPECT_EQ(rig.driver.queued(), 7u);

  const WAVEFORMATEX f = rig.driver.openedFormat();
  EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(f.nChannels, 1);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(f.nBlockAlign, 1);
  EXPECT_EQ(f.wBitsPerSample, 8);
  EXPECT_EQ(f.cbSize, 0);
  EXPECT_EQ(rig.driver.queriedFormat().nSamplesPerSec, 44100u);
  EXPECT_TRUE(rig.boxes.boxes().empty());
}

// The driver fills 0..6, then 7 (queued by the first recycle), 0, 1, ...; the
// analysis sees each buffer as the current one and seven stay queued.
TEST(RecorderTest, RecycleKeepsSevenQueuedAndFollowsTheRing) {
  Rig rig;
  Recorder recorder(256, 11025, 16, rig.driver, rig.boxes);
  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_FALSE(recorder.currentBufferDone());

  for (int32_t k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    WAVEHDR* filled = rig.driver.fill(1000 + k);
    ASSERT_NE(filled, nullptr);
    EXPECT_EQ(bufferIndex(recorder, filled), k % 8);
    EXPECT_EQ(&recorder.currentHeader(), filled);
    ASSERT_TRUE(recorder.currentBufferDone());
    Pcm16BufferReader reader(recorder.currentBufferData(), recorder.samplesPerBuffer());
    EXPECT_EQ(reader.readSample(0), 1000 + k);
    EXPECT_EQ(reader.readSample(255), 1000 + k);
    EXPECT_TRUE(recorder.recycle());
    EXPECT_EQ(rig.driver.queued(), 7u);
    EXPECT_EQ(recorder.currentBuffer(), (k + 1) % 8);
    EXPECT_FALSE(recorder.currentBufferDone());
  }
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(RecorderTest, StopHandsEveryBufferBackAndCloses) {
  Rig rig;
  Recorder recorder(512, 22050, 16, rig.driver, rig.boxes);
  ASSERT_TRUE(recorder.start(rig.event.get()));
  rig.driver.fill(5);
  recorder.recycle();
  recorder.stop();
  EXPECT_FALSE(recorder.recording());
  EXPECT_EQ(recorder.openStatus(), Recorder::kClosed);
  EXPECT_EQ(rig.driver.resets(), 1);
  EXPECT_EQ(rig.driver.closes(), 1);
  EXPECT_EQ(rig.driver.queued(), 0u);
  // Buffers 0 to 6 were prepared, 0 went out in the recycle and 7 came in.
  EXPECT_EQ(rig.driver.unprepares(), 8);
  // Reset marks the buffers done; a stopped recorder offers none for analysis.
  EXPECT_FALSE(recorder.currentBufferDone());

  // Stop on a closed recorder touches nothing.
  recorder.stop();
  EXPECT_EQ(rig.driver.resets(), 1);
  EXPECT_EQ(rig.driver.closes(), 1);

  // And it starts again from buffer 0 with seven queued.
  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_EQ(recorder.currentBuffer(), 0);
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(RecorderTest, StartWhileOpenClosesTheFirstDeviceBeforeQueueingAgain) {
  Rig rig;
  Recorder recorder(512, 22050, 8, rig.driver, rig.boxes);
  ASSERT_TRUE(recorder.start(rig.event.get()));
  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_EQ(rig.driver.opens(), 2);
  EXPECT_EQ(rig.driver.closes(), 1);
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_EQ(rig.driver.violations(), 0);
}

TEST(RecorderTest, DestructionStopsARunningRecorder) {
  Rig rig;
  {
    Recorder recorder(512, 22050, 8, rig.driver, rig.boxes);
    ASSERT_TRUE(recorder.start(rig.event.get()));
  }
  EXPECT_FALSE(rig.driver.isOpen());
  EXPECT_EQ(rig.driver.queued(), 0u);
  EXPECT_EQ(rig.driver.unprepares(), 7);
}

TEST(RecorderTest, RefusedFormatShowsItsBoxAndOpensNothing) {
  Rig rig;
  rig.driver.queryResult = WAVERR_BADFORMAT;
  Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
  EXPECT_FALSE(recorder.start(rig.event.get()));
  EXPECT_EQ(rig.driver.opens(), 0);
  EXPECT_FALSE(recorder.recording());
  const auto boxes = rig.boxes.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Fehler: Ihre Soundkarte unterstützt kein WAV-Format");
  EXPECT_EQ(boxes[0].caption, "Recorder");
}

TEST(RecorderTest, FailedOpenShowsInUseTextOrTheDriversOwnText) {
  {
    Rig rig;
    rig.driver.openResult = MMSYSERR_ALLOCATED;
    Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
    EXPECT_FALSE(recorder.start(rig.event.get()));
    EXPECT_FALSE(recorder.recording());
    EXPECT_EQ(recorder.openStatus(), 4);
    const auto boxes = rig.boxes.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kInUse);
    EXPECT_EQ(boxes[0].caption, "Recorder");
    // A failed start leaves nothing to close.
    recorder.stop();
    EXPECT_EQ(rig.driver.resets(), 0);
  }
  {
    Rig rig;
    rig.driver.openResult = MMSYSERR_ERROR;
    Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
    EXPECT_FALSE(recorder.start(rig.event.get()));
    EXPECT_FALSE(recorder.inputMissing());
    EXPECT_EQ(recorder.openStatus(), static_cast<int32_t>(MMSYSERR_ERROR));
    const auto boxes = rig.boxes.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, textWithCode("fake error ", MMSYSERR_ERROR));
    EXPECT_EQ(boxes[0].caption, "Recorder");
    EXPECT_EQ(rig.driver.errorTextSize(), 164u);
  }
}

// The input is looked up by name at every start: the one asked for is opened
// (and its format asked of it), wherever the system lists it now; one that is
// not there is missing, without a box, even when other inputs are there.
TEST(RecorderTest, TheInputAskedForIsFoundByNameOrIsMissing) {
  const std::vector<std::string> twoCards{"Mikrofon (Webcam)", "USB Audio", "Line In", "USB Audio"};
  struct Row {
    const char* what;
    std::vector<std::string> inputs;
    UINT defaultId;
    InputRequest wanted;
    MMRESULT openResult;
    bool opens;
    UINT openedId;
  };
  const Row rows[] = {
      {"named, the second of two equal names", twoCards, 0, {"USB Audio", 2}, MMSYSERR_NOERROR, true, 3},
      {"named, the first", twoCards, 0, {"USB Audio", 1}, MMSYSERR_NOERROR, true, 1},
      {"named and absent: never the default instead", twoCards, 0, {"Line In", 2}, MMSYSERR_NOERROR, false, 0},
      {"the default input", twoCards, 2, {}, MMSYSERR_NOERROR, true, 2},
      {"no input at all", {}, 0, {}, MMSYSERR_NOERROR, false, 0},
      {"gone between listing and opening", twoCards, 0, {"Line In", 1}, MMSYSERR_BADDEVICEID, false, 0},
      {"no driver any more", twoCards, 0, {"Line In", 1}, MMSYSERR_NODRIVER, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Rig rig;
    rig.driver.setInputs(row.inputs, row.defaultId);
    rig.driver.openResult = row.openResult;
    Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
    recorder.setInput(row.wanted);
    EXPECT_EQ(recorder.start(rig.event.get()), row.opens);
    EXPECT_EQ(recorder.inputMissing(), !row.opens);
    EXPECT_TRUE(rig.boxes.boxes().empty());
    if (row.opens) {
      EXPECT_EQ(rig.driver.openedInput(), row.openedId);
      EXPECT_EQ(rig.driver.queriedInput(), row.openedId);
      ASSERT_TRUE(recorder.inputInUse().has_value());
      EXPECT_EQ(recorder.inputInUse()->name, row.inputs[row.openedId]);
    } else {
      EXPECT_FALSE(recorder.recording());
      EXPECT_FALSE(rig.driver.isOpen());
    }
  }
}

// The default input, once found, is asked for by name: when it goes away the
// new default is not taken instead, and when it comes back under another
// number it is opened again.
TEST(RecorderTest, TheDefaultInputIsKeptByNameOnceFound) {
  Rig rig;
  rig.driver.setInputs({"Mikrofon", "USB Audio"}, 1);
  Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
  ASSERT_TRUE(recorder.start(rig.event.get()));
  const auto chosen = recorder.takeChosenInput();
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, (InputRequest{"USB Audio", 1}));
  EXPECT_FALSE(recorder.takeChosenInput().has_value());  // once

  recorder.stop();
  rig.driver.setInputs({"Mikrofon"}, 0);  // unplugged: the microphone is the default now
  EXPECT_FALSE(recorder.start(rig.event.get()));
  EXPECT_TRUE(recorder.inputMissing());

  rig.driver.setInputs({"Mikrofon", "Line In", "USB Audio"}, 0);  // back, listed third
  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_EQ(rig.driver.openedInput(), 2u);
  EXPECT_FALSE(recorder.takeChosenInput().has_value());
  EXPECT_TRUE(rig.boxes.boxes().empty());
}

// A ring with a gap would wait forever at the missing buffer: a buffer the
// driver refuses makes the whole start fail, with everything handed back.
TEST(RecorderTest, RefusedBufferFailsTheStartAndClosesTheDevice) {
  for (bool failPrepare : {true, false}) {
    SCOPED_TRACE(failPrepare ? "prepare" : "add");
    Rig rig;
    (failPrepare ? rig.driver.failPrepareAt : rig.driver.failAddAt) = 3;
    Recorder recorder(512, 11025, 16, rig.driver, rig.boxes);
    EXPECT_FALSE(recorder.start(rig.event.get()));
    EXPECT_FALSE(recorder.recording());
    EXPECT_NE(recorder.openStatus(), 0);
    EXPECT_FALSE(rig.driver.isOpen());
    EXPECT_EQ(rig.driver.queued(), 0u);
    EXPECT_EQ(rig.driver.starts(), 0);
    const auto boxes = rig.boxes.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, textWithCode("fake error ", MMSYSERR_NOMEM));
    EXPECT_EQ(boxes[0].caption, "Recorder");
    EXPECT_EQ(rig.driver.violations(), 0);
  }
}

TEST(RecorderTest, RejectsFormatsTheRingCannotHold) {
  Rig rig;
  for (auto [samples, bits] : {std::pair{0, 16}, std::pair{512, 12}, std::pair{1 << 20, 16}}) {
    try {
      Recorder recorder(samples, 11025, bits, rig.driver, rig.boxes);
      ADD_FAILURE() << samples << " samples of " << bits << " bits accepted";
    } catch (const WinException& e) {
      EXPECT_EQ(e.code, static_cast<int32_t>(MMSYSERR_INVALPARAM));
      EXPECT_STREQ(e.message, "Recorder");
    }
  }
}

// A device that will not close may still fill its buffers: no device is
// opened over them. Each start tries to close it again and says why it
// failed; the first close that succeeds lets a new device open.
TEST(RecorderTest, ADeviceThatWillNotCloseIsNeverReplacedOverItsBuffers) {
  Rig rig;
  Recorder recorder(1472, 44100, 16, rig.driver, rig.boxes);
  ASSERT_TRUE(recorder.start(rig.event.get()));
  ASSERT_NE(rig.driver.fill(1), nullptr);
  rig.driver.refuseCloses = 2;
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_FALSE(recorder.start(rig.event.get()));
    EXPECT_EQ(rig.driver.opens(), 1);
    EXPECT_TRUE(rig.driver.isOpen());
    EXPECT_EQ(recorder.openStatus(), 0);
    EXPECT_FALSE(recorder.recording());
  }
  const auto boxes = rig.boxes.boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, textWithCode("fake error ", MMSYSERR_ERROR));
  EXPECT_EQ(boxes[1].caption, "Recorder");

  ASSERT_TRUE(recorder.start(rig.event.get()));
  EXPECT_EQ(rig.driver.closes(), 1);
  EXPECT_EQ(rig.driver.opens(), 2);
  EXPECT_EQ(rig.driver.queued(), 7u);
  EXPECT_EQ(rig.driver.violations(), 0);
}

}  // namespace
}  // namespace kantiq
