// The job controller on real worker threads: the acceptance of the commands by state,
// the reports it posts, time-outs and withdrawals, and the end of a worker whose Start
// gave up while it was still setting up. Runs under ThreadSanitizer as well.

#include "threads/puzzle_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_files.h"
#include "threads/run_puzzles.h"

namespace quaderix {
namespace {

using testing::TempDir;
using testing::WaitFor;

// Collects what the workers post, in order.
struct Inbox {
  QueuedMessageSink sink;
  std::vector<PuzzleMessage> seen;

  void Pull() {
    for (PuzzleMessage& m : sink.Drain()) seen.push_back(std::move(m));
  }
  std::vector<std::string> Lines() {
    Pull();
    std::vector<std::string> lines;
    for (const PuzzleMessage& m : seen) {
      if (m.message == WM_PUZZLE_LOG && m.wParam == 1) lines.push_back(m.text);
    }
    return lines;
  }
  int Notices(uintptr_t wParam) {
    Pull();
    int n = 0;
    for (const PuzzleMessage& m : seen) {
      if (m.message == WM_PUZZLE_NOTIFY && m.wParam == wParam && m.lParam == 0) ++n;
    }
    return n;
  }
};

// The thread id in a state report, or -1 when the text is not one.
long ReportThread(const std::string& text, const std::string& what) {
  const std::string head = "State info (";
  const std::string tail = ")-> Puzzle " + what;
  if (text.size() <= head.size() + tail.size() || text.compare(0, head.size(), head) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
    return -1;
  const std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A controller whose set-up waits at a gate the test opens, and may also take a fixed
// extra time, so that Start can time out while the worker is still in Setup.
class SlowSetupThread : public PuzzleThread {
 public:
  SlowSetupThread(MessageSink& sink, const std::string& path, int delayMs = 0,
                  std::atomic<bool>* returned = nullptr)
      : PuzzleThread(sink, 0, 0, path, ""), delayMs_(delayMs), returned_(returned) {}
  ~SlowSetupThread() override { EndWorker(); }

  void Open() { gateOpen_.store(true); }
  bool SetupReturned() const { return setupReturned_.load(); }

 protected:
  int SetupSolver() override {
    while (!gateOpen_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
    const int result = PuzzleThread::SetupSolver();
    setupReturned_.store(true);
    if (returned_) returned_->store(true);
    return result;
  }

 private:
  std::atomic<bool> gateOpen_{false};
  std::atomic<bool> setupReturned_{false};
  const int delayMs_;
  std::atomic<bool>* returned_;
};

// Whether this process may lower a thread's priority at all; some sandboxes refuse it.
bool CanLowerThreadPriority() {
  bool ok = false;
  std::thread probe([&] {
    const id_t tid = static_cast<id_t>(gettid());
    if (setpriority(PRIO_PROCESS, tid, 5) != 0) return;
    errno = 0;
    ok = getpriority(PRIO_PROCESS, tid) == 5 && errno == 0;
  });
  probe.join();
  return ok;
}

TEST(PuzzleThread, FailedSetupIsRefusedAtOnceWithoutAText) {
  TempDir dir;
  const std::string path = dir.WriteFile("broken.ini", testing::kMissingRowPuzzle);
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, path, "");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(job.Start(60000), 1);
  // The time-out is a minute; a refusal must not wait for it.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(job.GetState(), StateFailed);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_NE(job.solver.setupError.message.find("YZLine_01_00"), std::string::npos);

  EXPECT_EQ(job.Start(1000), 1);
  EXPECT_EQ(job.Stop(1000), 1);
  EXPECT_EQ(job.Pause(1000), 1);
  EXPECT_EQ(job.Continue(1000), 1);
  EXPECT_EQ(job.PostCommand(CommandNone, 1000), 1);
  EXPECT_TRUE(WaitFor([&] { return !job.WorkerRunning(); }));
  inbox.Pull();
  EXPECT_TRUE(inbox.seen.empty());
}

TEST(PuzzleThread, NeverStartedRefusesEveryCommandButNone) {
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, "", "");
  EXPECT_EQ(job.Stop(1000), 1);
  EXPECT_EQ(job.Pause(1000), 1);
  EXPECT_EQ(job.Continue(1000), 1);
  EXPECT_EQ(job.PostCommand(CommandNone, 1000), 0);
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_FALSE(job.WorkerRunning());
  inbox.Pull();
  EXPECT_TRUE(inbox.seen.empty());
}

TEST(PuzzleThread, FinishedJobReportsOnceAndStopsWithItsCount) {
  TempDir dir;
  const std::string path = dir.WriteFile("line.ini", testing::kLinePuzzle);
  const std::string output = dir.PathOf("out_00.txt");
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, path, output);

  ASSERT_EQ(job.Start(10000), 0);
  ASSERT_TRUE(WaitFor([&] { return job.GetState() == StateFinished; }));
  // Nothing to do for a finished worker: taken at once, and no command is written.
  EXPECT_EQ(job.Pause(1000), 0);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.Continue(1000), 0);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.Start(1000), 1);
  EXPECT_EQ(job.GetSolutionCount(), 2u);

