#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "puzzle_text.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::BlockCoord;
using testing::Coord;
using testing::PrepareModel;
using testing::TempDir;

std::string File(int x, int y, int z, const std::string& rows, const std::string& symmetry) {
  return "[BlockInfo]\nXSize=" + std::to_string(x) + "\nYSize=" + std::to_string(y) +
         "\nZSize=" + std::to_string(z) + "\nEdgeZone=1\n" + rows +
         "[StoneInfo]\nStoneCount=8\n[SymetryInfo]\nEnhancedSymetryCheck=0\n" + symmetry;
}

// Runs the block and symmetry readers on `text`; returns the symmetry reader's result.
int ReadOrder(PuzzleModel& m, const TempDir& dir, const std::string& text) {
  if (!PrepareModel(m, dir.WriteFile("p.ini", text))) return -1;
  if (!m.ReadBlock()) return -2;
  return m.ReadSymmetry();
}

std::vector<Coord> OrderCoords(const PuzzleModel& m) {
  std::vector<Coord> coords;
  for (int32_t cell : m.cellOrder) coords.push_back(BlockCoord(m, cell));
  return coords;
}

TEST(FillOrder, BuiltInOrderIsScanOrderWithFourCorners) {
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, ""));
  ASSERT_EQ(m.ReadBlock(), 1);
  ASSERT_EQ(m.ReadSymmetry(), 1);
  EXPECT_EQ(m.cellCount, 60);
  ASSERT_EQ(m.cellOrder.size(), 60u);
  EXPECT_EQ(m.cellOrder[0], 366);
  EXPECT_EQ(m.cellOrder[1], 366 + 110);
  EXPECT_EQ(m.cellOrder[2], 366 + 220);
  EXPECT_EQ(m.cellOrder[3], 366 + 11);
  // x outermost, z innermost.
  size_t i = 0;
  for (int32_t x = 0; x < 5; ++x)
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t z = 0; z < 3; ++z) EXPECT_EQ(OrderCoords(m)[i++], (Coord{x, y, z}));
  EXPECT_EQ(m.symPosCount, 4);
  EXPECT_EQ(m.symCells[0], 366);
  EXPECT_EQ(m.symCells[1], 619);
  EXPECT_EQ(m.symCells[2], 590);
  EXPECT_EQ(m.symCells[3], 403);
}

TEST(FillOrder, EqualKeysKeepScanOrderWithXSlowest) {
  TempDir dir;
  PuzzleModel m;
  ASSERT_EQ(ReadOrder(m, dir,
                      File(2, 2, 1, "YZLine_00_00=1,1\nYZLine_01_00=1,1\n",
                           "SymetryPosCount=1\nSymPos0=0,0,0\n")),
            1);
  EXPECT_EQ(OrderCoords(m), (std::vector<Coord>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}}));
}

TEST(FillOrder, KeysOverrideScanOrder) {
  TempDir dir;
  PuzzleModel m;
  ASSERT_EQ(ReadOrder(m, dir,
                      File(3, 2, 1, "YZLine_00_00=1,1,1\nYZLine_01_00=2,2,2\n",
                           "SymetryPosCount=1\nSymPos0=0,0,0\n")),
            1);
  EXPECT_EQ(OrderCoords(m),
            (std::vector<Coord>{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}}));

  // Descending keys reverse the order; holes are left out and not counted.
  PuzzleModel r;
  ASSERT_EQ(ReadOrder(r, dir,
                      File(3, 2, 1, "YZLine_00_00=9,0,7\nYZLine_01_00=3,2,-1\n",
                           "SymetryPosCount=1\nSymPos0=1,1,0\n")),
            1);
  EXPECT_EQ(r.cellCount, 4);
  EXPECT_EQ(OrderCoords(r), (std::vector<Coord>{{1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {0, 0, 0}}));
  EXPECT_EQ(r.symCells[0], r.GridIndex(1, 1, 0));
}

TEST(FillOrder, MatchesAStableSortOfTheScan) {
  TempDir dir;
  // 4*3*2 with many equal keys and two holes.
  auto key = [](int32_t x, int32_t y, int32_t z) {
    if ((x == 1 && y == 1 && z == 0) || (x == 3 && y == 2 && z == 1)) return 0;
    return (x * 7 + y * 3 + z * 5) % 4 + 1;
  };
  std::string rows;
  for (int32_t z = 0; z < 2; ++z)
    for (int32_t y = 0; y < 3; ++y) {
      rows += "YZLine_0" + std::to_string(y) + "_0" + std::to_string(z) + "=";
      for (int32_t x = 0; x < 4; ++x) rows += (x ? "," : "") + std::to_string(key(x, y, z));
      rows += "\n";
    }
  std::vector<std::pair<int32_t, Coord>> scan;
  for (int32_t x = 0; x < 4; ++x)
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t z = 0; z < 2; ++z)
        if (key(x, y, z) > 0) scan.push_back({key(x, y, z), Coord{x, y, z}});
  std::stable_sort(scan.begin(), scan.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Coord> expected;
  for (const auto& entry : scan) expected.push_back(entry.second);

  PuzzleModel m;
  const Coord first = expected[0];
  ASSERT_EQ(ReadOrder(m, dir,
                      File(4, 3, 2, rows,
                           "SymetryPosCount=1\nSymPos0=" + std::to_string(first[0]) + "," +
                               std::to_string(first[1]) + "," + std::to_string(first[2]) + "\n")),
            1);
  EXPECT_EQ(m.cellCount, 22);
  EXPECT_EQ(OrderCoords(m), expected);
}

