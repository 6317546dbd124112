#include "model/placement_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "model/stone_set.h"
#include "solver/reference_solver.h"
#include "support/rotations.h"

namespace quaderix {
namespace {

using testing::Apply;
using testing::Coord;
using testing::Matrix;
using testing::ProperRotations;
using testing::ShapeOf;

std::vector<int32_t> RowOf(const PlacementList& list, int32_t r) {
  return std::vector<int32_t>(list.Row(r), list.Row(r) + list.RowLength);
}

TEST(Rotate, FollowsTheRotationTableAndNeverMirrors) {
  // Images of (1, 2, 3) under rotation numbers 0..23.
  const Coord expected[24] = {{1, 2, 3},    {1, -3, 2},  {1, -2, -3},  {1, 3, -2},  {-1, -2, 3},
                              {-1, 3, 2},   {-1, 2, -3}, {-1, -3, -2}, {-2, 1, 3},  {3, 1, 2},
                              {2, 1, -3},   {-3, 1, -2}, {2, -1, 3},   {-3, -1, 2}, {-2, -1, -3},
                              {3, -1, -2},  {-3, 2, 1},  {-2, -3, 1},  {3, -2, 1},  {2, 3, 1},
                              {-3, -2, -1}, {-2, 3, -1}, {3, 2, -1},   {2, -3, -1}};
  std::set<Coord> images;
  for (int32_t r = 0; r < 24; ++r) {
    const Cube w = Rotate({1, 2, 3}, r);
    EXPECT_EQ((Coord{w.x, w.y, w.z}), expected[r]) << "R " << r;
    images.insert({w.x, w.y, w.z});
  }
  // The same 24 images as the signed permutation matrices of determinant +1 give.
  std::set<Coord> reference;
  for (const Matrix& m : ProperRotations()) reference.insert(Apply(m, {1, 2, 3}));
  EXPECT_EQ(images, reference);
}

// The distinct cell sets, relative to the cell, that a stone covering that cell can take:
// every proper rotation and every choice of the cube that lies on the cell.
std::set<std::vector<Coord>> ReferenceRelativeSets(const std::vector<Coord>& shape) {
  std::set<std::vector<Coord>> sets;
  for (const Matrix& m : ProperRotations()) {
    for (const Coord& a : shape) {
      std::vector<Coord> cells;
      for (const Coord& c : shape)
        cells.push_back(Apply(m, {c[0] - a[0], c[1] - a[1], c[2] - a[2]}));
      std::sort(cells.begin(), cells.end());
      sets.insert(cells);
    }
  }
  return sets;
}

TEST(PlacementList, RowsInOpenSpaceAreTheDistinctPlacementsByDecreasingDistance) {
  // A 15^3 grid of free cells: every stone here fits around the centre without meeting a
  // border, and offsets within 7 cells decode uniquely.
  const int32_t side = 15, sy = side, sz = side * side, centre = 7 * (1 + sy + sz);
  const std::vector<int32_t> grid(side * side * side, 0);
  const std::vector<StoneDefinition> builtIn = BuiltInStones();
  std::vector<Coord> slab;  // 4*4*2: three orientations times 32 anchors
  for (int32_t j = 0; j < 32; ++j) slab.push_back({j % 4, j / 4 % 4, j / 16});
  struct Case {
    const char* name;
    std::vector<Coord> shape;
    int32_t rows;
  };
  const Case cases[] = {
      {"one cube", {{0, 0, 0}}, 1},
      {"domino", {{0, 0, 0}, {1, 0, 0}}, 6},
      {"plus", ShapeOf(builtIn[0]), 15},
      {"L", ShapeOf(builtIn[8]), 120},
      {"four-cube stone", ShapeOf(builtIn[6]), 48},
      // Only differences between cubes matter, wherever the shape is written.
      {"far away domino", {{2000000000, -7, 5}, {2000000001, -7, 5}}, 6},
      {"32 cubes", slab, 96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Cube> cubes;
    for (const Coord& p : c.shape) cubes.push_back({p[0], p[1], p[2]});
    PlacementList list;
    ASSERT_EQ(list.BuildFromShape(cubes.data(), static_cast<int32_t>(cubes.size()), 1, sy, sz,
                                  centre, grid.data()),
              1);
    EXPECT_EQ(list.RowCount, c.rows);
    ASSERT_EQ(list.RowLength, static_cast<int32_t>(cubes.size()));
    std::set<std::vector<Coord>> built;
    for (int32_t r = 0; r < list.RowCount; ++r) {
      std::vector<Coord> cells;
      int64_t previous = INT64_MAX;
      for (int32_t offset : RowOf(list, r)) {
        const int32_t shifted = offset + centre;
        const Coord d{shifted % side - 7, shifted / side % side - 7, shifted / sz - 7};
        const int64_t distance = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        EXPECT_LE(distance, previous) << "row " << r;
        previous = distance;
        cells.push_back(d);
      }
      EXPECT_EQ(cells.back(), (Coord{0, 0, 0})) << "row " << r;
      std::sort(cells.begin(), cells.end());
      EXPECT_TRUE(built.insert(cells).second) << "row " << r << " repeats a cell set";
    }
    EXPECT_EQ(built, ReferenceRelativeSets(c.shape));
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

}  // namespace
}  // namespace quaderix
