// The run supervision with a clock the test sets and jobs whose answers the test
// scripts: the order of the start and stop lines, the time and rate texts, Pause,
// Continue and the two Stops, a failed start, the finished notice. No worker threads.

#include "app/run_supervisor.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// What the fake jobs were told, in order ("start 0", "pause 1", ...), and what they
// answer.
struct Script {
  std::vector<std::string> events;
  std::map<int, int> startResult;
  std::map<int, int> stopResult;
  std::vector<std::string> outputNames;
};

// A job without a worker: commands change its state at once, as a worker that takes
// every command instantly would.
class FakeJob : public PuzzleThreadBase {
 public:
  FakeJob(Script& script, int32_t index, const std::string& output)
      : PuzzleThreadBase(index, index, "", output), script_(script), index_(index) {}

  int Start(uint32_t) override {
    Note("start");
    if (GetState() != StateIdle) return 1;
    const int result = script_.startResult.count(index_) ? script_.startResult[index_] : 0;
    if (result == 0) state.store(StateRunning);
    return result;
  }
  int Pause(uint32_t) override {
    Note("pause");
    if (GetState() == StateFinished) return 0;
    if (GetState() != StateRunning) return 1;
    state.store(StatePaused);
    return 0;
  }
  int Continue(uint32_t) override {
    Note("continue");
    if (GetState() == StateFinished) return 0;
    if (GetState() != StatePaused) return 1;
    state.store(StateRunning);
    return 0;
  }
  int Stop(uint32_t) override {
    Note("stop");
    const int32_t s = GetState();
    if (s == StateIdle || s == StateFailed) return 1;
    const int result = script_.stopResult.count(index_) ? script_.stopResult[index_] : 0;
    if (result == 0) state.store(StateIdle);
    return result;
  }
  void PostText(std::string) override {}
  void PostLine(std::string) override {}
  void PostNotify() override {}

  void SetCount(uint32_t n) { solver.solutionCount.store(n); }
  void Finish() { state.store(StateFinished); }

 private:
  void Note(const char* what) { script_.events.push_back(what + (" " + std::to_string(index_))); }

  Script& script_;
  int32_t index_;
};

std::string SummaryFile(const TempDir& dir, int stoneCount) {
  return dir.WriteFile("summary.ini",
                       "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\n"
                       "[StoneInfo]\nStoneCount=" +
                           std::to_string(stoneCount) +
                           "\n[SymetryInfo]\nSymetryPosCount=4\n"
                           "[OutputInfo]\nWriteEveryNSolution=100\n");
}

// One supervisor with fake jobs, a settable clock and a beep counter.
struct Harness {
  explicit Harness(const std::string& configFile, int32_t maxThreads, const std::string& base = "",
                   uint32_t creationMs = 0)
      : run(
            log, sink, [this] { return now; }, [this] { ++beeps; },
            [this, creationMs](MessageSink&, int32_t start, int32_t end, const std::string&,
                               const std::string& output) -> std::unique_ptr<PuzzleThreadBase> {
              EXPECT_EQ(start, end);
              script.outputNames.push_back(output);
              now += creationMs;  // creating a job takes time on the clock
              return std::make_unique<FakeJob>(script, start, output);
            }) {
    Settings settings;
    settings.maxThreads = maxThreads;
    settings.outputFileNameBase = base;
    settings.configFileName = configFile;
    run.ApplySettings(settings);
  }

  FakeJob& Job(int i) { return *static_cast<FakeJob*>(run.jobs[i].get()); }
  // The log lines appended since the last call, without prompt and line end.
  std::vector<std::string> NewLines() {
    std::vector<std::string> lines;
    const std::string& text = log.text();
    size_t at = seen;
    for (;;) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) break;
      std::string line = text.substr(at, end - at);
      if (line.rfind(kPrompt, 0) == 0) line.erase(0, 4);
      lines.push_back(line);
      at = end + 2;
    }
    seen = at;
    return lines;
  }
  std::vector<std::string> NewEvents() {
    std::vector<std::string> out(script.events.begin() + static_cast<long>(eventsSeen),
                                 script.events.end());
    eventsSeen = script.events.size();
    return out;
  }

  uint32_t now = 0;
  int beeps = 0;
  Script script;
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run;
  size_t seen = 0;
  size_t eventsSeen = 0;
};

using Lines = std::vector<std::string>;

