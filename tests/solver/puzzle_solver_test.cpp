// Set-up, stepping and teardown of one job's solver, with known answers from the built-in
// puzzle and from puzzles small enough to count by hand.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solver/reference_solver.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

TEST(SolverBuiltIn, JobZeroEndsAfterItsFirstStepWithNothingPlaced) {
  // The flat plus has no placement on the corner where the fill order starts, and the
  // next stone that has one lies beyond the job's range.
  ReferenceSolver solver(0, 0, "", "");
  ASSERT_EQ(solver.Setup(0, 0, "", ""), 1);
  EXPECT_EQ(solver.useFile, 0);
  ASSERT_EQ(solver.Step(), 0);
  EXPECT_EQ(solver.searchMode, ModeDone);
  EXPECT_EQ(solver.depth, 0);
  EXPECT_EQ(StepToEnd(solver).size(), 1u);  // the step after only raises `finished`
  EXPECT_EQ(solver.SolutionCount(), 0u);
}

TEST(SolverBuiltIn, JobsBeyondTheBoundAreFinishedRightAfterSetup) {
  // 12 stone types less 4 symmetry positions: job 8 is the last with anything to search.
  for (int job = 8; job <= 11; ++job) {
    SCOPED_TRACE(job);
    ReferenceSolver solver(job, job, "", "");
    ASSERT_EQ(solver.Setup(job, job, "", ""), 1);
    EXPECT_EQ(solver.finished, job > 8 ? 1 : 0);
    EXPECT_EQ(solver.grid.empty(), job > 8);
    EXPECT_EQ(solver.cellOrder.empty(), job > 8);
    if (job > 8) {
      EXPECT_EQ(solver.Step(), 0);
      EXPECT_EQ(solver.SolutionCount(), 0u);
    }
  }
  ReferenceSolver solver(-1, -1, "", "");
  ASSERT_EQ(solver.Setup(-1, 99, "", ""), 1);
  EXPECT_EQ(solver.startStone, 0);
  EXPECT_EQ(solver.endStone, 8);
}

TEST(SolverBuiltIn, FirstStepsKeepTheSearchStateConsistent) {
  // With the isolated-cell check on and twelve types; StepToEnd checks after every step.
  ReferenceSolver solver(1, 1, "", "");
  ASSERT_EQ(solver.Setup(1, 1, "", ""), 1);
  EXPECT_EQ(StepToEnd(solver, 3000).size(), 3000u);
  EXPECT_EQ(solver.firstStone, 1);
}

TEST(SolverSearch, SmallPuzzlesHaveKnownCountsPerJob) {
  PuzzleDescription holesOnly{.xSize = 2, .keys = {0, 0}, .stones = {{kMonocube}}};
  const struct {
    const char* name;
    PuzzleDescription puzzle;
    std::vector<int64_t> counts;
  } cases[] = {
      {"one stone fills the block",
       {.xSize = 2, .ySize = 2, .stones = {{kTetraSquare}}, .symPositions = {{0, 0, 0}}},
       {1}},
      // Copies of one type: each packing once, whichever copy goes first.
      {"two monocubes", {.xSize = 2, .stones = {{kMonocube, 2}}}, {1}},
      {"two dominoes in 2x2", {.xSize = 2, .ySize = 2, .stones = {{kDomino, 2}}}, {2}},
      {"three dominoes in 2x3", {.xSize = 2, .ySize = 3, .stones = {{kDomino, 3}}}, {3}},
      {"four dominoes in 2x2x2",
       {.xSize = 2, .ySize = 2, .zSize = 2, .stones = {{kDomino, 4}}},
       {9}},
      // More stone volume than cells: every cell covered with a stone left is a dead end.
      {"three monocubes for two cells",
       {.zSize = 2, .stones = {{kMonocube, 3}}, .edgeZone = 1},
       {0}},
      {"only holes", holesOnly, {0}},
      // Types without copies are never placed, so their jobs find nothing.
      {"types without copies",
       {.xSize = 2, .stones = {{kMonocube, 0}, {kMonocube, 0}, {kDomino}}},
       {0, 0, 1}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SolverJobCounts(dir, c.puzzle), c.counts);
  }
}

TEST(SolverLifecycle, StepAfterTeardownReturnsOneAndTheCountStaysReadable) {
  TempDir dir;
  const std::string path = dir.WriteFile(
      "dominoes.ini", ToIni({.xSize = 2, .ySize = 2, .zSize = 2, .stones = {{kDomino, 4}}}));
  ReferenceSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  StepToEnd(solver);
  solver.Teardown();
  EXPECT_EQ(solver.ready, 0);
  EXPECT_EQ(solver.Step(), 1);
  EXPECT_EQ(solver.SolutionCount(), 9u);
  EXPECT_EQ(solver.finished, 1);
  EXPECT_TRUE(solver.grid.empty());
  solver.Teardown();  // a second teardown frees nothing twice

  // A new set-up on the same solver starts the count afresh and finds the same packings.
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.SolutionCount(), 0u);
  EXPECT_EQ(solver.finished, 0);
  StepToEnd(solver);
  EXPECT_EQ(solver.SolutionCount(), 9u);
}

}  // namespace
}  // namespace quaderix::testing
