#include "model/placement_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/stone_set.h"
#include "solver/reference_solver.h"
#include "support/puzzle_description.h"

namespace quaderix {
namespace {

using testing::Coord;

std::vector<int32_t> RowOf(const PlacementList& list, int32_t r) {
  return std::vector<int32_t>(list.Row(r), list.Row(r) + list.RowLength);
}

TEST(Rotate, FollowsTheRotationTableAndNeverMirrors) {
  // Images of (1, 2, 3) under rotation numbers 0..23: 24 distinct signed permutations of
  // determinant +1, so no mirror image among them.
  const Coord expected[24] = {{1, 2, 3},    {1, -3, 2},  {1, -2, -3},  {1, 3, -2},  {-1, -2, 3},
                              {-1, 3, 2},   {-1, 2, -3}, {-1, -3, -2}, {-2, 1, 3},  {3, 1, 2},
                              {2, 1, -3},   {-3, 1, -2}, {2, -1, 3},   {-3, -1, 2}, {-2, -1, -3},
                              {3, -1, -2},  {-3, 2, 1},  {-2, -3, 1},  {3, -2, 1},  {2, 3, 1},
                              {-3, -2, -1}, {-2, 3, -1}, {3, 2, -1},   {2, -3, -1}};
  for (int32_t r = 0; r < 24; ++r) {
    const Cube w = Rotate({1, 2, 3}, r);
    EXPECT_EQ((Coord{w.x, w.y, w.z}), expected[r]) << "R " << r;
  }
}

TEST(PlacementList, KnownFirstRowsAtTheBuiltInCorner) {
  // The grid of the built-in puzzle as the table build sees it at its first cell.
  ReferenceSolver s(0, 0, "", "");
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  const std::vector<StoneDefinition> stones = BuiltInStones();
  PlacementList z, p;
  ASSERT_EQ(z.BuildFromShape(stones[2].cubes.data(), 5, 1, 11, 110, 366, s.grid.data()), 1);
  ASSERT_EQ(p.BuildFromShape(stones[11].cubes.data(), 5, 1, 11, 110, 366, s.grid.data()), 1);
  ASSERT_GE(z.RowCount, 2);
  ASSERT_GE(p.RowCount, 1);
  EXPECT_EQ(RowOf(z, 0), (std::vector<int32_t>{24, 23, 12, 1, 0}));
  // Moved up from rotation 21 when the rejected rows were removed.
  EXPECT_EQ(RowOf(z, 1), (std::vector<int32_t>{222, 112, 111, 110, 0}));
  // (1,0,0) and (0,1,0) lie at the same distance and keep their definition order.
  EXPECT_EQ(RowOf(p, 0), (std::vector<int32_t>{23, 12, 1, 11, 0}));
}

TEST(PlacementList, RowsPreparedOnceGiveTheListsOfTheFullBuild) {
  // Every built-in stone (some with symmetric shapes, whose rows repeat) at every cell of a
  // block with scattered holes and occupied cells, so that rows are rejected and moved.
  ReferenceSolver s(0, 0, "", "");
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  std::vector<int32_t> grid = s.grid;
  for (size_t i = 0; i < grid.size(); i += 7) grid[i] = grid[i] != 0 ? grid[i] : -2;
  // A stone in two pieces, whose far cube is not next to the others.
  std::vector<StoneDefinition> stones = BuiltInStones();
  StoneDefinition gap;
  gap.cubeCount = 3;
  gap.cubes[1] = {1, 0, 0};
  gap.cubes[2] = {3, 0, 0};
  stones.push_back(gap);
  int32_t rows = 0;
  for (const StoneDefinition& stone : stones) {
    ShapeRows prepared;
    ASSERT_TRUE(PrepareShapeRows(stone.cubes.data(), stone.cubeCount, s.xStride, s.yStride,
                                 s.zStride, &prepared));
    for (int32_t cell = 0; cell < static_cast<int32_t>(grid.size()); ++cell) {
      if (grid[cell] != 0) continue;
      PlacementList full, once;
      ASSERT_EQ(full.BuildFromShape(stone.cubes.data(), stone.cubeCount, s.xStride, s.yStride,
                                    s.zStride, cell, grid.data()),
                1);
      ASSERT_EQ(once.BuildFromRows(prepared, cell, grid.data()), 1);
      ASSERT_EQ(once.RowCount, full.RowCount) << "cell " << cell;
      for (int32_t r = 0; r < full.RowCount; ++r) ASSERT_EQ(RowOf(once, r), RowOf(full, r));
      rows += full.RowCount;
    }
  }
  EXPECT_GT(rows, 0);
  // Cubes that repeat would make one row hold another's offsets without being equal.
  const Cube twice[] = {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}};
  ShapeRows refused;
  EXPECT_FALSE(PrepareShapeRows(twice, 3, s.xStride, s.yStride, s.zStride, &refused));
}

}  // namespace
}  // namespace quaderix