TEST(RunSupervision, StartsAndRetiresJobsInIndexOrder) {
  TempDir dir;
  Harness h(SummaryFile(dir, 12), 2, "", 250);
  h.now = 1000;
  h.run.OnStart();
  // Creation of 12 jobs took 3 s on the clock, and that counts as run time.
  EXPECT_EQ(h.NewLines(), (Lines{"Number of Threads = 12", "Block Size X*Y*Z=5*4*3",
                                 "Number of different stones = 12", "Number of symetries = 4",
                                 "Write one every 100 solutions to the output file(s)",
                                 "Timeto initialize 3.0 sec"}));
  EXPECT_EQ(h.run.runState, RunRunning);
  EXPECT_EQ(h.run.accumulatedTime, 3000u);
  EXPECT_EQ(h.run.periodStart, 4000u);
  ASSERT_EQ(h.run.jobs.size(), 12u);
  // Start itself starts no worker.
  EXPECT_TRUE(h.NewEvents().empty());

  h.now = 5000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.NewEvents(), (Lines{"start 0", "start 1"}));
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(0) Started ==> 1 Threads Running",
                                 "==> Thread(1) Started ==> 2 Threads Running"}));
  h.now = 6000;
  h.run.OnStatusTick();
  EXPECT_TRUE(h.NewEvents().empty());
  EXPECT_TRUE(h.NewLines().empty());

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
  // count of every retired job.
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
  EXPECT_EQ(h.run.solutionsText, "14    ");
  // A retired job's count is no longer read.
  h.Job(0).SetCount(1000);
  h.now = 9500;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.solutionsText, "14    ");
}

TEST(RunSupervision, OutputFileNamesCarryTheJobNumber) {
  TempDir dir;
  {
    Harness h(SummaryFile(dir, 101), 1, "sol");
    h.run.OnStart();
    ASSERT_EQ(h.script.outputNames.size(), 101u);
    EXPECT_EQ(h.script.outputNames[0], "sol_00.txt");
    EXPECT_EQ(h.script.outputNames[7], "sol_07.txt");
    EXPECT_EQ(h.script.outputNames[11], "sol_11.txt");
    EXPECT_EQ(h.script.outputNames[100], "sol_100.txt");
  }
  {
    Harness h(SummaryFile(dir, 3), 1, "");
    h.run.OnStart();
    EXPECT_EQ(h.script.outputNames, (Lines{"", "", ""}));
  }
}

TEST(RunSupervision, RefusesJobCountsThatCannotBeMade) {
  TempDir dir;
  for (int count : {-3, -2147483647, 2147483647}) {
    Harness h(SummaryFile(dir, count), 2);
    h.run.OnStart();
    const Lines lines = h.NewLines();
    ASSERT_EQ(lines.size(), 6u) << count;
    EXPECT_EQ(lines[0], "Number of Threads = " + std::to_string(count));
    EXPECT_EQ(lines[5], "Error on init Threads");
    EXPECT_EQ(h.run.jobsCreated, 0);
    EXPECT_TRUE(h.run.jobs.empty());
    EXPECT_EQ(h.run.runState, RunNone);
    EXPECT_TRUE(h.script.outputNames.empty());
    h.run.OnStatusTick();
    EXPECT_EQ(h.run.pastTimeText, "0");
  }
  // No file at all: twelve jobs, and every displayed value is 0.
  Harness h(dir.PathOf("missing.ini"), 2);
  h.run.OnStart();
  EXPECT_EQ(h.NewLines(), (Lines{"Number of Threads = 12", "Block Size X*Y*Z=0*0*0",
                                 "Number of different stones = 0", "Number of symetries = 0",
                                 "Write one every 0 solutions to the output file(s)",
                                 "Timeto initialize 0.0 sec"}));
  EXPECT_EQ(h.run.jobs.size(), 12u);
  // A second table is never made over the first.
  EXPECT_EQ(h.run.CreateJobs(), 0);
  h.run.OnStart();
  EXPECT_EQ(h.NewLines().back(), "Error on init Threads");
  EXPECT_EQ(h.run.jobs.size(), 12u);
}

TEST(RunSupervision, TimeTextShowsRoundedSecondsWithoutCarrying) {
  TempDir dir;
  Harness h(SummaryFile(dir, 1), 1);
  h.run.OnStart();
  struct Case {
    uint32_t ms;
    const char* text;
  };
  const Case cases[] = {
      {59500, "0h 0min   60sec (running)    "}, {59499, "0h 0min   59sec (running)    "},
      {60000, "0h 1min    0sec (running)    "}, {3723000, "1h 2min    3sec (running)    "},
      {0, "0h 0min    0sec (running)    "},
  };
  for (const Case& c : cases) {
    h.now = c.ms;
    h.run.OnStatusTick();
    EXPECT_EQ(h.run.pastTimeText, c.text) << c.ms;
  }
}

