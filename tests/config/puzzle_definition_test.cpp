#include "config/puzzle_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// Every key the solver reads as a scalar, with values unlike the built-in ones.
const std::vector<std::string> kCompleteFile = {"[BlockInfo]",
                                                "XSize=3",
                                                "YSize=2",
                                                "ZSize=2",
                                                "EdgeZone=2",
                                                "YZLine_00_00=1,1,1",
                                                "[StoneInfo]",
                                                "StoneCount=2",
                                                "StoneOrder=0,1",
                                                "ShowLegend=5",
                                                "PreCheckLevel=1",
                                                "FirstPreCheckStone=4",
                                                "LastPreCheckStone=6",
                                                "[SymetryInfo]",
                                                "SymetryPosCount=1",
                                                "EnhancedSymetryCheck=9",
                                                "SymPos0=0,0,0",
                                                "[OutputInfo]",
                                                "WriteEveryNSolution=7"};

const char* const kRequiredKeys[] = {
    "XSize", "YSize", "ZSize", "EdgeZone", "StoneCount", "EnhancedSymetryCheck", "SymetryPosCount"};

// The file's lines, with the line of `dropKey` left out or, when `emptyIt`, its value
// removed.
std::string FileText(const std::vector<std::string>& lines, const std::string& dropKey = "",
                     bool emptyIt = false) {
  std::string text;
  for (const std::string& line : lines) {
    if (!dropKey.empty() && line.rfind(dropKey + "=", 0) == 0) {
      if (emptyIt) text += dropKey + "=\r\n";
      continue;
    }
    text += line + "\r\n";
  }
  return text;
}

void ExpectBuiltIn(const PuzzleParameters& p) {
  EXPECT_EQ(p.useFile, 0);
  EXPECT_EQ(p.xSize, 5);
  EXPECT_EQ(p.ySize, 4);
  EXPECT_EQ(p.zSize, 3);
  EXPECT_EQ(p.edgeZone, 3);
  EXPECT_EQ(p.stoneCount, 12);
  EXPECT_EQ(p.enhancedSymetryCheck, 0);
  EXPECT_EQ(p.symPosCount, 4);
  EXPECT_EQ(p.writeEveryNSolution, 0);
  EXPECT_EQ(p.showLegend, 0);
  EXPECT_EQ(p.preCheckLevel, 2);
  EXPECT_EQ(p.firstPreCheckStone, 3);
  EXPECT_EQ(p.lastPreCheckStone, 10);
}

TEST(PuzzleParameters, CompleteFileIsReadAsWritten) {
  TempDir dir;
  const std::string path = dir.WriteFile("p.ini", FileText(kCompleteFile));
  const PuzzleParameters p = ReadPuzzleParameters(path, true);
  EXPECT_EQ(p.useFile, 1);
  EXPECT_EQ(p.missingKey, "");
  EXPECT_EQ(p.xSize, 3);
  EXPECT_EQ(p.ySize, 2);
  EXPECT_EQ(p.zSize, 2);
  EXPECT_EQ(p.edgeZone, 2);
  EXPECT_EQ(p.stoneCount, 2);
  EXPECT_EQ(p.enhancedSymetryCheck, 9);
  EXPECT_EQ(p.symPosCount, 1);
  EXPECT_EQ(p.writeEveryNSolution, 7);
  EXPECT_EQ(p.showLegend, 5);
  EXPECT_EQ(p.preCheckLevel, 1);
  EXPECT_EQ(p.firstPreCheckStone, 4);
  EXPECT_EQ(p.lastPreCheckStone, 6);
  EXPECT_EQ(CheckPuzzleParameters(p, nullptr), 1);
}

TEST(PuzzleParameters, AnyMissingRequiredKeySelectsTheWholeBuiltInPuzzle) {
  TempDir dir;
  for (const char* key : kRequiredKeys) {
    for (bool emptyIt : {false, true}) {
      SCOPED_TRACE(std::string(key) + (emptyIt ? " empty" : " missing"));
      const std::string path = dir.WriteFile("p.ini", FileText(kCompleteFile, key, emptyIt));
      // The file's optional keys (ShowLegend 5, WriteEveryNSolution 7, ...) are discarded too.
      const PuzzleParameters p = ReadPuzzleParameters(path, true);
      ExpectBuiltIn(p);
      EXPECT_EQ(p.missingKey, key);
      EXPECT_EQ(CheckPuzzleParameters(p, nullptr), 1);
    }
  }
}