  // The finished worker waits in steps of 100 ms; several of them must not repeat the
  // notice.
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  EXPECT_EQ(inbox.Notices(2), 1);
  EXPECT_EQ(inbox.Notices(1), 0);
  std::vector<std::string> lines = inbox.Lines();
  ASSERT_EQ(lines.size(), 2u);
  const long tid = ReportThread(lines[0], "is running");
  EXPECT_GT(tid, 0) << lines[0];
  EXPECT_NE(tid, static_cast<long>(gettid()));
  EXPECT_EQ(ReportThread(lines[1], "has finished"), tid) << lines[1];
  // The notice follows the finished report.
  ASSERT_EQ(inbox.seen.size(), 3u);
  EXPECT_EQ(inbox.seen[2].message, WM_PUZZLE_NOTIFY);
  if (CanLowerThreadPriority()) {
    errno = 0;
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(tid)), 5);
  }

  EXPECT_EQ(job.Stop(10000), 0);
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.solver.ready, 0);
  EXPECT_EQ(job.GetSolutionCount(), 2u);
  lines = inbox.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(ReportThread(lines[2], "has stopped"), tid) << lines[2];
  EXPECT_EQ(ReadAll(output), testing::kLineJob0Records);
  EXPECT_EQ(job.Stop(1000), 1);

  // Idle again, the job can run a second time; its set-up starts the count anew.
  ASSERT_EQ(job.Start(10000), 0);
  ASSERT_TRUE(WaitFor([&] { return job.GetState() == StateFinished; }));
  EXPECT_EQ(job.GetSolutionCount(), 2u);
  EXPECT_EQ(job.Stop(10000), 0);
  EXPECT_EQ(ReadAll(output), testing::kLineJob0Records);
}

TEST(PuzzleThread, EmptyJobRangeFinishesWithoutSolutions) {
  TempDir dir;
  const std::string path = dir.WriteFile("line.ini", testing::kLinePuzzle);
  Inbox inbox;
  // Stone index 5 lies beyond the two types; the solver takes start 0 and end 2, so
  // this job is the whole search: 3 packings.
  PuzzleThread whole(inbox.sink, 5, 5, path, "");
  ASSERT_EQ(whole.Start(10000), 0);
  ASSERT_TRUE(WaitFor([&] { return whole.GetState() == StateFinished; }));
  EXPECT_EQ(whole.GetSolutionCount(), 3u);
  EXPECT_EQ(whole.Stop(10000), 0);
}

