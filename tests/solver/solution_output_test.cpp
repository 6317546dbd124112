// The solution output file: exact record bytes, the output rate, the file's life across
// set-ups, and a file that cannot be written.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "solver/reference_solver.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

// The 3x2x2 block of three tetracubes whose first packing in job 0 is the one drawn in the
// output format's example. Each shape is written where that packing puts it, so that
// rotation 0 with the first cube as anchor is the first row of its list.
const PuzzleDescription kExampleBlock{.xSize = 3,
                                      .ySize = 2,
                                      .zSize = 2,
                                      .stones = {{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}}},
                                                 {{{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}}},
                                                 {{{1, 1, 0}, {2, 1, 0}, {2, 0, 1}, {2, 1, 1}}}},
                                      .symPositions = {{0, 0, 0}, {2, 0, 1}},
                                      .writeEveryNSolution = 1,
                                      .edgeZone = 2};

// Job 0 has many packings: two bends of three and three dominoes in 2x2x3.
const PuzzleDescription kManySolutions{.xSize = 2,
                                       .ySize = 2,
                                       .zSize = 3,
                                       .stones = {{kTriBend, 2}, {kDomino, 3}},
                                       .symPositions = {{0, 0, 0}}};

// The records of an output file, split before every "Solution : " line.
std::vector<std::string> SplitRecords(const std::string& file) {
  std::vector<std::string> records;
  for (size_t start = 0; start < file.size();) {
    const size_t next = std::min(file.find("Solution : ", start + 1), file.size());
    records.push_back(file.substr(start, next - start));
    start = next;
  }
  return records;
}

// Runs job 0 of `puzzle` with output rate `rate` to its end; returns the count and leaves
// the records in `out`.
uint32_t RunJob(const TempDir& dir, PuzzleDescription puzzle, int rate, const std::string& out) {
  puzzle.writeEveryNSolution = rate;
  const std::string path = dir.WriteFile("puzzle.ini", ToIni(puzzle));
  ReferenceSolver solver(0, 0, path, out);
  EXPECT_EQ(solver.Setup(0, 0, path, out), 1);
  StepToEnd(solver);
  EXPECT_TRUE(solver.finished);
  EXPECT_EQ(solver.OutputFailures(), 0u);
  return solver.SolutionCount();
}

