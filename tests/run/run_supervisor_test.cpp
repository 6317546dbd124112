// The run supervision on tree models with a clock the test sets: the job lines and the
// run's closing line in job order, the time texts, Pause, Continue and the two Stops,
// finishing while paused, a refused puzzle and a refused MaxThreads.

#include "run/run_supervisor.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "run/tree_model.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;
using testing::TreeModel;
using Lines = std::vector<std::string>;

// One supervisor of a tree model, a settable clock and a beep counter. Used on the test's
// thread only; the pool's workers reach it through the sink, drained by Drain.
struct Harness {
  Harness(std::shared_ptr<TreeModel> model, int32_t maxThreads, ModelBuilder builder = nullptr)
      : run(
            log, sink, [this] { return now; }, [this] { ++beeps; },
            builder ? builder
                    : [model](const std::string&, bool,
                              SetupError*) { return std::shared_ptr<const RunModel>(model); }) {
    Settings settings;
    settings.maxThreads = maxThreads;
    settings.outputFileNameBase = dir.PathOf("sol");
    settings.configFileName =
        dir.WriteFile("summary.ini",
                      "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\n[StoneInfo]\nStoneCount=3\n"
                      "[SymetryInfo]\nSymetryPosCount=1\n[OutputInfo]\nWriteEveryNSolution=100\n");
    run.ApplySettings(settings);
  }

  void Drain() {
    for (const PuzzleMessage& m : sink.Drain()) run.OnMessage(m);
  }
  // Waits for the pool's finished notice without handing it on.
  void WaitUntilComplete() {
    for (int i = 0; i < 10000 && !run.pool()->Snapshot().allComplete; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(run.pool()->Snapshot().allComplete);
  }
  // The log lines completed since the last call, without prompt and line end.
  Lines NewLines() {
    Lines lines;
    const std::string& text = log.text();
    for (size_t end; (end = text.find("\r\n", seen)) != std::string::npos; seen = end + 2) {
      std::string line = text.substr(seen, end - seen);
      if (line.starts_with(kPrompt)) line.erase(0, 4);
      lines.push_back(line);
    }
    return lines;
  }

  TempDir dir;
  uint32_t now = 0;
  int beeps = 0;
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run;
  size_t seen = 0;
};

uint64_t SerialTotal(const TreeModel& model) {
  uint64_t total = 0;
  for (int32_t j = 0; j < model.JobCount(); ++j) total += model.SerialRecords(j).first;
  return total;
}

TEST(RunSupervision, JobLinesInJobOrderAndTheLastTickClosesTheRun) {
  auto model = std::make_shared<TreeModel>(3, 9, 100);
  Harness h(model, 2);
  h.now = 1000;
  h.run.OnStart();
  EXPECT_EQ(
      h.NewLines(),
      (Lines{"Block Size X*Y*Z=5*4*3", "Number of different stones = 3", "Number of symetries = 1",
             "Write one every 100 solutions to the output file(s)",
             // No file is named, so the analysis is of the built-in puzzle.
             "Rotations that carry the block (cells and holes) onto itself: 4 of 24",
             "Orbit of SymPos0 under them: 4 cells; only the identity keeps SymPos0 in place",
             "The symmetry positions are that orbit: yes",
             "Stone types with copies: 12 for 4 positions",
             "Symmetry positions: exact, every count is 1/4 of all packings (4 of the block's "
             "rotations carry SymPos0 onto them, one for each)",
             "Timeto initialize 0.0 sec", "Reading the puzzle and building the placement tables"}));
  h.WaitUntilComplete();
  h.now = 4000;
  h.Drain();  // the finished notice
  EXPECT_EQ(h.beeps, 1);
  EXPECT_EQ(h.run.runState, RunFinished);
  // The tick after the notice logs every job's lines, then the run's total.
  h.now = 4500;
  h.run.OnStatusTick();
  const std::string total = std::to_string(SerialTotal(*model));
  Lines lines = h.NewLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0].starts_with("Set-up done in "));
  lines.erase(lines.begin());
  EXPECT_EQ(lines, (Lines{"Number of Threads = 3", "==> Thread(0) Started ==> 1 Threads Running",
                          "==> Thread(0) Stopped ==> 0 Threads Running",
                          "ThreadStat: Elapsed Time=3sec, Solutions Found=" +
                              std::to_string(model->SerialRecords(0).first),
                          "==> Thread(1) Started ==> 1 Threads Running",
                          "==> Thread(1) Stopped ==> 0 Threads Running",
                          "ThreadStat: Elapsed Time=3sec, Solutions Found=" +
                              std::to_string(model->SerialRecords(1).first),
                          "==> Thread(2) Started ==> 1 Threads Running",
                          "==> Thread(2) Stopped ==> 0 Threads Running",
                          "ThreadStat: Elapsed Time=3sec, Solutions Found=" +
                              std::to_string(model->SerialRecords(2).first),
                          "==> Run finished: " + total + " solutions in 3.0 sec"}));
  EXPECT_EQ(h.run.solutionsText, total + "    ");
  EXPECT_EQ(h.run.pastTimeText, "0h 0min    3sec (finished)    ");
  EXPECT_EQ(h.run.progressText, "100 %");
  // Stop after the end destroys the run at once and logs nothing more.
  h.run.OnStop();
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_TRUE(h.NewLines().empty());
  EXPECT_EQ(h.run.lastRun.solutions.size(), 3u);
}

