#pragma once

// A puzzle definition held as plain data, so that one description feeds both the solver
// (written out as an INI file) and the reference enumeration of the tests. Test-only;
// each test owns its own specs.

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quaderix::testing {

using Coord = std::array<int, 3>;  // x, y, z in block coordinates

struct StoneSpec {
  int copies = 1;
  std::vector<Coord> cubes;
};

struct PuzzleSpec {
  int xSize = 1;
  int ySize = 1;
  int zSize = 1;
  int edgeZone = 3;
  // Order key of every cell, indexed by KeyIndex; 0 or less makes a hole. Empty: all 1.
  std::vector<int> keys;
  // Stone entries by number (Stone_00, Stone_01, ...).
  std::vector<StoneSpec> stones;
  // StoneOrder; empty means 0, 1, 2, ...
  std::vector<int> stoneOrder;
  std::vector<Coord> symPositions;
  std::optional<int> preCheckLevel;
  std::optional<int> firstPreCheckStone;
  std::optional<int> lastPreCheckStone;
  std::optional<int> showLegend;
  std::optional<int> writeEveryNSolution;

  int KeyIndex(int x, int y, int z) const { return (x * ySize + y) * zSize + z; }
  int KeyOf(int x, int y, int z) const { return keys.empty() ? 1 : keys[KeyIndex(x, y, z)]; }
  void SetKey(int x, int y, int z, int key);
  int StoneCount() const { return static_cast<int>(stones.size()); }
  // Stone entry that becomes stone type k.
  int EntryOfType(int k) const { return stoneOrder.empty() ? k : stoneOrder[k]; }
};

// The puzzle definition file for `spec`, every key written in decimal.
std::string ToIni(const PuzzleSpec& spec);

// Stones used by several tests, in the coordinates of their definition.
StoneSpec Monocube(int copies = 1);
StoneSpec Domino(int copies = 1);  // along x
StoneSpec Shape(std::vector<Coord> cubes, int copies = 1);

}  // namespace quaderix::testing
