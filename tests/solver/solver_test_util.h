#pragma once

// Helpers shared by the solver tests: stepping a job to its end while checking the search
// state between steps against the frames, counting every job of a puzzle, and reading a
// file whole. Test-only; each test owns its solvers.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "solver/reference_solver.h"
#include "support/puzzle_description.h"
#include "support/temp_files.h"

namespace quaderix::testing {

// Between two steps: the grid holds exactly the placements of levels 1..depth, each cell
// carrying its level's mark; every type has its copies at set-up less the open levels that
// hold it; lowestFreeStone is the first type with copies left; openSymPositions counts the
// symmetry positions 1.. that no open level has claimed.
inline ::testing::AssertionResult SearchStateConsistent(const ReferenceSolver& solver,
                                                        std::vector<int32_t> copies) {
  auto fail = [] { return ::testing::AssertionFailure(); };
  std::vector<int32_t> marks(solver.grid.size(), 0);
  int32_t claims = 0;
  for (int32_t level = 1; level <= solver.depth; ++level) {
    const SearchFrame& f =
        level < solver.depth ? solver.SearchStack[level - 1] : solver.currentFrame;
    if (f.mark != level || f.stone < 0 || f.stone >= solver.stoneCount ||
        solver.cellOrder[f.orderPos] != f.cell || f.placement < 0 ||
        f.placement >= f.candidates[f.stone].RowCount)
      return fail() << "level " << level << " has a stale frame";
    --copies[f.stone];
    bool claimed = false;
    for (int32_t j = 0; j < f.candidates[f.stone].RowLength; ++j) {
      const int32_t c = f.cell + f.candidates[f.stone].Row(f.placement)[j];
      if (marks[c] != 0) return fail() << "levels overlap at cell " << c;
      marks[c] = level;
      for (int32_t k = 1; k < solver.symPosCount; ++k) claimed = claimed || c == solver.symCells[k];
    }
    claims += claimed ? 1 : 0;
  }
  for (size_t i = 0; i < marks.size(); ++i) {
    if ((solver.grid[i] > 0 || marks[i] > 0) && solver.grid[i] != marks[i])
      return fail() << "cell " << i << " holds " << solver.grid[i] << ", level " << marks[i];
  }
  if (solver.StoneCopies != copies) return fail() << "copies left differ from the open levels";
  if (solver.depth > 0 && solver.openSymPositions != solver.symPosCount - 1 - claims)
    return fail() << "openSymPositions " << solver.openSymPositions << ", claims " << claims;
  int32_t lowest = 0;
  while (lowest < solver.stoneCount && solver.StoneCopies[lowest] <= 0) ++lowest;
  if (solver.lowestFreeStone != lowest)
    return fail() << "lowestFreeStone " << solver.lowestFreeStone << ", expected " << lowest;
  return ::testing::AssertionSuccess();
}

// Steps until the job is finished, checking the search state after every step. Returns
// the solution count after each step.
inline std::vector<uint32_t> StepToEnd(ReferenceSolver& solver, int64_t maxSteps = 2'000'000) {
  const std::vector<int32_t> copiesAtSetup = solver.StoneCopies;
  std::vector<uint32_t> counts;
  while (!solver.finished && std::ssize(counts) < maxSteps) {
    EXPECT_EQ(solver.Step(), 0);
    counts.push_back(solver.SolutionCount());
    const ::testing::AssertionResult ok = SearchStateConsistent(solver, copiesAtSetup);
    if (!ok) {
      ADD_FAILURE() << "after step " << counts.size() << ": " << ok.message();
      break;
    }
  }
  return counts;
}

// The count of every job of `puzzle`, each run by its own solver.
inline std::vector<int64_t> SolverJobCounts(const TempDir& dir, const PuzzleDescription& puzzle) {
  const std::string path = dir.WriteFile("puzzle.ini", ToIni(puzzle));
  std::vector<int64_t> counts;
  for (int job = 0; job < puzzle.StoneCount(); ++job) {
    SCOPED_TRACE("job " + std::to_string(job));
    ReferenceSolver solver(job, job, path, "");
    EXPECT_EQ(solver.Setup(job, job, path, ""), 1) << solver.setupError.message;
    StepToEnd(solver);
    EXPECT_TRUE(solver.finished);
    counts.push_back(solver.SolutionCount());
  }
  return counts;
}

// The whole contents of a file, or "" when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace quaderix::testing
