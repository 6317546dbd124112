// Every rule of the puzzle file that refuses a set-up, shown on the whole set-up path: one
// valid file, changed one or a few lines at a time. The pre-check that runs before any
// job must refuse exactly these, for the same reason, and accept the rest.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/setup_plan.h"
#include "solver/reference_solver.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// A 3*2*2 block with one hole, two copies of a four-cube tripod and a straight tromino.
const char kExample[] =
    "[BlockInfo]\nXSize=3\nYSize=2\nZSize=2\nEdgeZone=2\n"
    "YZLine_00_00=1,1,1\nYZLine_01_00=1,1,1\nYZLine_00_01=1,1,1\nYZLine_01_01=1,1,0\n"
    "[StoneInfo]\nStoneCount=2\nStoneOrder=0,1\n"
    "Stone_00=2,4,0,0,0,1,0,0,0,1,0,0,0,1\nStone_01=1,3,0,0,0,1,0,0,2,0,0\n"
    "ShowLegend=1\nPreCheckLevel=0\n"
    "[SymetryInfo]\nSymetryPosCount=1\nEnhancedSymetryCheck=0\nSymPos0=0,0,0\n"
    "[OutputInfo]\nWriteEveryNSolution=1\n";

// Each edit "Key=..." replaces the line of Key; a bare "Key" removes it.
using Edits = std::vector<std::string>;

std::string Edited(const Edits& edits) {
  std::string text = kExample;
  for (const std::string& edit : edits) {
    const std::string key = edit.substr(0, edit.find('='));
    const size_t at = text.find("\n" + key + "=") + 1;
    EXPECT_NE(at, 0u) << key;
    text.replace(at, text.find('\n', at) + 1 - at, key == edit ? "" : edit + "\n");
  }
  return text;
}

// Stone_01 with `n` cubes spread over a 4*4*3 box, every coordinate written as `coordinate`
// when that is given.
std::string ManyCubes(int n, const std::string& coordinate = "") {
  std::string text = "Stone_01=1," + std::to_string(n);
  for (int j = 0; j < n; ++j) {
    for (int v : {j % 4, j / 4 % 4, j / 16})
      text += "," + (coordinate.empty() ? std::to_string(v) : coordinate);
  }
  return text;
}

// A second symmetry position with the value `value`.
Edits SecondPosition(const std::string& value) {
  return {"SymetryPosCount=2", "SymPos0=0,0,0\nSymPos1=" + value};
}

