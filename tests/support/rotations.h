#pragma once

// The tests' one reference geometry, sharing no code with the product's rotations and
// table build: the 24 proper rotations of the cube as signed permutation matrices, and grid
// indices computed from the sizes alone. Header-only; pure functions.

#include <algorithm>
#include <array>
#include <cstdint>
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

}  // namespace quaderix::testing
