// The run supervision with a clock the test sets and jobs that take every command at
// once: the order of the start and stop lines, the time and rate texts, Pause, Continue
// and the two Stops, failed starts and stops, the finished notice. No worker threads.

#include "run/run_supervisor.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"
#include "threads/run_puzzles.h"

namespace quaderix {
namespace {

using testing::InstantJob;
using testing::TempDir;
using Lines = std::vector<std::string>;

// One supervisor of `stoneCount` instant jobs named after the base "sol", a settable
// clock and a beep counter. Used on the test's thread only.
struct Harness {
  Harness(const TempDir& dir, int stoneCount, int32_t maxThreads, uint32_t creationMs = 0)
      : run(
            log, sink, [this] { return now; }, [this] { ++beeps; },
            [this, creationMs](MessageSink&, int32_t start, int32_t end, const std::string&,
                               const std::string& output) -> std::unique_ptr<PuzzleThreadBase> {
              EXPECT_EQ(start, end);
              outputNames.push_back(output);
              now += creationMs;  // creating a job takes time on the clock
              return std::make_unique<InstantJob>(start, &events);
            }) {
    Settings settings;
    settings.maxThreads = maxThreads;
    settings.outputFileNameBase = "sol";
    settings.configFileName = dir.WriteFile(
        "summary.ini", "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\n[StoneInfo]\nStoneCount=" +
                           std::to_string(stoneCount) +
                           "\n[SymetryInfo]\nSymetryPosCount=4\n"
                           "[OutputInfo]\nWriteEveryNSolution=100\n");
    run.ApplySettings(settings);
  }

  InstantJob& Job(int i) { return *static_cast<InstantJob*>(run.jobs[i].get()); }
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
  // The commands the jobs were sent since the last call ("start 0", "stop 3", ...).
  Lines NewEvents() {
    Lines out(events.begin() + static_cast<long>(eventsSeen), events.end());
    eventsSeen = events.size();
    return out;
  }

  uint32_t now = 0;
  int beeps = 0;
  Lines events;
  Lines outputNames;
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run;
  size_t seen = 0;
  size_t eventsSeen = 0;
};

TEST(RunSupervision, StartsAndRetiresJobsInIndexOrder) {
  TempDir dir;
  Harness h(dir, 12, 2, 250);
  h.now = 1000;
  h.run.OnStart();
  // Creation of 12 jobs took 3 s on the clock, and that counts as run time.
  EXPECT_EQ(h.NewLines(), (Lines{"Number of Threads = 12", "Block Size X*Y*Z=5*4*3",
                                 "Number of different stones = 12", "Number of symetries = 4",
                                 "Write one every 100 solutions to the output file(s)",
                                 "Timeto initialize 3.0 sec"}));
  EXPECT_EQ(h.run.runState, RunRunning);
  EXPECT_EQ(h.run.accumulatedTime, 3000u);
  ASSERT_EQ(h.run.jobs.size(), 12u);
  EXPECT_EQ(h.outputNames.front(), "sol_00.txt");
  EXPECT_EQ(h.outputNames.back(), "sol_11.txt");
  // Start itself starts no worker; the ticks do.
  EXPECT_TRUE(h.NewEvents().empty());

  h.now = 5000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.NewEvents(), (Lines{"start 0", "start 1"}));
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(0) Started ==> 1 Threads Running",
                                 "==> Thread(1) Started ==> 2 Threads Running"}));

  // Job 0 finishes: the tick that sees it retires it, counts it and fills its place.
  h.Job(0).SetCount(7);
  h.Job(0).Finish();
  h.Job(1).SetCount(5);
  h.now = 7500;
  h.run.OnStatusTick();
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 0", "start 2"}));
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(0) Stopped ==> 1 Threads Running",
                                 "ThreadStat: Elapsed Time=6sec, Solutions Found=7",
                                 "==> Thread(2) Started ==> 2 Threads Running"}));
  EXPECT_EQ(h.run.solutionsText, "12    ");

  // Two finish at once: both retire before the next two start. The total keeps the
  // count of every retired job, and a retired job's count is no longer read.
  h.Job(1).SetCount(6);
  h.Job(1).Finish();
  h.Job(2).SetCount(1);
  h.Job(2).Finish();
  h.now = 8500;
  h.run.OnStatusTick();
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 1", "stop 2", "start 3", "start 4"}));
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(1) Stopped ==> 1 Threads Running",
                                 "ThreadStat: Elapsed Time=7sec, Solutions Found=6",
                                 "==> Thread(2) Stopped ==> 0 Threads Running",
                                 "ThreadStat: Elapsed Time=7sec, Solutions Found=1",
                                 "==> Thread(3) Started ==> 1 Threads Running",
                                 "==> Thread(4) Started ==> 2 Threads Running"}));
  h.Job(0).SetCount(1000);
  h.now = 9500;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.solutionsText, "14    ");
}

