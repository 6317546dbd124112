// The placement tables checked against known list sizes and against a reference that shares
// no code with the table build: a plain enumeration of rotations and translations, and the
// removal rule for masked neighbours done the plain way.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/stone_set.h"
#include "solver/reference_solver.h"
#include "support/rotations.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::BlockCoord;
using testing::CellTest;
using testing::Coord;
using testing::EnumeratePlacements;
using testing::PuzzleDescription;
using testing::ShapeOf;
using testing::TempDir;
using testing::ToIni;

using Rows = std::vector<std::vector<int32_t>>;

Rows RowsOf(const PlacementList& list) {
  Rows rows;
  for (int32_t r = 0; r < list.RowCount; ++r)
    rows.emplace_back(list.Row(r), list.Row(r) + list.RowLength);
  return rows;
}

std::vector<int32_t> SizesAt(const PuzzleModel& m, int32_t pattern, int32_t orderPos) {
  std::vector<int32_t> sizes;
  for (int32_t k = 0; k < m.stoneCount; ++k)
    sizes.push_back(m.Candidates(pattern, orderPos)[k].RowCount);
  return sizes;
}

// Checks every list of a set-up solver whose stone type k has the shape shapes[k]:
// - the pattern-0 lists of a type hold exactly the placements that the enumeration finds,
//   each once, in the list of the earliest of its cells in fill order;
// - each pattern-p list is its pattern-0 list without the rows that cover a neighbour
//   named by p, in the order that moving the last row into a removed row's place gives;
// - positions past the puzzle's cells hold empty lists.
void ExpectTablesMatchReference(const ReferenceSolver& s,
                                const std::vector<std::vector<Coord>>& shapes,
                                const CellTest& isCell) {
  std::vector<int32_t> position(s.grid.size(), -1);
  for (int32_t i = 0; i < s.cellCount; ++i) position[s.cellOrder[i]] = i;
  // Bits 0..5 of a pattern: +x, +y, +z, -x, -y, -z.
  const int32_t neighbour[6] = {1, s.yStride, s.zStride, -1, -s.yStride, -s.zStride};
  for (int32_t k = 0; k < s.stoneCount; ++k) {
    SCOPED_TRACE("stone type " + std::to_string(k));
    std::set<std::vector<Coord>> found;
    int64_t rows = 0;
    for (int32_t i = 0; i < s.xSize * s.ySize * s.zSize; ++i) {
      const Rows base = RowsOf(s.Candidates(0, i)[k]);
      for (const std::vector<int32_t>& row : base) {
        ASSERT_LT(i, s.cellCount);
        std::vector<Coord> cells;
        int32_t earliest = s.cellCount;
        for (int32_t offset : row) {
          const int64_t cell = int64_t{s.cellOrder[i]} + offset;
          ASSERT_TRUE(cell >= 0 && cell < static_cast<int64_t>(s.grid.size())) << offset;
          ASSERT_GE(position[cell], 0) << "row leaves the puzzle at position " << i;
          earliest = std::min(earliest, position[cell]);
          cells.push_back(BlockCoord(s, static_cast<int32_t>(cell)));
        }
        EXPECT_EQ(earliest, i);
        std::sort(cells.begin(), cells.end());
        found.insert(cells);
        ++rows;
      }
      for (int32_t p = 1; p < kPatternCount; ++p) {
        std::set<int32_t> named;
        for (int32_t b = 0; b < 6; ++b) {
          if (p >> b & 1) named.insert(neighbour[b]);
        }
        Rows expected = base;
        for (size_t r = 0; r < expected.size();) {
          if (std::none_of(expected[r].begin(), expected[r].end(),
                           [&](int32_t e) { return named.count(e) > 0; })) {
            ++r;
            continue;
          }
          expected[r] = expected.back();
          expected.pop_back();
        }
        ASSERT_EQ(RowsOf(s.Candidates(p, i)[k]), expected) << "pattern " << p << " position " << i;
      }
    }
    const std::set<std::vector<Coord>> reference =
        EnumeratePlacements(shapes[k], s.xSize, s.ySize, s.zSize, isCell);
    EXPECT_FALSE(reference.empty());
    EXPECT_EQ(rows, static_cast<int64_t>(reference.size()));
    EXPECT_EQ(found, reference);
  }
}

// The built-in puzzle, set up once for the whole suite; its tests only read it, all on the
// test thread.
class BuiltInTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    solver_ = std::make_unique<ReferenceSolver>(0, 0, "", "");
    ASSERT_EQ(solver_->Setup(0, 0, "", ""), 1) << solver_->setupError.message;
  }
  static void TearDownTestSuite() { solver_.reset(); }
  static std::unique_ptr<ReferenceSolver> solver_;
};
std::unique_ptr<ReferenceSolver> BuiltInTables::solver_;

