#pragma once

// A puzzle definition held as plain data, so that one description feeds both the solver
// (written out as an INI file) and the second methods of the tests. Test-only; each test
// owns its own descriptions.

#include <array>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quaderix::testing {

using Coord = std::array<int, 3>;  // x, y, z in block coordinates

// Polycubes, as a puzzle file would define them.
inline const std::vector<Coord> kMonocube = {{0, 0, 0}};
inline const std::vector<Coord> kDomino = {{0, 0, 0}, {1, 0, 0}};
inline const std::vector<Coord> kTriLine = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
inline const std::vector<Coord> kTriBend = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
inline const std::vector<Coord> kTetraL = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}};
inline const std::vector<Coord> kTetraSquare = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
inline const std::vector<Coord> kTripod = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

struct StoneDescription {
  std::vector<Coord> cubes = {};
  int copies = 1;
};

struct PuzzleDescription {
  int xSize = 1;
  int ySize = 1;
  int zSize = 1;
  // Order key of every cell, indexed by KeyIndex; 0 or less makes a hole. Empty: all 1.
  std::vector<int> keys = {};
  std::vector<StoneDescription> stones = {};  // entries Stone_00, Stone_01, ...
  std::vector<int> stoneOrder = {};           // empty means 0, 1, 2, ...
  std::vector<Coord> symPositions = {};
  std::optional<int> preCheckLevel = {};
  std::optional<int> firstPreCheckStone = {};
  std::optional<int> lastPreCheckStone = {};
  int showLegend = 1;
  int writeEveryNSolution = 0;
  int edgeZone = 3;

  int KeyIndex(int x, int y, int z) const { return (x * ySize + y) * zSize + z; }
  int KeyOf(int x, int y, int z) const { return keys.empty() ? 1 : keys[KeyIndex(x, y, z)]; }
  void SetKey(int x, int y, int z, int key) {
    if (keys.empty()) keys.assign(static_cast<size_t>(xSize) * ySize * zSize, 1);
    keys[KeyIndex(x, y, z)] = key;
  }
  int StoneCount() const { return static_cast<int>(stones.size()); }
  // The stone entry that becomes stone type k.
  const StoneDescription& TypeStone(int k) const {
    return stones[stoneOrder.empty() ? k : stoneOrder[k]];
  }
};

// The Soma cube: its seven pieces in a 3x3x3 block, one copy each, with the four corners
// that the half turns about the axes carry into each other. 11520 packings in all.
inline PuzzleDescription SomaPuzzle() {
  const std::vector<Coord> tetraT = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}};
  const std::vector<Coord> tetraS = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}};
  const std::vector<Coord> screwRight = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
  const std::vector<Coord> screwLeft = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, -1}};
  return {
      .xSize = 3,
      .ySize = 3,
      .zSize = 3,
      .stones = {{kTriBend}, {kTetraL}, {tetraT}, {tetraS}, {screwRight}, {screwLeft}, {kTripod}},
      .symPositions = {{0, 0, 0}, {0, 2, 2}, {2, 0, 2}, {2, 2, 0}}};
}

inline std::string TwoDigits(int n) {
  return (n < 10 ? "0" : "") + std::to_string(n);
}

// The [BlockInfo] section of `puzzle`: sizes, EdgeZone and every YZLine row.
inline std::string BlockInfoText(const PuzzleDescription& puzzle) {
  std::ostringstream out;
  out << "[BlockInfo]\nXSize=" << puzzle.xSize << "\nYSize=" << puzzle.ySize
      << "\nZSize=" << puzzle.zSize << "\nEdgeZone=" << puzzle.edgeZone << "\n";
  for (int z = 0; z < puzzle.zSize; ++z) {
    for (int y = 0; y < puzzle.ySize; ++y) {
      out << "YZLine_" << TwoDigits(y) << "_" << TwoDigits(z) << "=";
      for (int x = 0; x < puzzle.xSize; ++x) out << (x ? "," : "") << puzzle.KeyOf(x, y, z);
      out << "\n";
    }
  }
  return out.str();
}

// The puzzle definition file for `puzzle`, every key written in decimal.
inline std::string ToIni(const PuzzleDescription& puzzle) {
  std::ostringstream out;
  out << BlockInfoText(puzzle);
  out << "[StoneInfo]\nStoneCount=" << puzzle.StoneCount() << "\nStoneOrder=";
  for (int k = 0; k < puzzle.StoneCount(); ++k)
    out << (k ? "," : "") << (puzzle.stoneOrder.empty() ? k : puzzle.stoneOrder[k]);
  out << "\nShowLegend=" << puzzle.showLegend << "\n";
  for (int k = 0; k < puzzle.StoneCount(); ++k) {
    const StoneDescription& stone = puzzle.stones[k];
    out << "Stone_" << TwoDigits(k) << "=" << stone.copies << "," << stone.cubes.size();
    for (const Coord& c : stone.cubes) out << "," << c[0] << "," << c[1] << "," << c[2];
    out << "\n";
  }
  if (puzzle.preCheckLevel) out << "PreCheckLevel=" << *puzzle.preCheckLevel << "\n";
  if (puzzle.firstPreCheckStone) out << "FirstPreCheckStone=" << *puzzle.firstPreCheckStone << "\n";
  if (puzzle.lastPreCheckStone) out << "LastPreCheckStone=" << *puzzle.lastPreCheckStone << "\n";
  out << "[SymetryInfo]\nSymetryPosCount=" << puzzle.symPositions.size()
      << "\nEnhancedSymetryCheck=0\n";
  for (size_t i = 0; i < puzzle.symPositions.size(); ++i) {
    const Coord& c = puzzle.symPositions[i];
    out << "SymPos" << i << "=" << c[0] << "," << c[1] << "," << c[2] << "\n";
  }
  out << "[OutputInfo]\nWriteEveryNSolution=" << puzzle.writeEveryNSolution << "\n";
  return out.str();
}

}  // namespace quaderix::testing
