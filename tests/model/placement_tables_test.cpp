#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "puzzle_text.h"
#include "solver/puzzle_solver.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::Coord;
using testing::PuzzleFileText;
using testing::PuzzleLayout;
using testing::StoneEntry;
using testing::TempDir;

std::vector<std::vector<int32_t>> Rows(const PlacementList& list) {
  std::vector<std::vector<int32_t>> rows;
  for (int32_t r = 0; r < list.RowCount; ++r)
    rows.emplace_back(list.Row(r), list.Row(r) + list.RowLength);
  return rows;
}

bool InGrid(const PuzzleModel& m, int64_t cell) {
  return cell >= 0 && cell < static_cast<int64_t>(m.grid.size());
}

std::vector<int32_t> SizesAt(const PuzzleModel& m, int32_t pattern, int32_t orderPos) {
  std::vector<int32_t> sizes;
  for (int32_t k = 0; k < m.stoneCount; ++k)
    sizes.push_back(m.Candidates(pattern, orderPos)[k].RowCount);
  return sizes;
}

// A 4*3*3 block filled with x running backwards, two holes, six stone types (one of them in
// two pieces) and a stone order that is not the identity.
PuzzleLayout HolesPuzzle() {
  PuzzleLayout layout;
  layout.xSize = 4;
  layout.ySize = 3;
  layout.zSize = 3;
  layout.edgeZone = 2;
  layout.key = [](int32_t x, int32_t y, int32_t z) {
    if ((x == 1 && y == 1 && z == 1) || (x == 0 && y == 2 && z == 0)) return 0;
    return (3 - x) * 10 + (2 * y + z) % 3 + 1;
  };
  layout.stones = {
      {1, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}},
      {2, {{0, 0, 0}, {1, 0, 0}}},
      {1, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 1}}},
      {1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}}},
      {1, {{0, 0, 0}, {2, 0, 0}}},
      {1, {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 2, 0}, {2, 1, 0}}},
  };
  layout.order = {3, 0, 5, 4, 1, 2};
  layout.symPos = {{3, 0, 0}};
  return layout;
}

// The built-in puzzle, set up once for the whole suite.
class BuiltInTables : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    solver_ = std::make_unique<PuzzleSolver>(1, 1, "", "");
    ASSERT_EQ(solver_->Setup(1, 1, "", ""), 1) << solver_->setupError.message;
  }
  static void TearDownTestSuite() { solver_.reset(); }
  static std::unique_ptr<PuzzleSolver> solver_;
};
std::unique_ptr<PuzzleSolver> BuiltInTables::solver_;

TEST_F(BuiltInTables, PatternZeroSizesAtTheFirstCell) {
  ASSERT_EQ(solver_->cellCount, 60);
  ASSERT_EQ(solver_->cellOrder[0], 366);
  EXPECT_EQ(SizesAt(*solver_, 0, 0),
            (std::vector<int32_t>{0, 6, 6, 6, 8, 6, 6, 12, 12, 12, 15, 18}));
}

TEST_F(BuiltInTables, NeighbourPatternsAtTheFirstCell) {
  EXPECT_EQ(SizesAt(*solver_, 1, 0), (std::vector<int32_t>{0, 4, 4, 4, 4, 4, 3, 6, 6, 6, 5, 8}));
  EXPECT_EQ(SizesAt(*solver_, 7, 0), std::vector<int32_t>(12, 0));
  // The -x neighbour of the corner lies in the frame, so masking it changes nothing.
  for (int32_t k = 0; k < 12; ++k) {
    EXPECT_EQ(Rows(solver_->Candidates(8, 0)[k]), Rows(solver_->Candidates(0, 0)[k])) << k;
  }
}

TEST_F(BuiltInTables, GridIsRestoredAfterTheBuild) {
  const PuzzleSolver& s = *solver_;
  ASSERT_EQ(s.grid.size(), 990u);
  for (int32_t i = 0; i < 990; ++i) {
    const int32_t px = i % 11, py = i / 11 % 10, pz = i / 110;
    const bool inBlock = px >= 3 && px < 8 && py >= 3 && py < 7 && pz >= 3 && pz < 6;
    ASSERT_EQ(s.grid[i], inBlock ? 0 : -1) << i;
  }
  EXPECT_EQ(s.TotalStones, 12);
  EXPECT_EQ(s.StoneCopies, std::vector<int32_t>(12, 1));
}

