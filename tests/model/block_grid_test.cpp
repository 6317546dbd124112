#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "solver/reference_solver.h"
#include "support/rotations.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::BlockCoord;
using testing::Coord;
using testing::ExpectedIndex;
using testing::TempDir;

std::string BlockFile(int x, int y, int z, const std::string& rows, const std::string& symmetry) {
  return "[BlockInfo]\nXSize=" + std::to_string(x) + "\nYSize=" + std::to_string(y) +
         "\nZSize=" + std::to_string(z) + "\nEdgeZone=1\n" + rows +
         "[StoneInfo]\nStoneCount=1\n[SymetryInfo]\nEnhancedSymetryCheck=0\n" + symmetry;
}

// The set-up steps up to the fill order, as the solver runs them.
int ReadUpToFillOrder(PuzzleModel& m, const std::string& path) {
  const PuzzleParameters p = ReadPuzzleParameters(path, false);
  if (!CheckPuzzleParameters(p, &m.setupError)) return 0;
  m.SetGeometry(path, p);
  return m.ReadBlock() && m.ReadSymmetry();
}

std::vector<Coord> OrderCoords(const PuzzleModel& m) {
  std::vector<Coord> coords;
  for (int32_t cell : m.cellOrder) coords.push_back(BlockCoord(m, cell));
  return coords;
}

TEST(BlockGrid, BuiltInPuzzleAfterTheWholeSetUp) {
  ReferenceSolver s(0, 0, "", "");
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1) << s.setupError.message;
  EXPECT_EQ(s.useFile, 0);
  EXPECT_EQ((std::vector<int32_t>{s.xStride, s.yStride, s.zStride}),
            (std::vector<int32_t>{1, 11, 110}));
  EXPECT_EQ(s.GridIndex(0, 0, 0), 366);
  // Every block cell is free and everything else blocked, also after the table build; all
  // keys are 0, so the fill order is the scan with x outermost and z innermost.
  std::vector<int32_t> grid(990, -1), scan;
  for (int32_t x = 0; x < 5; ++x)
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t z = 0; z < 3; ++z) {
        scan.push_back(ExpectedIndex(5, 4, 3, x, y, z));
        grid[scan.back()] = 0;
      }
  EXPECT_EQ(s.grid, grid);
  EXPECT_EQ(s.cellCount, 60);
  EXPECT_EQ(s.cellOrder, scan);
  ASSERT_EQ(s.symPosCount, 4);
  EXPECT_EQ((std::vector<int32_t>(s.symCells.begin(), s.symCells.begin() + 4)),
            (std::vector<int32_t>{366, 619, 590, 403}));
}

TEST(BlockGrid, RowValuesBecomeOrderKeysAndHoles) {
  TempDir dir;
  // Rows named y first and z second; 0, negative values, 08 (octal stops at 8) and an empty
  // piece make holes; 01 is octal 1. The rows differ, so a swap of y and z shows.
  const std::string rows =
      "YZLine_00_00=5,0,7\nYZLine_01_00=-4,08,01\nYZLine_00_01=2,,3\nYZLine_01_01=0x5,5,2\n";
  const std::string symmetry = "SymetryPosCount=2\nSymPos0=2,1,0\nSymPos1=1,1,1\n";
  PuzzleModel m;
  ASSERT_EQ(ReadUpToFillOrder(m, dir.WriteFile("p.ini", BlockFile(3, 2, 2, rows, symmetry))), 1)
      << m.setupError.message;
  const std::pair<Coord, int32_t> keys[] = {{{0, 0, 0}, 5}, {{2, 0, 0}, 7}, {{2, 1, 0}, 1},
                                            {{0, 0, 1}, 2}, {{2, 0, 1}, 3}, {{0, 1, 1}, 5},
                                            {{1, 1, 1}, 5}, {{2, 1, 1}, 2}};
  std::vector<int32_t> grid(5 * 4 * 4, -1);
  for (const auto& [c, key] : keys) grid[ExpectedIndex(3, 2, 1, c[0], c[1], c[2])] = key;
  EXPECT_EQ(m.grid, grid);
  // Ascending keys; equal keys keep the scan order, in which x changes slowest (the built-in
  // puzzle, all keys 0, shows that scan order alone).
  EXPECT_EQ(m.cellCount, 8);
  const std::vector<Coord> order = {{2, 1, 0}, {0, 0, 1}, {2, 1, 1}, {2, 0, 1},
                                    {0, 0, 0}, {0, 1, 1}, {1, 1, 1}, {2, 0, 0}};
  EXPECT_EQ(OrderCoords(m), order);
  EXPECT_EQ(m.symCells[0], m.GridIndex(2, 1, 0));
  EXPECT_EQ(m.symCells[1], m.GridIndex(1, 1, 1));
  // Clearing the keys frees the cells and leaves holes and frame alone.
  EXPECT_EQ(m.ResetBlockCells(), 1);
  for (int32_t& v : grid) v = v > 0 ? 0 : v;
  EXPECT_EQ(m.grid, grid);
}

}  // namespace
}  // namespace quaderix
