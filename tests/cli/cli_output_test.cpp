// The command line's view of a run: log text turned back into plain lines, and the
// status line built from the supervision's texts and job states.

#include "cli/cli_output.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"
#include "threads/run_puzzles.h"

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
  // Text without a line end waits for the line that completes it.
  log.AppendLogText("abc");
  EXPECT_EQ(splitter.pending(), "abc");
  log.AppendLog("def");
  // A line end split over two worker texts, and a prompt-like text inside a line.
  log.AppendRaw("x ::> y\r");
  log.AppendRaw("\nz");
  log.AppendLine("");
  log.AppendLine("");
  EXPECT_EQ(printed, (Lines{"Number of Threads = 12", "abcdef", "x ::> y", "z", ""}));
  EXPECT_EQ(splitter.pending(), "");
}

TEST(StatusLine, ShowsTimeTotalRatesAndJobs) {
  testing::TempDir dir;
  RunLog log;
  QueuedMessageSink sink;
  uint32_t now = 0;
  RunSupervisor run(
      log, sink, [&] { return now; }, [] {},
      [](MessageSink&, int32_t start, int32_t, const std::string&, const std::string&) {
        return std::make_unique<testing::InstantJob>(start);
      });
  Settings settings;
  settings.maxThreads = 2;
  settings.configFileName = dir.WriteFile("p.ini", "[StoneInfo]\nStoneCount=4\n");
  run.ApplySettings(settings);
  run.OnStart();
  now = 1000;
  run.OnStatusTick();  // starts jobs 0 and 1
  auto job = [&](int i) -> testing::InstantJob& {
    return static_cast<testing::InstantJob&>(*run.jobs[i]);
  };
  job(0).SetCount(30);
  job(1).SetCount(20);
  job(1).Finish();
  now = 2000;
  run.OnStatusTick();  // retires job 1, starts job 2
  job(2).Finish();
  EXPECT_EQ(FormatStatusLine(run),
            "0h 0min    2sec (running) | 50 solutions | 25.0/s, recent 50.0/s | jobs: 1 running, "
            "2 finished, 1 waiting");
}

}  // namespace
}  // namespace quaderix
