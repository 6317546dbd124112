// The command line's view of a run: log text turned back into plain lines, and the
// status line built from the supervision's texts and job states.

#include "cli/cli_output.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"
#include "support/run_puzzles.h"

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

TEST(StatusLine, ShowsTimeTotalRatesJobsWorkersAndProgress) {
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run(
      log, sink, [] { return 0u; }, [] {}, nullptr);
  run.pastTimeText = "0h 0min    2sec (running)    ";
  run.solutionsText = "50    ";
  run.completeRateText = "25.0    ";
  run.lastRateText = "50.0    ";
  EXPECT_EQ(FormatStatusLine(run),
            "0h 0min    2sec (running) | 50 solutions | 25.0/s, recent 50.0/s | setting up");
  run.jobs = {{1, 1, 20}, {1, 0, 30}, {0, 0, 0}, {0, 0, 0}};
  run.progressText = "37 % \xC2\xB7 about 4 min left";
  EXPECT_EQ(FormatStatusLine(run),
            "0h 0min    2sec (running) | 50 solutions | 25.0/s, recent 50.0/s | jobs: 1 running, "
            "1 finished, 2 waiting | 0 busy workers | 37 % \xC2\xB7 about 4 min left");
}

}  // namespace
}  // namespace quaderix