TEST(PuzzleFile, EveryBrokenRuleFailsTheSetUpAndFreesEverything) {
  TempDir dir;
  struct Case {
    Edits edits;
    SetupErrorCode code;
    const char* named;  // the message tells the user this
  };
  const Case cases[] = {
      {{"XSize=0"}, SetupErrorCode::kBadValue, "XSize"},
      {{"YSize=-1"}, SetupErrorCode::kBadValue, "YSize"},
      // Present but without a number: no default steps in.
      {{"ZSize=abc"}, SetupErrorCode::kBadValue, "ZSize"},
      {{"EdgeZone=0"}, SetupErrorCode::kBadValue, "EdgeZone"},
      {{"StoneCount=0"}, SetupErrorCode::kBadValue, "StoneCount"},
      {{"SymetryPosCount=8"}, SetupErrorCode::kBadValue, "SymetryPosCount"},
      {{"SymetryPosCount=-1"}, SetupErrorCode::kBadValue, "SymetryPosCount"},
      {{"Stone_00=2147483647,1,0,0,0"}, SetupErrorCode::kBadValue, "add up"},
      {{"YZLine_01_01"}, SetupErrorCode::kMissingRow, "YZLine_01_01"},
      {{"YZLine_01_01="}, SetupErrorCode::kMissingRow, "YZLine_01_01"},
      {{"YZLine_01_01=1,1"}, SetupErrorCode::kRowLength, "YZLine_01_01"},
      {{"YZLine_01_01=1,1,0,1"}, SetupErrorCode::kRowLength, "YZLine_01_01"},
      {{"YZLine_01_01=1,1,0,"}, SetupErrorCode::kRowLength, "YZLine_01_01"},
      // Cut at 1023 characters, the row keeps only its first piece.
      {{"YZLine_00_00=" + std::string(1100, '0') + "1,1,1"},
       SetupErrorCode::kRowLength,
       "YZLine_00_00"},
      {{"SymetryPosCount=2"}, SetupErrorCode::kMissingSymPos, "SymPos1"},
      {SecondPosition(""), SetupErrorCode::kMissingSymPos, "SymPos1"},
      {{"SymPos0=0,0"}, SetupErrorCode::kSymPosLength, "SymPos0"},
      {{"SymPos0=0,0,0,0"}, SetupErrorCode::kSymPosLength, "SymPos0"},
      {{"SymPos0=1,0,0"}, SetupErrorCode::kSymPosNotFirst, "SymPos0"},
      {{"SymPos0=2,1,1"}, SetupErrorCode::kSymPosNotFirst, "SymPos0"},
      {SecondPosition("2,1,1"), SetupErrorCode::kSymPosOutside, "SymPos1"},
      {SecondPosition("3,0,0"), SetupErrorCode::kSymPosOutside, "SymPos1"},
      {SecondPosition("0,-1,0"), SetupErrorCode::kSymPosOutside, "SymPos1"},
      {SecondPosition("-2147483648,0,2147483647"), SetupErrorCode::kSymPosOutside, "SymPos1"},
      {{"YZLine_00_00=0,0,0", "YZLine_01_00=0,0,0", "YZLine_00_01=-1,0,0", "YZLine_01_01=0,0,0"},
       SetupErrorCode::kNoCells,
       "hole"},
      {{"StoneOrder"}, SetupErrorCode::kMissingStoneOrder, "StoneOrder"},
      {{"StoneOrder=0"}, SetupErrorCode::kStoneOrderLength, "StoneOrder"},
      {{"StoneOrder=0,1,0"}, SetupErrorCode::kStoneOrderLength, "StoneOrder"},
      {{"StoneOrder=0,2"}, SetupErrorCode::kStoneOrderRange, "StoneOrder"},
      {{"StoneOrder=-1,0"}, SetupErrorCode::kStoneOrderRange, "StoneOrder"},
      {{"StoneOrder=1,1"}, SetupErrorCode::kStoneOrderRepeat, "StoneOrder"},
      {{"Stone_01"}, SetupErrorCode::kMissingStone, "Stone_01"},
      {{"Stone_01="}, SetupErrorCode::kMissingStone, "Stone_01"},
      {{"Stone_01=1,2,0,0,0,1,0,0,9"}, SetupErrorCode::kStoneLength, "8 are needed"},
      {{"Stone_01=1,1,0,0"}, SetupErrorCode::kStoneLength, "Stone_01"},
      {{"Stone_01=1,0,0,0,0"}, SetupErrorCode::kStoneLength, "Stone_01"},
      {{"Stone_01=1,-1,0,0,0"}, SetupErrorCode::kStoneLength, "Stone_01"},
      {{ManyCubes(33)}, SetupErrorCode::kStoneLength, "Stone_01"},
      // A valid 32-cube list with wide numbers is longer than 1023 characters; the cut tail
      // leaves it too short.
      {{ManyCubes(32, "-2000000000")}, SetupErrorCode::kStoneLength, "Stone_01"},
      // The tromino reaches two cells past its anchor.
      {{"EdgeZone=1"}, SetupErrorCode::kEdgeZoneTooNarrow, "Stone_01"},
      {{ManyCubes(32)}, SetupErrorCode::kEdgeZoneTooNarrow, "Stone_01"},
      {{"Stone_01=1,2,5,5,5,5,5,2"}, SetupErrorCode::kEdgeZoneTooNarrow, "Stone_01"},
      {{"Stone_01=1,2,-2000000000,0,0,2000000000,0,0"},
       SetupErrorCode::kEdgeZoneTooNarrow,
       "Stone_01"},
      {{"Stone_01=1,2,0,-2147483648,0,0,2147483647,0"},
       SetupErrorCode::kEdgeZoneTooNarrow,
       "Stone_01"},
  };
  for (const Case& c : cases) {
    const std::string text = Edited(c.edits);
    SCOPED_TRACE(text);
    ReferenceSolver s(0, 0, "", "");
    EXPECT_EQ(s.Setup(0, 0, dir.WriteFile("p.ini", text), ""), 0);
    EXPECT_EQ(s.setupError.code, c.code) << s.setupError.message;
    EXPECT_NE(s.setupError.message.find(c.named), std::string::npos) << s.setupError.message;
    EXPECT_EQ(s.ready, 0);
    EXPECT_TRUE(s.grid.empty());
    EXPECT_TRUE(s.cellOrder.empty());
    for (const auto& table : s.PlacementTables) EXPECT_TRUE(table.empty());
    PuzzleModel model;
    SetupPlan plan;
    SetupError error;
    EXPECT_EQ(PlanSetup(dir.PathOf("p.ini"), 1, model, plan, &error), 0);
    EXPECT_EQ(error.message, s.setupError.message);
  }
}