// Checks the two invariants that tie the tables together:
// - each pattern-0 row covers only puzzle cells, the earliest of them in fill order being
//   the list's own position;
// - each pattern-p list is its pattern-0 list without the rows that cover a neighbour named
//   by p, in the order that moving the last row into a removed row's place gives.
void ExpectTablesConsistent(const PuzzleModel& m) {
  std::vector<int32_t> position(m.grid.size(), -1);
  for (int32_t i = 0; i < m.cellCount; ++i) position[m.cellOrder[i]] = i;
  const int32_t volume = m.xSize * m.ySize * m.zSize;
  for (int32_t p = 0; p < kPatternCount; ++p) {
    ASSERT_EQ(m.PlacementTables[p].size(), static_cast<size_t>(volume) * m.stoneCount);
  }
  int64_t checkedRows = 0;
  for (int32_t i = 0; i < volume; ++i) {
    for (int32_t k = 0; k < m.stoneCount; ++k) {
      const PlacementList& base = m.Candidates(0, i)[k];
      if (i >= m.cellCount) {
        for (int32_t p = 0; p < kPatternCount; ++p)
          EXPECT_EQ(m.Candidates(p, i)[k].RowCount, 0) << "unused position " << i;
        continue;
      }
      const int32_t cell = m.cellOrder[i];
      const std::vector<std::vector<int32_t>> baseRows = Rows(base);
      for (const std::vector<int32_t>& row : baseRows) {
        int32_t earliest = m.cellCount;
        for (int32_t offset : row) {
          ASSERT_TRUE(InGrid(m, int64_t{cell} + offset)) << "offset " << offset;
          ASSERT_EQ(m.grid[cell + offset], 0) << "row leaves the puzzle at position " << i;
          earliest = std::min(earliest, position[cell + offset]);
        }
        EXPECT_EQ(earliest, i) << "type " << k;
        EXPECT_EQ(row.back(), 0);
      }
      // Bits 0..5 of a pattern: +x, +y, +z, -x, -y, -z.
      const int32_t neighbour[6] = {1, m.yStride, m.zStride, -1, -m.yStride, -m.zStride};
      for (int32_t p = 1; p < kPatternCount; ++p) {
        std::set<int32_t> named;
        for (int32_t b = 0; b < 6; ++b) {
          if (p >> b & 1) named.insert(neighbour[b]);
        }
        std::vector<std::vector<int32_t>> expected = baseRows;
        for (size_t r = 0; r < expected.size();) {
          const bool touches = std::any_of(expected[r].begin(), expected[r].end(),
                                           [&](int32_t e) { return named.count(e) > 0; });
          if (!touches) {
            ++r;
            continue;
          }
          expected[r] = expected.back();
          expected.pop_back();
        }
        const std::vector<std::vector<int32_t>> actual = Rows(m.Candidates(p, i)[k]);
        checkedRows += static_cast<int64_t>(actual.size());
        ASSERT_EQ(actual, expected) << "pattern " << p << " position " << i << " type " << k;
      }
    }
  }
  EXPECT_GT(checkedRows, 0);
}

TEST_F(BuiltInTables, PatternListsAreFilteredPatternZeroLists) {
  ExpectTablesConsistent(*solver_);
}

// The puzzle of HolesPuzzle, written to a scratch file and set up afresh for each test.
class FileTables : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.WriteFile("holes.ini", PuzzleFileText(HolesPuzzle()));
    ASSERT_EQ(solver_.Setup(0, 0, path_, ""), 1) << solver_.setupError.message;
  }
  TempDir dir_;
  std::string path_;
  PuzzleSolver solver_{0, 0, "", ""};
};

