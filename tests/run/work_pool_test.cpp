// The pool on tree models: for any number of workers and any cutting, every job counts
// and writes exactly what its serial search does; Pause holds every worker and loses
// nothing; Stop leaves every file a whole-record prefix of the serial one; a pool resumed
// from its checkpoints ends as the serial search.

#include "run/work_pool.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "run/tree_model.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;
using testing::TreeModel;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ModelBuilder Serve(std::shared_ptr<TreeModel> model, int* builds = nullptr) {
  return [model, builds](const std::string&, bool, SetupError*) {
    if (builds) ++*builds;
    return std::shared_ptr<const RunModel>(model);
  };
}

// Waits on the test's thread for a started pool to report its end.
PoolSnapshot WaitForEnd(WorkPool& pool, QueuedMessageSink& sink) {
  for (int i = 0; i < 20000; ++i) {
    for (const PuzzleMessage& m : sink.Drain()) {
      if (m.message == WM_PUZZLE_NOTIFY && m.wParam == 2) {
        pool.Stop();
        return pool.Snapshot();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "the pool did not finish";
  pool.Stop();
  return pool.Snapshot();
}

TEST(WorkPool, EveryJobCountsAndWritesWhatItsSerialSearchDoes) {
  struct Case {
    int32_t workers;
    int32_t maxCutDepth;
    double maxUnitShare;
    int32_t everyN;
    int32_t depth;
  };
  const Case cases[] = {
      {1, 0, 0, 1, 9},       // one unit per job: the serial search itself
      {2, 8, 0, 1, 9},       // adaptive cutting to 1/200 of a job
      {3, 2, 0, 3, 9},       // cut two levels deep, every third packing written
      {7, 8, 0.001, 4, 10},  // many small units on more workers than cores
      {7, 12, 0.5, 1, 3},    // cuts reach the packings: some come out of the cutting
      {2, 8, 0, 0, 9},       // nothing written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.workers << " workers, depth " << c.maxCutDepth);
    TempDir dir;
    auto model = std::make_shared<TreeModel>(5, c.depth, c.everyN);
    QueuedMessageSink sink;
    int builds = 0;
    PoolOptions options{c.workers, c.maxUnitShare, c.maxCutDepth, dir.PathOf("sol")};
    WorkPool pool(sink, Serve(model, &builds), "puzzle.ini", options);
    EXPECT_TRUE(pool.Start());
    const PoolSnapshot s = WaitForEnd(pool, sink);
    EXPECT_EQ(builds, 1);
    ASSERT_EQ(s.jobs.size(), 5u);
    for (int32_t j = 0; j < 5; ++j) {
      const auto [count, records] = model->SerialRecords(j);
      EXPECT_EQ(s.jobs[j].solutions, count) << "job " << j;
      EXPECT_EQ(ReadAll(OutputFileName(dir.PathOf("sol"), j)), records) << "job " << j;
      EXPECT_TRUE(s.jobs[j].complete);
      EXPECT_EQ(s.jobs[j].outputFailures, 0u);
    }
    if (c.maxCutDepth == 0) {
      EXPECT_EQ(s.unitCount, 5);
    }
  }
}

TEST(WorkPool, PauseHoldsEveryWorkerAndContinueLosesNothing) {
  TempDir dir;
  auto model = std::make_shared<TreeModel>(3, 12, 1);
  // One delayed step per slice: a worker parks after at most one sleep, which on a loaded
  // machine can last far longer than asked, so Pause does not wait out a slice of them.
  model->stepDelayUs = 50;
  model->sliceSteps = 1;
  QueuedMessageSink sink;
  WorkPool pool(sink, Serve(model), "", PoolOptions{3, 0, 8, dir.PathOf("p")});
  ASSERT_TRUE(pool.Start());
  while (model->steps.load() < 2000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(pool.Pause(5000), 0);
    // Once Pause has returned no worker takes another step.
    const uint64_t held = model->steps.load();
    EXPECT_EQ(pool.Snapshot().busyWorkers, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(model->steps.load(), held);
    pool.Continue();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  model->stepDelayUs = 0;
  const PoolSnapshot s = WaitForEnd(pool, sink);
  for (int32_t j = 0; j < 3; ++j) {
    const auto [count, records] = model->SerialRecords(j);
    EXPECT_EQ(s.jobs[j].solutions, count);
    EXPECT_EQ(ReadAll(OutputFileName(dir.PathOf("p"), j)), records);
  }
}

TEST(WorkPool, StopLeavesEveryFileAWholeRecordPrefixOfTheSerialOne) {
  for (const bool paused : {false, true}) {
    TempDir dir;
    auto model = std::make_shared<TreeModel>(2, 12, 1);
    model->stepDelayUs = 50;
    QueuedMessageSink sink;
    WorkPool pool(sink, Serve(model), "", PoolOptions{2, 0, 8, dir.PathOf("s")});
    ASSERT_TRUE(pool.Start());
    // Stopped while units run: once the sizing and cutting are over and some packings found.
    auto found = [&pool] {
      const PoolSnapshot s = pool.Snapshot();
      return s.allCut && !s.jobs.empty() && s.jobs[0].solutions + s.jobs[1].solutions > 0;
    };
    while (!found()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (paused) pool.Pause(5000);
    pool.Stop();
    model->stepDelayUs = 0;
    const PoolSnapshot s = pool.Snapshot();
    EXPECT_FALSE(s.allComplete);
    uint64_t counted = 0;
    for (int32_t j = 0; j < 2; ++j) {
      const auto [count, records] = model->SerialRecords(j);
      const std::string file = ReadAll(OutputFileName(dir.PathOf("s"), j));
      EXPECT_LE(s.jobs[j].solutions, count);
      EXPECT_EQ(records.substr(0, file.size()), file) << "job " << j;
      EXPECT_TRUE(file.empty() || records.size() == file.size() ||
                  records.compare(file.size(), 11, "Solution : ") == 0);
      counted += s.jobs[j].solutions;
    }
    EXPECT_GT(counted, 0u);
  }
}

TEST(WorkPool, StoppedAndResumedFromItsCheckpointsEndsAsTheSerialSearch) {
  // With records a job vouches only for a leading run of units; without, for any
  // finished unit. Each round resumes with another number of workers.
  for (const int32_t everyN : {1, 0}) {
    SCOPED_TRACE(everyN);
    TempDir dir;
    auto model = std::make_shared<TreeModel>(3, 12, everyN);
    model->stepDelayUs = 20;
    std::unique_ptr<Checkpoint> saved;
    for (int32_t round = 0; round < 4; ++round) {
      QueuedMessageSink sink;
      WorkPool pool(sink, Serve(model), "", PoolOptions{1 + round % 3, 0, 8, dir.PathOf("r")});
      if (saved) pool.ResumeFrom(*saved);
      ASSERT_TRUE(pool.Start());
      // Checkpoints taken while the workers run must not disturb them.
      const uint64_t until = model->steps.load() + 1500;
      Checkpoint running;
      while (model->steps.load() < until && !pool.Snapshot().allComplete) {
        pool.TakeCheckpoint(&running);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      pool.Stop();
      saved = std::make_unique<Checkpoint>();
      ASSERT_TRUE(pool.TakeCheckpoint(saved.get()));
    }
    model->stepDelayUs = 0;
    QueuedMessageSink sink;
    WorkPool pool(sink, Serve(model), "", PoolOptions{2, 0, 8, dir.PathOf("r")});
    pool.ResumeFrom(*saved);
    ASSERT_TRUE(pool.Start());
    const PoolSnapshot s = WaitForEnd(pool, sink);
    for (int32_t j = 0; j < 3; ++j) {
      const auto [count, records] = model->SerialRecords(j);
      EXPECT_EQ(s.jobs[j].solutions, count) << "job " << j;
      EXPECT_EQ(ReadAll(OutputFileName(dir.PathOf("r"), j)), records) << "job " << j;
    }
  }
}

TEST(WorkPool, NoJobsAndAModelThatFails) {
  QueuedMessageSink sink;
  WorkPool empty(sink, Serve(std::make_shared<TreeModel>(0, 6, 1)), "", PoolOptions{.workers = 2});
  ASSERT_TRUE(empty.Start());
  EXPECT_TRUE(WaitForEnd(empty, sink).allComplete);

  WorkPool failing(
      sink,
      [](const std::string&, bool, SetupError* error) {
        error->Set(SetupErrorCode::kBadValue, "XSize is 0");
        return std::shared_ptr<const RunModel>();
      },
      "", PoolOptions{.workers = 2});
  ASSERT_TRUE(failing.Start());
  while (failing.Snapshot().phase == PoolSnapshot::Building)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(failing.Snapshot().phase, PoolSnapshot::Failed);
  EXPECT_EQ(failing.Snapshot().error, "XSize is 0");
}

TEST(WorkPool, SimulatedWallTimeTakesTasksInOrderAfterTheirJobsCutting) {
  // Job 0 cut in 1 s, then its units of 2, 1, 1, 1 s; job 1 cut in 3 s with one unit of 1 s.
  const std::vector<TaskTime> tasks = {{0, true, 1.0},  {1, true, 3.0},  {0, false, 2.0},
                                       {0, false, 1.0}, {0, false, 1.0}, {0, false, 1.0},
                                       {1, false, 1.0}};
  struct Case {
    int32_t workers;
    double wall;
  };
  // 1: all in a row. 2: the second worker cuts job 1 until 3 s while the first runs job
  // 0's units from 1 s. 4 and more: job 1's unit waits for its cutting until 3 s.
  const Case cases[] = {{1, 10.0}, {2, 5.0}, {3, 4.0}, {4, 4.0}, {256, 4.0}};
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(SimulatedWallTime(tasks, c.workers), c.wall) << c.workers;
  }
}

}  // namespace
}  // namespace quaderix