TEST(RunSupervision, ShownProgressNeverGoesBackWhenTheEstimateGrows) {
  Harness h(std::make_shared<TreeModel>(1, 1, 0), 1);
  PoolSnapshot s;
  s.allCut = true;
  s.unitsDone = 20;
  s.doneWork = s.leftWork = s.doneEstimate = s.leftEstimate = 50;
  h.run.UpdateProgress(s, 3000);
  EXPECT_EQ(h.run.progressText.substr(0, 4), "50 %");
  // A big unit found late: the work left triples, but what was shown stays.
  s.doneWork = s.doneEstimate = 55;
  s.leftWork = s.leftEstimate = 145;
  h.run.UpdateProgress(s, 4000);
  EXPECT_EQ(h.run.progress, 0.5);
}

TEST(RunSupervision, ProgressIsEstimatingFirstThenOnlyGrowsAndStaysNearTheWorkDone) {
  auto model = std::make_shared<TreeModel>(3, 12, 0);
  model->stepDelayUs = 1;
  // The true size of the run in the nodes the units count, from the serial searches.
  struct : UnitObserver {
    void OnSolution(const PlacementChoice*, int32_t) override {}
    void OnCut(const PlacementChoice*, int32_t) override {}
  } ignore;
  double total = 0;
  for (int32_t j = 0; j < model->JobCount(); ++j) {
    auto search = model->NewSearch();
    search->Begin(WorkUnit{j, {}}, 0, &ignore);
    while (!search->Advance()) {
    }
    total += static_cast<double>(search->NodeCount());
  }
  Harness h(model, 2);
  h.run.OnStart();
  double shown = 0;
  bool known = false;
  int knownTicks = 0;
  double worst = 0;
  while (!h.run.pool()->Snapshot().allComplete) {
    h.now += 250;
    h.run.OnStatusTick();
    if (h.now < 2000) {
      EXPECT_EQ(h.run.progressText, "estimating");
    }
    EXPECT_TRUE(h.run.progressKnown || !known) << "known, then estimating again";
    known = h.run.progressKnown;
    EXPECT_GE(h.run.progress, shown) << "went back at " << h.now << " ms";
    shown = h.run.progress;
    if (known && shown < 0.999) {
      ++knownTicks;
      EXPECT_NE(h.run.progressText.find(" % \xC2\xB7 about "), std::string::npos);
      // The units done so far, against what the run truly holds.
      const double truth = h.run.pool()->Snapshot().doneWork / total;
      worst = std::max(worst, std::abs(shown - truth));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GT(knownTicks, 0);
  EXPECT_LT(worst, 0.25);
  h.Drain();
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.progressText, "100 %");
}

TEST(RunSupervision, AnEmptyJobWaitsForTheLowerJobsInTheLog) {
  auto model = std::make_shared<TreeModel>(3, 12, 1);
  model->emptyJob = 2;  // complete as soon as it is cut
  model->stepDelayUs = 200;
  Harness h(model, 1);
  h.run.OnStart();
  // Cut first, then job 0's units: job 2 is complete before job 1 has started.
  for (PoolSnapshot s; !s.allCut || s.jobs.empty() || !s.jobs[0].started;
       s = h.run.pool()->Snapshot())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  h.run.OnStatusTick();
  Lines lines = h.NewLines();
  EXPECT_EQ(lines.back(), "==> Thread(0) Started ==> 1 Threads Running");
  model->stepDelayUs = 0;
  h.WaitUntilComplete();
  h.Drain();
  h.run.OnStatusTick();
  lines = h.NewLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], "==> Thread(1) Started ==> 1 Threads Running");
  EXPECT_EQ(lines[5], "==> Thread(2) Started ==> 1 Threads Running");
  EXPECT_EQ(lines[7], "ThreadStat: Elapsed Time=0sec, Solutions Found=0");
}

