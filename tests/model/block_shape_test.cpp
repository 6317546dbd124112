#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "puzzle_text.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::Coord;
using testing::ExpectedIndex;
using testing::PrepareModel;
using testing::TempDir;

const char kHeader[] =
    "[StoneInfo]\nStoneCount=1\n"
    "[SymetryInfo]\nSymetryPosCount=0\nEnhancedSymetryCheck=0\n";

std::string BlockFile(int x, int y, int z, int e, const std::string& rows) {
  return std::string(kHeader) + "[BlockInfo]\nXSize=" + std::to_string(x) +
         "\nYSize=" + std::to_string(y) + "\nZSize=" + std::to_string(z) +
         "\nEdgeZone=" + std::to_string(e) + "\n" + rows;
}

TEST(BlockShape, BuiltInGridIsAFullBoxInAThreeCellFrame) {
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, ""));
  ASSERT_EQ(m.ReadBlock(), 1);
  EXPECT_EQ(m.useFile, 0);
  EXPECT_EQ(m.xStride, 1);
  EXPECT_EQ(m.yStride, 11);
  EXPECT_EQ(m.zStride, 110);
  ASSERT_EQ(m.grid.size(), 990u);
  EXPECT_EQ(m.GridIndex(0, 0, 0), 366);
  int cells = 0;
  for (int32_t i = 0; i < 990; ++i) {
    const int32_t px = i % 11, py = i / 11 % 10, pz = i / 110;
    const bool inBlock = px >= 3 && px < 8 && py >= 3 && py < 7 && pz >= 3 && pz < 6;
    EXPECT_EQ(m.grid[i], inBlock ? 0 : -1) << "index " << i;
    cells += inBlock;
  }
  EXPECT_EQ(cells, 60);
}

TEST(BlockShape, RowValuesBecomeOrderKeysAndHoles) {
  TempDir dir;
  // Rows 5,0,7 and -4,08,01: 08 reads as 0 (a hole), 01 as octal 1.
  const std::string path =
      dir.WriteFile("p.ini", BlockFile(3, 2, 1, 2, "YZLine_00_00=5,0,7\nYZLine_01_00=-4,08,01\n"));
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, path));
  ASSERT_EQ(m.ReadBlock(), 1);
  EXPECT_EQ(m.useFile, 1);
  EXPECT_EQ(m.grid.size(), 7u * 6u * 5u);
  EXPECT_EQ(m.grid[m.GridIndex(0, 0, 0)], 5);
  EXPECT_EQ(m.grid[m.GridIndex(1, 0, 0)], -1);
  EXPECT_EQ(m.grid[m.GridIndex(2, 0, 0)], 7);
  EXPECT_EQ(m.grid[m.GridIndex(0, 1, 0)], -1);
  EXPECT_EQ(m.grid[m.GridIndex(1, 1, 0)], -1);
  EXPECT_EQ(m.grid[m.GridIndex(2, 1, 0)], 1);
  int positive = 0;
  for (int32_t v : m.grid) {
    EXPECT_TRUE(v == -1 || v > 0) << v;
    positive += v > 0;
  }
  EXPECT_EQ(positive, 3);

  // Clearing the keys frees the cells and leaves holes and frame alone.
  EXPECT_EQ(m.ResetBlockCells(), 1);
  EXPECT_EQ(m.grid[m.GridIndex(0, 0, 0)], 0);
  EXPECT_EQ(m.grid[m.GridIndex(1, 0, 0)], -1);
  EXPECT_EQ(m.grid[m.GridIndex(2, 0, 0)], 0);
  EXPECT_EQ(m.grid[m.GridIndex(2, 1, 0)], 0);
  EXPECT_EQ(std::count(m.grid.begin(), m.grid.end(), 0), 3);
}

TEST(BlockShape, RowKeysNameYFirstAndZSecond) {
  TempDir dir;
  // 1*3*12 block: row y, z holds the key 100*y + z + 1, so a swap of y and z shows, and
  // z = 10 and 11 need the two-digit key numbers.
  std::string rows;
  for (int z = 0; z < 12; ++z) {
    for (int y = 0; y < 3; ++y) {
      char line[64];
      std::snprintf(line, sizeof line, "YZLine_%02d_%02d=%d\n", y, z, 100 * y + z + 1);
      rows += line;
    }
  }
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, dir.WriteFile("p.ini", BlockFile(1, 3, 12, 1, rows))));
  ASSERT_EQ(m.ReadBlock(), 1);
  for (int z = 0; z < 12; ++z) {
    for (int y = 0; y < 3; ++y) {
      EXPECT_EQ(m.grid[ExpectedIndex(1, 3, 1, 0, y, z)], 100 * y + z + 1) << y << "," << z;
    }
  }
}