TEST(RunSupervision, TimeTextShowsRoundedSecondsWithoutCarrying) {
  TempDir dir;
  struct Case {
    uint32_t start;
    uint32_t now;
    const char* text;
  };
  const Case cases[] = {
      {0, 59500, "0h 0min   60sec (running)    "},
      {0, 59499, "0h 0min   59sec (running)    "},
      {0, 60000, "0h 1min    0sec (running)    "},
      {0, 3723000, "1h 2min    3sec (running)    "},
      // 4096 ms before the 32-bit tick count wraps, and 4096 ms after.
      {0xFFFFF000u, 0x00001000u, "0h 0min    8sec (running)    "},
  };
  for (const Case& c : cases) {
    Harness h(dir, 1, 1);
    h.now = c.start;
    h.run.OnStart();
    h.now = c.now;
    h.run.OnStatusTick();
    EXPECT_EQ(h.run.pastTimeText, c.text) << c.now;
  }
}

TEST(RunSupervision, RateTextsOverTheRunAndTheLastSamples) {
  TempDir dir;
  Harness h(dir, 1, 1);
  h.run.OnStart();
  h.run.lastRateText = "old";
  // No time has passed yet: no rate over the run, and one sample gives no recent rate.
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.completeRateText, "0    ");
  EXPECT_EQ(h.run.lastRateText, "old");

  h.Job(0).SetCount(100);
  h.now = 1000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.completeRateText, "100.0    ");
  EXPECT_EQ(h.run.lastRateText, "100.0    ");
  h.Job(0).SetCount(300);
  h.now = 2000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.completeRateText, "150.0    ");
  EXPECT_EQ(h.run.lastRateText, "150.0    ");  // (300 - 0) over 2 s

  // Pause and Continue empty the ring: the old text stays until two new samples exist.
  h.run.OnPause();
  h.run.OnContinue();
  h.now = 3000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.lastRateText, "150.0    ");
  h.now = 4000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.lastRateText, "0    ");  // nothing found in between
  EXPECT_EQ(h.run.completeRateText, "75.0    ");
  EXPECT_EQ(h.run.solutionsText, "300    ");

  // The ring holds the last 100 samples: with the count at t^2 after t ticks, the recent
  // rate runs from sample 51 to sample 150, 99 s apart: (22500 - 2601) / 99 = 201.0.
  h.run.OnPause();
  h.run.OnContinue();
  const uint32_t base = h.now;
  for (uint32_t t = 1; t <= 150; ++t) {
    h.Job(0).SetCount(t * t);
    h.now = base + t * 1000;
    h.run.OnStatusTick();
  }
  EXPECT_EQ(h.run.lastRateText, "201.0    ");
}