TEST(FillOrder, SymmetryPositionRules) {
  TempDir dir;
  const std::string rows = "YZLine_00_00=1,1\nYZLine_01_00=1,0\n";  // (1,1,0) is a hole
  struct Case {
    const char* name;
    std::string symmetry;
    int result;
    SetupErrorCode code;
  };
  const Case cases[] = {
      {"first cell", "SymetryPosCount=1\nSymPos0=0,0,0\n", 1, SetupErrorCode::kNone},
      {"not first", "SymetryPosCount=1\nSymPos0=1,0,0\n", 0, SetupErrorCode::kSymPosNotFirst},
      {"first on a hole", "SymetryPosCount=1\nSymPos0=1,1,0\n", 0, SetupErrorCode::kSymPosNotFirst},
      {"two values", "SymetryPosCount=1\nSymPos0=1,2\n", 0, SetupErrorCode::kSymPosLength},
      {"four values", "SymetryPosCount=1\nSymPos0=0,0,0,0\n", 0, SetupErrorCode::kSymPosLength},
      {"missing", "SymetryPosCount=2\nSymPos0=0,0,0\n", 0, SetupErrorCode::kMissingSymPos},
      {"empty", "SymetryPosCount=2\nSymPos0=0,0,0\nSymPos1=\n", 0, SetupErrorCode::kMissingSymPos},
      {"later on a hole", "SymetryPosCount=2\nSymPos0=0,0,0\nSymPos1=1,1,0\n", 0,
       SetupErrorCode::kSymPosOutside},
      {"later outside", "SymetryPosCount=2\nSymPos0=0,0,0\nSymPos1=2,0,0\n", 0,
       SetupErrorCode::kSymPosOutside},
      {"later negative", "SymetryPosCount=2\nSymPos0=0,0,0\nSymPos1=0,-1,0\n", 0,
       SetupErrorCode::kSymPosOutside},
      {"empty pieces read as 0", "SymetryPosCount=1\nSymPos0=,,\n", 1, SetupErrorCode::kNone},
      {"none, nothing read", "SymetryPosCount=0\nSymPos0=1,2\n", 1, SetupErrorCode::kNone},
      // Only the first SymetryPosCount keys are read.
      {"extra keys ignored", "SymetryPosCount=1\nSymPos0=0,0,0\nSymPos1=1\n", 1,
       SetupErrorCode::kNone},
  };
  for (const Case& c : cases) {
    PuzzleModel m;
    EXPECT_EQ(ReadOrder(m, dir, File(2, 2, 1, rows, c.symmetry)), c.result) << c.name;
    EXPECT_EQ(m.setupError.code, c.code) << c.name << ": " << m.setupError.message;
  }
}

TEST(FillOrder, SymmetryCellsFollowTheirPositions) {
  TempDir dir;
  PuzzleModel m;
  ASSERT_EQ(ReadOrder(m, dir,
                      File(3, 2, 2,
                           "YZLine_00_00=1,1,1\nYZLine_01_00=1,1,1\n"
                           "YZLine_00_01=1,1,1\nYZLine_01_01=1,1,1\n",
                           "SymetryPosCount=4\nSymPos0=0,0,0\nSymPos1=2,1,1\n"
                           "SymPos2=2,1,1\nSymPos3=0,1,0\n")),
            1);
  EXPECT_EQ(m.symCells[0], m.GridIndex(0, 0, 0));
  // The same cell may be named twice.
  EXPECT_EQ(m.symCells[1], m.GridIndex(2, 1, 1));
  EXPECT_EQ(m.symCells[2], m.GridIndex(2, 1, 1));
  EXPECT_EQ(m.symCells[3], m.GridIndex(0, 1, 0));
  EXPECT_EQ(m.symPositions[3], (std::array<int32_t, 3>{0, 1, 0}));
}

TEST(FillOrder, BlockOfHolesOnly) {
  TempDir dir;
  PuzzleModel withPositions;
  EXPECT_EQ(ReadOrder(withPositions, dir,
                      File(2, 1, 1, "YZLine_00_00=0,0\n", "SymetryPosCount=1\nSymPos0=0,0,0\n")),
            0);
  EXPECT_EQ(withPositions.setupError.code, SetupErrorCode::kNoCells);

  PuzzleModel without;
  EXPECT_EQ(ReadOrder(without, dir, File(2, 1, 1, "YZLine_00_00=0,0\n", "SymetryPosCount=0\n")), 1);
  EXPECT_EQ(without.cellCount, 0);
  EXPECT_TRUE(without.cellOrder.empty());
}

}  // namespace
}  // namespace quaderix