TEST_F(FileTables, HolesAreNeverCovered) {
  const PuzzleSolver& s = solver_;
  EXPECT_EQ(s.useFile, 1);
  EXPECT_EQ(s.cellCount, 34);
  const int32_t holes[2] = {s.GridIndex(1, 1, 1), s.GridIndex(0, 2, 0)};
  for (int32_t hole : holes) EXPECT_EQ(s.grid[hole], -1);
  int64_t rows = 0;
  for (int32_t p = 0; p < kPatternCount; ++p) {
    for (int32_t i = 0; i < s.cellCount; ++i) {
      for (int32_t k = 0; k < s.stoneCount; ++k) {
        const PlacementList& list = s.Candidates(p, i)[k];
        for (int32_t r = 0; r < list.RowCount; ++r) {
          for (int32_t e = 0; e < list.RowLength; ++e) {
            ASSERT_TRUE(InGrid(s, int64_t{s.cellOrder[i]} + list.Row(r)[e]))
                << "offset " << list.Row(r)[e];
            const int32_t c = s.cellOrder[i] + list.Row(r)[e];
            ASSERT_NE(c, holes[0]);
            ASSERT_NE(c, holes[1]);
            ASSERT_EQ(s.grid[c], 0);
          }
          ++rows;
        }
      }
    }
  }
  EXPECT_GT(rows, 0);
}

TEST_F(FileTables, PatternListsAreFilteredPatternZeroLists) {
  ExpectTablesConsistent(solver_);
}

TEST_F(FileTables, StoneOrderAndCopiesComeFromTheFile) {
  EXPECT_EQ(solver_.stoneCount, 6);
  EXPECT_EQ(solver_.TotalStones, 7);
  // Types in the order 3, 0, 5, 4, 1, 2 of the entries.
  EXPECT_EQ(solver_.StoneCopies, (std::vector<int32_t>{1, 1, 1, 1, 2, 1}));
  EXPECT_EQ(solver_.stones[0].key, "Stone_03");
  EXPECT_EQ(solver_.stones[4].cubeCount, 2);
  // The grid ends as it began: puzzle cells 0, holes and frame -1.
  EXPECT_EQ(std::count(solver_.grid.begin(), solver_.grid.end(), 0), 34);
  EXPECT_EQ(std::count(solver_.grid.begin(), solver_.grid.end(), -1),
            static_cast<int64_t>(solver_.grid.size()) - 34);
}

TEST_F(FileTables, LaterMinusXNeighbourIsRemovedOnlyByItsOwnPattern) {
  // x is filled backwards, so the -x neighbour of a cell comes after it.
  const PuzzleSolver& s = solver_;
  const int32_t pos = 0;
  const int32_t cell = s.cellOrder[pos];
  ASSERT_EQ(cell, s.GridIndex(3, 0, 0));
  ASSERT_EQ(s.grid[cell - 1], 0);
  int coveringMinusX = 0;
  for (int32_t k = 0; k < s.stoneCount; ++k) {
    const std::vector<std::vector<int32_t>> base = Rows(s.Candidates(0, pos)[k]);
    const std::vector<std::vector<int32_t>> minusX = Rows(s.Candidates(8, pos)[k]);
    int32_t avoiding = 0;
    for (const auto& row : base) {
      const bool covers = std::count(row.begin(), row.end(), -1) > 0;
      coveringMinusX += covers;
      avoiding += !covers;
    }
    EXPECT_EQ(static_cast<int32_t>(minusX.size()), avoiding) << k;
    for (const auto& row : minusX) {
      EXPECT_EQ(std::count(row.begin(), row.end(), -1), 0);
      EXPECT_NE(std::find(base.begin(), base.end(), row), base.end());
    }
    // The +x neighbour is frame here: pattern 1 masks nothing.
    EXPECT_EQ(Rows(s.Candidates(1, pos)[k]), base) << k;
  }
  EXPECT_GT(coveringMinusX, 0);
}

