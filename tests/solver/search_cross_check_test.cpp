// The solver's per-job counts against the reference packer, written independently of the
// model and the search, and resumability: pauses between steps change nothing.

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "solver/cross_check_puzzles.h"
#include "solver/reference_packer.h"
#include "solver/reference_solver.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

int64_t Total(const std::vector<int64_t>& counts) {
  return std::accumulate(counts.begin(), counts.end(), int64_t{0});
}

TEST(SearchCrossCheck, JobCountsMatchTheReferencePacker) {
  // SolverJobCounts also checks after every step that the grid holds exactly the marks of
  // the open levels and the copies, claims and lowest free type agree with the frames.
  TempDir dir;
  for (const NamedPuzzle& named : CrossCheckPuzzles()) {
    SCOPED_TRACE(named.name);
    const std::vector<int64_t> expected = ReferencePacker(named.puzzle).jobCounts();
    EXPECT_GT(Total(expected), 0);  // a puzzle without packings would compare nothing
    EXPECT_EQ(SolverJobCounts(dir, named.puzzle), expected);
    if (named.puzzle.preCheckLevel) {
      // The check is only tested where it refuses something.
      PuzzleDescription unchecked = named.puzzle;
      unchecked.preCheckLevel.reset();
      EXPECT_LT(Total(expected), Total(ReferencePacker(unchecked).jobCounts()));
    }
  }
}

TEST(SearchCrossCheck, ReferencePackerFindsTheKnownSomaCount) {
  // The Soma cube has 240 packings up to rotation and reflection and none of them is
  // symmetric, so 240 * 48 = 11520 in all. No piece reaches two of the four corners, so the
  // half turns act freely and the symmetry rule keeps exactly one packing in four.
  const ReferencePacker reference(SomaPuzzle());
  EXPECT_EQ(reference.packings(), 11520);
  EXPECT_EQ(Total(reference.jobCounts()), 2880);
}

TEST(SearchCrossCheck, PlacementCoveringSeveralPositionsClaimsOnlyOne) {
  // A tripod around the corner (1,1,1) of a 2x2x2 block covers all three symmetry positions
  // besides the first, but claims only one of them. The count test therefore still sees
  // two positions open and refuses the last higher monocube of each such packing: the 6
  // packings of job 0 and the 6 of job 1 with the tripod there are not counted, although
  // the direct rule of the reference packer accepts them.
  const PuzzleDescription puzzle{
      .xSize = 2,
      .ySize = 2,
      .zSize = 2,
      .stones = {{kMonocube}, {kMonocube}, {kMonocube}, {kMonocube}, {kTripod}},
      .symPositions = {{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}}};
  EXPECT_EQ(ReferencePacker(puzzle).jobCounts(), (std::vector<int64_t>{24, 12, 0, 0, 0}));
  TempDir dir;
  EXPECT_EQ(SolverJobCounts(dir, puzzle), (std::vector<int64_t>{18, 6, 0, 0, 0}));
}

}  // namespace
}  // namespace quaderix::testing