TEST(PuzzleParameters, EmptyPathOrEmptyFileGivesBuiltInPuzzle) {
  TempDir dir;
  const PuzzleParameters none = ReadPuzzleParameters("", true);
  ExpectBuiltIn(none);
  EXPECT_EQ(none.missingKey, "");

  const PuzzleParameters empty = ReadPuzzleParameters(dir.WriteFile("e.ini", ""), true);
  ExpectBuiltIn(empty);
  EXPECT_EQ(empty.missingKey, "XSize");

  const PuzzleParameters absent = ReadPuzzleParameters(dir.PathOf("absent.ini"), true);
  ExpectBuiltIn(absent);
}

TEST(PuzzleParameters, OptionalKeysTakeTheirDefaults) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("p.ini",
                    "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\nEdgeZone=3\n"
                    "[StoneInfo]\nStoneCount=12\n"
                    "[SymetryInfo]\nSymetryPosCount=4\nEnhancedSymetryCheck=0\n");
  const PuzzleParameters p = ReadPuzzleParameters(path, true);
  EXPECT_EQ(p.useFile, 1);
  EXPECT_EQ(p.writeEveryNSolution, 0);
  EXPECT_EQ(p.showLegend, 1);
  EXPECT_EQ(p.preCheckLevel, 0);
  EXPECT_EQ(p.firstPreCheckStone, 1);
  EXPECT_EQ(p.lastPreCheckStone, 10);

  // The default of LastPreCheckStone follows the StoneCount of the file.
  const PuzzleParameters five = ReadPuzzleParameters(
      dir.WriteFile("q.ini",
                    "[BlockInfo]\nXSize=5\nYSize=4\nZSize=3\nEdgeZone=3\n"
                    "[StoneInfo]\nStoneCount=5\n"
                    "[SymetryInfo]\nSymetryPosCount=4\nEnhancedSymetryCheck=0\n"),
      true);
  EXPECT_EQ(five.lastPreCheckStone, 3);
}

TEST(PuzzleParameters, WriteEveryNSolutionNeedsAnOutputFile) {
  TempDir dir;
  const std::string path = dir.WriteFile("p.ini", FileText(kCompleteFile));
  EXPECT_EQ(ReadPuzzleParameters(path, true).writeEveryNSolution, 7);
  EXPECT_EQ(ReadPuzzleParameters(path, false).writeEveryNSolution, 0);
}

TEST(PuzzleParameters, MalformedRequiredValueStillCountsAsPresent) {
  TempDir dir;
  std::vector<std::string> lines = kCompleteFile;
  for (std::string& line : lines) {
    if (line == "XSize=3") line = "XSize=abc";
    if (line == "YSize=2") line = "YSize=010";
  }
  const PuzzleParameters p = ReadPuzzleParameters(dir.WriteFile("p.ini", FileText(lines)), true);
  EXPECT_EQ(p.useFile, 1);
  EXPECT_EQ(p.missingKey, "");
  EXPECT_EQ(p.ySize, 8);  // octal
  // No default steps in for the unreadable XSize, so the range check refuses it.
  SetupError error;
  EXPECT_EQ(CheckPuzzleParameters(p, &error), 0);
  EXPECT_EQ(error.code, SetupErrorCode::kBadValue);
  EXPECT_NE(error.message.find("XSize"), std::string::npos) << error.message;
}

TEST(PuzzleParameters, RangeRulesRefuseEveryBadScalar) {
  struct Case {
    const char* name;
    void (*change)(PuzzleParameters&);
    int expected;
  };
  const Case cases[] = {
      {"XSize", [](PuzzleParameters& p) { p.xSize = 0; }, 0},
      {"YSize", [](PuzzleParameters& p) { p.ySize = -1; }, 0},
      {"ZSize", [](PuzzleParameters& p) { p.zSize = 0; }, 0},
      {"EdgeZone", [](PuzzleParameters& p) { p.edgeZone = 0; }, 0},
      {"StoneCount", [](PuzzleParameters& p) { p.stoneCount = 0; }, 0},
      {"SymetryPosCount", [](PuzzleParameters& p) { p.symPosCount = 8; }, 0},
      {"SymetryPosCount", [](PuzzleParameters& p) { p.symPosCount = -1; }, 0},
      {"SymetryPosCount", [](PuzzleParameters& p) { p.symPosCount = 0; }, 1},
      {"SymetryPosCount", [](PuzzleParameters& p) { p.symPosCount = 7; }, 1},
      {"XSize", [](PuzzleParameters& p) { p.xSize = 1; }, 1},
  };
  for (const Case& c : cases) {
    PuzzleParameters p = BuiltInParameters();
    c.change(p);
    SetupError error;
    EXPECT_EQ(CheckPuzzleParameters(p, &error), c.expected) << c.name;
    if (c.expected == 0) {
      EXPECT_EQ(error.code, SetupErrorCode::kBadValue) << c.name;
      EXPECT_NE(error.message.find(c.name), std::string::npos) << error.message;
    } else {
      EXPECT_EQ(error.code, SetupErrorCode::kNone) << c.name;
    }
  }
}

