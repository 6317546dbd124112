#pragma once

// Output files written by the real solver, together with what the solver had on its grid
// at each written solution, so that the readers can be checked against the search's own
// state. Test-only; each test owns its files.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "records/solution_record.h"
#include "solver/reference_solver.h"
#include "support/puzzle_description.h"
#include "support/temp_files.h"

namespace quaderix::testing {

// Tetracubes, dominoes and a monocube in 4x4x3 with a hole at (3,3,2): packings where
// pieces have many neighbours.
inline PuzzleDescription MixedPuzzle() {
  PuzzleDescription p{
      .xSize = 4,
      .ySize = 4,
      .zSize = 3,
      .stones = {{kTetraL, 4}, {kTripod, 2}, {kTetraSquare, 2}, {kDomino, 7}, {kMonocube, 1}},
      .symPositions = {{0, 0, 0}}};
  p.SetKey(3, 3, 2, 0);
  return p;
}

// A packing as the solver held it when it counted it: full level numbers (100 and more too), per
// cell in the reader's cell order, and the stone type of every level.
struct SolverPacking {
  uint32_t solution = 0;
  std::vector<int32_t> level;
  std::vector<uint8_t> mark;
  std::vector<int32_t> stoneOfLevel;  // index level - 1
};

// Runs job `job` of `puzzle` with every solution written to `out` until its end or its
// `most`-th solution; returns the solver's packings at each solution.
inline std::vector<SolverPacking> WritePackings(const TempDir& dir, PuzzleDescription puzzle,
                                                const std::string& out, int job = 0,
                                                uint32_t most = 200) {
  puzzle.writeEveryNSolution = 1;
  const std::string path = dir.WriteFile("puzzle.ini", ToIni(puzzle));
  ReferenceSolver solver(job, job, path, out);
  EXPECT_EQ(solver.Setup(job, job, path, out), 1);
  std::vector<SolverPacking> packings;
  uint32_t seen = 0;
  while (!solver.finished && solver.SolutionCount() < most) {
    solver.Step();
    if (solver.SolutionCount() == seen) continue;
    seen = solver.SolutionCount();
    // The step that finds a packing also lifts its last stone again, so that level is
    // what is free now: the block cells at 0 and the one type with a copy left.
    SolverPacking p;
    p.solution = seen;
    for (int32_t z = 0; z < solver.zSize; ++z) {
      for (int32_t y = 0; y < solver.ySize; ++y) {
        for (int32_t x = 0; x < solver.xSize; ++x) {
          const int32_t cell = solver.GridIndex(x, y, z);
          const int32_t v = solver.grid[cell];
          p.level.push_back(v == 0 ? solver.TotalStones : std::max(v, 0));
          uint8_t mark = MarkNone;
          for (int32_t k = 0; k < solver.symPosCount; ++k) {
            if (solver.symCells[k] == cell) {
              mark = k == 0 ? MarkSymPos0 : MarkSymPosOther;
              break;
            }
          }
          p.mark.push_back(mark);
        }
      }
    }
    for (int32_t level = 1; level < solver.TotalStones; ++level)
      p.stoneOfLevel.push_back(solver.SearchStack[level - 1].stone);
    for (int32_t k = 0; k < solver.stoneCount; ++k)
      if (solver.StoneCopies[k] > 0) p.stoneOfLevel.push_back(k);
    packings.push_back(p);
  }
  EXPECT_EQ(solver.OutputFailures(), 0u);
  return packings;
}

}  // namespace quaderix::testing