TEST(RunSupervision, ElapsedTimeWrapsWithTheTickCount) {
  TempDir dir;
  Harness h(SummaryFile(dir, 1), 1);
  h.now = 0xFFFFF000u;  // 4096 ms before the 32-bit tick count wraps
  h.run.OnStart();
  h.now = 0x00001000u;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min    8sec (running)    ");
  EXPECT_EQ(h.run.ElapsedTime(h.now), 8192u);
}

TEST(RunSupervision, PauseTimeIsNotCounted) {
  TempDir dir;
  Harness h(SummaryFile(dir, 3), 2);
  h.run.OnStart();
  h.now = 1000;
  h.run.OnStatusTick();
  h.NewEvents();
  EXPECT_TRUE(h.run.CanPause());
  EXPECT_FALSE(h.run.CanContinue());

  h.now = 10000;
  h.run.OnPause();
  EXPECT_EQ(h.NewEvents(), (Lines{"pause 0", "pause 1"}));
  EXPECT_EQ(h.run.runState, RunPaused);
  EXPECT_FALSE(h.run.CanPause());
  EXPECT_TRUE(h.run.CanContinue());
  h.now = 100000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   10sec (paused)    ");

  h.now = 200000;
  h.run.OnContinue();
  EXPECT_EQ(h.NewEvents(), (Lines{"continue 0", "continue 1"}));
  EXPECT_EQ(h.run.runState, RunRunning);
  h.now = 205000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0h 0min   15sec (running)    ");
}

TEST(RunSupervision, RateTextsOverTheRunAndTheLastSamples) {
  TempDir dir;
  Harness h(SummaryFile(dir, 1), 1);
  h.run.OnStart();
  h.run.lastRateText = "old";
  // No time has passed yet: no rate over the run.
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.completeRateText, "0    ");
  EXPECT_EQ(h.run.lastRateText, "old");  // one sample gives no recent rate

  h.Job(0).SetCount(100);
  h.now = 1000;
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.completeRateText, "100.0    ");
  EXPECT_EQ(h.run.lastRateText, "100.0    ");  // (100 - 0) over 1 s
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
  // rate runs from sample 51 to sample 150, 99 s apart.
  h.run.OnPause();
  h.run.OnContinue();
  const uint32_t base = h.now;
  for (uint32_t t = 1; t <= 150; ++t) {
    h.Job(0).SetCount(t * t);
    h.now = base + t * 1000;
    h.run.OnStatusTick();
  }
  EXPECT_EQ(h.run.sampleCount, kSampleRing);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.1f    ", (150.0 * 150 - 51 * 51) * 1000.0 / 99000);
  EXPECT_EQ(h.run.lastRateText, expected);
  EXPECT_EQ(h.run.lastRateText, "201.0    ");
}

TEST(RunSupervision, FirstStopPausesAndSecondEnds) {
  TempDir dir;
  Harness h(SummaryFile(dir, 3), 2);
  h.run.OnStart();
  h.now = 1000;
  h.run.OnStatusTick();
  h.Job(1).SetCount(4);
  h.NewEvents();
  EXPECT_TRUE(h.run.CanStop());
  EXPECT_FALSE(h.run.CanStart());

  h.now = 5000;
  h.run.OnStop();
  EXPECT_EQ(h.NewEvents(), (Lines{"pause 0", "pause 1"}));
  EXPECT_EQ(h.run.runState, RunPaused);
  EXPECT_EQ(h.run.jobsCreated, 1);

  h.now = 9000;
  h.run.OnStop();
  // Job 2 was never started and gets no command.
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 0", "stop 1"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_TRUE(h.run.jobs.empty());
  EXPECT_EQ(h.run.runState, RunNone);
  EXPECT_EQ(h.run.periodStart, 0u);
  EXPECT_EQ(h.run.accumulatedTime, 0u);
  EXPECT_EQ(h.run.lastRun.valid, 1);
  EXPECT_EQ(h.run.lastRun.solutions, (std::vector<uint32_t>{0, 4, 0}));
  EXPECT_EQ(h.run.lastRun.started, (std::vector<int32_t>{1, 1, 0}));
  EXPECT_EQ(h.run.lastRun.elapsed, 5000u);  // run from 0 to the pause at 5 s
  EXPECT_TRUE(h.run.CanStart());

  h.run.OnStop();  // no table: nothing happens
  EXPECT_TRUE(h.NewEvents().empty());
  h.run.OnStatusTick();
  EXPECT_EQ(h.run.pastTimeText, "0");
  EXPECT_EQ(h.run.solutionsText, "0");
}

