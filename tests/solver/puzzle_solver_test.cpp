// Jobs beyond the bound, and known answers on puzzles small enough to count by hand.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solver/puzzle_solver.h"
#include "solver/reference_solver.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

TEST(SolverBuiltIn, JobsBeyondTheBoundAreFinishedRightAfterSetup) {
  // 12 stone types less 4 symmetry positions: job 8 is the last with anything to search.
  // A start beyond the stones leaves the job empty instead of searching job 0 again.
  const struct {
    int32_t start, end, startStone, endStone, finished;
  } cases[] = {{8, 8, 8, 8, 0},   {9, 9, 9, 8, 1},    {11, 11, 11, 8, 1},
               {-1, 99, 0, 8, 0}, {12, 12, 12, 8, 1}, {40, 40, 40, 8, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + ".." + std::to_string(c.end));
    PuzzleSolver solver(c.start, c.end, "", "");
    ASSERT_EQ(solver.Setup(c.start, c.end, "", ""), 1);
    EXPECT_EQ(solver.startStone, c.startStone);
    EXPECT_EQ(solver.endStone, c.endStone);
    EXPECT_EQ(solver.finished, c.finished);
  }
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
      // Of the 9 domino tilings of 2x2x2, a marked domino is the first stone in 9 and one
      // of the three plain ones in 27; empty types in front only shift the job numbers.
      {"empty types before copies, one symmetry position",
       {.xSize = 2,
        .ySize = 2,
        .zSize = 2,
        .stones = {{kMonocube, 0}, {kMonocube, 0}, {kDomino, 1}, {kDomino, 3}},
        .symPositions = {{0, 0, 0}}},
       {0, 0, 9, 27}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SolverJobCounts(dir, c.puzzle), c.counts);
  }
}

}  // namespace
}  // namespace quaderix::testing