TEST_F(BuiltInTables, ListSizesAtTheFirstCell) {
  const ReferenceSolver& s = *solver_;
  ASSERT_EQ(s.cellOrder[0], 366);
  EXPECT_EQ(SizesAt(s, 0, 0), (std::vector<int32_t>{0, 6, 6, 6, 8, 6, 6, 12, 12, 12, 15, 18}));
  EXPECT_EQ(SizesAt(s, 1, 0), (std::vector<int32_t>{0, 4, 4, 4, 4, 4, 3, 6, 6, 6, 5, 8}));
  EXPECT_EQ(SizesAt(s, 7, 0), std::vector<int32_t>(12, 0));
  // The -x neighbour of the corner lies in the frame, so masking it changes nothing.
  for (int32_t k = 0; k < 12; ++k) {
    EXPECT_EQ(RowsOf(s.Candidates(8, 0)[k]), RowsOf(s.Candidates(0, 0)[k])) << k;
  }
  EXPECT_EQ(s.TotalStones, 12);
  EXPECT_EQ(s.StoneCopies, std::vector<int32_t>(12, 1));
}

TEST_F(BuiltInTables, MatchAPlainEnumeration) {
  // The enumeration itself, on a case small enough to count by hand: a straight tromino in
  // the 5*4*3 block lies along x in 3*4*3 places, along y in 5*2*3, along z in 5*4*1.
  const CellTest all = [](int32_t, int32_t, int32_t) { return true; };
  ASSERT_EQ(EnumeratePlacements({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 5, 4, 3, all).size(),
            36u + 30u + 20u);
  std::vector<std::vector<Coord>> shapes;
  for (const StoneDefinition& stone : BuiltInStones()) shapes.push_back(ShapeOf(stone));
  ExpectTablesMatchReference(*solver_, shapes, all);
}

TEST(PlacementTables, FileWithHolesAndAShuffledFillOrder) {
  TempDir dir;
  PuzzleDescription layout{.xSize = 4, .ySize = 4, .zSize = 3, .edgeZone = 3};
  const CellTest isCell = [](int32_t x, int32_t y, int32_t z) {
    return !((x == 1 && y == 2 && z == 1) || (x == 3 && y == 3 && z == 0) ||
             (x == 2 && y == 0 && z == 2) || (x == 0 && y == 1 && z == 1));
  };
  // Keys spread the fill order over the block, with ties, so that the -x neighbour of some
  // cells comes before them and of others after them.
  for (int32_t x = 0; x < layout.xSize; ++x)
    for (int32_t y = 0; y < layout.ySize; ++y)
      for (int32_t z = 0; z < layout.zSize; ++z)
        layout.SetKey(x, y, z, isCell(x, y, z) ? (x * 5 + y * 11 + z * 7) % 9 + 1 : 0);
  const std::vector<StoneDefinition> builtIn = BuiltInStones();
  layout.stones = {
      {ShapeOf(builtIn[6]), 2},                           // chiral four
      {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}}, 3},  // T
      {{{0, 0, 0}, {2, 0, 0}, {0, 0, 1}}, 1},             // not connected
      {ShapeOf(builtIn[10]), 1},                          // not flat
      {ShapeOf(builtIn[0]), 0},                           // plus
      {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 1, 1}, {2, 2, 1}, {3, 2, 1}}, 1},
      {{{0, 0, 0}}, 1},
  };
  layout.stoneOrder = {5, 2, 0, 6, 3, 1, 4};
  ReferenceSolver s(0, 0, "", "");
  ASSERT_EQ(s.Setup(0, 0, dir.WriteFile("holes.ini", ToIni(layout)), ""), 1)
      << s.setupError.message;
  ASSERT_EQ(s.cellCount, 44);
  // Type k is the entry that StoneOrder names, with that entry's copies.
  std::vector<std::vector<Coord>> shapes;
  std::vector<int32_t> copies;
  for (int32_t entry : layout.stoneOrder) {
    shapes.push_back(layout.stones[entry].cubes);
    copies.push_back(layout.stones[entry].copies);
  }
  EXPECT_EQ(s.StoneCopies, copies);
  EXPECT_EQ(s.TotalStones, 9);
  ExpectTablesMatchReference(s, shapes, isCell);
}

TEST(PlacementTables, FreeingTwiceAndSettingUpAgain) {
  ReferenceSolver s(0, 0, "", "");
  s.FreePlacementTables();  // never built
  s.FreeCellOrder();
  s.FreeGrid();
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  const Rows first = RowsOf(s.Candidates(0, 0)[11]);
  for (int i = 0; i < 2; ++i) {
    s.FreePlacementTables();
    s.FreeCellOrder();
    s.FreeGrid();
  }
  for (const auto& table : s.PlacementTables) EXPECT_TRUE(table.empty());
  EXPECT_TRUE(s.StoneCopies.empty());
  EXPECT_TRUE(s.grid.empty());
  EXPECT_TRUE(s.cellOrder.empty());
  // A set-up on a used solver starts from nothing and builds the same tables.
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  EXPECT_EQ(RowsOf(s.Candidates(0, 0)[11]), first);
  EXPECT_EQ(SizesAt(s, 0, 0), (std::vector<int32_t>{0, 6, 6, 6, 8, 6, 6, 12, 12, 12, 15, 18}));
}

}  // namespace
}  // namespace quaderix
