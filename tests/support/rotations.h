#pragma once

// The tests' one reference geometry, sharing no code with the product's rotations and
// table build: the 24 proper rotations of the cube as signed permutation matrices and a
// plain enumeration of every placement of a stone in a block. Header-only; pure functions.

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "model/puzzle_model.h"

#include "support/puzzle_description.h"

namespace quaderix::testing {

using Matrix = std::array<std::array<int32_t, 3>, 3>;

// Every 3x3 matrix with one entry of +1 or -1 in each row and column and determinant +1.
inline std::vector<Matrix> ProperRotations() {
  std::vector<Matrix> result;
  int32_t perm[3] = {0, 1, 2};
  do {
    for (int32_t signs = 0; signs < 8; ++signs) {
      Matrix m{};
      for (int32_t r = 0; r < 3; ++r) m[r][perm[r]] = (signs >> r & 1) ? -1 : 1;
      const int32_t det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                          m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                          m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
      if (det == 1) result.push_back(m);
    }
  } while (std::next_permutation(perm, perm + 3));
  return result;
}

inline Coord Apply(const Matrix& m, const Coord& v) {
  Coord r{};
  for (int32_t i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

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
