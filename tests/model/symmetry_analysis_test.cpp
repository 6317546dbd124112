// The symmetry analysis against the search itself: where it calls a puzzle's positions
// exact, the count with them times their number equals the count without them; where it
// does not, the positions it proposes instead are exact.

#include "model/symmetry_analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/setup_plan.h"
#include "solver/puzzle_solver.h"
#include "support/puzzle_description.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::Coord;
using testing::PuzzleDescription;

// All jobs of the puzzle, each stepped to its end by its own solver.
int64_t CountAll(const testing::TempDir& dir, const PuzzleDescription& puzzle) {
  const std::string path = dir.WriteFile("count.ini", testing::ToIni(puzzle));
  int64_t total = 0;
  for (int job = 0; job < puzzle.StoneCount(); ++job) {
    PuzzleSolver solver(job, job, path, "");
    EXPECT_EQ(solver.Setup(job, job, path, ""), 1) << solver.setupError.message;
    while (!solver.finished) solver.Step();
    total += solver.SolutionCount();
  }
  return total;
}

SymmetryAnalysis Analyse(const testing::TempDir& dir, const PuzzleDescription& puzzle) {
  const std::string path = dir.WriteFile("analyse.ini", testing::ToIni(puzzle));
  PuzzleModel model;
  SetupPlan plan;
  SetupError error;
  EXPECT_EQ(PlanSetup(path, 1, model, plan, &error), 1) << error.message;
  return AnalyseSymmetry(SymmetryInputOf(model));
}

TEST(SymmetryAnalysis, ExactPositionsDivideTheCountByTheirNumber) {
  testing::TempDir dir;
  PuzzleDescription bars{.xSize = 3,
                         .ySize = 3,
                         .zSize = 3,
                         .stones = {{testing::kTriLine, 9}},
                         .symPositions = {{0, 0, 0}, {0, 2, 2}, {2, 0, 2}, {2, 2, 0}}};
  // A 3x2x2 block is turned onto itself by 8 rotations, half turns and quarter turns
  // about x.
  PuzzleDescription slab{.xSize = 3,
                         .ySize = 2,
                         .zSize = 2,
                         .stones = {{testing::kTetraL},
                                    {testing::kTetraSquare},
                                    {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}}}},
                         .symPositions = {{0, 0, 0}, {2, 0, 1}}};
  // One marked domino and three plain ones fill a 2x2x2 cube.
  PuzzleDescription dominoes{.xSize = 2,
                             .ySize = 2,
                             .zSize = 2,
                             .stones = {{testing::kDomino}, {testing::kDomino, 3}},
                             .symPositions = {{0, 0, 0}, {1, 1, 0}}};
  struct Case {
    const char* name;
    PuzzleDescription puzzle;
    std::vector<Coord> positions;
    int32_t blockRotations;
    bool exact;
  };
  const Case cases[] = {
      {"Soma, the half turns' corners", testing::SomaPuzzle(), {}, 24, true},
      {"Soma, opposite corners", testing::SomaPuzzle(), {{0, 0, 0}, {2, 2, 2}}, 24, true},
      // The L piece covers both ends of an edge.
      {"Soma, two ends of an edge", testing::SomaPuzzle(), {{0, 0, 0}, {2, 0, 0}}, 24, false},
      // No seven rotations form a group.
      {"Soma, seven corners",
       testing::SomaPuzzle(),
       {{0, 0, 0}, {0, 2, 2}, {2, 0, 2}, {2, 2, 0}, {2, 2, 2}, {0, 0, 2}, {2, 0, 0}},
       24,
       false},
      {"Soma, a corner twice", testing::SomaPuzzle(), {{0, 0, 0}, {2, 2, 2}, {2, 2, 2}}, 24, false},
      // One type with nine copies: every job is cut away.
      {"nine bars", bars, {}, 24, false},
      // A half turn carries one corner onto the other, but two plain dominoes can lie there.
      {"dominoes", dominoes, {}, 24, false},
      {"slab", slab, {}, 8, false},
      {"slab, its half turns' corners", slab, {{0, 0, 0}, {2, 1, 1}}, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PuzzleDescription with = c.puzzle;
    if (!c.positions.empty()) with.symPositions = c.positions;
    const SymmetryAnalysis a = Analyse(dir, with);
    EXPECT_EQ(a.blockRotations, c.blockRotations);
    ASSERT_EQ(a.exact, c.exact) << a.warning;
    EXPECT_EQ(a.warning.empty(), c.exact) << a.warning;

    PuzzleDescription without = c.puzzle;
    without.symPositions = {};
    const int64_t all = CountAll(dir, without);
    ASSERT_GT(all, 0);
    const int64_t counted = CountAll(dir, with);
    if (c.exact) {
      EXPECT_EQ(counted * a.reduction, all);
      continue;
    }
    // The given positions lose or double packings; the proposed ones are exact.
    EXPECT_NE(counted * static_cast<int64_t>(with.symPositions.size()), all);
    with.symPositions.clear();
    for (const CellCoord& p : a.exactPositions) with.symPositions.push_back(p);
    const SymmetryAnalysis proposed = Analyse(dir, with);
    EXPECT_TRUE(proposed.exact) << proposed.warning;
    EXPECT_EQ(CountAll(dir, with) * static_cast<int64_t>(with.symPositions.size()), all);
  }
}

}  // namespace
}  // namespace quaderix
