#pragma once

// Small puzzles that together cover the search's cases: holes, order keys that change the
// fill order, copies, 0 to 4 symmetry positions and the isolated-cell check on and off.
// Shared by the tests that compare the search with a second method. Test-only data.

#include <string>
#include <vector>

#include "support/puzzle_description.h"

namespace quaderix::testing {

struct NamedPuzzle {
  std::string name;
  PuzzleDescription puzzle;
};

// Together these cover holes, order keys that change the fill order, several copies of a
// type (with 0 or 1 symmetry positions), 0, 1, 2 and 4 symmetry positions, the
// isolated-cell check on and off, and more types than a 64-bit mask holds.
inline std::vector<NamedPuzzle> CrossCheckPuzzles() {
  std::vector<NamedPuzzle> out;
  // A ring: the centre column of a 3x3x2 block is left out. Two types share a shape.
  PuzzleDescription ring{
      .xSize = 3,
      .ySize = 3,
      .zSize = 2,
      .stones = {{kTriBend}, {kTriBend}, {kTriLine}, {kDomino}, {kTetraL}, {kMonocube}},
      .symPositions = {{0, 0, 0}, {2, 2, 0}}};
  ring.SetKey(1, 1, 0, 0);
  ring.SetKey(1, 1, 1, 0);
  out.push_back({"RingWithHoles", ring});
  ring.preCheckLevel = 2;
  ring.firstPreCheckStone = 1;
  ring.lastPreCheckStone = 5;
  out.push_back({"RingWithHolesPreCheck", ring});
  // Layers: the keys make z the slowest coordinate of the fill order, and the stone order
  // is not the identity. Then keys in reverse scan order, so that the fill order starts at
  // the far corner.
  PuzzleDescription layers{.xSize = 2,
                           .ySize = 2,
                           .zSize = 3,
                           .stones = {{kTriBend}, {kDomino}, {kTriLine}, {kTetraL}},
                           .stoneOrder = {2, 0, 3, 1},
                           .symPositions = {{0, 0, 0}}};
  PuzzleDescription reversed{
      .xSize = 2, .ySize = 2, .zSize = 3, .stones = layers.stones, .symPositions = {{1, 1, 2}}};
  for (int x = 0; x < 2; ++x)
    for (int y = 0; y < 2; ++y)
      for (int z = 0; z < 3; ++z) {
        layers.SetKey(x, y, z, z + 1);
        reversed.SetKey(x, y, z, 12 - reversed.KeyIndex(x, y, z));
      }
  out.push_back({"LayerKeys", layers});
  out.push_back({"ReversedKeys", reversed});
  out.push_back({"CopiesOneSymPosition",
                 {.xSize = 2,
                  .ySize = 2,
                  .zSize = 3,
                  .stones = {{kTriBend, 2}, {kDomino, 3}},
                  .symPositions = {{0, 0, 0}}}});
  out.push_back({"CopiesNoSymPosition",
                 {.xSize = 3, .ySize = 2, .zSize = 2, .stones = {{kTetraL, 2}, {kTetraSquare}}}});
  // Monocubes make walled-in cells common, so the check loses packings here.
  out.push_back({"CopiesPreCheck",
                 {.xSize = 2,
                  .ySize = 2,
                  .zSize = 3,
                  .stones = {{kMonocube}, {kDomino}, {kTriBend}, {kTriLine}, {kMonocube, 3}},
                  .preCheckLevel = 1}});
  PuzzleDescription four{.xSize = 3,
                         .ySize = 2,
                         .zSize = 2,
                         .stones = {{kMonocube}, {kDomino}, {kTriLine}, {kTriBend}, {kTriBend}},
                         .symPositions = {{0, 0, 0}, {0, 1, 1}, {2, 0, 1}, {2, 1, 0}}};
  out.push_back({"FourSymPositions", four});
  four.preCheckLevel = 2;
  four.firstPreCheckStone = 1;
  four.lastPreCheckStone = 5;
  out.push_back({"FourSymPositionsPreCheck", four});
  out.push_back({"SomaCube", SomaPuzzle()});
  // More than 64 types, the stones with copies among the last: the search keeps its masks
  // of types for the first 64 only and must count the others one by one.
  PuzzleDescription many{.xSize = 2, .ySize = 2, .zSize = 2};
  for (int k = 0; k < 66; ++k) many.stones.push_back({kMonocube, 0});
  many.stones.push_back({kDomino});
  many.stones.push_back({kTriBend});
  many.stones.push_back({kMonocube, 3});
  out.push_back({"SixtyNineTypes", many});
  return out;
}

}  // namespace quaderix::testing
