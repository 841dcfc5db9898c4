#include "wache_logic.h"

#include <gtest/gtest.h>

#include <string>

#include "config/program_exit.h"

namespace kantiq::wache {
namespace {

TEST(WacheExit, KantiqsOwnCodesAreMeantAndEveryOtherIsACrash) {
  struct Row {
    uint32_t code;
    std::optional<uint32_t> announced;
    KantiqEnd end;
  };
  const Row rows[] = {
      {kExitClosed, kExitClosed, KantiqEnd::Closed},
      {kExitClosed, std::nullopt, KantiqEnd::Crashed},  // killed, and the system said 0
      {kExitClosed, kExitFailed, KantiqEnd::Crashed},
      {kExitStartRefused, std::nullopt, KantiqEnd::StartRefused},  // refused before it had signs of life
      {kExitAlreadyRunning, std::nullopt, KantiqEnd::AlreadyRunning},
      {kExitStartAgain, kExitStartAgain, KantiqEnd::StartAgain},
      {kExitFailed, kExitFailed, KantiqEnd::Crashed},
      {2, std::nullopt, KantiqEnd::Crashed},
      {0xC0000005u, std::nullopt, KantiqEnd::Crashed},  // access violation
      {0xE06D7363u, std::nullopt, KantiqEnd::Crashed},  // an unhandled C++ exception
      {0xFFFFFFFFu, std::nullopt, KantiqEnd::Crashed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(classifyExit(row.code, row.announced), row.end);
  }
  EXPECT_EQ(exitCodeText(3), "3");
  EXPECT_EQ(exitCodeText(0xC0000005u), "0xC0000005");
}

TEST(WacheBudget, AllowsSoManyRestartsInTheWindowAndMoreOnceTheOldestHaveLeftIt) {
  RestartBudget budget(3, 60000);
  EXPECT_TRUE(budget.take(0));
  EXPECT_TRUE(budget.take(10000));
  EXPECT_TRUE(budget.take(20000));
  EXPECT_FALSE(budget.take(30000));  // full: nothing counted
  EXPECT_EQ(budget.used(30000), 3);
  EXPECT_FALSE(budget.take(59999));
  EXPECT_TRUE(budget.take(60000));  // the first has left the window
  EXPECT_FALSE(budget.take(60001));
  EXPECT_EQ(budget.used(200000), 0);
}

TEST(WacheHang, TheWindowOrTheWorkerSilentForTheLimitIsAHang) {
  HangWatch watch(60000);
  watch.restart(1000);
  EXPECT_EQ(watch.check(60999), HangWatch::Hang::None);  // no beat yet, window not known: still starting
  watch.windowAnswered(30000);
  watch.workerBeat(7, 30000);
  EXPECT_EQ(watch.check(89999), HangWatch::Hang::None);
  EXPECT_EQ(watch.check(90000), HangWatch::Hang::Window);
  watch.windowAnswered(90000);
  watch.workerBeat(7, 90000);  // the same beat: the worker has not gone round
  EXPECT_EQ(watch.check(90000), HangWatch::Hang::Worker);
  watch.workerBeat(8, 90000);
  EXPECT_EQ(watch.check(90000), HangWatch::Hang::None);
  // A new process starts with a clean slate.
  watch.restart(500000);
  EXPECT_EQ(watch.check(559999), HangWatch::Hang::None);
  EXPECT_EQ(watch.check(560000), HangWatch::Hang::Window);
}

TEST(WacheHang, TimeTheWatchdogDidNotLookIsNotHeldAgainstKantiq) {
  HangWatch watch(60000);
  watch.restart(0);
  for (int64_t t = 1000; t <= 20000; t += 1000) {
    watch.looking(t);
    watch.windowAnswered(t);
    watch.workerBeat(static_cast<uint32_t>(t / 1000), t);
  }
  // Looks every 6 s while the window keeps silent: judged as usual.
  for (int64_t t = 26000; t <= 80000; t += 6000) watch.looking(t);
  EXPECT_EQ(watch.check(80000), HangWatch::Hang::Window);
  // The machine slept (or the watchdog stood still) for an hour: the first
  // look afterwards judges afresh, before the worker has gone round again.
  watch.looking(3680000);
  watch.windowAnswered(3680000);
  watch.workerBeat(20, 3680000);  // the beat from before the pause
  EXPECT_EQ(watch.check(3680000), HangWatch::Hang::None);
  // From there the worker is judged again: a beat that stays is a hang.
  for (int64_t t = 3690000; t <= 3740000; t += 10000) {
    watch.looking(t);
    watch.windowAnswered(t);
    watch.workerBeat(20, t);
  }
  EXPECT_EQ(watch.check(3739999), HangWatch::Hang::None);
  EXPECT_EQ(watch.check(3740000), HangWatch::Hang::Worker);
  watch.restart(500000);
  EXPECT_EQ(watch.check(559999), HangWatch::Hang::None);
  EXPECT_EQ(watch.check(560000), HangWatch::Hang::Window);
}

TEST(WacheCare, EachEndLeadsToItsStepAndLine) {
  Times times;
  Care care(times);
  struct Row {
    uint32_t code;
    std::optional<uint32_t> announced;
    Step step;
    const char* says;
  };
  const Row rows[] = {
      {kExitClosed, kExitClosed, Step::End, "Fenster geschlossen"},
      {kExitStartRefused, std::nullopt, Step::GiveUp, "Einrichtung"},
      {kExitAlreadyRunning, std::nullopt, Step::Adopt, "läuft bereits"},
      {kExitStartAgain, kExitStartAgain, Step::StartNow, "Aufnahmegerät"},
      {kExitStartAgain, kExitStartAgain, Step::StartNow, "eine neue Einrichtung zu lesen"},
      {0xC0000005u, std::nullopt, Step::RestartAfterPause,
       "unerwartet beendet worden (Code 0xC0000005). Neustart in 2 s (1. von"},
      {kExitClosed, std::nullopt, Step::RestartAfterPause, "(Code 0, ohne sich abzumelden). Neustart in 2 s (2. von"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    const Decision decision = care.ended(row.code, row.announced, 1000);
    EXPECT_EQ(decision.step, row.step);
    EXPECT_NE(decision.line.find(row.says), std::string::npos) << decision.line;
  }
}

TEST(WacheCare, CrashesHangsAndFailedStartsShareTheBudgetThenItGivesUp) {
  Times times;
  times.restartsPerWindow = 3;
  Care care(times);
  EXPECT_EQ(care.ended(1, std::nullopt, 0).step, Step::RestartAfterPause);
  EXPECT_EQ(care.hung(HangWatch::Hang::Window, 1000).step, Step::RestartAfterPause);
  const Decision third = care.startFailed(2, 2000);
  EXPECT_EQ(third.step, Step::RestartAfterPause);
  EXPECT_NE(third.line.find("3. von höchstens 3 in 3600 s"), std::string::npos) << third.line;
  // Neither a meant end nor a hand-over takes from the budget.
  EXPECT_EQ(care.ended(kExitStartAgain, kExitStartAgain, 2500).step, Step::StartNow);
  const Decision fourth = care.hung(HangWatch::Hang::Worker, 3000);
  EXPECT_EQ(fourth.step, Step::GiveUp);
  EXPECT_NE(fourth.line.find("Auswertung kommt seit 60 s nicht voran"), std::string::npos) << fourth.line;
  // The hung Kantiq is not ended when none follows it.
  EXPECT_NE(fourth.line.find("gibt auf und lässt Kantiq, wie es ist"), std::string::npos) << fourth.line;
  const Decision fifth = care.ended(0xC0000005u, std::nullopt, 3500);
  EXPECT_EQ(fifth.step, Step::GiveUp);
  EXPECT_NE(fifth.line.find("gibt auf und startet Kantiq nicht mehr neu"), std::string::npos) << fifth.line;
  // An hour after the first, one restart is allowed again.
  EXPECT_EQ(care.ended(1, std::nullopt, 3600000).step, Step::RestartAfterPause);
}

TEST(WacheTestTimes, ShortenedTimesAreReadAndAnythingElseRefused) {
  const Times base;
  const std::optional<Times> times = parseTestTimes("haenger=8000, pause=500;antwort=1000 takt=250 neustarts=3 fenster=90000", base);
  ASSERT_TRUE(times);
  EXPECT_EQ(times->hangLimitMs, 8000);
  EXPECT_EQ(times->restartPauseMs, 500);
  EXPECT_EQ(times->answerWaitMs, 1000);
  EXPECT_EQ(times->checkEveryMs, 250);
  EXPECT_EQ(times->restartsPerWindow, 3);
  EXPECT_EQ(times->budgetWindowMs, 90000);
  EXPECT_EQ(parseTestTimes("", base)->hangLimitMs, base.hangLimitMs);
  for (const char* bad : {"haenger", "haenger=", "haenger=0", "haenger=-5", "haenger=8s", "schlaf=1", "neustarts=5000"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parseTestTimes(bad, base));
  }
}

TEST(WacheLog, LinesAreDatedWithCrLfAndTheOldFileSitsBeside) {
  EXPECT_EQ(formatLogLine(2026, 3, 7, 9, 5, 1, "Kantiq gestartet\n(Prozess 12)."),
            "07.03.2026 09:05:01: Kantiq gestartet?(Prozess 12).\r\n");
  EXPECT_EQ(formatLogLine(2026, 12, 31, 23, 59, 59, "läuft"), "31.12.2026 23:59:59: l\xE4uft\r\n");
  EXPECT_EQ(oldLogPath("C:\\Kantiq\\KantiqWache.txt"), "C:\\Kantiq\\KantiqWache.alt.txt");
  EXPECT_EQ(oldLogPath("C:\\Kan.tiq\\Wache"), "C:\\Kan.tiq\\Wache.alt");
}

}  // namespace
}  // namespace kantiq::wache
