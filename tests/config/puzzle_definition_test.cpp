#include "config/puzzle_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// Every scalar key the solver reads, with values unlike the built-in ones.
const char kCompleteFile[] =
    "[BlockInfo]\r\nXSize=3\r\nYSize=2\r\nZSize=2\r\nEdgeZone=2\r\n"
    "[StoneInfo]\r\nStoneCount=2\r\nShowLegend=5\r\nPreCheckLevel=1\r\nFirstPreCheckStone=4\r\n"
    "LastPreCheckStone=6\r\n"
    "[SymetryInfo]\r\nSymetryPosCount=1\r\nEnhancedSymetryCheck=9\r\n"
    "[OutputInfo]\r\nWriteEveryNSolution=7\r\n";

// useFile, XSize, YSize, ZSize, EdgeZone, StoneCount, EnhancedSymetryCheck,
// SymetryPosCount, WriteEveryNSolution, ShowLegend, PreCheckLevel, FirstPreCheckStone,
// LastPreCheckStone.
std::vector<int32_t> Fields(const PuzzleParameters& p) {
  return std::vector<int32_t>({p.useFile, p.xSize, p.ySize, p.zSize, p.edgeZone, p.stoneCount,
                               p.enhancedSymetryCheck, p.symPosCount, p.writeEveryNSolution,
                               p.showLegend, p.preCheckLevel, p.firstPreCheckStone,
                               p.lastPreCheckStone});
}
const std::vector<int32_t> kBuiltIn = {0, 5, 4, 3, 3, 12, 0, 4, 0, 0, 2, 3, 10};

TEST(PuzzleParameters, AllOrNothingForTheRequiredKeys) {
  TempDir dir;
  const std::string complete = dir.WriteFile("complete.ini", kCompleteFile);
  EXPECT_EQ(Fields(ReadPuzzleParameters(complete, true)),
            (std::vector<int32_t>{1, 3, 2, 2, 2, 2, 9, 1, 7, 5, 1, 4, 6}));
  // Without an output file nothing is ever written.
  EXPECT_EQ(ReadPuzzleParameters(complete, false).writeEveryNSolution, 0);

  // A missing or empty required key discards the whole file, optional keys included.
  for (const char* key : {"XSize", "YSize", "ZSize", "EdgeZone", "StoneCount",
                          "EnhancedSymetryCheck", "SymetryPosCount"}) {
    for (bool emptyIt : {false, true}) {
      std::string text = kCompleteFile;
      const size_t at = text.find(std::string(key) + "=");
      text.replace(at, text.find('\n', at) + 1 - at, emptyIt ? std::string(key) + "=\r\n" : "");
      SCOPED_TRACE(text);
      const PuzzleParameters p = ReadPuzzleParameters(dir.WriteFile("p.ini", text), true);
      EXPECT_EQ(Fields(p), kBuiltIn);
      EXPECT_EQ(p.missingKey, key);
    }
  }
  for (const std::string& path :
       {std::string(), dir.WriteFile("empty.ini", ""), dir.PathOf("absent.ini")}) {
    EXPECT_EQ(Fields(ReadPuzzleParameters(path, true)), kBuiltIn) << path;
  }
  EXPECT_EQ(ReadPuzzleParameters("", true).missingKey, "");
}

TEST(PuzzleParameters, OptionalKeysTakeTheirDefaults) {
  TempDir dir;
  // The default of LastPreCheckStone follows the file's StoneCount.
  const PuzzleParameters p = ReadPuzzleParameters(
      dir.WriteFile(
          "p.ini",
          "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\nEdgeZone=3\n[StoneInfo]\nStoneCount=5\n"
          "[SymetryInfo]\nSymetryPosCount=4\nEnhancedSymetryCheck=0\n"),
      true);
  EXPECT_EQ(Fields(p), (std::vector<int32_t>{1, 5, 4, 3, 3, 5, 0, 4, 0, 1, 0, 1, 3}));
}

// The simple range rules are pinned through whole files by the set-up refusal tests; these
// are the boundaries and the size products that only the arithmetic can reach.
TEST(PuzzleParameters, RangeBoundariesAndOversizedProducts) {
  const int32_t big = 2147483647;
  struct Case {
    int32_t x, y, z, edge, stones, symPos;
    SetupErrorCode code;
  };
  const Case cases[] = {
      {1, 1, 1, 1, 1, 0, SetupErrorCode::kNone},
      {5, 4, 3, 3, 12, 7, SetupErrorCode::kNone},
      {5, 4, 3, 3, 12, 8, SetupErrorCode::kBadValue},
      {64, 64, 64, 8, 2, 0, SetupErrorCode::kNone},
      {2000, 2000, 2000, 1, 12, 0, SetupErrorCode::kTooLarge},  // 8e9 cells
      {1, 1, 1, 1073741824, 1, 0, SetupErrorCode::kTooLarge},   // the frame alone
      {46340, 46340, 1, 1, 1, 0, SetupErrorCode::kTooLarge},    // the z stride passes 2^31
      {big, big, big, big, big, 0, SetupErrorCode::kTooLarge},  // beyond 64 bits as well
      {100, 100, 100, 1, 1000, 0, SetupErrorCode::kTooLarge},   // 64e9 placement lists
      {1000, 1000, 1000, 1, big, 0, SetupErrorCode::kTooLarge},
  };
  for (const Case& c : cases) {
    PuzzleParameters p = BuiltInParameters();
    p.xSize = c.x;
    p.ySize = c.y;
    p.zSize = c.z;
    p.edgeZone = c.edge;
    p.stoneCount = c.stones;
    p.symPosCount = c.symPos;
    SetupError error;
    EXPECT_EQ(CheckPuzzleParameters(p, &error), c.code == SetupErrorCode::kNone ? 1 : 0)
        << c.x << "*" << c.y << "*" << c.z << " E " << c.edge << " stones " << c.stones;
    EXPECT_EQ(error.code, c.code) << error.message;
  }
}

TEST(PuzzleSummary, ShowsTheFileWithoutTheAllOrNothingRule) {
  TempDir dir;
  auto fields = [](const PuzzleSummary& s) {
    return std::vector<int32_t>{
        s.jobCount, s.xSize, s.ySize, s.zSize, s.stoneCount, s.symPosCount, s.writeEveryNSolution};
  };
  for (const std::string& path :
       {std::string(), dir.WriteFile("e.ini", ""), dir.PathOf("absent.ini")}) {
    EXPECT_EQ(fields(ReadPuzzleSummary(path)), (std::vector<int32_t>{12, 0, 0, 0, 0, 0, 0}));
  }
  // EdgeZone is missing, so a solver would run the built-in puzzle; the summary does not care.
  std::string text = kCompleteFile;
  text.erase(text.find("EdgeZone=2\r\n"), 12);
  EXPECT_EQ(fields(ReadPuzzleSummary(dir.WriteFile("p.ini", text))),
            (std::vector<int32_t>{2, 3, 2, 2, 2, 1, 7}));
  EXPECT_EQ(fields(ReadPuzzleSummary(dir.WriteFile("q.ini", "[BlockInfo]\nYSize=6\n"))),
            (std::vector<int32_t>{12, 0, 6, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace quaderix