TEST(PlacementTables, ExampleFileSetsUp) {
  TempDir dir;
  const std::string path = dir.WriteFile("example.ini",
                                         "[BlockInfo]\nXSize=3\nYSize=2\nZSize=2\nEdgeZone=2\n"
                                         "YZLine_00_00=1,1,1\nYZLine_01_00=1,1,1\n"
                                         "YZLine_00_01=1,1,1\nYZLine_01_01=1,1,0\n"
                                         "[StoneInfo]\nStoneCount=2\nStoneOrder=0,1\n"
                                         "Stone_00=2,4,0,0,0,1,0,0,0,1,0,0,0,1\n"
                                         "Stone_01=1,3,0,0,0,1,0,0,2,0,0\n"
                                         "ShowLegend=1\nPreCheckLevel=0\n"
                                         "[SymetryInfo]\nSymetryPosCount=1\n"
                                         "EnhancedSymetryCheck=0\nSymPos0=0,0,0\n"
                                         "[OutputInfo]\nWriteEveryNSolution=1\n");
  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  EXPECT_EQ(s.cellCount, 11);
  EXPECT_EQ(s.TotalStones, 3);
  EXPECT_EQ(s.StoneCopies, (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(s.writeEveryNSolution, 0);  // no output file
  ExpectTablesConsistent(s);
}

TEST(PlacementTables, FileWithoutARequiredKeyBuildsTheBuiltInPuzzle) {
  TempDir dir;
  PuzzleLayout layout = HolesPuzzle();
  std::string text = PuzzleFileText(layout);
  text.erase(text.find("EdgeZone=2\r\n"), 12);
  const std::string path = dir.WriteFile("p.ini", text);
  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  EXPECT_EQ(s.useFile, 0);
  EXPECT_EQ(s.cellCount, 60);
  EXPECT_EQ(SizesAt(s, 0, 0), (std::vector<int32_t>{0, 6, 6, 6, 8, 6, 6, 12, 12, 12, 15, 18}));
}

TEST(PlacementTables, FreeingTwiceAndBuildingAgain) {
  PuzzleSolver s(0, 0, "", "");
  s.FreePlacementTables();  // never built
  s.FreeCellOrder();
  s.FreeGrid();
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  const std::vector<std::vector<int32_t>> first = Rows(s.Candidates(0, 0)[11]);
  for (int i = 0; i < 2; ++i) {
    s.FreePlacementTables();
    s.FreeCellOrder();
    s.FreeGrid();
  }
  for (const auto& table : s.PlacementTables) EXPECT_TRUE(table.empty());
  EXPECT_TRUE(s.StoneCopies.empty());
  EXPECT_TRUE(s.SearchStack.empty());
  s.Teardown();
  // A second set-up on the same solver starts from nothing and builds the same tables.
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  ASSERT_EQ(s.Setup(0, 0, "", ""), 1);
  EXPECT_EQ(Rows(s.Candidates(0, 0)[11]), first);
  EXPECT_EQ(SizesAt(s, 0, 0), (std::vector<int32_t>{0, 6, 6, 6, 8, 6, 6, 12, 12, 12, 15, 18}));
  EXPECT_EQ(s.TotalStones, 12);
}

// A set-up that must be refused; nothing may stay allocated afterwards.
void ExpectRefused(PuzzleSolver& s, const std::string& path, SetupErrorCode code) {
  EXPECT_EQ(s.Setup(0, 0, path, ""), 0);
  EXPECT_EQ(s.setupError.code, code) << s.setupError.message;
  EXPECT_TRUE(s.grid.empty());
  EXPECT_TRUE(s.cellOrder.empty());
  for (const auto& table : s.PlacementTables) EXPECT_TRUE(table.empty());
  EXPECT_EQ(s.ready, 0);
}

TEST(PlacementTables, EdgeZoneNarrowerThanAStoneIsRefused) {
  TempDir dir;
  struct Case {
    const char* name;
    int32_t edgeZone;
    std::vector<Coord> cubes;
  };
  const Case cases[] = {
      {"straight three", 1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}},
      {"bent in z", 1, {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 2}}},
      {"far apart", 3, {{-2000000000, 0, 0}, {2000000000, 0, 0}}},
      {"int32 extremes", 3, {{0, -2147483647 - 1, 0}, {0, 2147483647, 0}}},
      {"negative z", 2, {{5, 5, 5}, {5, 5, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PuzzleLayout layout;
    layout.xSize = 3;
    layout.ySize = 3;
    layout.zSize = 3;
    layout.edgeZone = c.edgeZone;
    layout.stones = {{1, {{0, 0, 0}}}, {1, c.cubes}};
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s, dir.WriteFile("p.ini", PuzzleFileText(layout)),
                  SetupErrorCode::kEdgeZoneTooNarrow);
  }
}

TEST(PlacementTables, StonesAnywhereInCoordinateSpaceWork) {
  TempDir dir;
  PuzzleLayout layout;
  layout.xSize = 3;
  layout.ySize = 2;
  layout.zSize = 1;
  layout.edgeZone = 1;
  layout.stones = {{1, {{2147483647, -2147483647 - 1, 0}, {2147483646, -2147483647 - 1, 0}}}};
  const std::string path = dir.WriteFile("p.ini", PuzzleFileText(layout));
  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  // A domino in a 3*2 rectangle lies in 7 places, each in exactly one pattern-0 list.
  int32_t total = 0;
  for (int32_t i = 0; i < s.cellCount; ++i) total += s.Candidates(0, i)[0].RowCount;
  EXPECT_EQ(total, 7);
}

TEST(PlacementTables, ThirtyTwoCubeStonesBuild) {
  TempDir dir;
  // A straight line of 32 cubes in a 32*1*1 block needs a frame 31 cells wide.
  PuzzleLayout line;
  line.xSize = 32;
  line.edgeZone = 31;
  std::vector<Coord> cubes;
  for (int32_t x = 0; x < 32; ++x) cubes.push_back({x, 0, 0});
  line.stones = {{1, cubes}};
  const std::string path = dir.WriteFile("line.ini", PuzzleFileText(line));
  PuzzleSolver s(0, 0, path, "");
  ASSERT_EQ(s.Setup(0, 0, path, ""), 1) << s.setupError.message;
  ASSERT_EQ(s.Candidates(0, 0)[0].RowCount, 1);
  const std::vector<int32_t> row = Rows(s.Candidates(0, 0)[0])[0];
  ASSERT_EQ(row.size(), 32u);
  for (int32_t j = 0; j < 32; ++j) EXPECT_EQ(row[j], 31 - j);
  int32_t total = 0;
  for (int32_t i = 0; i < s.cellCount; ++i) total += s.Candidates(0, i)[0].RowCount;
  EXPECT_EQ(total, 1);

  // The same line with a frame of 30 reaches past the grid and is refused.
  line.edgeZone = 30;
  PuzzleSolver narrow(0, 0, "", "");
  ExpectRefused(narrow, dir.WriteFile("narrow.ini", PuzzleFileText(line)),
                SetupErrorCode::kEdgeZoneTooNarrow);
}

TEST(PlacementTables, BadFilesFailTheSetUp) {
  TempDir dir;
  {
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s,
                  dir.WriteFile("big.ini",
                                "[BlockInfo]\nXSize=2000\nYSize=2000\nZSize=2000\nEdgeZone=1\n"
                                "[StoneInfo]\nStoneCount=1\n"
                                "[SymetryInfo]\nSymetryPosCount=0\nEnhancedSymetryCheck=0\n"),
                  SetupErrorCode::kTooLarge);
  }
  {
    PuzzleLayout layout = HolesPuzzle();
    std::string text = PuzzleFileText(layout);
    text.replace(text.find("SymetryPosCount=1"), 17, "SymetryPosCount=8");
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s, dir.WriteFile("sym.ini", text), SetupErrorCode::kBadValue);
  }
  {
    PuzzleLayout layout = HolesPuzzle();
    layout.order = {3, 0, 5, 4, 1, 1};
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s, dir.WriteFile("order.ini", PuzzleFileText(layout)),
                  SetupErrorCode::kStoneOrderRepeat);
  }
  {
    PuzzleLayout layout = HolesPuzzle();
    std::string text = PuzzleFileText(layout);
    text.replace(text.find("Stone_02=1,4,"), 13, "Stone_02=1,5,");
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s, dir.WriteFile("stone.ini", text), SetupErrorCode::kStoneLength);
  }
  {
    PuzzleLayout layout = HolesPuzzle();
    layout.symPos = {{0, 0, 0}};  // not the first cell of this fill order
    PuzzleSolver s(0, 0, "", "");
    ExpectRefused(s, dir.WriteFile("first.ini", PuzzleFileText(layout)),
                  SetupErrorCode::kSymPosNotFirst);
  }
}

}  // namespace
}  // namespace quaderix
