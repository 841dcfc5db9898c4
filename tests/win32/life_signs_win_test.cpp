// Kantiq's signs of life as its watchdog reads them: the process and window
// it names, the worker's beat, the end it announces, and a reader's view
// that keeps the block after the writer has let go.

#include "win32/life_signs_win.h"

#include <gtest/gtest.h>

namespace kantiq {
namespace {

TEST(LifeSignsTest, AReaderSeesTheProcessItsWindowTheBeatAndTheAnnouncedEnd) {
  const UniqueWindow window(
      ::CreateWindowExA(0, "STATIC", "signs", WS_POPUP, 0, 0, 40, 30, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  LifeSigns& signs = LifeSigns::process();
  signs.publish(window.get());
  const std::optional<LifeSignsView> view = LifeSignsView::open();
  ASSERT_TRUE(view);
  std::optional<LifeSignsReading> reading = view->read();
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->processId, ::GetCurrentProcessId());
  EXPECT_EQ(reading->window, window.get());
  EXPECT_EQ(reading->workerBeat, 0u);
  EXPECT_FALSE(reading->announcedExit);

  uint32_t* beat = signs.workerBeat();
  ASSERT_NE(beat, nullptr);
  beatOnce(beat);
  const uint32_t first = view->read()->workerBeat;
  EXPECT_NE(first, 0u);
  beatOnce(beat);
  EXPECT_NE(view->read()->workerBeat, first);
  *beat = 0xFFFFFFFFu;
  beatOnce(beat);
  EXPECT_EQ(view->read()->workerBeat, 1u);  // never 0, which means "no beat yet"

  signs.announceEnd(5);
  EXPECT_EQ(readLifeSigns()->announcedExit, 5u);
  // Published again (a new Kantiq in the same block): nothing of the old one is left.
  signs.publish(window.get());
  reading = view->read();
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->workerBeat, 0u);
  EXPECT_FALSE(reading->announcedExit);

  // A successor has published itself while this process was closing: this
  // process's end is not announced as the successor's.
  {
    const UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kLifeSignsName));
    ASSERT_TRUE(mapping);
    const UniqueMappedView writable(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(LifeSignsBlock)));
    ASSERT_TRUE(writable);
    static_cast<LifeSignsBlock*>(writable.get())->processId = ::GetCurrentProcessId() + 4;
  }
  signs.announceEnd(5);
  reading = view->read();
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->processId, ::GetCurrentProcessId() + 4);
  EXPECT_FALSE(reading->announcedExit);
}

TEST(LifeSignsTest, AWatchdogIsSeenByItsGuard) {
  EXPECT_FALSE(watchdogRunning());
  const UniqueHandle guard(::CreateMutexA(nullptr, FALSE, kWatchdogMutexName));
  ASSERT_TRUE(guard);
  EXPECT_TRUE(watchdogRunning());
}

}  // namespace
}  // namespace kantiq
