// Set-up, stepping and teardown of one job's solver, with known answers from the built-in
// puzzle and from puzzles small enough to count by hand.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solver/puzzle_solver.h"
#include "solver/solver_test_util.h"
#include "solver/test_puzzles.h"

namespace quaderix::testing {
namespace {

TEST(SolverBuiltIn, JobZeroEndsAfterItsFirstStepWithNothingPlaced) {
  // The flat plus has no placement on the corner where the fill order starts, and the
  // next stone that has one lies beyond the job's range.
  PuzzleSolver solver(0, 0, "", "");
  ASSERT_EQ(solver.Setup(0, 0, "", ""), 1);
  EXPECT_EQ(solver.useFile, 0);
  EXPECT_EQ(solver.finished, 0);
  EXPECT_EQ(solver.Step(), 0);
  EXPECT_EQ(solver.searchMode, ModeDone);
  EXPECT_EQ(solver.finished, 0);  // set by the step after
  EXPECT_EQ(solver.depth, 0);
  EXPECT_EQ(CountMarkedCells(solver), 0);
  for (int32_t copies : solver.StoneCopies) EXPECT_EQ(copies, 1);
  EXPECT_EQ(solver.Step(), 0);
  EXPECT_EQ(solver.finished, 1);
  EXPECT_EQ(solver.SolutionCount(), 0u);
}

TEST(SolverBuiltIn, JobsNineToElevenAreFinishedRightAfterSetup) {
  for (int job = 9; job <= 11; ++job) {
    PuzzleSolver solver(job, job, "", "");
    ASSERT_EQ(solver.Setup(job, job, "", ""), 1) << job;
    EXPECT_EQ(solver.finished, 1) << job;
    EXPECT_EQ(solver.searchMode, ModeDone) << job;
    EXPECT_TRUE(solver.grid.empty()) << job;
    EXPECT_TRUE(solver.cellOrder.empty()) << job;
    EXPECT_EQ(solver.Step(), 0) << job;
    EXPECT_EQ(solver.finished, 1) << job;
    EXPECT_EQ(solver.SolutionCount(), 0u) << job;
  }
  // Job 8 is the last one with something to search.
  PuzzleSolver last(8, 8, "", "");
  ASSERT_EQ(last.Setup(8, 8, "", ""), 1);
  EXPECT_EQ(last.finished, 0);
  EXPECT_FALSE(last.grid.empty());
}

TEST(SolverBuiltIn, JobRangeIsClampedToTheStonesAndSymmetryPositions) {
  PuzzleSolver solver(-1, -1, "", "");
  ASSERT_EQ(solver.Setup(-1, 99, "", ""), 1);
  EXPECT_EQ(solver.startStone, 0);
  EXPECT_EQ(solver.endStone, 8);  // 12 stone types less 4 symmetry positions
  ASSERT_EQ(solver.Setup(12, 5, "", ""), 1);
  EXPECT_EQ(solver.startStone, 0);
  EXPECT_EQ(solver.endStone, 5);
}

TEST(SolverBuiltIn, FirstStepsKeepTheSearchStateConsistent) {
  PuzzleSolver solver(1, 1, "", "");
  ASSERT_EQ(solver.Setup(1, 1, "", ""), 1);
  EXPECT_EQ(solver.preCheckLevel, 2);
  EXPECT_EQ(solver.firstPreCheckStone, 3);
  EXPECT_EQ(solver.lastPreCheckStone, 10);
  const std::vector<int32_t> copies = solver.StoneCopies;
  for (int step = 0; step < 3000 && !solver.finished; ++step) {
    ASSERT_EQ(solver.Step(), 0);
    ASSERT_TRUE(SearchStateConsistent(solver, copies)) << "after step " << step + 1;
    ASSERT_EQ(solver.firstStone, 1);
  }
  EXPECT_EQ(solver.finished, 0);
}

TEST(SolverLifecycle, StepAfterTeardownReturnsOneAndTheCountStaysReadable) {
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 2;
  s.zSize = 2;
  s.stones = {Shape(kDominoShape, 4)};
  const std::string path = WritePuzzle(dir, "dominoes.ini", s);
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  const RunResult run = RunToEnd(solver);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.solutions, 9u);  // the domino tilings of the 2x2x2 cube
  solver.Teardown();
  EXPECT_EQ(solver.ready, 0);
  EXPECT_EQ(solver.Step(), 1);
  EXPECT_EQ(solver.Step(), 1);
  EXPECT_EQ(solver.SolutionCount(), 9u);
  EXPECT_EQ(solver.finished, 1);
  EXPECT_TRUE(solver.grid.empty());
  solver.Teardown();  // a second teardown frees nothing twice

  // A new set-up on the same solver starts the count afresh and finds the same packings.
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.SolutionCount(), 0u);
  EXPECT_EQ(solver.finished, 0);
  EXPECT_EQ(RunToEnd(solver).solutions, 9u);
}