// Unusual but valid files, each with known counts: puzzle cells, the placements of the
// second stone type over all pattern-0 lists, and the stones of one packing.
TEST(PuzzleFile, UnusualButValidFilesSetUp) {
  TempDir dir;
  struct Case {
    Edits edits;
    int32_t cells, secondTypePlacements, totalStones;
  };
  const Case cases[] = {
      // The tromino lies along x in the three rows without the hole.
      {{}, 11, 3, 3},
      {{"Stone_01=1,3,,,,1,,,2,,"}, 11, 3, 3},
      {{"SymPos0=,,"}, 11, 3, 3},
      {SecondPosition("0,0,0"), 11, 3, 3},  // one cell named twice
      {{"YZLine_00_00=1,,1"}, 10, 2, 3},
      {{"SymetryPosCount=0", "SymPos0=1,2"}, 11, 3, 3},
      // A domino fits 7 times along x, 5 along y and 5 along z around the hole.
      {{"Stone_01=1,2,2147483647,-2147483648,0,2147483646,-2147483648,0"}, 11, 17, 3},
      {{"EdgeZone=3", ManyCubes(32)}, 11, 0, 3},
      {{"SymetryPosCount=0", "YZLine_00_00=0,0,0", "YZLine_01_00=0,0,0", "YZLine_00_01=0,0,0",
        "YZLine_01_01=0,0,0"},
       0,
       0,
       3},
      {{"Stone_00=-4,1,0,0,0"}, 11, 3, -3},
      // Without EdgeZone the whole file gives way to the built-in puzzle.
      {{"EdgeZone"}, 60, -1, 12},
  };
  for (const Case& c : cases) {
    const std::string text = Edited(c.edits);
    SCOPED_TRACE(text);
    ReferenceSolver s(0, 0, "", "");
    ASSERT_EQ(s.Setup(0, 0, dir.WriteFile("p.ini", text), ""), 1) << s.setupError.message;
    EXPECT_EQ(s.cellCount, c.cells);
    EXPECT_EQ(s.TotalStones, c.totalStones);
    int32_t placements = 0;
    for (int32_t i = 0; i < s.cellCount; ++i) placements += s.Candidates(0, i)[1].RowCount;
    if (c.secondTypePlacements >= 0) {
      EXPECT_EQ(placements, c.secondTypePlacements);
    }
    PuzzleModel model;
    SetupPlan plan;
    EXPECT_EQ(PlanSetup(dir.PathOf("p.ini"), 1, model, plan, nullptr), 1);
    // Without holes the tables built hold at least what the memory estimate expects.
    int64_t built = static_cast<int64_t>(s.grid.size() * 5 + s.cellOrder.size() * 12);
    for (const auto& table : s.PlacementTables) {
      for (const PlacementList& list : table)
        built += sizeof list + int64_t{list.RowCount} * list.RowLength * 4;
    }
    const int64_t estimate = EstimateSetupBytes(plan.params, plan.stones);
    if (s.cellCount == s.xSize * s.ySize * s.zSize) {
      EXPECT_LE(estimate, built);
    }
    EXPECT_GE(estimate * 64, built);
  }
}

}  // namespace
}  // namespace quaderix
