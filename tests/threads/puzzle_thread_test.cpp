// The job controller on real worker threads: which commands each state takes, the reports
// posted, time-outs and withdrawals, and the end of a worker whose Start gave up while it
// was still setting up. Runs under ThreadSanitizer as well.

#include "threads/puzzle_thread.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
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
using Lines = std::vector<std::string>;

// What one worker after another posted, in order: the finished notice as "notice 2", and
// the state reports with their thread id checked and replaced by "T". Each report must
// come from the worker that posted the last "is running", never from the test's thread.
struct Inbox {
  QueuedMessageSink sink;
  Lines seen;
  long worker = 0;

  const Lines& Seen() {
    const std::string head = "State info (";
    for (const PuzzleMessage& m : sink.Drain()) {
      const size_t close = m.text.find(")-> Puzzle ");
      if (m.message == WM_PUZZLE_NOTIFY) {
        seen.push_back("notice " + std::to_string(m.wParam));
      } else if (m.text.starts_with(head) && close != std::string::npos &&
                 m.text.find_first_not_of("0123456789", head.size()) == close) {
        const long id = std::stol(m.text.substr(head.size()));
        const std::string what = m.text.substr(close + 11);
        if (what == "is running") worker = id;
        EXPECT_EQ(id, worker) << m.text;
        EXPECT_NE(id, static_cast<long>(gettid()));
        seen.push_back("T " + what);
      } else {
        seen.push_back(m.text);
      }
    }
    return seen;
  }
};

// A controller whose set-up waits at a gate the test opens and then takes `delayMs` more,
// so that Start can time out while the worker is still in Setup.
class SlowSetupThread : public PuzzleThread {
 public:
  SlowSetupThread(MessageSink& sink, const std::string& path, int delayMs = 0)
      : PuzzleThread(sink, 0, 0, path, ""), delayMs_(delayMs) {}
  ~SlowSetupThread() override { EndWorker(); }

  std::atomic<bool> gateOpen{false};
  // Shared so that it can be read after the controller is gone.
  std::shared_ptr<std::atomic<bool>> setupReturned = std::make_shared<std::atomic<bool>>(false);

 protected:
  int SetupSolver() override {
    while (!gateOpen.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
    const int result = PuzzleThread::SetupSolver();
    setupReturned->store(true);
    return result;
  }

 private:
  const int delayMs_;
};

int Send(PuzzleThread& job, const std::string& command) {
  if (command == "Start") return job.Start(1000);
  if (command == "Pause") return job.Pause(1000);
  if (command == "Continue") return job.Continue(1000);
  if (command == "Stop") return job.Stop(1000);
  return job.PostCommand(CommandNone, 1000);
}

TEST(PuzzleThread, CommandsAreTakenOrRefusedByState) {
  TempDir dir;
  const std::string endless = dir.WriteFile("endless.ini", testing::EndlessPuzzle());
  Inbox quiet;
  QueuedMessageSink sink;
  {
    PuzzleThread never(quiet.sink, 0, 0, "", "");
    PuzzleThread failed(quiet.sink, 0, 0, dir.WriteFile("bad.ini", testing::MissingRowPuzzle()),
                        "");
    PuzzleThread finished(sink, 0, 0, dir.WriteFile("line.ini", testing::LinePuzzle()), "");
    PuzzleThread running(sink, 0, 0, endless, "");
    PuzzleThread paused(sink, 0, 0, endless, "");

    // The time-out is a minute; a failed set-up is refused without waiting for it.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(failed.Start(60000), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_NE(failed.solver.setupError.message.find("YZLine_01_00"), std::string::npos);
    ASSERT_EQ(finished.Start(10000), 0);
    ASSERT_EQ(running.Start(10000), 0);
    // Start returns once the worker has taken the command, and the state is already set.
    EXPECT_EQ(running.GetState(), StateRunning);
    ASSERT_EQ(paused.Start(10000), 0);
    ASSERT_EQ(paused.Pause(5000), 0);
    ASSERT_TRUE(WaitFor([&] { return finished.GetState() == StateFinished; }));

    struct Case {
      PuzzleThread& job;
      int32_t state;
      const char* command;  // "None" is PostCommand(CommandNone)
      int expected;
    };
    const Case cases[] = {
        {never, StateIdle, "Stop", 1},
        {never, StateIdle, "Pause", 1},
        {never, StateIdle, "Continue", 1},
        {never, StateIdle, "None", 0},
        {failed, StateFailed, "Start", 1},
        {failed, StateFailed, "Stop", 1},
        {failed, StateFailed, "Pause", 1},
        {failed, StateFailed, "Continue", 1},
        {failed, StateFailed, "None", 1},
        {finished, StateFinished, "Pause", 0},
        {finished, StateFinished, "Continue", 0},
        {finished, StateFinished, "Start", 1},
        {running, StateRunning, "Start", 1},
        {running, StateRunning, "Continue", 1},
        {paused, StatePaused, "Start", 1},
        {paused, StatePaused, "Pause", 1},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.command) + " in state " + std::to_string(c.state));
      EXPECT_EQ(Send(c.job, c.command), c.expected);
      // Refused or nothing to do: no command is left in the word and the state stands.
      EXPECT_EQ(c.job.command.load(), CommandNone);
      EXPECT_EQ(c.job.GetState(), c.state);
    }
    EXPECT_TRUE(WaitFor([&] { return !failed.WorkerRunning(); }));
    EXPECT_FALSE(never.WorkerRunning());
  }
  EXPECT_TRUE(quiet.Seen().empty());
  // Destroying a job that was never stopped stops its worker first, in every state.
  size_t stopped = 0;
  for (const PuzzleMessage& m : sink.Drain()) stopped += m.text.ends_with("has stopped");
  EXPECT_EQ(stopped, 3u);
}

