// The solution output file: exact record bytes, the output rate, the file's life across
// set-ups, and a file that cannot be written.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "solver/puzzle_solver.h"
#include "solver/solver_test_util.h"
#include "solver/test_puzzles.h"

namespace quaderix::testing {
namespace {

// The records of an output file, split before every "Solution : " line.
std::vector<std::string> SplitRecords(const std::string& file) {
  std::vector<std::string> records;
  size_t start = 0;
  while (start < file.size()) {
    size_t next = file.find("Solution : ", start + 1);
    if (next == std::string::npos) next = file.size();
    records.push_back(file.substr(start, next - start));
    start = next;
  }
  return records;
}

int RecordNumber(const std::string& record) {
  return std::stoi(record.substr(std::string("Solution : ").size()));
}

// Runs job `job` of `spec` with the given output rate to its end; returns the solver's
// count and leaves the file at `outputPath`.
uint32_t RunJob(const TempDir& dir, PuzzleSpec spec, int rate, const std::string& outputPath,
                int job = 0) {
  spec.writeEveryNSolution = rate;
  const std::string path = WritePuzzle(dir, "puzzle.ini", spec);
  PuzzleSolver solver(job, job, path, outputPath);
  EXPECT_EQ(solver.Setup(job, job, path, outputPath), 1);
  const RunResult run = RunToEnd(solver);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(solver.OutputFailures(), 0u);
  return run.solutions;
}

// Job 0 of this puzzle has many packings: two bends of three and three dominoes in 2x2x3.
PuzzleSpec ManySolutions() {
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 2;
  s.zSize = 3;
  s.stones = {Shape(kTriBend, 2), Shape(kDominoShape, 3)};
  s.symPositions = {{0, 0, 0}};
  return s;
}

const char kExampleRecord[] =
    "Solution : 1\r\n"
    "Stone Legend (Presentation=Stone) :  1= 0;  2= 1;  3= 2; \r\n"
    "__BEGINBLOCK[1]; __XYZ[3,2,2];\r\n"
    "  1   3   3       2   2   3     \r\n"
    "[ 1]  1   1       2   2 ( 3)    \r\n"
    "__ENDBLOCK;\r\n"
    "\r\n";

TEST(SolutionOutput, ExampleRecordByteForByte) {
  TempDir dir;
  const std::string out = dir.PathOf("example_00.txt");
  const uint32_t count = RunJob(dir, ExampleBlock(), 1, out);
  ASSERT_GT(count, 0u);
  const std::vector<std::string> records = SplitRecords(ReadFileBytes(out));
  ASSERT_EQ(records.size(), count);
  EXPECT_EQ(records[0], kExampleRecord);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(RecordNumber(records[i]), static_cast<int>(i + 1));
    // Seven lines, each ended by CR LF, the last one empty.
    EXPECT_EQ(records[i].size(), records[0].size());
    EXPECT_EQ(records[i].substr(records[i].size() - 15), "__ENDBLOCK;\r\n\r\n");
  }
}

TEST(SolutionOutput, LegendOffLeavesOutTheWholeLegendLine) {
  TempDir dir;
  PuzzleSpec spec = ExampleBlock();
  spec.showLegend = 0;
  const std::string out = dir.PathOf("example_00.txt");
  RunJob(dir, spec, 1, out);
  const std::vector<std::string> records = SplitRecords(ReadFileBytes(out));
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0],
            "Solution : 1\r\n"
            "__BEGINBLOCK[1]; __XYZ[3,2,2];\r\n"
            "  1   3   3       2   2   3     \r\n"
            "[ 1]  1   1       2   2 ( 3)    \r\n"
            "__ENDBLOCK;\r\n"
            "\r\n");
}

TEST(SolutionOutput, HoleShowsTwoBlanksInsideItsField) {
  // A 3x2x1 block without the cell (1,1,0), filled by a domino and a bend of three; the
  // stone order puts the bend first.
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 3;
  s.ySize = 2;
  s.zSize = 1;
  s.SetKey(1, 1, 0, 0);
  s.stones = {Shape(kDominoShape), Shape(kTriBend)};
  s.stoneOrder = {1, 0};
  s.symPositions = {{0, 0, 0}};
  s.showLegend = 1;
  const std::string out = dir.PathOf("hole_00.txt");
  ASSERT_EQ(RunJob(dir, s, 1, out), 1u);
  // Level 1, the bend (type 0), covers (0,0,0), (1,0,0) and (0,1,0); level 2, the domino
  // (type 1), covers (2,0,0) and (2,1,0).
  EXPECT_EQ(ReadFileBytes(out),
            "Solution : 1\r\n"
            "Stone Legend (Presentation=Stone) :  1= 0;  2= 1; \r\n"
            "__BEGINBLOCK[1]; __XYZ[3,2,1];\r\n"
            "  1       2     \r\n"
            "[ 1]  1   2     \r\n"
            "__ENDBLOCK;\r\n"
            "\r\n");
}