TEST(RunSupervision, StopSequenceEndsAFinishedRunAtOnce) {
  TempDir dir;
  Harness h(SummaryFile(dir, 2), 2);
  h.run.OnStart();
  h.run.OnStatusTick();
  h.Job(0).Finish();
  h.Job(1).Finish();
  h.NewEvents();
  h.run.StopSequence();
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 0", "stop 1"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
}

TEST(RunSupervision, FailedStopKeepsTheTableUntilARetrySucceeds) {
  TempDir dir;
  Harness h(SummaryFile(dir, 3), 3);
  h.run.OnStart();
  h.run.OnStatusTick();
  h.run.OnPause();
  h.NewEvents();
  h.script.stopResult[1] = 2;
  h.run.OnStop();
  // Every job is sent Stop even after one failed; the table stays.
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 0", "stop 1", "stop 2"}));
  EXPECT_EQ(h.run.jobsCreated, 1);
  EXPECT_EQ(h.run.runState, RunPaused);
  h.script.stopResult[1] = 0;
  h.run.OnStop();
  // The jobs that stopped the first time are idle and are not asked again.
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 1"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
}

TEST(RunSupervision, FailedStartStopsTheWholeRun) {
  TempDir dir;
  Harness h(SummaryFile(dir, 3), 3);
  h.script.startResult[1] = 1;
  h.run.OnStart();
  h.NewLines();
  h.run.pastTimeText = "before";
  h.now = 1000;
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_EQ(h.NewLines(), (Lines{"==> Thread(0) Started ==> 1 Threads Running",
                                 "==> Error on starting Thread(1)"}));
  // The complete stop sequence: the running job is paused, then stopped; job 2 never
  // received a command.
  EXPECT_EQ(h.NewEvents(), (Lines{"start 0", "start 1", "pause 0", "stop 0"}));
  EXPECT_EQ(h.run.jobsCreated, 0);
  EXPECT_EQ(h.run.failedJob, 1);
  EXPECT_EQ(h.run.pastTimeText, "before");  // that tick updates no text
  EXPECT_EQ(h.run.lastRun.started, (std::vector<int32_t>{1, 0, 0}));

  // A new Start forgets the failure.
  h.script.startResult.clear();
  h.run.OnStart();
  EXPECT_EQ(h.run.failedJob, -1);
}

TEST(RunSupervision, FinishedNoticeBeepsOnceAndFreezesTheTime) {
  TempDir dir;
  Harness h(SummaryFile(dir, 3), 2);
  h.run.OnStart();
  h.run.OnThreadNotify(2, 0);  // nothing finished yet
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
  h.run.OnThreadNotify(1, 0);  // no meaning
  EXPECT_EQ(h.beeps, 0);
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
  EXPECT_EQ(h.run.ElapsedTime(h.now), 2600u);
  EXPECT_EQ(h.NewEvents(), (Lines{"stop 2"}));  // the tick retires the last job
  // Stop after the end needs no pause first: one Stop ends the run.
  h.run.OnStop();
  EXPECT_TRUE(h.NewEvents().empty());
  EXPECT_EQ(h.run.jobsCreated, 0);
  h.run.OnThreadNotify(2, 0);  // no table
  EXPECT_EQ(h.beeps, 1);
}

TEST(RunSupervision, WithoutATableTheTimeAndTotalShowZero) {
  TempDir dir;
  Harness h(SummaryFile(dir, 1), 1);
  h.run.completeRateText = "12.5    ";
  h.run.lastRateText = "3.0    ";
  // The window is repainted on every third tick, counted from the first.
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_TRUE(h.run.OnStatusTick());
  EXPECT_FALSE(h.run.OnStatusTick());
  EXPECT_EQ(h.run.pastTimeText, "0");
  EXPECT_EQ(h.run.solutionsText, "0");
  EXPECT_EQ(h.run.completeRateText, "12.5    ");
  EXPECT_EQ(h.run.lastRateText, "3.0    ");
  EXPECT_FALSE(h.run.CanStop());
  EXPECT_TRUE(h.run.CanLoadConfig());
}

TEST(RunSupervision, WorkerTextsAreAppendedUnchanged) {
  TempDir dir;
  Harness h(SummaryFile(dir, 1), 1);
  h.run.OnMessage(PuzzleMessage{WM_PUZZLE_LOG, 1, 0, "50% of %s %d"});
  EXPECT_EQ(h.log.text(), "::> 50% of %s %d\r\n::> ");
  h.run.OnMessage(PuzzleMessage{WM_PUZZLE_LOG, 0, 0, "no end %n"});
  EXPECT_EQ(h.log.text(), "::> 50% of %s %d\r\n::> no end %n");
}

}  // namespace
}  // namespace quaderix
