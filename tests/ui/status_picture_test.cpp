#include "ui/status_picture.h"

#include <gtest/gtest.h>

namespace kantiq {
namespace {

// Several things can be wrong at once; the picture must show the one that
// keeps alarms from being heard before the one that keeps SMS from leaving,
// and green only when nothing is wrong.
TEST(StatusPicture, TheWorstThatIsTrueIsShown) {
  struct Row {
    const char* story;
    StatusFacts facts;
    StatusPicture expected;
  };
  const Row rows[] = {
      {"all well", {.delivering = true}, StatusPicture::On},
      {"switched off, even while frames arrive and SMS wait",
       {.switchedOff = true, .delivering = true, .inputSilent = true, .messagesWaiting = true}, StatusPicture::Off},
      {"no frames: a fault even though the last frames were silent",
       {.delivering = false, .inputSilent = true, .messagesWaiting = true}, StatusPicture::Fault},
      {"no frames because the input is missing", {.delivering = false, .inputMissing = true}, StatusPicture::NoInput},
      {"a stale missing flag while frames arrive", {.delivering = true, .inputMissing = true}, StatusPicture::On},
      {"silent input beats waiting SMS", {.delivering = true, .inputSilent = true, .messagesWaiting = true},
       StatusPicture::Silent},
      {"listening, SMS waiting", {.delivering = true, .messagesWaiting = true}, StatusPicture::SmsWaiting},
  };
  for (const Row& row : rows) EXPECT_EQ(chooseStatusPicture(row.facts), row.expected) << row.story;
}

}  // namespace
}  // namespace kantiq