TEST(SolverSearch, OneStoneThatFillsTheBlockCountsOne) {
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 2;
  s.zSize = 1;
  s.stones = {Shape(kTetraSquare)};
  s.symPositions = {{0, 0, 0}};
  const std::string path = WritePuzzle(dir, "square.ini", s);
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.Step(), 0);
  EXPECT_EQ(solver.SolutionCount(), 1u);
  EXPECT_EQ(solver.searchMode, ModeDone);
  EXPECT_EQ(CountMarkedCells(solver), 0);
  const RunResult run = RunToEnd(solver);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.steps, 1);
  EXPECT_EQ(run.solutions, 1u);
}

TEST(SolverSearch, CopiesOfOneTypeFindEachPackingOnce) {
  TempDir dir;
  struct Case {
    int x, y, z;
    StoneSpec stone;
    uint32_t packings;
  };
  const Case cases[] = {
      {2, 1, 1, Shape(kMonocube, 2), 1},     // both cells, whichever copy goes first
      {2, 2, 1, Shape(kDominoShape, 2), 2},  // two across or two along
      {2, 3, 1, Shape(kDominoShape, 3), 3},  // the domino tilings of a 2x3 rectangle
      {2, 2, 2, Shape(kDominoShape, 4), 9},  // ... and of the 2x2x2 cube
  };
  for (const Case& c : cases) {
    PuzzleSpec s;
    s.xSize = c.x;
    s.ySize = c.y;
    s.zSize = c.z;
    s.stones = {c.stone};
    const std::string path = WritePuzzle(dir, "copies.ini", s);
    PuzzleSolver solver(0, 0, path, "");
    ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
    EXPECT_EQ(solver.TotalStones, c.stone.copies);
    const RunResult run = RunToEnd(solver);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.solutions, c.packings) << c.x << "x" << c.y << "x" << c.z;
  }
}

TEST(SolverSearch, MoreStoneVolumeThanCellsIsADeadEnd) {
  // Three single cubes for two cells: after two levels no free cell is left while a stone
  // remains. The search backs out instead of reading past the fill order.
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 1;
  s.ySize = 1;
  s.zSize = 2;
  s.edgeZone = 1;
  s.stones = {Shape(kMonocube, 3)};
  const std::string path = WritePuzzle(dir, "overfull.ini", s);
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.cellCount, 2);
  EXPECT_EQ(solver.TotalStones, 3);
  const std::vector<int32_t> copies = solver.StoneCopies;
  while (!solver.finished) {
    ASSERT_EQ(solver.Step(), 0);
    ASSERT_TRUE(SearchStateConsistent(solver, copies));
  }
  EXPECT_EQ(solver.SolutionCount(), 0u);
  EXPECT_EQ(solver.depth, 0);
}

TEST(SolverSearch, BlockOfHolesOnlyFinishesWithNoSolution) {
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 1;
  s.zSize = 1;
  s.keys = {0, 0};
  s.stones = {Shape(kMonocube)};
  const std::string path = WritePuzzle(dir, "holes.ini", s);
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.cellCount, 0);
  const RunResult run = RunToEnd(solver);
  EXPECT_TRUE(run.finished);
  EXPECT_LE(run.steps, 2);
  EXPECT_EQ(run.solutions, 0u);
}

TEST(SolverSearch, TypeWithoutCopiesIsNeverPlaced) {
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 1;
  s.zSize = 1;
  s.stones = {Shape(kMonocube, 0), Shape(kMonocube, 0), Shape(kDominoShape, 1)};
  const std::string path = WritePuzzle(dir, "empty_types.ini", s);
  for (int job = 0; job < 3; ++job) {
    PuzzleSolver solver(job, job, path, "");
    ASSERT_EQ(solver.Setup(job, job, path, ""), 1) << job;
    EXPECT_EQ(solver.lowestFreeStone, 2) << job;
    EXPECT_EQ(solver.TotalStones, 1) << job;
    const RunResult run = RunToEnd(solver);
    EXPECT_TRUE(run.finished) << job;
    EXPECT_EQ(run.solutions, job == 2 ? 1u : 0u) << job;
  }
}

// A placement of `stone` on a free cell of the built-in block that is entirely free and
// claims a symmetry position exactly when `claiming` is true. Fills in the frame's fields.
bool FindPlacement(const PuzzleSolver& solver, int32_t stone, bool claiming, SearchFrame& frame) {
  for (int32_t pos = 1; pos < solver.cellCount; ++pos) {
    const int32_t cell = solver.cellOrder[pos];
    if (solver.grid[cell] != 0) continue;
    const int32_t pattern = solver.NeighbourPattern(cell);
    const PlacementList* lists = solver.Candidates(pattern, pos);
    const PlacementList& list = lists[stone];
    for (int32_t r = 0; r < list.RowCount; ++r) {
      bool free = true;
      bool claims = false;
      for (int32_t j = 0; j < list.RowLength; ++j) {
        const int32_t c = cell + list.Row(r)[j];
        free = free && solver.grid[c] == 0;
        for (int32_t k = 1; k < solver.symPosCount; ++k) claims = claims || c == solver.symCells[k];
      }
      if (free && claims == claiming) {
        frame.placement = r;
        frame.stone = stone;
        frame.orderPos = pos;
        frame.cell = cell;
        frame.pattern = pattern;
        frame.candidates = lists;
        return true;
      }
    }
  }
  return false;
}