TEST(SolutionOutput, FirstRecordsByteForByte) {
  // Without the legend the record only lacks that line; the reader's round trip pins it.
  // A 3x2x1 block without the cell (1,1,0); the stone order puts the bend first. Level 1,
  // the bend, covers (0,0,0), (1,0,0) and (0,1,0); level 2, the domino, the rest.
  PuzzleDescription hole{.xSize = 3,
                         .ySize = 2,
                         .stones = {{kDomino}, {kTriBend}},
                         .stoneOrder = {1, 0},
                         .symPositions = {{0, 0, 0}}};
  hole.SetKey(1, 1, 0, 0);
  const struct {
    const char* name;
    PuzzleDescription puzzle;
    std::string record;
  } cases[] = {
      {"example", kExampleBlock,
       "Solution : 1\r\n"
       "Stone Legend (Presentation=Stone) :  1= 0;  2= 1;  3= 2; \r\n"
       "__BEGINBLOCK[1]; __XYZ[3,2,2];\r\n"
       "  1   3   3       2   2   3     \r\n"
       "[ 1]  1   1       2   2 ( 3)    \r\n"
       "__ENDBLOCK;\r\n"
       "\r\n"},
      {"hole", hole,
       "Solution : 1\r\n"
       "Stone Legend (Presentation=Stone) :  1= 0;  2= 1; \r\n"
       "__BEGINBLOCK[1]; __XYZ[3,2,1];\r\n"
       "  1       2     \r\n"
       "[ 1]  1   2     \r\n"
       "__ENDBLOCK;\r\n"
       "\r\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.PathOf(std::string(c.name) + ".txt");
    const uint32_t count = RunJob(dir, c.puzzle, 1, out);
    const std::vector<std::string> records = SplitRecords(ReadFileBytes(out));
    ASSERT_EQ(records.size(), count);
    EXPECT_EQ(records[0], c.record);
  }

  // Levels from 100 on show as "--" in the block but keep their numbers in the legend.
  const std::string out = dir.PathOf("long.txt");
  ASSERT_EQ(RunJob(dir, {.xSize = 101, .stones = {{kMonocube, 101}}, .edgeZone = 1}, 1, out), 1u);
  const std::string file = ReadFileBytes(out);
  EXPECT_NE(file.find(" 99= 0; 100= 0; 101= 0; \r\n"), std::string::npos);
  EXPECT_NE(file.find(" 98  99  --  --     \r\n"), std::string::npos);
}

TEST(SolutionOutput, RateFiveWritesSolutionOneAndEveryFifth) {
  TempDir dir;
  const std::string all = dir.PathOf("all.txt");
  const std::string sampled = dir.PathOf("sampled.txt");
  const uint32_t count = RunJob(dir, kManySolutions, 1, all);
  ASSERT_EQ(RunJob(dir, kManySolutions, 5, sampled), count);
  ASSERT_GE(count, 16u);
  const std::vector<std::string> every = SplitRecords(ReadFileBytes(all));
  ASSERT_EQ(every.size(), count);
  std::vector<std::string> expected = {every[0]};
  for (uint32_t n = 5; n <= count; n += 5) expected.push_back(every[n - 1]);
  // The record numbers and the packings are those written at rate 1.
  EXPECT_EQ(SplitRecords(ReadFileBytes(sampled)), expected);
}

TEST(SolutionOutput, SecondSetupEmptiesTheFile) {
  TempDir dir;
  const std::string path = dir.WriteFile("example.ini", ToIni(kExampleBlock));
  const std::string out = dir.PathOf("example.txt");
  ReferenceSolver solver(0, 0, path, out);
  ASSERT_EQ(solver.Setup(0, 0, path, out), 1);
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  StepToEnd(solver);
  const std::string firstRun = ReadFileBytes(out);
  ASSERT_FALSE(firstRun.empty());
  ASSERT_EQ(solver.Setup(0, 0, path, out), 1);
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  StepToEnd(solver);
  EXPECT_EQ(ReadFileBytes(out), firstRun);
}

TEST(SolutionOutput, UnwritableOrUnwantedFileStillCountsEverySolution) {
  TempDir dir;
  const uint32_t expected = RunJob(dir, kManySolutions, 1, dir.PathOf("good.txt"));
  ASSERT_GT(expected, 0u);
  // Rate 0: the named file is neither created nor written.
  const std::string none = dir.PathOf("none.txt");
  EXPECT_EQ(RunJob(dir, kManySolutions, 0, none), expected);
  EXPECT_FALSE(std::filesystem::exists(none));

  // A file in a missing directory: set-up and every record fail, and each failure is noted.
  PuzzleDescription puzzle = kManySolutions;
  puzzle.writeEveryNSolution = 1;
  const std::string path = dir.WriteFile("many.ini", ToIni(puzzle));
  const std::string bad = dir.PathOf("missing/out.txt");
  ReferenceSolver solver(0, 0, path, bad);
  ASSERT_EQ(solver.Setup(0, 0, path, bad), 1);
  EXPECT_EQ(solver.OutputFailures(), 1u);
  StepToEnd(solver);
  EXPECT_TRUE(solver.finished);
  EXPECT_EQ(solver.SolutionCount(), expected);
  EXPECT_GT(solver.OutputFailures(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.PathOf("missing")));

  // No name: the rate in the file is ignored and nothing is written anywhere.
  ReferenceSolver unnamed(0, 0, path, "");
  ASSERT_EQ(unnamed.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(unnamed.writeEveryNSolution, 0);
  StepToEnd(unnamed);
  EXPECT_EQ(unnamed.SolutionCount(), expected);
  EXPECT_EQ(unnamed.OutputFailures(), 0u);
}

}  // namespace
}  // namespace quaderix::testing
