#include "model/stone_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "puzzle_text.h"
#include "solver/puzzle_solver.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::BuiltInShapes;
using testing::Coord;
using testing::PuzzleFileText;
using testing::PuzzleLayout;
using testing::TempDir;

// Reads Stone_00 = `value` and returns ReadStone's result.
int ReadOne(const TempDir& dir, const std::string& value, StoneDefinition& out, SetupError& error) {
  IniReader ini(dir.WriteFile("s.ini", "[StoneInfo]\nStone_00=" + value + "\n"));
  return ReadStone(ini, "StoneInfo", "Stone_00", out, &error);
}

std::string Coordinates(int32_t n) {
  std::string text;
  for (int32_t j = 0; j < n; ++j) {
    text += "," + std::to_string(j % 4) + "," + std::to_string(j / 4 % 4) + "," +
            std::to_string(j / 16);
  }
  return text;
}

TEST(StoneDefinition, ReadsAOneCubeStone) {
  TempDir dir;
  StoneDefinition stone;
  SetupError error;
  ASSERT_EQ(ReadOne(dir, "1,1,0,0,0", stone, error), 1);
  EXPECT_EQ(stone.key, "Stone_00");
  EXPECT_EQ(stone.copies, 1);
  EXPECT_EQ(stone.cubeCount, 1);
  EXPECT_EQ(stone.cubes[0].x, 0);
  EXPECT_EQ(stone.cubes[0].y, 0);
  EXPECT_EQ(stone.cubes[0].z, 0);
}

TEST(StoneDefinition, ThirtyTwoCubesAreTheMost) {
  TempDir dir;
  StoneDefinition stone;
  SetupError error;
  // 98 values: copies, 32, 32 triples.
  ASSERT_EQ(ReadOne(dir, "3,32" + Coordinates(32), stone, error), 1) << error.message;
  EXPECT_EQ(stone.copies, 3);
  EXPECT_EQ(stone.cubeCount, 32);
  EXPECT_EQ(stone.cubes[31].x, 3);
  EXPECT_EQ(stone.cubes[31].y, 3);
  EXPECT_EQ(stone.cubes[31].z, 1);
  EXPECT_EQ(stone.cubes[6].x, 2);
  EXPECT_EQ(stone.cubes[6].y, 1);

  // 101 values for 33 cubes.
  EXPECT_EQ(ReadOne(dir, "1,33" + Coordinates(33), stone, error), 0);
  EXPECT_EQ(error.code, SetupErrorCode::kStoneLength);
}

TEST(StoneDefinition, ListLengthMustMatchTheCubeCount) {
  TempDir dir;
  struct Case {
    const char* value;
    SetupErrorCode code;
  };
  const Case cases[] = {
      {"1,2,0,0,0,1,0,0,9", SetupErrorCode::kStoneLength},  // 9 values, 8 needed
      {"1,1,0,0", SetupErrorCode::kStoneLength},            // 4 values
      {"1,1,0,0,0,0", SetupErrorCode::kStoneLength},
      {"1,2,0,0,0", SetupErrorCode::kStoneLength},
      {"1,0,0,0,0", SetupErrorCode::kStoneLength},  // no cubes
      {"1,-1,0,0,0", SetupErrorCode::kStoneLength},
      {"1", SetupErrorCode::kStoneLength},
      {"", SetupErrorCode::kMissingStone},
  };
  for (const Case& c : cases) {
    StoneDefinition stone;
    SetupError error;
    EXPECT_EQ(ReadOne(dir, c.value, stone, error), 0) << c.value;
    EXPECT_EQ(error.code, c.code) << c.value;
    EXPECT_NE(error.message.find("Stone_00"), std::string::npos) << error.message;
  }
  StoneDefinition stone;
  SetupError error;
  ReadOne(dir, "1,2,0,0,0,1,0,0,9", stone, error);
  EXPECT_NE(error.message.find("9 values"), std::string::npos) << error.message;
  EXPECT_NE(error.message.find("8 are needed"), std::string::npos) << error.message;
}

TEST(StoneDefinition, EmptyPiecesAndLongTextsAreHandled) {
  TempDir dir;
  StoneDefinition stone;
  SetupError error;
  // Empty pieces read as 0: one copy of one cube at the origin.
  ASSERT_EQ(ReadOne(dir, "1,1,,,", stone, error), 1);
  EXPECT_EQ(stone.cubeCount, 1);
  EXPECT_EQ(stone.cubes[0].x, 0);

  // A valid 32-cube list written with wide numbers is longer than 1023 characters; the cut
  // tail makes it too short, so it is refused.
  std::string wide = "1,32";
  for (int j = 0; j < 96; ++j) wide += ",-2000000000";
  ASSERT_GT(wide.size(), 1023u);
  EXPECT_EQ(ReadOne(dir, wide, stone, error), 0);
  EXPECT_EQ(error.code, SetupErrorCode::kStoneLength);
}

TEST(StoneOrder, MustBeAPermutationOfTheStoneNumbers) {
  TempDir dir;
  const std::string stones = "Stone_00=1,1,0,0,0\nStone_01=1,1,0,0,0\nStone_02=1,1,0,0,0\n";
  struct Case {
    const char* order;
    SetupErrorCode code;
  };
  const Case cases[] = {
      {"StoneOrder=0,1,1\n", SetupErrorCode::kStoneOrderRepeat},
      {"StoneOrder=0,1,3\n", SetupErrorCode::kStoneOrderRange},
      {"StoneOrder=-1,0,1\n", SetupErrorCode::kStoneOrderRange},
      {"StoneOrder=0,1\n", SetupErrorCode::kStoneOrderLength},
      {"StoneOrder=0,1,2,0\n", SetupErrorCode::kStoneOrderLength},
      {"", SetupErrorCode::kMissingStoneOrder},
  };
  for (const Case& c : cases) {
    IniReader ini(dir.WriteFile("s.ini", std::string("[StoneInfo]\n") + c.order + stones));
    std::vector<StoneDefinition> out;
    SetupError error;
    EXPECT_EQ(ReadStones(ini, 3, out, &error), 0) << c.order;
    EXPECT_EQ(error.code, c.code) << c.order;
  }
}

