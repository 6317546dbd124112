// The placement tables counted against a plain enumeration that shares no code with the
// table build: rotations come from signed permutation matrices, placements from trying every
// translation inside the block.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "puzzle_text.h"
#include "solver/puzzle_solver.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::BlockCoord;
using testing::BuiltInShapes;
using testing::Coord;
using testing::EnumeratePlacements;
using testing::PuzzleFileText;
using testing::PuzzleLayout;
using testing::StoneEntry;
using testing::TempDir;

using CellSet = std::vector<Coord>;

// The cell sets of the pattern-0 lists of stone type k over all fill positions, and the
// number of rows they came from (equal to the set size only when no placement is listed
// twice).
struct TablePlacements {
  std::set<CellSet> sets;
  int64_t rows = 0;
};

TablePlacements FromTables(const PuzzleSolver& s, int32_t k) {
  TablePlacements result;
  for (int32_t i = 0; i < s.cellCount; ++i) {
    const PlacementList& list = s.Candidates(0, i)[k];
    result.rows += list.RowCount;
    for (int32_t r = 0; r < list.RowCount; ++r) {
      CellSet cells;
      for (int32_t e = 0; e < list.RowLength; ++e) {
        const int64_t cell = int64_t{s.cellOrder[i]} + list.Row(r)[e];
        // A cell off the grid cannot match any enumerated placement.
        if (cell < 0 || cell >= static_cast<int64_t>(s.grid.size())) {
          cells.push_back({-1000, -1000, -1000});
          continue;
        }
        cells.push_back(BlockCoord(s, static_cast<int32_t>(cell)));
      }
      std::sort(cells.begin(), cells.end());
      result.sets.insert(cells);
    }
  }
  return result;
}

// Compares every stone type of the set-up solver with the enumeration of `shapes[k]` in a
// block whose puzzle cells `isCell` names; returns the total count.
int64_t ExpectSameAsEnumeration(const PuzzleSolver& s,
                                const std::vector<std::vector<Coord>>& shapes,
                                const std::function<bool(int32_t, int32_t, int32_t)>& isCell) {
  int64_t total = 0, tableTotal = 0;
  for (int32_t k = 0; k < s.stoneCount; ++k) {
    SCOPED_TRACE("stone type " + std::to_string(k));
    const std::set<CellSet> expected =
        EnumeratePlacements(shapes[k], s.xSize, s.ySize, s.zSize, isCell);
    const TablePlacements actual = FromTables(s, k);
    EXPECT_EQ(actual.rows, static_cast<int64_t>(expected.size()));
    EXPECT_EQ(actual.sets, expected);
    total += static_cast<int64_t>(expected.size());
    tableTotal += actual.rows;
  }
  EXPECT_EQ(tableTotal, total);
  return total;
}

// The first cell of the fill order: the first cell in scan order with the smallest key.
Coord FirstCell(const PuzzleLayout& layout) {
  Coord first{};
  int32_t best = 0;
  for (int32_t x = 0; x < layout.xSize; ++x)
    for (int32_t y = 0; y < layout.ySize; ++y)
      for (int32_t z = 0; z < layout.zSize; ++z) {
        const int32_t key = layout.key(x, y, z);
        if (key > 0 && (best == 0 || key < best)) {
          best = key;
          first = {x, y, z};
        }
      }
  return first;
}

TEST(PlacementCrossCheck, BuiltInPuzzleMatchesAPlainEnumeration) {
  PuzzleSolver s(0, 0, "", "");
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1) << s.setupError.message;
  const int64_t total =
      ExpectSameAsEnumeration(s, BuiltInShapes(), [](int32_t, int32_t, int32_t) { return true; });
  EXPECT_GT(total, 0);
  // The enumeration itself, checked on a case small enough to count by hand: a straight
  // tromino in the 5*4*3 block lies along x in 3*4*3, along y in 5*2*3, along z in 5*4*1.
  EXPECT_EQ(EnumeratePlacements({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, 5, 4, 3,
                                [](int32_t, int32_t, int32_t) { return true; })
                .size(),
            36u + 30u + 20u);
}

