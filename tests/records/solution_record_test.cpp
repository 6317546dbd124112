// Output files read back: packings written by the solver return as the same cells,
// stones and marks; cut, damaged and foreign files; a file that grows while it is read.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "records/solution_file.h"
#include "records/written_packings.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

// Two bends of three and three dominoes in 2x2x3: many packings, copies of both types.
const PuzzleDescription kCopies{.xSize = 2,
                                .ySize = 2,
                                .zSize = 3,
                                .stones = {{kTriBend, 2}, {kDomino, 3}},
                                .symPositions = {{0, 0, 0}}};

// Eight dominoes around the two holes in the middle of a 3x3x2 block.
PuzzleDescription Holes() {
  PuzzleDescription p{
      .xSize = 3, .ySize = 3, .zSize = 2, .stones = {{kDomino, 8}}, .symPositions = {{0, 0, 0}}};
  p.SetKey(1, 1, 0, 0);
  p.SetKey(1, 1, 1, 0);
  return p;
}

// 102 monocubes and one bend in 7x5x3: 103 levels, so the bend is often one of the "--"
// stones. Job 1 puts a monocube first.
const PuzzleDescription kHundredLevels{.xSize = 7,
                                       .ySize = 5,
                                       .zSize = 3,
                                       .stones = {{kTriBend, 1}, {kMonocube, 102}},
                                       .symPositions = {{0, 0, 0}}};

// Every record of `path` against what the solver had on its grid.
void ExpectSameAsSolver(const std::string& path, const std::vector<SolverPacking>& expected,
                        bool legend) {
  SolutionFile file;
  ASSERT_EQ(file.Open(path), SolutionFile::Ok) << file.error();
  EXPECT_EQ(file.warning(), "");
  ASSERT_GE(file.records().size(), expected.size());
  ASSERT_GE(expected.size(), 2u);
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const SolverPacking& want = expected[i];
    Packing got;
    ASSERT_EQ(file.Load(i, got), SolutionFile::Ok) << file.error();
    EXPECT_EQ(got.solution, want.solution);
    EXPECT_EQ(file.records()[i].solution, want.solution);
    EXPECT_EQ(got.hasLegend, legend);
    EXPECT_EQ(got.HighLevelCount(), std::max<int32_t>(0, std::ssize(want.stoneOfLevel) - 99));
    if (legend) {
      ASSERT_EQ(got.legend.size(), want.stoneOfLevel.size());
      for (size_t k = 0; k < got.legend.size(); ++k) {
        EXPECT_EQ(got.legend[k].level, static_cast<int32_t>(k + 1));
        EXPECT_EQ(got.legend[k].stone, want.stoneOfLevel[k]);
      }
    }
    ASSERT_EQ(got.level.size(), want.level.size());
    std::set<int32_t> levels;
    int32_t highCells = 0;
    for (size_t c = 0; c < want.level.size(); ++c) {
      const int32_t level = want.level[c];
      EXPECT_EQ(got.mark[c], want.mark[c]) << "cell " << c;
      if (level == 0) {
        EXPECT_EQ(got.level[c], 0);
        EXPECT_EQ(got.piece[c], -1);
        continue;
      }
      const Piece& piece = got.pieces.at(got.piece[c]);
      if (level >= 100) {
        ++highCells;
        EXPECT_EQ(got.level[c], kHighLevel);
        EXPECT_EQ(piece.level, kHighLevel);
        continue;
      }
      levels.insert(level);
      EXPECT_EQ(got.level[c], level) << "cell " << c;
      EXPECT_EQ(piece.level, level);
      EXPECT_EQ(piece.stone, legend ? want.stoneOfLevel[level - 1] : -1);
    }
    int32_t lowPieces = 0;
    int32_t highPieceCells = 0;
    for (const Piece& piece : got.pieces) {
      lowPieces += piece.level > 0 ? 1 : 0;
      highPieceCells += piece.level == kHighLevel ? piece.cellCount : 0;
    }
    EXPECT_EQ(lowPieces, static_cast<int32_t>(levels.size()));
    EXPECT_EQ(highPieceCells, highCells);
  }
}