TEST(BlockShape, BadOrMissingRowsFailTheRead) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string rows;
    SetupErrorCode code;
    const char* key;
  };
  const Case cases[] = {
      {"short row", "YZLine_00_00=1,1\nYZLine_01_00=1,1,1\n", SetupErrorCode::kRowLength,
       "YZLine_00_00"},
      {"long row", "YZLine_00_00=1,1,1\nYZLine_01_00=1,1,1,1\n", SetupErrorCode::kRowLength,
       "YZLine_01_00"},
      {"missing row", "YZLine_00_00=1,1,1\n", SetupErrorCode::kMissingRow, "YZLine_01_00"},
      {"empty row", "YZLine_00_00=\nYZLine_01_00=1,1,1\n", SetupErrorCode::kMissingRow,
       "YZLine_00_00"},
      {"trailing comma", "YZLine_00_00=1,1,1,\nYZLine_01_00=1,1,1\n", SetupErrorCode::kRowLength,
       "YZLine_00_00"},
  };
  for (const Case& c : cases) {
    PuzzleModel m;
    ASSERT_TRUE(PrepareModel(m, dir.WriteFile("p.ini", BlockFile(3, 2, 1, 1, c.rows))));
    EXPECT_EQ(m.ReadBlock(), 0) << c.name;
    EXPECT_EQ(m.setupError.code, c.code) << c.name;
    EXPECT_NE(m.setupError.message.find(c.key), std::string::npos) << m.setupError.message;
  }
}

TEST(BlockShape, RowsOutsideTheBlockAreNeverRead) {
  TempDir dir;
  // Rows for y = 2 and z = 1 would be wrong for a 2*2*1 block, but they lie outside it.
  PuzzleModel m;
  ASSERT_TRUE(
      PrepareModel(m, dir.WriteFile("p.ini", BlockFile(2, 2, 1, 1,
                                                       "YZLine_00_00=1,2\nYZLine_01_00=3,4\n"
                                                       "YZLine_02_00=1\nYZLine_00_01=1,2,3,4\n"
                                                       "YZLine_-1_00=9\n"))));
  EXPECT_EQ(m.ReadBlock(), 1);
  EXPECT_EQ(m.grid[m.GridIndex(1, 1, 0)], 4);
}

TEST(BlockShape, SingleCellInAOneCellFrame) {
  TempDir dir;
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, dir.WriteFile("p.ini", BlockFile(1, 1, 1, 1, "YZLine_00_00=3\n"))));
  ASSERT_EQ(m.ReadBlock(), 1);
  ASSERT_EQ(m.grid.size(), 27u);
  for (int32_t i = 0; i < 27; ++i) EXPECT_EQ(m.grid[i], i == 13 ? 3 : -1) << i;
  m.ResetBlockCells();
  EXPECT_EQ(m.grid[13], 0);
}

TEST(BlockShape, OverlongRowValueIsCutAndRefused) {
  TempDir dir;
  // 250 elements written as 00001 (octal 1) take 1499 characters; the lookup keeps 1023
  // of them, which is 171 elements, so the row is refused instead of read past its end.
  std::string row = "YZLine_00_00=";
  for (int i = 0; i < 250; ++i) row += i == 0 ? "00001" : ",00001";
  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, dir.WriteFile("p.ini", BlockFile(250, 1, 1, 1, row + "\n"))));
  EXPECT_EQ(m.ReadBlock(), 0);
  EXPECT_EQ(m.setupError.code, SetupErrorCode::kRowLength);
  EXPECT_NE(m.setupError.message.find("171"), std::string::npos) << m.setupError.message;
}

TEST(BlockShape, EmptyListPiecesMakeHoles) {
  TempDir dir;
  PuzzleModel m;
  ASSERT_TRUE(
      PrepareModel(m, dir.WriteFile("p.ini", BlockFile(3, 1, 1, 1, "YZLine_00_00=1,,1\n"))));
  ASSERT_EQ(m.ReadBlock(), 1);
  EXPECT_EQ(m.grid[m.GridIndex(0, 0, 0)], 1);
  EXPECT_EQ(m.grid[m.GridIndex(1, 0, 0)], -1);
  EXPECT_EQ(m.grid[m.GridIndex(2, 0, 0)], 1);
}

TEST(BlockShape, FreeOperationsMayRunTwiceAndOnAnEmptyModel) {
  PuzzleModel fresh;
  fresh.FreePlacementTables();
  fresh.FreeCellOrder();
  fresh.FreeGrid();
  fresh.FreeGrid();

  PuzzleModel m;
  ASSERT_TRUE(PrepareModel(m, ""));
  ASSERT_EQ(m.ReadBlock(), 1);
  ASSERT_EQ(m.ReadSymmetry(), 1);
  for (int i = 0; i < 2; ++i) {
    m.FreePlacementTables();
    m.FreeCellOrder();
    m.FreeGrid();
  }
  EXPECT_TRUE(m.grid.empty());
  EXPECT_TRUE(m.cellOrder.empty());
}

}  // namespace
}  // namespace quaderix