TEST(SolutionOutput, RateFiveWritesSolutionOneAndEveryFifth) {
  TempDir dir;
  const std::string all = dir.PathOf("all_00.txt");
  const std::string sampled = dir.PathOf("sampled_00.txt");
  const uint32_t count = RunJob(dir, ManySolutions(), 1, all);
  ASSERT_EQ(RunJob(dir, ManySolutions(), 5, sampled), count);
  ASSERT_GE(count, 16u);

  const std::vector<std::string> every = SplitRecords(ReadFileBytes(all));
  ASSERT_EQ(every.size(), count);
  std::vector<int> expectedNumbers = {1};
  for (uint32_t n = 5; n <= count; n += 5) expectedNumbers.push_back(static_cast<int>(n));
  std::vector<int> numbers;
  for (const std::string& record : SplitRecords(ReadFileBytes(sampled))) {
    numbers.push_back(RecordNumber(record));
    // The sampled record is the same packing as the one written at rate 1.
    EXPECT_EQ(record, every[numbers.back() - 1]);
  }
  EXPECT_EQ(numbers, expectedNumbers);
}

TEST(SolutionOutput, JobWithThreeSolutionsAtRateFiveWritesOnlyTheFirst) {
  // The three domino tilings of a 2x3 rectangle.
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 2;
  s.ySize = 3;
  s.zSize = 1;
  s.stones = {Shape(kDominoShape, 3)};
  s.showLegend = 0;
  const std::string out = dir.PathOf("tilings_00.txt");
  ASSERT_EQ(RunJob(dir, s, 5, out), 3u);
  const std::vector<std::string> records = SplitRecords(ReadFileBytes(out));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(RecordNumber(records[0]), 1);
}

TEST(SolutionOutput, SecondSetupEmptiesTheFile) {
  TempDir dir;
  PuzzleSpec spec = ExampleBlock();
  const std::string path = WritePuzzle(dir, "example.ini", spec);
  const std::string out = dir.PathOf("example_00.txt");
  PuzzleSolver solver(0, 0, path, out);
  ASSERT_EQ(solver.Setup(0, 0, path, out), 1);
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  RunToEnd(solver);
  const std::string firstRun = ReadFileBytes(out);
  ASSERT_FALSE(firstRun.empty());

  ASSERT_EQ(solver.Setup(0, 0, path, out), 1);
  EXPECT_EQ(std::filesystem::file_size(out), 0u);
  RunToEnd(solver);
  EXPECT_EQ(ReadFileBytes(out), firstRun);
}

TEST(SolutionOutput, FileInMissingDirectoryStillCountsEverySolution) {
  TempDir dir;
  const std::string good = dir.PathOf("good_00.txt");
  const uint32_t expected = RunJob(dir, ManySolutions(), 1, good);
  ASSERT_GT(expected, 0u);

  PuzzleSpec spec = ManySolutions();
  spec.writeEveryNSolution = 1;
  const std::string path = WritePuzzle(dir, "many.ini", spec);
  const std::string bad = (dir.path() / "missing" / "out_00.txt").string();
  PuzzleSolver solver(0, 0, path, bad);
  ASSERT_EQ(solver.Setup(0, 0, path, bad), 1);
  EXPECT_GT(solver.OutputFailures(), 0u);  // the file could not be created
  const uint32_t afterSetup = solver.OutputFailures();
  const RunResult run = RunToEnd(solver);
  EXPECT_TRUE(run.finished);
  EXPECT_EQ(run.solutions, expected);
  EXPECT_GT(solver.OutputFailures(), afterSetup);  // and no record could be appended
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

TEST(SolutionOutput, NoFileWithoutRateOrName) {
  TempDir dir;
  // Rate 0: the named file is neither created nor written.
  const std::string out = dir.PathOf("none_00.txt");
  EXPECT_GT(RunJob(dir, ManySolutions(), 0, out), 0u);
  EXPECT_FALSE(std::filesystem::exists(out));

  // No name: the rate in the file is ignored.
  PuzzleSpec spec = ManySolutions();
  spec.writeEveryNSolution = 1;
  const std::string path = WritePuzzle(dir, "many.ini", spec);
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1);
  EXPECT_EQ(solver.writeEveryNSolution, 0);
  EXPECT_GT(RunToEnd(solver).solutions, 0u);
  EXPECT_EQ(solver.OutputFailures(), 0u);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().extension(), ".ini") << entry.path();  // puzzle files only
}

TEST(SolutionOutput, LevelsFromOneHundredShowAsDashesButKeepTheirLegend) {
  // 101 single cubes in a row: the last two levels print "--" in the block and their
  // numbers in full in the legend.
  TempDir dir;
  PuzzleSpec s;
  s.xSize = 101;
  s.ySize = 1;
  s.zSize = 1;
  s.edgeZone = 1;
  s.stones = {Shape(kMonocube, 101)};
  s.showLegend = 1;
  const std::string out = dir.PathOf("long_00.txt");
  ASSERT_EQ(RunJob(dir, s, 1, out), 1u);
  const std::string file = ReadFileBytes(out);
  EXPECT_NE(file.find(" 99= 0; 100= 0; 101= 0; \r\n"), std::string::npos);
  const std::string rowEnd = " 98  99  --  --     \r\n";
  EXPECT_NE(file.find(rowEnd), std::string::npos);
}

}  // namespace
}  // namespace quaderix::testing