TEST(RunSupervision, PauseTimeIsNotCountedAndTheFirstStopOnlyPauses) {
  TempDir dir;
  Harness h(dir, 3, 2);
  // Without a table the time and total show "0"; every third tick asks for a repaint.
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_TRUE(h.run.OnStatusTick());
  EXPECT_EQ(h.run.pastTimeText, "0");
  EXPECT_EQ(h.run.solutionsText, "0");
  h.run.OnStart();
  h.now = 1000;
  h.run.OnStatusTick();
  h.Job(1).SetCount(4);
  h.NewEvents();
  EXPECT_TRUE(h.run.CanPause());
  EXPECT_FALSE(h.run.CanContinue());

  h.now = 10000;
  h.run.OnPause();
  EXPECT_EQ(h.NewEvents(), (Lines{"pause 0", "pause 1"}));
  EXPECT_FALSE(h.run.CanPause());
  EXPECT_TRUE(h.run.CanContinue());
  h.now = 100000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   10sec (paused)    ");
  h.now = 200000;
  h.run.OnContinue();
  EXPECT_EQ(h.NewEvents(), (Lines{"continue 0", "continue 1"}));
  h.now = 205000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   15sec (running)    ");

  h.run.OnStop();
  EXPECT_EQ(h.NewEvents(), (Lines{"pause 0", "pause 1"}));
  EXPECT_EQ(h.run.runState, RunPaused);
  EXPECT_EQ(h.run.jobsCreated, 1);
  // The second Stop goes to every started job even after one failed; job 2 was never
  // started. A failed stop keeps the table.
  h.Job(1).stopResult = 2;
  h.now = 300000;
  h.run.OnStop();
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 0", "stop 1"}));
  EXPECT_EQ(h.run.jobsCreated, 1);
  // A retry asks only the job that did not stop, then destroys the table.
  h.Job(1).stopResult = 0;
  h.run.OnStop();
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 1"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_TRUE(h.run.jobs.empty());
  EXPECT_EQ(h.run.runState, RunNone);
  EXPECT_EQ(h.run.lastRun.solutions, (std::vector<uint32_t>{0, 4, 0}));
  EXPECT_EQ(h.run.lastRun.started, (std::vector<int32_t>{1, 1, 0}));
  EXPECT_EQ(h.run.lastRun.elapsed, 15000u);  // the run time up to the pause
}

TEST(RunSupervision, FailedStartStopsTheWholeRun) {
  TempDir dir;
  Harness h(dir, 3, 3);
  h.run.OnStart();
  h.Job(1).startResult = 1;
  h.NewLines();
  h.now = 1000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(0) Started ==> 1 Threads Running",
                                 "==> Error on starting Thread(1)"}));
  // The complete stop sequence: the running job is paused, then stopped; job 2 never
  // received a command.
  EXPECT_EQ(h.NewEvents(), (Lines{"start 0", "start 1", "pause 0", "stop 0"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_EQ(h.run.failedJob, 1);
  EXPECT_EQ(h.run.lastRun.started, (std::vector<int32_t>{1, 0, 0}));
  // A new Start forgets the failure.
  h.run.OnStart();
  EXPECT_EQ(h.run.failedJob, -1);
}

TEST(RunSupervision, FinishedNoticeBeepsOnceAndFreezesTheTime) {
  TempDir dir;
  Harness h(dir, 3, 2);
  h.run.OnStart();
  h.now = 1000;
  h.run.OnStatusTick();
  h.Job(0).Finish();
  h.Job(1).Finish();
  // Job 2 has not been started: it keeps the run open.
  h.run.OnThreadNotify(2, 0);
  EXPECT_EQ(h.beeps, 0);
  h.now = 2000;
  h.run.OnStatusTick();  // retires 0 and 1, starts 2
  h.Job(2).Finish();
  h.now = 2600;
  h.run.OnMessage(PuzzleMessage{WM_PUZZLE_NOTIFY, 2, 0, {}});
  EXPECT_EQ(h.beeps, 1);
  EXPECT_EQ(h.run.runState, RunFinished);
  h.now = 2700;
  h.run.OnThreadNotify(2, 0);  // a second finishing worker's notice
  EXPECT_EQ(h.beeps, 1);
  h.NewEvents();
  h.now = 60000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min    3sec (finished)    ");
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 2"}));  // the tick retires the last job
}

}  // namespace
}  // namespace quaderix
