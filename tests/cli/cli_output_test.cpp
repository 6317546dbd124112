// The command line's view of a run: log text turned back into plain lines, and the
// status line built from the supervision's texts and job states.

#include "cli/cli_output.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using Lines = std::vector<std::string>;

TEST(LogLineSplitter, GivesEachLogLineWithoutPrompt) {
  RunLog log;
  LogLineSplitter splitter;
  Lines printed;
  log.SetListener([&](const std::string& added) {
    for (const std::string& line : splitter.Feed(added)) printed.push_back(line);
  });
  log.AppendLog("Number of Threads = %d", 12);
  EXPECT_EQ(printed, (Lines{"Number of Threads = 12"}));
  // Text without a line end waits for the line that completes it.
  log.AppendLogText("abc");
  EXPECT_EQ(printed.size(), 1u);
  EXPECT_EQ(splitter.pending(), "abc");
  log.AppendLog("def");
  EXPECT_EQ(printed, (Lines{"Number of Threads = 12", "abcdef"}));
  // A line end split over two worker texts, and a prompt-like text inside a line.
  log.AppendRaw("x ::> y\r");
  log.AppendRaw("\nz");
  log.AppendLine("");
  EXPECT_EQ(printed, (Lines{"Number of Threads = 12", "abcdef", "x ::> y", "z"}));
  EXPECT_EQ(splitter.pending(), "");
  log.AppendLine("");
  EXPECT_EQ(printed.back(), "");
}

// A job without a worker whose state the test sets; Start and Stop act at once.
class StillJob : public PuzzleThreadBase {
 public:
  explicit StillJob(int32_t i) : PuzzleThreadBase(i, i, "", "") {}
  int Start(uint32_t) override {
    state.store(StateRunning);
    return 0;
  }
  int Stop(uint32_t) override {
    state.store(StateIdle);
    return 0;
  }
  void PostText(std::string) override {}
  void PostLine(std::string) override {}
  void PostNotify() override {}
};

TEST(StatusLine, ShowsTimeTotalRatesAndJobs) {
  testing::TempDir dir;
  RunLog log;
  QueuedMessageSink sink;
  uint32_t now = 0;
  RunSupervisor run(
      log, sink, [&] { return now; }, [] {},
      [](MessageSink&, int32_t start, int32_t, const std::string&, const std::string&) {
        return std::make_unique<StillJob>(start);
      });
  Settings settings;
  settings.maxThreads = 2;
  settings.configFileName = dir.WriteFile("p.ini", "[StoneInfo]\nStoneCount=4\n");
  run.ApplySettings(settings);
  run.OnStart();
  now = 1000;
  run.OnStatusTick();  // starts jobs 0 and 1
  static_cast<StillJob&>(*run.jobs[0]).solver.solutionCount.store(30);
  static_cast<StillJob&>(*run.jobs[1]).solver.solutionCount.store(20);
  run.jobs[1]->state.store(StateFinished);
  now = 2000;
  run.OnStatusTick();  // retires job 1, starts job 2
  run.jobs[2]->state.store(StateFinished);
  EXPECT_EQ(CountJobs(run).running, 1);
  EXPECT_EQ(CountJobs(run).finished, 2);
  EXPECT_EQ(CountJobs(run).waiting, 1);
  EXPECT_EQ(FormatStatusLine(run),
            "0h 0min    2sec (running) | 50 solutions | 25.0/s, recent 50.0/s | jobs: 1 running, "
            "2 finished, 1 waiting");
}

}  // namespace
}  // namespace quaderix