TEST(PuzzleThread, RunningJobPausesContinuesAndStops) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  const std::string output = dir.PathOf("endless_00.txt");
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, path, output);

  ASSERT_EQ(job.Start(10000), 0);
  // Start returns once the worker has taken the command, and the state is already set.
  EXPECT_EQ(job.GetState(), StateRunning);
  EXPECT_EQ(job.Start(1000), 1);
  EXPECT_EQ(job.Continue(1000), 1);

  ASSERT_EQ(job.Pause(5000), 0);
  EXPECT_EQ(job.GetState(), StatePaused);
  EXPECT_EQ(job.Pause(1000), 1);
  // A paused worker takes a second Pause only to report it as ignored.
  EXPECT_EQ(job.PostCommand(CommandPause, 5000), 0);
  EXPECT_TRUE(WaitFor([&] {
    const std::vector<std::string> lines = inbox.Lines();
    return !lines.empty() && lines.back() == "Command(2) ignored";
  }));
  EXPECT_EQ(job.GetState(), StatePaused);
  const uint32_t pausedCount = job.GetSolutionCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(job.GetSolutionCount(), pausedCount);

  ASSERT_EQ(job.Continue(5000), 0);
  EXPECT_EQ(job.GetState(), StateRunning);
  // A running worker never takes a value outside the commands: withdrawn after the wait.
  EXPECT_EQ(job.PostCommand(5, 200), 2);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.GetState(), StateRunning);
  EXPECT_EQ(job.PostCommand(CommandNone, 60000), 0);
  EXPECT_TRUE(WaitFor([&] { return job.GetSolutionCount() > pausedCount + 1000; }, 20000));

  ASSERT_EQ(job.Stop(10000), 0);
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_EQ(job.solver.ready, 0);
  const uint32_t finalCount = job.GetSolutionCount();
  EXPECT_GT(finalCount, pausedCount);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(job.GetSolutionCount(), finalCount);

  const std::vector<std::string> lines = inbox.Lines();
  ASSERT_EQ(lines.size(), 5u);
  const long tid = ReportThread(lines[0], "is running");
  EXPECT_GT(tid, 0);
  EXPECT_EQ(ReportThread(lines[1], "has paused"), tid);
  EXPECT_EQ(lines[2], "Command(2) ignored");
  EXPECT_EQ(ReportThread(lines[3], "is running"), tid);
  EXPECT_EQ(ReportThread(lines[4], "has stopped"), tid);
  EXPECT_EQ(inbox.Notices(2), 0);

  // Solution 1 and every 1000th were written whole before the stop.
  const std::string records = ReadAll(output);
  size_t written = 0;
  for (size_t at = records.find("Solution : "); at != std::string::npos;
       at = records.find("Solution : ", at + 1))
    ++written;
  EXPECT_EQ(written, 1 + finalCount / 1000);
  EXPECT_EQ(records.substr(records.size() - 15), "__ENDBLOCK;\r\n\r\n");
}

TEST(PuzzleThread, PausedJobStopsAndReportsOtherCommandsAsIgnored) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, path, "");
  ASSERT_EQ(job.Start(10000), 0);
  ASSERT_EQ(job.Pause(5000), 0);
  EXPECT_EQ(job.PostCommand(CommandStart, 5000), 0);
  EXPECT_EQ(job.PostCommand(7, 5000), 0);
  EXPECT_EQ(job.GetState(), StatePaused);
  EXPECT_EQ(job.Stop(5000), 0);
  EXPECT_EQ(job.GetState(), StateIdle);
  const std::vector<std::string> lines = inbox.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "Command(1) ignored");
  EXPECT_EQ(lines[3], "Command(7) ignored");
  EXPECT_GT(ReportThread(lines[4], "has stopped"), 0) << lines[4];
}