TEST(SolutionRecord, SolverPackingsReadBack) {
  PuzzleDescription noLegend = kCopies;
  noLegend.showLegend = 0;
  const struct {
    const char* name;
    PuzzleDescription puzzle;
    int job;
  } cases[] = {
      {"copies", kCopies, 0},
      {"holes", Holes(), 0},
      {"no legend", noLegend, 1},
      {"100 and more levels", kHundredLevels, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string out = dir.PathOf("out_00.txt");
    // Enough packings of the 103 levels that the bend is among the "--" stones in some.
    const std::vector<SolverPacking> expected = WritePackings(dir, c.puzzle, out, c.job, 1000);
    ExpectSameAsSolver(out, expected, c.puzzle.showLegend != 0);
  }
}

// A file of the first three records of kCopies, with CR LF line ends.
std::string ThreeRecords(const TempDir& dir) {
  const std::string out = dir.PathOf("three.txt");
  WritePackings(dir, kCopies, out);
  const std::string text = ReadFileBytes(out);
  size_t end = 0;
  for (int i = 0; i < 3; ++i) end = text.find("__ENDBLOCK;\r\n\r\n", end) + 15;
  return text.substr(0, end);
}

TEST(SolutionRecord, CutLastRecordIsLeftOutWithAWarning) {
  TempDir dir;
  const std::string text = ThreeRecords(dir);
  const size_t third = text.find("Solution : ", text.find("__BEGINBLOCK[2]"));
  // Every place a crash could end the file inside the third record.
  for (size_t cut = third + 1; cut < text.size() - 2; ++cut) {
    const ScanResult scan = ScanRecords(std::string_view(text).substr(0, cut));
    ASSERT_EQ(scan.error, "") << "cut at " << cut;
    ASSERT_EQ(scan.records.size(), 2u) << "cut at " << cut;
    EXPECT_NE(scan.warning, "") << "cut at " << cut;
    EXPECT_EQ(scan.completeEnd, third);
  }
  // Only the empty line after "__ENDBLOCK;" missing: the record is whole.
  const ScanResult whole = ScanRecords(std::string_view(text).substr(0, text.size() - 2));
  EXPECT_EQ(whole.records.size(), 3u);
  EXPECT_EQ(whole.warning, "");
}

TEST(SolutionRecord, LineEndsAndDamage) {
  TempDir dir;
  const std::string text = ThreeRecords(dir);
  std::string lf = text;
  lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    const size_t at = t.find(from, t.find("Solution : 2"));
    return t.replace(at, from.size(), to);
  };
  const size_t record2Line =
      1 + std::count(text.begin(), text.begin() + text.find("Solution : 2"), '\n');
  auto l = [&](size_t k) { return "Line " + std::to_string(record2Line + k); };
  const struct {
    const char* name;
    std::string text;
    size_t records;
    std::string error;
  } cases[] = {
      {"CR LF", text, 3, ""},
      {"LF", lf, 3, ""},
      {"not an output file", "[BlockInfo]\r\nXSize=3\r\n", 0,
       "Line 1 is not a \"Solution : <number>\" line."},
      {"legend", replaced("= 1;", "=x1;"), 1,
       l(1) + " is not a stone legend of \"level=stone;\" entries."},
      {"header", replaced("__XYZ[", "__XY["), 1,
       l(2) + " is not a \"__BEGINBLOCK[n]; __XYZ[x,y,z];\" line."},
      {"block number", replaced("__BEGINBLOCK[2]", "__BEGINBLOCK[7]"), 1,
       l(2) + " names block 7 in solution 2."},
      {"cell", replaced("__XYZ[2,2,3];\r\n ", "__XYZ[2,2,3];\r\n{"), 1,
       l(3) + " has no cell field at column 1."},
      {"level not in legend", replaced("[ 1]", "[ 9]"), 1,
       l(4) + " shows level 9, which the legend does not list."},
      {"row length", replaced("__XYZ[2,2,3];\r\n", "__XYZ[2,2,3];\r\n    x  "), 1,
       l(3) + " is a block row of 43 characters where 36 are expected."},
      {"solution line", replaced("Solution : 2", "Solution: 2"), 1,
       l(0) + " is not a \"Solution : <number>\" line."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScanResult scan = ScanRecords(c.text);
    EXPECT_EQ(scan.records.size(), c.records);
    EXPECT_EQ(scan.error, c.error);
    EXPECT_EQ(scan.warning, "");
  }
}

TEST(SolutionRecord, FileFollowsAppendsAndANewRun) {
  TempDir dir;
  const std::string text = ThreeRecords(dir);
  const size_t second = text.find("Solution : 2");
  const std::string path = dir.WriteFile("grow.txt", text.substr(0, second + 20));
  SolutionFile file;
  ASSERT_EQ(file.Open(path), SolutionFile::Ok);
  EXPECT_EQ(file.records().size(), 1u);
  EXPECT_NE(file.warning(), "");
  bool added = false;
  dir.WriteFile("grow.txt", text);
  ASSERT_EQ(file.Refresh(added), SolutionFile::Ok);
  EXPECT_TRUE(added);
  ASSERT_EQ(file.records().size(), 3u);
  EXPECT_EQ(file.warning(), "");
  Packing third;
  ASSERT_EQ(file.Load(2, third), SolutionFile::Ok);
  EXPECT_EQ(third.solution, 3u);
  EXPECT_EQ(file.Find(3), 2);
  EXPECT_EQ(file.Find(4), -1);
  ASSERT_EQ(file.Refresh(added), SolutionFile::Ok);
  EXPECT_FALSE(added);
  // A new run empties the file and writes its own records, here as many as before but
  // each a different one.
  const uint32_t generation = file.generation();
  dir.WriteFile("grow.txt", text.substr(second) + text.substr(0, second));
  ASSERT_EQ(file.Refresh(added), SolutionFile::Ok);
  EXPECT_TRUE(added);
  EXPECT_NE(file.generation(), generation);
  ASSERT_EQ(file.records().size(), 3u);
  EXPECT_EQ(file.records()[0].solution, 2u);
  EXPECT_EQ(file.Open(dir.PathOf("missing.txt")), SolutionFile::Unreadable);
}

}  // namespace
}  // namespace quaderix::testing
