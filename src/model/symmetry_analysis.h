#pragma once

// Whether a puzzle's symmetry positions make its counts exact. The search counts a
// packing only when the stone type on SymPos0 is not above the types on the other
// positions; that keeps exactly one packing of every k rotated copies (k positions) when
// some k rotations of the block carry SymPos0 onto exactly the positions, one rotation
// for each, every stone type has one copy and no stone can cover two positions. Otherwise
// packings are lost or counted twice without a word, so the front ends explain it. Plain
// functions on plain values; any thread.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "model/stone_set.h"

namespace quaderix {

using CellCoord = std::array<int32_t, 3>;  // x, y, z in block coordinates

// The block, its positions and its stones as the analysis needs them.
struct SymmetryInput {
  int32_t xSize = 0;
  int32_t ySize = 0;
  int32_t zSize = 0;
  std::vector<uint8_t> isCell;       // 1 for a puzzle cell, at (x * ySize + y) * zSize + z
  std::vector<CellCoord> positions;  // SymPos0, SymPos1, ...
  std::vector<StoneDefinition> stones;
};

struct SymmetryAnalysis {
  int32_t blockRotations = 0;  // of the 24, those that carry cells and holes onto themselves
  int32_t orbitSize = 0;       // cells onto which those carry SymPos0
  bool positionsAreOrbit = false;
  bool stabiliserTrivial = false;  // only the identity keeps SymPos0 in place
  int32_t typesWithCopies = 0;
  int32_t reduction = 1;  // every count is 1/reduction of all packings, when exact
  bool exact = false;
  std::vector<CellCoord> exactPositions;  // positions that would be exact; SymPos0 first
  std::vector<std::string> facts;         // lines for --check
  std::string warning;                    // one sentence; empty when exact
};

SymmetryAnalysis AnalyseSymmetry(const SymmetryInput& input);

// The input of a model whose block, fill order and positions were read (the cells hold
// 0 or more, holes and frame -1) and whose stones are set.
SymmetryInput SymmetryInputOf(const PuzzleModel& model);

// For a log: the analysis of the puzzle at `path` as sentences, the warning last; empty
// when the puzzle is refused (the set-up says why) or has no positions.
std::vector<std::string> SymmetrySentences(const std::string& path);

// The bounding box (cells along x, y, z) of each different orientation that the 24
// rotations give the stone: 1 for a cube, 3 for a bar, 24 for a shape without symmetry.
std::vector<std::array<int64_t, 3>> OrientationSpans(const StoneDefinition& stone);

}  // namespace quaderix
