// The solver's per-job counts against a plain enumeration written independently of the
// model and the search, and the search state between steps against its frames.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solver/puzzle_solver.h"
#include "solver/reference_packer.h"
#include "solver/solver_test_util.h"
#include "solver/test_puzzles.h"

namespace quaderix::testing {
namespace {

std::vector<int64_t> SolverJobCounts(const std::string& path, int stoneCount) {
  std::vector<int64_t> counts;
  for (int job = 0; job < stoneCount; ++job) {
    PuzzleSolver solver(job, job, path, "");
    if (solver.Setup(job, job, path, "") != 1) {
      ADD_FAILURE() << "set-up of job " << job << " failed: " << solver.setupError.message;
      counts.push_back(-1);
      continue;
    }
    const RunResult run = RunToEnd(solver);
    EXPECT_TRUE(run.finished) << "job " << job;
    counts.push_back(run.solutions);
  }
  return counts;
}

std::vector<int64_t> ReferenceJobCounts(const ReferencePacker& reference, int stoneCount) {
  std::vector<int64_t> counts;
  for (int job = 0; job < stoneCount; ++job) counts.push_back(reference.JobCount(job));
  return counts;
}

TEST(SearchCrossCheck, JobCountsMatchPlainEnumeration) {
  TempDir dir;
  for (const NamedPuzzle& puzzle : CrossCheckPuzzles()) {
    SCOPED_TRACE(puzzle.name);
    const ReferencePacker reference(puzzle.spec);
    const std::vector<int64_t> expected = ReferenceJobCounts(reference, puzzle.spec.StoneCount());
    int64_t total = 0;
    for (int64_t n : expected) total += n;
    // A puzzle without packings would compare nothing.
    EXPECT_GT(total, 0);
    const std::string path = WritePuzzle(dir, puzzle.name + ".ini", puzzle.spec);
    EXPECT_EQ(SolverJobCounts(path, puzzle.spec.StoneCount()), expected);
  }
}

TEST(SearchCrossCheck, PreCheckPuzzlesLosePackings) {
  // The puzzles with the check on only test it if the check refuses something there.
  for (const NamedPuzzle& puzzle : CrossCheckPuzzles()) {
    if (!puzzle.spec.preCheckLevel) continue;
    SCOPED_TRACE(puzzle.name);
    PuzzleSpec unchecked = puzzle.spec;
    unchecked.preCheckLevel.reset();
    EXPECT_LT(ReferencePacker(puzzle.spec).TotalCount(), ReferencePacker(unchecked).TotalCount());
  }
}

TEST(SearchCrossCheck, SomaCubeCountsOneQuarterOfAllPackings) {
  // The Soma cube has 240 packings up to rotation and reflection and none of them is
  // symmetric, so 240 * 48 = 11520 in all. No piece reaches two of the four corners, so the
  // half turns act freely and the symmetry rule keeps exactly one packing in four.
  const PuzzleSpec soma = SomaCube();
  const ReferencePacker reference(soma);
  EXPECT_EQ(reference.packings().size(), 11520u);
  EXPECT_EQ(reference.TotalCount(), 2880);

  TempDir dir;
  const std::vector<int64_t> counts =
      SolverJobCounts(WritePuzzle(dir, "soma.ini", soma), soma.StoneCount());
  int64_t total = 0;
  for (int64_t n : counts) total += n;
  EXPECT_EQ(total, 2880);
  // Jobs above stoneCount - symPosCount = 3 have nothing to search.
  for (int job = 4; job < soma.StoneCount(); ++job) EXPECT_EQ(counts[job], 0) << job;
}

TEST(SearchCrossCheck, DominoTilingsWithSeveralCopies) {
  // The 2x2x2 cube has 9 domino tilings. With one marked domino and three plain ones, the
  // marked one is the first (job 0) in 9 packings and one of the other three in 27.
  PuzzleSpec s;
  s.xSize = s.ySize = s.zSize = 2;
  s.stones = {Shape(kDominoShape, 1), Shape(kDominoShape, 3)};
  TempDir dir;
  const std::string path = WritePuzzle(dir, "dominoes.ini", s);
  EXPECT_EQ(SolverJobCounts(path, 2), (std::vector<int64_t>{9, 27}));
  EXPECT_EQ(ReferenceJobCounts(ReferencePacker(s), 2), (std::vector<int64_t>{9, 27}));
}

TEST(SearchCrossCheck, TypesWithoutCopiesChangeNoCount) {
  // Stone types with no copies are never placed. Putting them in front of the others
  // shifts the job numbers and must change nothing else, with 0 or 1 symmetry positions.
  TempDir dir;
  for (int symPositions = 0; symPositions <= 1; ++symPositions) {
    for (int emptyTypes = 1; emptyTypes <= 3; ++emptyTypes) {
      SCOPED_TRACE("symmetry positions " + std::to_string(symPositions) + ", empty types " +
                   std::to_string(emptyTypes));
      PuzzleSpec s;
      s.xSize = s.ySize = s.zSize = 2;
      for (int k = 0; k < emptyTypes; ++k) s.stones.push_back(Shape(kMonocube, 0));
      s.stones.push_back(Shape(kDominoShape, 1));
      s.stones.push_back(Shape(kDominoShape, 3));
      if (symPositions == 1) s.symPositions = {{0, 0, 0}};
      std::vector<int64_t> expected(emptyTypes, 0);
      expected.push_back(9);
      expected.push_back(27);
      EXPECT_EQ(ReferenceJobCounts(ReferencePacker(s), s.StoneCount()), expected);
      const std::string path = WritePuzzle(dir, "empty.ini", s);
      EXPECT_EQ(SolverJobCounts(path, s.StoneCount()), expected);
    }
  }
}

TEST(SearchCrossCheck, PlacementCoveringSeveralPositionsClaimsOnlyOne) {
  // A tripod around the corner (1,1,1) of a 2x2x2 block covers all three symmetry positions
  // besides the first, but claims only one of them. The count test therefore still sees two
  // positions open and refuses the last higher monocube of each such packing: the 6 packings
  // of job 0 and the 6 of job 1 with the tripod there are not counted, although the direct
  // rule accepts them (24 and 12).
  PuzzleSpec s;
  s.xSize = s.ySize = s.zSize = 2;
  s.stones = {Shape(kMonocube), Shape(kMonocube), Shape(kMonocube), Shape(kMonocube),
              Shape(kTripod)};
  s.symPositions = {{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}};
  const ReferencePacker reference(s);
  EXPECT_EQ(ReferenceJobCounts(reference, 5), (std::vector<int64_t>{24, 12, 0, 0, 0}));

  std::vector<int64_t> withCountTest(5, 0);
  for (const ReferencePacker::Packing& p : reference.packings()) {
    if (p[0].type <= 1 && reference.PassesSymmetryRule(p) && !reference.RefusedByCountTest(p))
      ++withCountTest[p[0].type];
  }
  EXPECT_EQ(withCountTest, (std::vector<int64_t>{18, 6, 0, 0, 0}));

  TempDir dir;
  EXPECT_EQ(SolverJobCounts(WritePuzzle(dir, "tripod.ini", s), 5), withCountTest);
}

// Steps a job while checking the state after every step; returns the count after each.
std::vector<uint32_t> StepWithChecks(PuzzleSolver& solver, const std::string& name) {
  const std::vector<int32_t> copiesAtSetup = solver.StoneCopies;
  std::vector<uint32_t> counts;
  while (!solver.finished && counts.size() < 1'000'000) {
    EXPECT_EQ(solver.Step(), 0);
    counts.push_back(solver.SolutionCount());
    if (::testing::AssertionResult ok = SearchStateConsistent(solver, copiesAtSetup); !ok) {
      ADD_FAILURE() << name << " after step " << counts.size() << ": " << ok.message();
      break;
    }
  }
  EXPECT_TRUE(solver.finished);
  if (solver.depth == 0) {
    EXPECT_EQ(CountMarkedCells(solver), 0) << name;
  } else {
    // The job ended because level 1 moved on to a stone beyond its range; that level is
    // still open and its placement still on the grid.
    EXPECT_EQ(solver.depth, 1) << name;
    EXPECT_GT(solver.firstStone, solver.endStone) << name;
  }
  return counts;
}

TEST(SearchState, GridHoldsExactlyTheOpenLevelsAfterEveryStep) {
  TempDir dir;
  for (const NamedPuzzle& puzzle : CrossCheckPuzzles()) {
    if (puzzle.name == "SomaCube") continue;  // large; the other puzzles cover the same paths
    const std::string path = WritePuzzle(dir, puzzle.name + ".ini", puzzle.spec);
    const ReferencePacker reference(puzzle.spec);
    for (int job = 0; job < puzzle.spec.StoneCount(); ++job) {
      PuzzleSolver solver(job, job, path, "");
      ASSERT_EQ(solver.Setup(job, job, path, ""), 1);
      if (solver.finished) continue;  // nothing was built
      const std::vector<uint32_t> counts =
          StepWithChecks(solver, puzzle.name + " job " + std::to_string(job));
      EXPECT_EQ(solver.SolutionCount(), reference.JobCount(job)) << puzzle.name << " job " << job;
      // A step counts at most one solution.
      for (size_t i = 1; i < counts.size(); ++i) ASSERT_LE(counts[i] - counts[i - 1], 1u);
    }
  }
}

TEST(SearchState, InterleavedSolversOfOneJobAgreeStepByStep) {
  // Two solvers of the same job advanced alternately, with pauses of different lengths,
  // go through the same counts as one solver stepped alone and write the same records.
  TempDir dir;
  for (const NamedPuzzle& puzzle : CrossCheckPuzzles()) {
    if (puzzle.name == "SomaCube") continue;
    SCOPED_TRACE(puzzle.name);
    PuzzleSpec spec = puzzle.spec;
    spec.writeEveryNSolution = 3;
    const std::string path = WritePuzzle(dir, puzzle.name + ".ini", spec);
    const int job = 0;
    const std::string aloneFile = dir.PathOf(puzzle.name + "_alone.txt");
    const std::string firstFile = dir.PathOf(puzzle.name + "_first.txt");
    const std::string secondFile = dir.PathOf(puzzle.name + "_second.txt");

    PuzzleSolver alone(job, job, path, aloneFile);
    ASSERT_EQ(alone.Setup(job, job, path, aloneFile), 1);
    std::vector<uint32_t> aloneCounts;
    while (!alone.finished) {
      alone.Step();
      aloneCounts.push_back(alone.SolutionCount());
    }

    PuzzleSolver first(job, job, path, firstFile);
    PuzzleSolver second(job, job, path, secondFile);
    ASSERT_EQ(first.Setup(job, job, path, firstFile), 1);
    ASSERT_EQ(second.Setup(job, job, path, secondFile), 1);
    std::vector<uint32_t> firstCounts;
    std::vector<uint32_t> secondCounts;
    for (int round = 1; !first.finished || !second.finished; ++round) {
      for (int i = 0; i < round % 3 + 1 && !first.finished; ++i) {
        first.Step();
        firstCounts.push_back(first.SolutionCount());
      }
      for (int i = 0; i < round % 5 + 1 && !second.finished; ++i) {
        second.Step();
        secondCounts.push_back(second.SolutionCount());
      }
    }
    EXPECT_EQ(firstCounts, aloneCounts);
    EXPECT_EQ(secondCounts, aloneCounts);
    EXPECT_GT(alone.SolutionCount(), 0u);
    const std::string records = ReadFileBytes(aloneFile);
    EXPECT_FALSE(records.empty());
    EXPECT_EQ(ReadFileBytes(firstFile), records);
    EXPECT_EQ(ReadFileBytes(secondFile), records);
  }
}

}  // namespace
}  // namespace quaderix::testing
