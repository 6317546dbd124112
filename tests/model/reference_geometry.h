#pragma once

// A reference for the geometry of the model tests that shares no code with the table
// build: the 24 rotations as signed permutation matrices and a plain enumeration of every
// placement of a stone in a block. Header-only, used from the test thread only.

#include <algorithm>
#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "model/puzzle_model.h"
#include "support/puzzle_description.h"
#include "support/rotations.h"

namespace quaderix::testing {

using CellTest = std::function<bool(int32_t, int32_t, int32_t)>;

// The grid index of block cell (x, y, z), computed from the sizes alone.
inline int32_t ExpectedIndex(int32_t xSize, int32_t ySize, int32_t edge, int32_t x, int32_t y,
                             int32_t z) {
  return (x + edge) + (y + edge) * (xSize + 2 * edge) +
         (z + edge) * (xSize + 2 * edge) * (ySize + 2 * edge);
}

// The block coordinates of grid index `cell` of `model`.
inline Coord BlockCoord(const PuzzleModel& model, int32_t cell) {
  const int32_t e = model.edgeZone;
  return {cell % model.yStride - e, cell / model.yStride % (model.ySize + 2 * e) - e,
          cell / model.zStride - e};
}

inline std::vector<Coord> ShapeOf(const StoneDefinition& stone) {
  std::vector<Coord> shape;
  for (int32_t j = 0; j < stone.cubeCount; ++j)
    shape.push_back({stone.cubes[j].x, stone.cubes[j].y, stone.cubes[j].z});
  return shape;
}

// Every distinct set of block cells (each sorted) that some rotation and translation of
// `cubes` covers with puzzle cells only, as `isCell` names them.
inline std::set<std::vector<Coord>> EnumeratePlacements(const std::vector<Coord>& cubes,
                                                        int32_t xSize, int32_t ySize, int32_t zSize,
                                                        const CellTest& isCell) {
  std::set<std::vector<Coord>> result;
  const int32_t size[3] = {xSize, ySize, zSize};
  for (const Matrix& m : ProperRotations()) {
    std::vector<Coord> turned;
    for (const Coord& c : cubes) turned.push_back(Apply(m, c));
    Coord lo = turned[0], hi = turned[0];
    for (const Coord& c : turned) {
      for (int32_t i = 0; i < 3; ++i) {
        lo[i] = std::min(lo[i], c[i]);
        hi[i] = std::max(hi[i], c[i]);
      }
    }
    for (int32_t tx = -lo[0]; tx + hi[0] < size[0]; ++tx)
      for (int32_t ty = -lo[1]; ty + hi[1] < size[1]; ++ty)
        for (int32_t tz = -lo[2]; tz + hi[2] < size[2]; ++tz) {
          std::vector<Coord> cells;
          for (const Coord& c : turned) {
            if (!isCell(c[0] + tx, c[1] + ty, c[2] + tz)) break;
            cells.push_back({c[0] + tx, c[1] + ty, c[2] + tz});
          }
          if (cells.size() != turned.size()) continue;
          std::sort(cells.begin(), cells.end());
          result.insert(cells);
        }
  }
  return result;
}

}  // namespace quaderix::testing