TEST(PlacementCrossCheck, FileWithHolesAndAShuffledFillOrder) {
  TempDir dir;
  PuzzleLayout layout;
  layout.xSize = 4;
  layout.ySize = 4;
  layout.zSize = 3;
  layout.edgeZone = 3;
  auto isHole = [](int32_t x, int32_t y, int32_t z) {
    return (x == 1 && y == 2 && z == 1) || (x == 3 && y == 3 && z == 0) ||
           (x == 2 && y == 0 && z == 2) || (x == 0 && y == 1 && z == 1);
  };
  // Keys spread the fill order all over the block, with ties.
  layout.key = [isHole](int32_t x, int32_t y, int32_t z) {
    return isHole(x, y, z) ? 0 : (x * 5 + y * 11 + z * 7) % 9 + 1;
  };
  const std::vector<std::vector<Coord>> builtIn = BuiltInShapes();
  const std::vector<std::vector<Coord>> entries = {
      builtIn[6],                                    // chiral four
      {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}},  // T
      {{0, 0, 0}, {2, 0, 0}, {0, 0, 1}},             // not connected
      builtIn[10],                                   // not flat five
      builtIn[0],                                    // plus
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 1, 1}, {2, 2, 1}, {3, 2, 1}},
      {{0, 0, 0}},
  };
  for (const auto& cubes : entries) layout.stones.push_back(StoneEntry{1, cubes});
  layout.order = {5, 2, 0, 6, 3, 1, 4};
  layout.symPos = {FirstCell(layout)};
  const std::string path = dir.WriteFile("holes.ini", PuzzleFileText(layout));

  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  ASSERT_EQ(s.cellCount, 44);
  std::vector<std::vector<Coord>> byType;
  for (int32_t entry : layout.order) byType.push_back(entries[entry]);
  const int64_t total = ExpectSameAsEnumeration(
      s, byType, [&](int32_t x, int32_t y, int32_t z) { return !isHole(x, y, z); });
  EXPECT_GT(total, 0);

  // The same block without holes offers more placements.
  PuzzleLayout full = layout;
  full.key = [](int32_t x, int32_t y, int32_t z) { return (x * 5 + y * 11 + z * 7) % 9 + 1; };
  full.symPos = {FirstCell(full)};
  const std::string fullPath = dir.WriteFile("full.ini", PuzzleFileText(full));
  PuzzleSolver f(0, 0, fullPath, "");
  ASSERT_EQ(f.Setup(0, 0, fullPath, ""), 1) << f.setupError.message;
  const int64_t fullTotal =
      ExpectSameAsEnumeration(f, byType, [](int32_t, int32_t, int32_t) { return true; });
  EXPECT_GT(fullTotal, total);
}

TEST(PlacementCrossCheck, ExampleFileStones) {
  TempDir dir;
  PuzzleLayout layout;
  layout.xSize = 3;
  layout.ySize = 2;
  layout.zSize = 2;
  layout.edgeZone = 2;
  layout.key = [](int32_t x, int32_t y, int32_t z) { return x == 2 && y == 1 && z == 1 ? 0 : 1; };
  const std::vector<std::vector<Coord>> shapes = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                                  {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}};
  layout.stones = {{2, shapes[0]}, {1, shapes[1]}};
  layout.symPos = {{0, 0, 0}};
  const std::string path = dir.WriteFile("example.ini", PuzzleFileText(layout));
  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  ExpectSameAsEnumeration(
      s, shapes, [](int32_t x, int32_t y, int32_t z) { return !(x == 2 && y == 1 && z == 1); });
  // By hand: the straight tromino fits only along x, in the rows other than the one with
  // the hole.
  EXPECT_EQ(FromTables(s, 1).rows, 3);
}

}  // namespace
}  // namespace quaderix