void OpenLevel(PuzzleSolver& solver, const SearchFrame& frame) {
  if (solver.depth > 0) solver.SearchStack[solver.depth - 1] = solver.currentFrame;
  solver.currentFrame = frame;
  solver.currentFrame.mark = ++solver.depth;
}

TEST(SymmetryRule, CountTestWithTwelveTypesFourPositionsAndFirstStoneEight) {
  PuzzleSolver solver(8, 8, "", "");
  ASSERT_EQ(solver.Setup(8, 8, "", ""), 1);
  solver.preCheckLevel = 0;  // only the symmetry rule is under test here
  ASSERT_EQ(solver.symPosCount, 4);

  // Level 1 as the search opens it: stone 8 on the first cell, counters reset.
  SearchFrame first;
  const int32_t cell0 = solver.cellOrder[0];
  first.stone = 8;
  first.cell = cell0;
  first.pattern = solver.NeighbourPattern(cell0);
  first.candidates = solver.Candidates(first.pattern, 0);
  ASSERT_GT(first.candidates[8].RowCount, 0);
  OpenLevel(solver, first);
  solver.firstStone = 8;
  solver.higherStonesLeft = solver.TotalStones - 8 - 1;
  solver.openSymPositions = solver.symPosCount - 1;
  EXPECT_EQ(solver.higherStonesLeft, 3);
  EXPECT_EQ(solver.openSymPositions, 3);
  ASSERT_EQ(solver.PlaceStone(), 1);
  ASSERT_EQ(solver.openSymPositions, 3);  // the corner stone claims none of the others

  // A first higher stone that claims no position is accepted.
  SearchFrame second;
  ASSERT_TRUE(FindPlacement(solver, 9, false, second));
  OpenLevel(solver, second);
  EXPECT_EQ(solver.PlaceStone(), 1);
  EXPECT_EQ(solver.higherStonesLeft, 2);
  EXPECT_EQ(solver.openSymPositions, 3);

  // A second one that claims none is refused and changes nothing: two higher stones
  // could no longer reach three open positions.
  SearchFrame third;
  ASSERT_TRUE(FindPlacement(solver, 10, false, third));
  OpenLevel(solver, third);
  const std::vector<int32_t> gridBefore = solver.grid;
  EXPECT_EQ(solver.PlaceStone(), 0);
  EXPECT_EQ(solver.higherStonesLeft, 2);
  EXPECT_EQ(solver.openSymPositions, 3);
  EXPECT_EQ(solver.grid, gridBefore);

  // One that claims a position is accepted.
  SearchFrame claiming;
  ASSERT_TRUE(FindPlacement(solver, 10, true, claiming));
  claiming.mark = solver.currentFrame.mark;
  solver.currentFrame = claiming;
  EXPECT_EQ(solver.PlaceStone(), 1);
  EXPECT_EQ(solver.higherStonesLeft, 1);
  EXPECT_EQ(solver.openSymPositions, 2);

  // Taking it away gives both counters back.
  solver.RemoveStone();
  EXPECT_EQ(solver.higherStonesLeft, 2);
  EXPECT_EQ(solver.openSymPositions, 3);
  EXPECT_EQ(solver.grid, gridBefore);
}

TEST(SymmetryRule, LowerStoneIsRefusedOnlyOnTheOtherPositions) {
  PuzzleSolver solver(8, 8, "", "");
  ASSERT_EQ(solver.Setup(8, 8, "", ""), 1);
  solver.preCheckLevel = 0;
  solver.firstStone = 8;
  solver.higherStonesLeft = 3;
  solver.openSymPositions = 3;
  solver.depth = 1;  // level 1 stands in for the first stone; nothing is on the grid
  const std::vector<int32_t> gridBefore = solver.grid;

  SearchFrame onPosition;
  ASSERT_TRUE(FindPlacement(solver, 2, true, onPosition));
  OpenLevel(solver, onPosition);
  EXPECT_EQ(solver.PlaceStone(), 0);
  EXPECT_EQ(solver.grid, gridBefore);
  EXPECT_EQ(solver.openSymPositions, 3);

  SearchFrame elsewhere;
  ASSERT_TRUE(FindPlacement(solver, 2, false, elsewhere));
  elsewhere.mark = solver.currentFrame.mark;
  solver.currentFrame = elsewhere;
  EXPECT_EQ(solver.PlaceStone(), 1);
  EXPECT_EQ(solver.higherStonesLeft, 3);  // a lower stone takes nothing from the count
  EXPECT_EQ(solver.openSymPositions, 3);
}

}  // namespace
}  // namespace quaderix::testing
