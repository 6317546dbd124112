#include "model/placement_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "model/stone_set.h"
#include "puzzle_text.h"

namespace quaderix {
namespace {

using testing::Apply;
using testing::BuiltInShapes;
using testing::Coord;
using testing::Matrix;
using testing::PrepareModel;
using testing::ProperRotations;

// A 15^3 grid of free cells: every stone of these tests fits around its centre without
// meeting a border.
struct OpenSpace {
  static constexpr int32_t kSide = 15;
  static constexpr int32_t sx = 1, sy = kSide, sz = kSide * kSide;
  std::vector<int32_t> grid = std::vector<int32_t>(kSide * kSide * kSide, 0);
  int32_t centre = 7 * sx + 7 * sy + 7 * sz;

  int32_t Offset(const Coord& d) const { return d[0] * sx + d[1] * sy + d[2] * sz; }
  // Offsets within 7 cells decode uniquely.
  Coord Decode(int32_t offset) const {
    const int32_t shifted = offset + 7 * sx + 7 * sy + 7 * sz;
    return {shifted % kSide - 7, shifted / kSide % kSide - 7, shifted / (kSide * kSide) - 7};
  }
};

std::vector<Cube> ToCubes(const std::vector<Coord>& shape) {
  std::vector<Cube> cubes;
  for (const Coord& c : shape) cubes.push_back({c[0], c[1], c[2]});
  return cubes;
}

std::vector<int32_t> RowOf(const PlacementList& list, int32_t r) {
  return std::vector<int32_t>(list.Row(r), list.Row(r) + list.RowLength);
}

std::vector<std::vector<int32_t>> Rows(const PlacementList& list) {
  std::vector<std::vector<int32_t>> rows;
  for (int32_t r = 0; r < list.RowCount; ++r) rows.push_back(RowOf(list, r));
  return rows;
}

// The distinct cell sets, relative to the cell, that a stone covering that cell can take:
// every proper rotation and every choice of the cube that lies on the cell.
std::set<std::vector<Coord>> ReferenceRelativeSets(const std::vector<Coord>& shape) {
  std::set<std::vector<Coord>> sets;
  for (const Matrix& m : ProperRotations()) {
    for (const Coord& anchor : shape) {
      std::vector<Coord> cells;
      for (const Coord& c : shape) {
        cells.push_back(Apply(m, {c[0] - anchor[0], c[1] - anchor[1], c[2] - anchor[2]}));
      }
      std::sort(cells.begin(), cells.end());
      sets.insert(cells);
    }
  }
  return sets;
}

TEST(Rotate, MatchesTheRotationTable) {
  // Images of (1, 2, 3) under rotation numbers 0..23.
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

TEST(Rotate, GivesTheTwentyFourProperRotations) {
  std::set<Matrix> fromRotate;
  for (int32_t r = 0; r < 24; ++r) {
    Matrix m{};
    const Cube e[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int32_t col = 0; col < 3; ++col) {
      const Cube w = Rotate(e[col], r);
      m[0][col] = w.x;
      m[1][col] = w.y;
      m[2][col] = w.z;
    }
    // Linear: the image of any vector is the matrix times it.
    const Cube v = Rotate({4, -5, 6}, r);
    EXPECT_EQ((Coord{v.x, v.y, v.z}), Apply(m, {4, -5, 6})) << "R " << r;
    fromRotate.insert(m);
  }
  const std::vector<Matrix> reference = ProperRotations();
  ASSERT_EQ(reference.size(), 24u);
  EXPECT_EQ(fromRotate.size(), 24u);  // distinct
  // The same set as the signed permutation matrices of determinant +1: no mirror image.
  EXPECT_EQ(fromRotate, std::set<Matrix>(reference.begin(), reference.end()));
}

TEST(PlacementList, RowCountsInOpenSpace) {
  OpenSpace space;
  struct Case {
    const char* name;
    std::vector<Coord> shape;
    int32_t rows;
  };
  const std::vector<std::vector<Coord>> builtIn = BuiltInShapes();
  const Case cases[] = {
      {"one cube", {{0, 0, 0}}, 1},
      {"domino", {{0, 0, 0}, {1, 0, 0}}, 6},
      {"plus", builtIn[0], 15},
      {"L", builtIn[8], 120},
      {"four-cube stone", builtIn[6], 48},
      // Only differences between cubes matter, wherever the shape is written.
      {"far away domino", {{2000000000, -7, 5}, {2000000001, -7, 5}}, 6},
  };
  for (const Case& c : cases) {
    PlacementList list;
    const std::vector<Cube> cubes = ToCubes(c.shape);
    ASSERT_EQ(list.BuildFromShape(cubes.data(), static_cast<int32_t>(cubes.size()), space.sx,
                                  space.sy, space.sz, space.centre, space.grid.data()),
              1);
    EXPECT_EQ(list.RowCount, c.rows) << c.name;
    EXPECT_EQ(list.RowLength, static_cast<int32_t>(cubes.size())) << c.name;
  }
}

TEST(PlacementList, RowsAreTheDistinctPlacementsByDecreasingDistance) {
  OpenSpace space;
  std::vector<std::vector<Coord>> shapes = BuiltInShapes();
  shapes.push_back({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {2, 1, 1}});
  for (size_t k = 0; k < shapes.size(); ++k) {
    SCOPED_TRACE("shape " + std::to_string(k));
    PlacementList list;
    const std::vector<Cube> cubes = ToCubes(shapes[k]);
    ASSERT_EQ(list.BuildFromShape(cubes.data(), static_cast<int32_t>(cubes.size()), space.sx,
                                  space.sy, space.sz, space.centre, space.grid.data()),
              1);
    std::set<std::vector<Coord>> built;
    for (int32_t r = 0; r < list.RowCount; ++r) {
      const std::vector<int32_t> row = RowOf(list, r);
      EXPECT_EQ(row.back(), 0) << "row " << r;
      std::vector<Coord> cells;
      int64_t previous = INT64_MAX;
      for (int32_t offset : row) {
        ASSERT_LT(std::abs(offset), space.sz * 8) << "row " << r;
        const Coord d = space.Decode(offset);
        const int64_t distance = int64_t{d[0]} * d[0] + d[1] * d[1] + d[2] * d[2];
        EXPECT_LE(distance, previous) << "row " << r;
        previous = distance;
        cells.push_back(d);
      }
      std::sort(cells.begin(), cells.end());
      EXPECT_TRUE(built.insert(cells).second) << "row " << r << " repeats a cell set";
    }
    EXPECT_EQ(built, ReferenceRelativeSets(shapes[k]));
  }
}

// The built-in grid with its cells cleared, as the table build sees it at the first cell.
struct BuiltInGrid {
  PuzzleModel model;
  BuiltInGrid() {
    EXPECT_TRUE(PrepareModel(model, ""));
    EXPECT_EQ(model.ReadBlock(), 1);
    EXPECT_EQ(model.ResetBlockCells(), 1);
  }
  PlacementList Build(const StoneDefinition& stone, int32_t cell) {
    PlacementList list;
    EXPECT_EQ(list.BuildFromShape(stone.cubes.data(), stone.cubeCount, 1, 11, 110, cell,
                                  model.grid.data()),
              1);
    return list;
  }
};

TEST(PlacementList, KnownFirstRowsAtTheBuiltInCorner) {
  BuiltInGrid g;
  const std::vector<StoneDefinition> stones = BuiltInStones();
  const PlacementList z = g.Build(stones[2], 366);
  ASSERT_GE(z.RowCount, 2);
  EXPECT_EQ(RowOf(z, 0), (std::vector<int32_t>{24, 23, 12, 1, 0}));
  // Moved up from rotation 21 when the rejected rows were removed.
  EXPECT_EQ(RowOf(z, 1), (std::vector<int32_t>{222, 112, 111, 110, 0}));
  // (1,0,0) and (0,1,0) lie at the same distance and keep their definition order.
  const PlacementList p = g.Build(stones[11], 366);
  ASSERT_GE(p.RowCount, 1);
  EXPECT_EQ(RowOf(p, 0), (std::vector<int32_t>{23, 12, 1, 11, 0}));
  // Every row stays inside the block.
  for (const PlacementList* list : {&z, &p}) {
    for (int32_t r = 0; r < list->RowCount; ++r) {
      for (int32_t offset : RowOf(*list, r)) {
        ASSERT_TRUE(offset > -366 && offset < 990 - 366) << offset;
        EXPECT_EQ(g.model.grid[366 + offset], 0);
      }
    }
  }
}

TEST(PlacementList, OccupiedOwnCellGivesAnEmptyList) {
  OpenSpace space;
  space.grid[space.centre] = 5;
  const std::vector<Cube> one = {{0, 0, 0}};
  const std::vector<Cube> plus = ToCubes(BuiltInShapes()[0]);
  PlacementList list;
  EXPECT_EQ(list.BuildFromShape(one.data(), 1, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  EXPECT_EQ(list.RowCount, 0);
  EXPECT_EQ(list.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  EXPECT_EQ(list.RowCount, 0);
}

TEST(PlacementList, FilteredCopyWithOnlyItsCellFreeKeepsNothingOfLargerStones) {
  OpenSpace space;
  std::vector<int32_t> full(space.grid.size(), 1);
  full[space.centre] = 0;
  std::vector<std::vector<Coord>> shapes = BuiltInShapes();
  shapes.push_back({{0, 0, 0}, {1, 0, 0}});
  for (const std::vector<Coord>& shape : shapes) {
    const std::vector<Cube> cubes = ToCubes(shape);
    PlacementList source, copy;
    ASSERT_EQ(source.BuildFromShape(cubes.data(), static_cast<int32_t>(cubes.size()), space.sx,
                                    space.sy, space.sz, space.centre, space.grid.data()),
              1);
    ASSERT_GT(source.RowCount, 0);
    EXPECT_EQ(copy.CopyFiltered(source, space.sx, space.sy, space.sz, space.centre, full.data()),
              1);
    EXPECT_EQ(copy.RowCount, 0);
  }
  const std::vector<Cube> one = {{0, 0, 0}};
  PlacementList source, copy;
  source.BuildFromShape(one.data(), 1, space.sx, space.sy, space.sz, space.centre,
                        space.grid.data());
  copy.CopyFiltered(source, space.sx, space.sy, space.sz, space.centre, full.data());
  EXPECT_EQ(copy.RowCount, 1);
}

TEST(PlacementList, FilteredCopyKeepsRowsInTheOrderOfTheRemovalRule) {
  OpenSpace space;
  const std::vector<Cube> cubes = ToCubes(BuiltInShapes()[8]);  // L, 120 rows
  PlacementList source;
  ASSERT_EQ(source.BuildFromShape(cubes.data(), 5, space.sx, space.sy, space.sz, space.centre,
                                  space.grid.data()),
            1);
  ASSERT_EQ(source.RowCount, 120);
  // Occupy the +x neighbour and one cell two steps down in y.
  std::vector<int32_t> grid = space.grid;
  const std::set<int32_t> blocked = {1, -2 * space.sy};
  for (int32_t offset : blocked) grid[space.centre + offset] = -3;

  // The removal rule, done the plain way: a rejected row takes the last row's place.
  std::vector<std::vector<int32_t>> expected = Rows(source);
  for (size_t i = 0; i < expected.size();) {
    const bool rejected = std::any_of(expected[i].begin(), expected[i].end(),
                                      [&](int32_t e) { return blocked.count(e) > 0; });
    if (!rejected) {
      ++i;
      continue;
    }
    expected[i] = expected.back();
    expected.pop_back();
  }
  PlacementList copy;
  ASSERT_EQ(copy.CopyFiltered(source, space.sx, space.sy, space.sz, space.centre, grid.data()), 1);
  EXPECT_GT(copy.RowCount, 0);
  EXPECT_LT(copy.RowCount, 120);
  EXPECT_EQ(Rows(copy), expected);
}

TEST(PlacementList, AbsentInputGivesAnEmptyList) {
  OpenSpace space;
  const std::vector<Cube> plus = ToCubes(BuiltInShapes()[0]);
  PlacementList list;
  ASSERT_EQ(list.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  ASSERT_EQ(list.RowCount, 15);
  // Each build starts by clearing the list.
  EXPECT_EQ(list.BuildFromShape(nullptr, 5, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  EXPECT_EQ(list.RowCount, 0);
  EXPECT_EQ(list.RowLength, 0);
  EXPECT_EQ(list.BuildFromShape(plus.data(), 0, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  EXPECT_EQ(list.RowCount, 0);
  EXPECT_EQ(
      list.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre, nullptr), 1);
  EXPECT_EQ(list.RowCount, 0);

  PlacementList empty, copy;
  ASSERT_EQ(copy.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  EXPECT_EQ(copy.CopyFiltered(empty, space.sx, space.sy, space.sz, space.centre, space.grid.data()),
            1);
  EXPECT_EQ(copy.RowCount, 0);

  // Building again on a full list replaces it rather than adding to it.
  list.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre,
                      space.grid.data());
  list.BuildFromShape(plus.data(), 5, space.sx, space.sy, space.sz, space.centre,
                      space.grid.data());
  EXPECT_EQ(list.RowCount, 15);
  list.Clear();
  list.Clear();
  EXPECT_EQ(list.RowCount, 0);
  EXPECT_EQ(list.RowLength, 0);
}

TEST(PlacementList, ThirtyTwoCubeStone) {
  OpenSpace space;
  // A 4*4*2 slab: its 32 cubes lie within 3 cells of any anchor.
  std::vector<Coord> slab;
  for (int32_t z = 0; z < 2; ++z)
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 4; ++x) slab.push_back({x, y, z});
  const std::vector<Cube> cubes = ToCubes(slab);
  PlacementList list;
  ASSERT_EQ(list.BuildFromShape(cubes.data(), 32, space.sx, space.sy, space.sz, space.centre,
                                space.grid.data()),
            1);
  // Three orientations (which axis is short) times 32 anchors.
  EXPECT_EQ(list.RowCount, 96);
  EXPECT_EQ(list.RowLength, 32);
  EXPECT_EQ(static_cast<size_t>(list.RowCount), ReferenceRelativeSets(slab).size());
}

}  // namespace
}  // namespace quaderix