TEST(PuzzleThread, StartTimingOutDuringSetupLeavesNoWorkerRunning) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  Inbox inbox;
  SlowSetupThread job(inbox.sink, path);

  EXPECT_EQ(job.Start(150), 2);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_TRUE(job.WorkerRunning());
  EXPECT_EQ(job.Stop(1000), 1);

  // Leaving Setup, the worker finds no CommandStart: it tears down and ends unseen.
  job.Open();
  EXPECT_TRUE(WaitFor([&] { return !job.WorkerRunning(); }));
  EXPECT_TRUE(job.SetupReturned());
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_EQ(job.solver.ready, 0);
  EXPECT_EQ(job.GetSolutionCount(), 0u);
  inbox.Pull();
  EXPECT_TRUE(inbox.seen.empty());

  // A later Start runs the job normally.
  ASSERT_EQ(job.Start(10000), 0);
  EXPECT_EQ(job.GetState(), StateRunning);
  EXPECT_EQ(job.Stop(10000), 0);
  const std::vector<std::string> lines = inbox.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_GT(ReportThread(lines[0], "is running"), 0);
  EXPECT_GT(ReportThread(lines[1], "has stopped"), 0);
}

TEST(PuzzleThread, DestructionWaitsForAWorkerStillInSetup) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  Inbox inbox;
  std::atomic<bool> setupReturned{false};
  auto job = std::make_unique<SlowSetupThread>(inbox.sink, path, 0, &setupReturned);
  SlowSetupThread* raw = job.get();
  EXPECT_EQ(job->Start(100), 2);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    raw->Open();
  });
  // Blocks until the worker has left Setup and ended; the worker uses the object to the
  // last, so returning earlier would leave it running on freed memory.
  job.reset();
  EXPECT_TRUE(setupReturned.load());
  opener.join();
  inbox.Pull();
  EXPECT_TRUE(inbox.seen.empty());
}

TEST(PuzzleThread, DestroyingAJobNeverStoppedEndsItsWorker) {
  TempDir dir;
  const std::string running = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  const std::string line = dir.WriteFile("line.ini", testing::kLinePuzzle);
  Inbox inbox;
  {
    PuzzleThread a(inbox.sink, 0, 0, running, "");
    PuzzleThread b(inbox.sink, 0, 0, running, "");
    PuzzleThread c(inbox.sink, 0, 0, line, "");
    ASSERT_EQ(a.Start(10000), 0);
    ASSERT_EQ(b.Start(10000), 0);
    ASSERT_EQ(b.Pause(5000), 0);
    ASSERT_EQ(c.Start(10000), 0);
    ASSERT_TRUE(WaitFor([&] { return c.GetState() == StateFinished; }));
  }
  int stopped = 0;
  for (const std::string& text : inbox.Lines()) stopped += ReportThread(text, "has stopped") > 0;
  EXPECT_EQ(stopped, 3);
}

TEST(PuzzleThread, StartRacingItsTimeOutEitherRunsOrLeavesNoTrace) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  int taken = 0;
  int withdrawn = 0;
  for (int round = 0; round < 24; ++round) {
    Inbox inbox;
    // Set-up times around the time-out, so that the worker often takes CommandStart
    // near the moment the window withdraws it.
    SlowSetupThread job(inbox.sink, path, (round % 6) * 4);
    job.Open();
    const int result = job.Start(10);
    if (result == 0) {
      ++taken;
      EXPECT_EQ(job.GetState(), StateRunning) << round;
      EXPECT_EQ(job.Stop(10000), 0) << round;
      EXPECT_EQ(inbox.Lines().size(), 2u) << round;
    } else {
      ASSERT_EQ(result, 2) << round;
      ++withdrawn;
      EXPECT_TRUE(WaitFor([&] { return !job.WorkerRunning(); })) << round;
      EXPECT_EQ(job.GetState(), StateIdle) << round;
      inbox.Pull();
      EXPECT_TRUE(inbox.seen.empty()) << round;
    }
  }
  EXPECT_EQ(taken + withdrawn, 24);
  RecordProperty("taken", taken);
  RecordProperty("withdrawn", withdrawn);
}

}  // namespace
}  // namespace quaderix
