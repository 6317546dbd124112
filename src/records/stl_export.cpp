#include "records/stl_export.h"

#include <cstdio>

namespace quaderix {

namespace {

// The six faces of the unit cube: outward normal and four corners, counter-clockwise
// seen from outside, as STL wants them.
struct CubeFace {
  int normal[3];
  int corner[4][3];
};
constexpr CubeFace kFaces[6] = {
    {{1, 0, 0}, {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}},
    {{-1, 0, 0}, {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0}}},
    {{0, 1, 0}, {{0, 1, 0}, {0, 1, 1}, {1, 1, 1}, {1, 1, 0}}},
    {{0, -1, 0}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}},
    {{0, 0, 1}, {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}},
    {{0, 0, -1}, {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}},
};

}  // namespace

std::string FormatStl(const Packing& p, double cellSize) {
  std::string out;
  char line[160];
  int32_t highRegion = 0;
  for (size_t id = 0; id < p.pieces.size(); ++id) {
    const Piece& piece = p.pieces[id];
    std::string name;
    if (piece.level == kHighLevel) {
      name = "levels_100_up_" + std::to_string(++highRegion);
    } else {
      name = "level_" + std::to_string(piece.level) + "_stone_" +
             (piece.stone >= 0 ? std::to_string(piece.stone) : std::string("x"));
    }
    out += "solid " + name + "\n";
    for (int32_t z = 0; z < p.zSize; ++z) {
      for (int32_t y = 0; y < p.ySize; ++y) {
        for (int32_t x = 0; x < p.xSize; ++x) {
          if (p.piece[p.CellIndex(x, y, z)] != static_cast<int32_t>(id)) continue;
          for (const CubeFace& face : kFaces) {
            const int32_t nx = x + face.normal[0];
            const int32_t ny = y + face.normal[1];
            const int32_t nz = z + face.normal[2];
            const bool inside =
                nx >= 0 && ny >= 0 && nz >= 0 && nx < p.xSize && ny < p.ySize && nz < p.zSize;
            if (inside && p.piece[p.CellIndex(nx, ny, nz)] == static_cast<int32_t>(id)) continue;
            // Two triangles: corners 0,1,2 and 0,2,3.
            const int tri[2][3] = {{0, 1, 2}, {0, 2, 3}};
            for (const auto& t : tri) {
              std::snprintf(line, sizeof line, "  facet normal %d %d %d\n    outer loop\n",
                            face.normal[0], face.normal[1], face.normal[2]);
              out += line;
              for (const int k : t) {
                std::snprintf(line, sizeof line, "      vertex %g %g %g\n",
                              (x + face.corner[k][0]) * cellSize,
                              (y + face.corner[k][1]) * cellSize,
                              (z + face.corner[k][2]) * cellSize);
                out += line;
              }
              out += "    endloop\n  endfacet\n";
            }
          }
        }
      }
    }
    out += "endsolid " + name + "\n";
  }
  return out;
}

}  // namespace quaderix
