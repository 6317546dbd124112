// A whole run with real workers, driven as a front end drives it: drain the messages,
// tick the supervision, until the finished notice ends the run; then the complete stop
// sequence. The clock advances one second per tick. Runs under ThreadSanitizer as well.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_supervisor.h"
#include "support/temp_files.h"
#include "threads/run_puzzles.h"

namespace quaderix {
namespace {

using testing::TempDir;

// One supervisor with real workers posting to a queue that the test drains, and a clock
// the test advances. Used on the test's thread only, as a front end would.
struct LiveRun {
  explicit LiveRun(const Settings& settings)
      : run(
            log, sink, [this] { return now; }, [this] { ++beeps; }) {
    run.ApplySettings(settings);
  }
  void Drain() {
    for (const PuzzleMessage& m : sink.Drain()) run.OnMessage(m);
  }
  // Ticks once a fake second until the run is finished; false if it never is.
  bool RunToEnd(int maxTicks) {
    for (int i = 0; i < maxTicks; ++i) {
      now += 1000;
      run.OnStatusTick();
      if (!run.jobsCreated) return false;
      // Give the started workers time to finish and post before the next tick.
      testing::WaitFor([&] {
        for (const auto& job : run.jobs) {
          if (job->started && !job->retired && job->GetState() != StateFinished) return false;
        }
        return true;
      });
      Drain();
      if (run.runState == RunFinished) return true;
    }
    return false;
  }
  size_t Count(const std::string& needle) const {
    size_t n = 0;
    for (size_t at = log.text().find(needle); at != std::string::npos;
         at = log.text().find(needle, at + 1))
      ++n;
    return n;
  }

  uint32_t now = 5000;
  int beeps = 0;
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run;
};

TEST(LiveRunSupervision, JobsRunOneAfterTheOtherToTheKnownCounts) {
  TempDir dir;
  Settings settings;
  settings.maxThreads = 1;
  settings.outputFileNameBase = dir.PathOf("cube");
  settings.configFileName = dir.WriteFile("dominoes.ini", testing::kDominoCube);
  LiveRun live(settings);
  live.run.OnStart();
  ASSERT_EQ(live.run.jobs.size(), 2u);
  ASSERT_TRUE(live.RunToEnd(10));
  EXPECT_EQ(live.beeps, 1);
  // One tick more retires the last job, as the window's next tick would.
  live.now += 1000;
  live.run.OnStatusTick();
  EXPECT_EQ(live.run.solutionsText, "36    ");
  EXPECT_NE(live.log.text().find("==> Thread(0) Started ==> 1 Threads Running\r\n"),
            std::string::npos);
  EXPECT_NE(live.log.text().find("Solutions Found=9\r\n::> ==> Thread(1) Started ==> 1 Threads "
                                 "Running\r\n"),
            std::string::npos);
  EXPECT_NE(live.log.text().find("Solutions Found=27\r\n"), std::string::npos);

  live.run.StopSequence();
  live.Drain();
  EXPECT_EQ(live.run.jobsCreated, 0);
  // A worker's reports may arrive after the notice of another one that completed the
  // run, so they are counted once everything is drained.
  EXPECT_EQ(live.Count("-> Puzzle is running\r\n"), 2u);
  EXPECT_EQ(live.Count("-> Puzzle has finished\r\n"), 2u);
  EXPECT_EQ(live.beeps, 1);
  EXPECT_EQ(live.run.lastRun.solutions, (std::vector<uint32_t>{9, 27}));
  EXPECT_EQ(live.Count("-> Puzzle has stopped\r\n"), 2u);
}

TEST(LiveRunSupervision, FailedSetupEndsTheRunAndStopPausesFirst) {
  TempDir dir;
  // A file whose set-up fails ends the run at the first start.
  Settings settings;
  settings.maxThreads = 2;
  settings.configFileName = dir.WriteFile("puzzle.ini", testing::kMissingRowPuzzle);
  LiveRun live(settings);
  live.run.OnStart();
  ASSERT_EQ(live.run.jobs.size(), 1u);
  live.now += 1000;
  live.run.OnStatusTick();
  EXPECT_NE(live.log.text().find("==> Error on starting Thread(0)\r\n"), std::string::npos);
  EXPECT_EQ(live.run.jobsCreated, 0);
  EXPECT_EQ(live.run.failedJob, 0);
  EXPECT_NE(live.run.failedJobReason.find("YZLine_01_00"), std::string::npos);

  // With two long jobs running, the first Stop pauses them and the second ends them.
  settings.configFileName = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  LiveRun second(settings);
  second.run.OnStart();
  second.now += 1000;
  second.run.OnStatusTick();
  ASSERT_EQ(second.run.jobs.size(), 2u);
  EXPECT_EQ(second.run.jobs[0]->GetState(), StateRunning);
  EXPECT_EQ(second.run.jobs[1]->GetState(), StateRunning);
  EXPECT_TRUE(second.run.CanPause());
  second.run.OnStop();
  EXPECT_EQ(second.run.runState, RunPaused);
  EXPECT_EQ(second.run.jobs[0]->GetState(), StatePaused);
  EXPECT_TRUE(second.run.CanContinue());
  second.run.OnStop();
  EXPECT_EQ(second.run.jobsCreated, 0);
  second.Drain();
  EXPECT_EQ(second.Count("-> Puzzle has paused\r\n"), 2u);
  EXPECT_EQ(second.Count("-> Puzzle has stopped\r\n"), 2u);
}

}  // namespace
}  // namespace quaderix
