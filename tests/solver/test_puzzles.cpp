#include "solver/test_puzzles.h"

namespace quaderix::testing {

const std::vector<Coord> kMonocube = {{0, 0, 0}};
const std::vector<Coord> kDominoShape = {{0, 0, 0}, {1, 0, 0}};
const std::vector<Coord> kTriLine = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
const std::vector<Coord> kTriBend = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
const std::vector<Coord> kTetraL = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}};
const std::vector<Coord> kTetraT = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}};
const std::vector<Coord> kTetraS = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}};
const std::vector<Coord> kTetraSquare = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
const std::vector<Coord> kScrewRight = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
const std::vector<Coord> kScrewLeft = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, -1}};
const std::vector<Coord> kTripod = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

PuzzleSpec SomaCube() {
  PuzzleSpec s;
  s.xSize = s.ySize = s.zSize = 3;
  s.stones = {Shape(kTriBend),    Shape(kTetraL),    Shape(kTetraT), Shape(kTetraS),
              Shape(kScrewRight), Shape(kScrewLeft), Shape(kTripod)};
  s.symPositions = {{0, 0, 0}, {0, 2, 2}, {2, 0, 2}, {2, 2, 0}};
  return s;
}

PuzzleSpec ExampleBlock() {
  PuzzleSpec s;
  s.xSize = 3;
  s.ySize = 2;
  s.zSize = 2;
  s.edgeZone = 2;
  // Each shape is written where the example packing puts it, so that rotation 0 with the
  // first cube as anchor is the first row of its list.
  s.stones = {Shape({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}}),
              Shape({{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}}),
              Shape({{1, 1, 0}, {2, 1, 0}, {2, 0, 1}, {2, 1, 1}})};
  s.symPositions = {{0, 0, 0}, {2, 0, 1}};
  s.showLegend = 1;
  s.writeEveryNSolution = 1;
  return s;
}

std::vector<NamedPuzzle> CrossCheckPuzzles() {
  std::vector<NamedPuzzle> out;
  {
    // A ring: the centre column of a 3x3x2 block is left out. Two types share a shape.
    PuzzleSpec s;
    s.xSize = 3;
    s.ySize = 3;
    s.zSize = 2;
    s.SetKey(1, 1, 0, 0);
    s.SetKey(1, 1, 1, 0);
    s.stones = {Shape(kTriBend),     Shape(kTriBend), Shape(kTriLine),
                Shape(kDominoShape), Shape(kTetraL),  Shape(kMonocube)};
    s.symPositions = {{0, 0, 0}, {2, 2, 0}};
    out.push_back({"RingWithHoles", s});
  }
  {
    // The same ring with the isolated-cell check on every level but the last.
    PuzzleSpec s = out.back().spec;
    s.preCheckLevel = 2;
    s.firstPreCheckStone = 1;
    s.lastPreCheckStone = 5;
    out.push_back({"RingWithHolesPreCheck", s});
  }
  {
    // Layers: the keys make z the slowest coordinate of the fill order, and the stone
    // order is not the identity.
    PuzzleSpec s;
    s.xSize = 2;
    s.ySize = 2;
    s.zSize = 3;
    for (int x = 0; x < 2; ++x)
      for (int y = 0; y < 2; ++y)
        for (int z = 0; z < 3; ++z) s.SetKey(x, y, z, z + 1);
    s.stones = {Shape(kTriBend), Shape(kDominoShape), Shape(kTriLine), Shape(kTetraL)};
    s.stoneOrder = {2, 0, 3, 1};
    s.symPositions = {{0, 0, 0}};
    out.push_back({"LayerKeys", s});
  }
  {
    // Keys in reverse scan order: the fill order starts at the far corner.
    PuzzleSpec s;
    s.xSize = 2;
    s.ySize = 2;
    s.zSize = 3;
    int key = 12;
    for (int x = 0; x < 2; ++x)
      for (int y = 0; y < 2; ++y)
        for (int z = 0; z < 3; ++z) s.SetKey(x, y, z, key--);
    s.stones = {Shape(kTriBend), Shape(kDominoShape), Shape(kTriLine), Shape(kTetraL)};
    s.symPositions = {{1, 1, 2}};
    out.push_back({"ReversedKeys", s});
  }
  {
    PuzzleSpec s;
    s.xSize = 2;
    s.ySize = 2;
    s.zSize = 3;
    s.stones = {Shape(kTriBend, 2), Shape(kDominoShape, 3)};
    s.symPositions = {{0, 0, 0}};
    out.push_back({"CopiesOneSymPosition", s});
  }
  {
    PuzzleSpec s;
    s.xSize = 3;
    s.ySize = 2;
    s.zSize = 2;
    s.stones = {Shape(kTetraL, 2), Shape(kTetraSquare)};
    out.push_back({"CopiesNoSymPosition", s});
  }
  {
    // Monocubes make walled-in cells common, so the check loses packings here.
    PuzzleSpec s;
    s.xSize = 2;
    s.ySize = 2;
    s.zSize = 3;
    s.stones = {Shape(kMonocube), Shape(kDominoShape), Shape(kTriBend), Shape(kTriLine),
                Shape(kMonocube, 3)};
    s.preCheckLevel = 1;
    out.push_back({"CopiesPreCheck", s});
  }
  {
    PuzzleSpec s;
    s.xSize = 3;
    s.ySize = 2;
    s.zSize = 2;
    s.stones = {Shape(kMonocube), Shape(kDominoShape), Shape(kTriLine), Shape(kTriBend),
                Shape(kTriBend)};
    s.symPositions = {{0, 0, 0}, {0, 1, 1}, {2, 0, 1}, {2, 1, 0}};
    out.push_back({"FourSymPositions", s});
  }
  {
    PuzzleSpec s = out.back().spec;
    s.preCheckLevel = 2;
    s.firstPreCheckStone = 1;
    s.lastPreCheckStone = 5;
    out.push_back({"FourSymPositionsPreCheck", s});
  }
  out.push_back({"SomaCube", SomaCube()});
  return out;
}

}  // namespace quaderix::testing