TEST(PuzzleParameters, SymetryPosCountFromFileIsChecked) {
  TempDir dir;
  for (const char* value : {"8", "-1", "0x10"}) {
    std::vector<std::string> lines = kCompleteFile;
    for (std::string& line : lines) {
      if (line == "SymetryPosCount=1") line = std::string("SymetryPosCount=") + value;
    }
    const PuzzleParameters p = ReadPuzzleParameters(dir.WriteFile("p.ini", FileText(lines)), true);
    EXPECT_EQ(p.useFile, 1) << value;
    EXPECT_EQ(CheckPuzzleParameters(p, nullptr), 0) << value;
  }
}

TEST(PuzzleParameters, OversizedGridsAreRefusedBeforeAnyAllocation) {
  struct Case {
    int32_t x, y, z, e, stones;
  };
  const int32_t big = 2147483647;
  const Case cases[] = {
      {2000, 2000, 2000, 1, 12},  // 8e9 cells
      {1, 1, 1, 1073741824, 1},   // the frame alone overflows a stride
      {big, big, big, big, big},  // every product overflows 64 bits as well
      {2000000000, 2000000000, 2000000000, 1, 1},
      {46340, 46340, 1, 1, 1},         // the z stride passes 2^31
      {100, 100, 100, 1, 1000},        // fits the grid, but 64e9 placement lists
      {512, 512, 512, 1, 1073741824},  // lists: 2^27 cells * 64 * 2^30 types
      {1000, 1000, 1000, 1, big},
  };
  for (const Case& c : cases) {
    PuzzleParameters p = BuiltInParameters();
    p.xSize = c.x;
    p.ySize = c.y;
    p.zSize = c.z;
    p.edgeZone = c.e;
    p.stoneCount = c.stones;
    p.symPosCount = 0;
    SetupError error;
    EXPECT_EQ(CheckPuzzleParameters(p, &error), 0)
        << c.x << "*" << c.y << "*" << c.z << " E " << c.e << " stones " << c.stones;
    EXPECT_EQ(error.code, SetupErrorCode::kTooLarge) << error.message;
  }
  // Just below the limits is accepted.
  PuzzleParameters p = BuiltInParameters();
  p.xSize = 64;
  p.ySize = 64;
  p.zSize = 64;
  p.edgeZone = 8;
  p.stoneCount = 2;
  EXPECT_EQ(CheckPuzzleParameters(p, nullptr), 1);
}

TEST(PuzzleParameters, GeometryOfTheBuiltInPuzzle) {
  const GridGeometry g = ComputeGeometry(BuiltInParameters());
  EXPECT_EQ(g.xStride, 1);
  EXPECT_EQ(g.yStride, 11);
  EXPECT_EQ(g.zStride, 110);
  EXPECT_EQ(g.gridSize, 990);
  EXPECT_EQ(g.cellCount, 60);
}

TEST(PuzzleSummary, EmptyOrMissingFileShowsZerosAndTwelveJobs) {
  TempDir dir;
  for (const std::string& path :
       {std::string(), dir.WriteFile("e.ini", ""), dir.PathOf("absent.ini")}) {
    const PuzzleSummary s = ReadPuzzleSummary(path);
    EXPECT_EQ(s.jobCount, 12);
    EXPECT_EQ(s.xSize, 0);
    EXPECT_EQ(s.ySize, 0);
    EXPECT_EQ(s.zSize, 0);
    EXPECT_EQ(s.stoneCount, 0);
    EXPECT_EQ(s.symPosCount, 0);
    EXPECT_EQ(s.writeEveryNSolution, 0);
  }
}

TEST(PuzzleSummary, ShowsTheFileWithoutTheAllOrNothingRule) {
  TempDir dir;
  // EdgeZone is missing, so a solver would run the built-in puzzle; the summary does not care.
  const PuzzleSummary s =
      ReadPuzzleSummary(dir.WriteFile("p.ini", FileText(kCompleteFile, "EdgeZone")));
  EXPECT_EQ(s.jobCount, 2);
  EXPECT_EQ(s.xSize, 3);
  EXPECT_EQ(s.ySize, 2);
  EXPECT_EQ(s.zSize, 2);
  EXPECT_EQ(s.stoneCount, 2);
  EXPECT_EQ(s.symPosCount, 1);
  EXPECT_EQ(s.writeEveryNSolution, 7);

  const PuzzleSummary partial = ReadPuzzleSummary(dir.WriteFile("q.ini", "[BlockInfo]\nYSize=6\n"));
  EXPECT_EQ(partial.jobCount, 12);
  EXPECT_EQ(partial.xSize, 0);
  EXPECT_EQ(partial.ySize, 6);
  EXPECT_EQ(partial.stoneCount, 0);
}

}  // namespace
}  // namespace quaderix