TEST(StoneOrder, NamesTheEntryOfEachStoneType) {
  TempDir dir;
  IniReader ini(dir.WriteFile("s.ini",
                              "[StoneInfo]\nStoneOrder=2,0,1\nStone_00=1,1,0,0,0\n"
                              "Stone_01=2,2,0,0,0,1,0,0\nStone_02=3,3,0,0,0,1,0,0,2,0,0\n"));
  std::vector<StoneDefinition> out;
  SetupError error;
  ASSERT_EQ(ReadStones(ini, 3, out, &error), 1) << error.message;
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].key, "Stone_02");
  EXPECT_EQ(out[0].cubeCount, 3);
  EXPECT_EQ(out[0].copies, 3);
  EXPECT_EQ(out[1].key, "Stone_00");
  EXPECT_EQ(out[2].key, "Stone_01");
  EXPECT_EQ(out[2].cubeCount, 2);

  // A stone named by the order but missing from the file.
  IniReader gap(dir.WriteFile("t.ini", "[StoneInfo]\nStoneOrder=1,0\nStone_00=1,1,0,0,0\n"));
  EXPECT_EQ(ReadStones(gap, 2, out, &error), 0);
  EXPECT_EQ(error.code, SetupErrorCode::kMissingStone);
  EXPECT_NE(error.message.find("Stone_01"), std::string::npos) << error.message;
}

TEST(StoneOrder, StoneNumbersFromOneHundredHaveThreeDigits) {
  EXPECT_EQ(StoneKey(0), "Stone_00");
  EXPECT_EQ(StoneKey(7), "Stone_07");
  EXPECT_EQ(StoneKey(11), "Stone_11");
  EXPECT_EQ(StoneKey(100), "Stone_100");

  TempDir dir;
  std::string text = "[StoneInfo]\nStoneOrder=100";
  for (int i = 0; i < 100; ++i) text += "," + std::to_string(i);
  text += "\n";
  for (int i = 0; i <= 100; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "Stone_%02d=1,1,%d,0,0\n", i, i);
    text += line;
  }
  IniReader ini(dir.WriteFile("s.ini", text));
  std::vector<StoneDefinition> out;
  SetupError error;
  ASSERT_EQ(ReadStones(ini, 101, out, &error), 1) << error.message;
  EXPECT_EQ(out[0].key, "Stone_100");
  EXPECT_EQ(out[0].cubes[0].x, 100);
  EXPECT_EQ(out[100].cubes[0].x, 99);
}

TEST(StoneDefinition, BuiltInSetFillsTheBuiltInBlock) {
  const std::vector<StoneDefinition> stones = BuiltInStones();
  const std::vector<std::vector<Coord>> shapes = BuiltInShapes();
  ASSERT_EQ(stones.size(), 12u);
  int cubes = 0;
  for (size_t k = 0; k < 12; ++k) {
    EXPECT_EQ(stones[k].copies, 1);
    ASSERT_EQ(stones[k].cubeCount, static_cast<int32_t>(shapes[k].size())) << k;
    for (size_t j = 0; j < shapes[k].size(); ++j) {
      EXPECT_EQ((Coord{stones[k].cubes[j].x, stones[k].cubes[j].y, stones[k].cubes[j].z}),
                shapes[k][j])
          << "stone " << k << " cube " << j;
    }
    cubes += stones[k].cubeCount;
    EXPECT_LE(StoneExtent(stones[k]), 3);
  }
  EXPECT_EQ(cubes, 60);
  EXPECT_EQ(StoneExtent(stones[4]), 3);  // the Y stone spans four rows
}

TEST(StoneDefinition, ExtentIsComputedWithoutOverflow) {
  StoneDefinition far;
  far.cubeCount = 2;
  far.cubes[0] = {-2000000000, 0, 5};
  far.cubes[1] = {2000000000, 0, 5};
  EXPECT_EQ(StoneExtent(far), 4000000000LL);
  far.cubes[1] = {-2000000000, -2147483647 - 1, 2147483647};
  EXPECT_EQ(StoneExtent(far), 2147483648LL);
}

TEST(StoneDefinition, MultiplicitiesAddUpToTotalStones) {
  TempDir dir;
  PuzzleLayout layout;
  layout.xSize = 5;
  layout.stones = {{2, {{0, 0, 0}}}, {3, {{0, 0, 0}}}, {0, {{0, 0, 0}, {1, 0, 0}}}};
  const std::string path = dir.WriteFile("p.ini", PuzzleFileText(layout));
  PuzzleSolver solver(0, 0, path, "");
  ASSERT_EQ(solver.Setup(0, 0, path, ""), 1) << solver.setupError.message;
  EXPECT_EQ(solver.TotalStones, 5);
  EXPECT_EQ(solver.StoneCopies, (std::vector<int32_t>{2, 3, 0}));

  // The built-in set: one copy of each of twelve stones.
  PuzzleSolver builtIn(1, 1, "", "");
  ASSERT_EQ(builtIn.Setup(1, 1, "", ""), 1);
  EXPECT_EQ(builtIn.TotalStones, 12);
  EXPECT_EQ(builtIn.StoneCopies, std::vector<int32_t>(12, 1));
}

}  // namespace
}  // namespace quaderix
