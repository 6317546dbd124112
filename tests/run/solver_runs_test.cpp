// Whole runs of the pool on the real search, against the reference solver searching each
// job alone: the same counts and the same output files byte for byte, for puzzles with
// holes, copies, symmetry positions and the pre-check, cut in several ways and searched by
// 1 to 7 workers. A puzzle file rewritten during a run changes nothing.

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "run/solver_engine.h"
#include "run/work_pool.h"
#include "solver/cross_check_puzzles.h"
#include "solver/reference_solver.h"
#include "support/run_puzzles.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each job of `puzzle` searched alone by the reference solver, writing "<base>_jj.txt".
std::vector<uint64_t> SerialCounts(const std::string& puzzle, const std::string& base,
                                   int32_t jobs) {
  std::vector<uint64_t> counts;
  for (int32_t j = 0; j < jobs; ++j) {
    ReferenceSolver solver(j, j, puzzle, OutputFileName(base, j));
    EXPECT_EQ(solver.Setup(j, j, puzzle, OutputFileName(base, j)), 1);
    while (!solver.finished) solver.Step();
    counts.push_back(solver.SolutionCount());
  }
  return counts;
}

PoolSnapshot RunPool(const std::string& puzzle, const PoolOptions& options,
                     const std::function<void()>& onceBuilt = nullptr) {
  QueuedMessageSink sink;
  WorkPool pool(sink, SolverModelBuilder(), puzzle, options);
  EXPECT_TRUE(pool.Start());
  bool built = false;
  for (int i = 0; i < 60000; ++i) {
    if (!built && pool.Snapshot().phase != PoolSnapshot::Building) {
      built = true;
      if (onceBuilt) onceBuilt();
    }
    for (const PuzzleMessage& m : sink.Drain()) {
      if (m.message == WM_PUZZLE_NOTIFY && m.wParam == 2) {
        pool.Stop();
        return pool.Snapshot();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ADD_FAILURE() << "the run did not end";
  pool.Stop();
  return pool.Snapshot();
}

TEST(SolverRuns, EveryJobCountsAndWritesWhatTheSerialSearchDoes) {
  struct Cut {
    int32_t workers;
    int32_t maxCutDepth;
    double maxUnitShare;
  };
  // One unit per job; the usual adaptive cut; two levels only; many tiny units.
  const Cut cuts[] = {{1, 0, 0}, {2, 8, 0}, {3, 2, 0}, {7, 12, 0.002}};
  for (testing::NamedPuzzle named : testing::CrossCheckPuzzles()) {
    SCOPED_TRACE(named.name);
    TempDir dir;
    named.puzzle.writeEveryNSolution = named.name == "SomaCube" ? 7 : 1;
    const std::string puzzle = dir.WriteFile("p.ini", testing::ToIni(named.puzzle));
    const int32_t jobs = named.puzzle.StoneCount();
    const std::vector<uint64_t> counts = SerialCounts(puzzle, dir.PathOf("serial"), jobs);
    for (const Cut& cut : cuts) {
      SCOPED_TRACE(cut.workers);
      const PoolSnapshot s =
          RunPool(puzzle, {cut.workers, cut.maxUnitShare, cut.maxCutDepth, dir.PathOf("pool")});
      ASSERT_EQ(s.jobs.size(), static_cast<size_t>(jobs));
      for (int32_t j = 0; j < jobs; ++j) {
        EXPECT_EQ(s.jobs[j].solutions, counts[j]) << "job " << j;
        EXPECT_EQ(ReadAll(OutputFileName(dir.PathOf("pool"), j)),
                  ReadAll(OutputFileName(dir.PathOf("serial"), j)))
            << "job " << j;
      }
    }
  }
}

TEST(SolverRuns, APuzzleFileRewrittenDuringARunChangesNothing) {
  TempDir dir;
  const std::string puzzle = dir.WriteFile("soma.ini", testing::SomaCube());
  const std::vector<uint64_t> counts = SerialCounts(puzzle, "", 7);
  testing::PuzzleDescription other = testing::SomaPuzzle();
  other.symPositions.resize(1);
  const PoolSnapshot s =
      RunPool(puzzle, {.workers = 2}, [&] { dir.WriteFile("soma.ini", testing::ToIni(other)); });
  ASSERT_EQ(s.jobs.size(), 7u);
  for (int32_t j = 0; j < 7; ++j) EXPECT_EQ(s.jobs[j].solutions, counts[j]) << j;
}

}  // namespace
}  // namespace quaderix