TEST(PuzzleThread, FinishedJobNoticesOnceAndStopsWithItsCount) {
  TempDir dir;
  const std::string output = dir.PathOf("out_00.txt");
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, dir.WriteFile("line.ini", testing::LinePuzzle()), output);
  // Idle again after Stop, the job runs a second time, its set-up starting the count anew.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(job.Start(10000), 0);
    ASSERT_TRUE(WaitFor([&] { return job.GetState() == StateFinished; }));
    // The finished worker waits in steps of 100 ms; several must not repeat the notice.
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(inbox.Seen(), (Lines{"T is running", "T has finished", "notice 2"}));
    ASSERT_EQ(job.Stop(10000), 0);
    // Stop returns once the worker is idle, its tables freed and its count still there.
    EXPECT_EQ(job.GetState(), StateIdle);
    EXPECT_EQ(job.solver.ready, 0);
    EXPECT_EQ(job.GetSolutionCount(), 2u);
    EXPECT_EQ(inbox.Seen().back(), "T has stopped");
    EXPECT_EQ(testing::ReadAll(output), testing::kLineJob0Records);
    inbox.seen.clear();
  }
}

TEST(PuzzleThread, RunningJobPausesContinuesAndStops) {
  TempDir dir;
  const std::string output = dir.PathOf("endless_00.txt");
  Inbox inbox;
  PuzzleThread job(inbox.sink, 0, 0, dir.WriteFile("endless.ini", testing::EndlessPuzzle()),
                   output);
  ASSERT_EQ(job.Start(10000), 0);
  ASSERT_EQ(job.Pause(5000), 0);
  EXPECT_EQ(job.GetState(), StatePaused);
  // A paused worker takes a second Pause only to report it as ignored, and counts nothing.
  EXPECT_EQ(job.PostCommand(CommandPause, 5000), 0);
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
  EXPECT_TRUE(WaitFor([&] { return job.GetSolutionCount() > pausedCount + 1000; }, 20000));

  ASSERT_EQ(job.Stop(10000), 0);
  EXPECT_EQ(job.GetState(), StateIdle);
  const uint32_t finalCount = job.GetSolutionCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(job.GetSolutionCount(), finalCount);
  EXPECT_EQ(inbox.Seen(), (Lines{"T is running", "T has paused", "Command(2) ignored",
                                 "T is running", "T has stopped"}));
  // Solution 1 and every 1000th were written whole before the stop.
  const std::string records = testing::ReadAll(output);
  EXPECT_EQ(testing::Occurrences(records, "Solution : "), 1 + finalCount / 1000);
  EXPECT_TRUE(records.ends_with("__ENDBLOCK;\r\n\r\n"));
}

TEST(PuzzleThread, StartTimingOutDuringSetupLeavesNoWorkerRunning) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::EndlessPuzzle());
  Inbox inbox;
  SlowSetupThread job(inbox.sink, path);
  EXPECT_EQ(job.Start(150), 2);
  EXPECT_EQ(job.command.load(), CommandNone);
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_TRUE(job.WorkerRunning());
  // Leaving Setup, the worker finds no CommandStart: it tears down and ends unseen.
  job.gateOpen = true;
  EXPECT_TRUE(WaitFor([&] { return !job.WorkerRunning(); }));
  EXPECT_TRUE(job.setupReturned->load());
  EXPECT_EQ(job.GetState(), StateIdle);
  EXPECT_EQ(job.solver.ready, 0);
  EXPECT_TRUE(inbox.Seen().empty());
  // A later Start runs the job normally.
  ASSERT_EQ(job.Start(10000), 0);
  EXPECT_EQ(job.Stop(10000), 0);
  EXPECT_EQ(inbox.Seen(), (Lines{"T is running", "T has stopped"}));

  // Destroying a job whose worker is still in Setup waits for it: the worker uses the
  // object to the last, so returning earlier would leave it running on freed memory.
  auto slow = std::make_unique<SlowSetupThread>(inbox.sink, path);
  const auto returned = slow->setupReturned;
  EXPECT_EQ(slow->Start(100), 2);
  std::thread opener([gate = &slow->gateOpen] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    gate->store(true);
  });
  slow.reset();
  EXPECT_TRUE(returned->load());
  opener.join();
  EXPECT_EQ(inbox.Seen().size(), 2u);
}

TEST(PuzzleThread, StartRacingItsTimeOutEitherRunsOrLeavesNoTrace) {
  TempDir dir;
  const std::string path = dir.WriteFile("endless.ini", testing::EndlessPuzzle());
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    Inbox inbox;
    // Set-up times around the time-out, so that the worker often takes CommandStart near
    // the moment Start withdraws it.
    SlowSetupThread job(inbox.sink, path, (round % 6) * 4);
    job.gateOpen = true;
    const int result = job.Start(10);
    if (result == 0) {
      EXPECT_EQ(job.GetState(), StateRunning);
      EXPECT_EQ(job.Stop(10000), 0);
      EXPECT_EQ(inbox.Seen(), (Lines{"T is running", "T has stopped"}));
    } else {
      ASSERT_EQ(result, 2);
      EXPECT_TRUE(WaitFor([&] { return !job.WorkerRunning(); }));
      EXPECT_EQ(job.GetState(), StateIdle);
      EXPECT_TRUE(inbox.Seen().empty());
    }
  }
}

}  // namespace
}  // namespace quaderix