TEST(RunSupervision, TimeTextShowsRoundedSecondsWithoutCarrying) {
  struct Case {
    uint32_t start;
    uint32_t now;
    const char* text;
  };
  const Case cases[] = {
      {0, 59500, "0h 0min   60sec (running)    "},
      {0, 59499, "0h 0min   59sec (running)    "},
      {0, 3723000, "1h 2min    3sec (running)    "},
      // 4096 ms before the 32-bit tick count wraps, and 4096 ms after.
      {0xFFFFF000u, 0x00001000u, "0h 0min    8sec (running)    "},
  };
  for (const Case& c : cases) {
    Harness h(std::make_shared<TreeModel>(1, 3, 1), 1);
    h.now = c.start;
    h.run.OnStart();
    h.now = c.now;
    h.run.OnStatusTick();  // the finished notice is not drained: the run stays running
    EXPECT_EQ(h.run.pastTimeText, c.text) << c.now;
  }
}

TEST(RunSupervision, PauseTimeIsNotCountedAndTheFirstStopOnlyPauses) {
  auto model = std::make_shared<TreeModel>(3, 12, 1);
  model->stepDelayUs = 200;
  Harness h(model, 2);
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_TRUE(h.run.OnStatusTick());  // every third tick repaints the window
  EXPECT_EQ(h.run.pastTimeText, "0");
  h.run.OnStart();
  h.now = 1000;
  h.run.OnStatusTick();
  EXPECT_TRUE(h.run.CanPause());
  h.now = 10000;
  h.run.OnPause();
  EXPECT_FALSE(h.run.CanPause());
  EXPECT_TRUE(h.run.CanContinue());
  h.now = 100000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   10sec (paused)    ");
  h.now = 200000;
  h.run.OnContinue();
  h.now = 205000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   15sec (running)    ");

  h.run.OnStop();
  EXPECT_EQ(h.run.runState, RunPaused);
  EXPECT_EQ(h.run.jobsCreated, 1);
  h.NewLines();
  h.now = 300000;
  h.run.OnStop();
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_EQ(h.run.runState, RunNone);
  EXPECT_EQ(h.run.lastRun.elapsed, 15000u);  // the run time up to the pause
  uint64_t found = 0;
  for (uint64_t n : h.run.lastRun.solutions) found += n;
  model->stepDelayUs = 0;
  EXPECT_LT(found, SerialTotal(*model));
  EXPECT_EQ(h.NewLines(),
            (Lines{"==> Run stopped: " + std::to_string(found) + " solutions in 15.0 sec"}));
}

TEST(RunSupervision, FinishingWhilePausedAddsNoPauseTime) {
  Harness h(std::make_shared<TreeModel>(2, 6, 1), 2);
  h.run.OnStart();
  h.WaitUntilComplete();
  h.now = 5000;
  h.run.OnPause();  // the user pauses before the finished notice is handled
  h.now = 9000;
  h.Drain();
  EXPECT_EQ(h.run.runState, RunFinished);
  EXPECT_EQ(h.run.ElapsedTime(20000), 5000u);
}

TEST(RunSupervision, WritesThatFailShowInTheLog) {
  Harness h(std::make_shared<TreeModel>(2, 6, 1), 2);
  h.run.outputFileNameBase = h.dir.PathOf("missing/sol");  // a folder that does not exist
  h.run.OnStart();
  h.WaitUntilComplete();
  h.Drain();
  h.run.OnStatusTick();
  const std::string& log = h.log.text();
  for (int job = 0; job < 2; ++job) {
    // The file could not be made, and no record could be written to it.
    const uint64_t records = 1 + h.run.pool()->Snapshot().jobs[job].solutions;
    EXPECT_NE(log.find("==> Thread(" + std::to_string(job) + "): " + std::to_string(records) +
                       " writes to its output file failed"),
              std::string::npos)
        << log;
  }
}

TEST(RunSupervision, ARefusedPuzzleOrMaxThreadsStartsNothing) {
  Harness failing(nullptr, 2, [](const std::string&, bool, SetupError* error) {
    error->Set(SetupErrorCode::kBadValue, "XSize must be at least 1");
    return std::shared_ptr<const RunModel>();
  });
  failing.run.OnStart();
  failing.NewLines();
  while (failing.run.pool()->Snapshot().phase == PoolSnapshot::Building)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  failing.run.OnStatusTick();
  EXPECT_EQ(failing.NewLines(), (Lines{"==> Error on starting Thread(0)",
                                       "==> The puzzle could not be set up: XSize must be at "
                                       "least 1"}));
  EXPECT_EQ(failing.run.jobsCreated, 0);
  EXPECT_EQ(failing.run.failedJobReason, "XSize must be at least 1");

  Harness none(std::make_shared<TreeModel>(1, 3, 1), 0);
  none.run.OnStart();
  EXPECT_EQ(none.run.jobsCreated, 0);
  EXPECT_EQ(none.NewLines(),
            (Lines{"MaxThreads is 0: a run needs at least one worker", "Error on init Threads"}));
}

}  // namespace
}  // namespace quaderix
