#pragma once

// Helpers shared by the solver tests: writing a puzzle spec to a scratch file, running a
// job to its end, and checking the search state between two steps against the frames.
// Test-only; each test owns its solvers.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "solver/puzzle_solver.h"
#include "solver/puzzle_spec.h"
#include "support/temp_files.h"

namespace quaderix::testing {

std::string WritePuzzle(const TempDir& dir, const std::string& name, const PuzzleSpec& spec);

struct RunResult {
  uint32_t solutions = 0;
  int64_t steps = 0;
  bool finished = false;
};

// Steps until `finished` is set or `maxSteps` steps were taken.
RunResult RunToEnd(PuzzleSolver& solver, int64_t maxSteps = 5'000'000);

// Between two steps: the grid holds exactly the placements of levels 1..depth, each cell
// carrying its level's mark; the copies of every stone type are its copies at set-up less
// the open levels that hold it; lowestFreeStone is the first type with copies left;
// openSymPositions counts the symmetry positions 1.. that no open level has claimed.
::testing::AssertionResult SearchStateConsistent(const PuzzleSolver& solver,
                                                 const std::vector<int32_t>& copiesAtSetup);

// Number of grid cells holding a level mark (a value above 0).
int CountMarkedCells(const PuzzleSolver& solver);

// The whole contents of a file, or "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace quaderix::testing
