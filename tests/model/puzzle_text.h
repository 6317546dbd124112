#pragma once

// Builds puzzle definition files for the model tests and gives the tests an independent
// reference for the geometry: the 24 rotations as matrices and a plain enumeration of the
// placements of a stone in a block. Header-only, used from the test thread only.

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config/puzzle_definition.h"
#include "model/puzzle_model.h"

namespace quaderix::testing {

using Coord = std::array<int32_t, 3>;

// One "Stone_nn" entry: copies and cubes.
struct StoneEntry {
  int32_t copies = 1;
  std::vector<Coord> cubes;
};

// One puzzle file. `key` gives the row value of a cell (0 or less makes a hole).
struct PuzzleLayout {
  int32_t xSize = 1, ySize = 1, zSize = 1, edgeZone = 1;
  std::function<int32_t(int32_t, int32_t, int32_t)> key = [](int32_t, int32_t, int32_t) {
    return 1;
  };
  std::vector<StoneEntry> stones;
  std::vector<int32_t> order;  // empty: 0, 1, 2, ...
  std::vector<Coord> symPos;
  std::string extraStoneInfo;  // appended to section StoneInfo
};

inline std::string JoinList(const std::vector<int32_t>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ",";
    text += std::to_string(values[i]);
  }
  return text;
}

inline std::string StoneValue(const StoneEntry& s) {
  std::vector<int32_t> values = {s.copies, static_cast<int32_t>(s.cubes.size())};
  for (const Coord& c : s.cubes) values.insert(values.end(), c.begin(), c.end());
  return JoinList(values);
}

inline std::string PuzzleFileText(const PuzzleLayout& p) {
  std::string t = "[BlockInfo]\r\n";
  t += "XSize=" + std::to_string(p.xSize) + "\r\n";
  t += "YSize=" + std::to_string(p.ySize) + "\r\n";
  t += "ZSize=" + std::to_string(p.zSize) + "\r\n";
  t += "EdgeZone=" + std::to_string(p.edgeZone) + "\r\n";
  for (int32_t z = 0; z < p.zSize; ++z) {
    for (int32_t y = 0; y < p.ySize; ++y) {
      std::vector<int32_t> row;
      for (int32_t x = 0; x < p.xSize; ++x) row.push_back(p.key(x, y, z));
      char name[64];
      std::snprintf(name, sizeof name, "YZLine_%02d_%02d=", y, z);
      t += name + JoinList(row) + "\r\n";
    }
  }
  t += "[StoneInfo]\r\n";
  t += "StoneCount=" + std::to_string(p.stones.size()) + "\r\n";
  std::vector<int32_t> order = p.order;
  if (order.empty()) {
    for (size_t k = 0; k < p.stones.size(); ++k) order.push_back(static_cast<int32_t>(k));
  }
  t += "StoneOrder=" + JoinList(order) + "\r\n";
  for (size_t k = 0; k < p.stones.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "Stone_%02d=", static_cast<int>(k));
    t += name + StoneValue(p.stones[k]) + "\r\n";
  }
  t += p.extraStoneInfo;
  t += "[SymetryInfo]\r\n";
  t += "SymetryPosCount=" + std::to_string(p.symPos.size()) + "\r\n";
  t += "EnhancedSymetryCheck=0\r\n";
  for (size_t i = 0; i < p.symPos.size(); ++i) {
    t += "SymPos" + std::to_string(i) + "=" +
         JoinList({p.symPos[i][0], p.symPos[i][1], p.symPos[i][2]}) + "\r\n";
  }
  return t;
}

// Reads the run parameters of `path` into `model` the way the solver's set-up does, so that
// the block reader can run next. False when the range check refuses them.
inline bool PrepareModel(PuzzleModel& model, const std::string& path) {
  const PuzzleParameters p = ReadPuzzleParameters(path, false);
  if (!CheckPuzzleParameters(p, &model.setupError)) return false;
  model.SetGeometry(path, p);
  return true;
}

// The grid index of block cell (x, y, z), computed from the sizes alone.
inline int32_t ExpectedIndex(int32_t xSize, int32_t ySize, int32_t edge, int32_t x, int32_t y,
                             int32_t z) {
  const int32_t sy = xSize + 2 * edge;
  const int32_t sz = sy * (ySize + 2 * edge);
  return (x + edge) + (y + edge) * sy + (z + edge) * sz;
}

using Matrix = std::array<std::array<int32_t, 3>, 3>;

// The rotations of the cube, found without any turn sequence: every 3x3 matrix with one
// entry of +1 or -1 in each row and column whose determinant is +1.
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

// Every distinct set of block cells that some rotation and translation of `cubes` covers
// with puzzle cells only. `isCell(x, y, z)` tells whether a block cell belongs to the puzzle.
// Each set is given as sorted block coordinates.
inline std::set<std::vector<Coord>> EnumeratePlacements(
    const std::vector<Coord>& cubes, int32_t xSize, int32_t ySize, int32_t zSize,
    const std::function<bool(int32_t, int32_t, int32_t)>& isCell) {
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
    for (int32_t tx = -lo[0]; tx + hi[0] < size[0]; ++tx) {
      for (int32_t ty = -lo[1]; ty + hi[1] < size[1]; ++ty) {
        for (int32_t tz = -lo[2]; tz + hi[2] < size[2]; ++tz) {
          std::vector<Coord> cells;
          bool fits = true;
          for (const Coord& c : turned) {
            const Coord p{c[0] + tx, c[1] + ty, c[2] + tz};
            if (!isCell(p[0], p[1], p[2])) {
              fits = false;
              break;
            }
            cells.push_back(p);
          }
          if (!fits) continue;
          std::sort(cells.begin(), cells.end());
          result.insert(cells);
        }
      }
    }
  }
  return result;
}

// The block coordinates of grid index `cell` of `model`.
inline Coord BlockCoord(const PuzzleModel& model, int32_t cell) {
  const int32_t px = cell % model.yStride;
  const int32_t py = (cell / model.yStride) % (model.ySize + 2 * model.edgeZone);
  const int32_t pz = cell / model.zStride;
  return {px - model.edgeZone, py - model.edgeZone, pz - model.edgeZone};
}

// The twelve built-in stones as (x, y, z) cubes in definition order.
inline std::vector<std::vector<Coord>> BuiltInShapes() {
  return {
      {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 2, 0}, {2, 1, 0}},
      {{1, 0, 0}, {1, 1, 0}, {0, 2, 0}, {1, 2, 0}, {2, 2, 0}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 2, 0}, {2, 2, 0}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}},
      {{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {1, 2, 0}},
      {{1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 1, 0}, {2, 1, 0}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 2, 0}},
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 2, 0}, {1, 3, 0}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 2, 0}, {0, 3, 0}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 2, 0}},
  };
}

}  // namespace quaderix::testing
