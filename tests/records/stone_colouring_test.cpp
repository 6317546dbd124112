// Colours and STL of packings the solver wrote: touching pieces never share a colour, and
// every STL solid is closed, points outwards and encloses exactly its piece's cubes.

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "records/solution_file.h"
#include "records/stl_export.h"
#include "records/stone_colouring.h"
#include "records/written_packings.h"

namespace quaderix::testing {
namespace {

std::vector<Packing> ReadAll(const std::string& path, size_t most) {
  SolutionFile file;
  EXPECT_EQ(file.Open(path), SolutionFile::Ok) << file.error();
  std::vector<Packing> packings;
  for (size_t i = 0; i < file.records().size() && i < most; ++i) {
    packings.emplace_back();
    EXPECT_EQ(file.Load(i, packings.back()), SolutionFile::Ok);
  }
  return packings;
}

TEST(StoneColouring, TouchingPiecesDiffer) {
  TempDir dir;
  const std::string out = dir.PathOf("out.txt");
  WritePackings(dir, MixedPuzzle(), out, 0, 50);
  const std::vector<Packing> packings = ReadAll(out, 50);
  ASSERT_GE(packings.size(), 10u);
  for (const Packing& p : packings) {
    // A colour of its own for each of the 16 pieces; with 8 colours some are shared.
    const std::vector<int32_t> own = ColourPieces(p);
    ASSERT_EQ(own.size(), p.pieces.size());
    EXPECT_EQ(std::set<int32_t>(own.begin(), own.end()).size(), p.pieces.size());
    const std::vector<int32_t> colour = ColourPieces(p, 8);
    // Every face between two different pieces, found from the cells directly.
    for (int32_t c = 0; c < p.CellCount(); ++c) {
      const int32_t x = c % p.xSize, y = c / p.xSize % p.ySize, z = c / (p.xSize * p.ySize);
      const int32_t next[3][3] = {{x + 1, y, z}, {x, y + 1, z}, {x, y, z + 1}};
      for (const auto& n : next) {
        if (n[0] >= p.xSize || n[1] >= p.ySize || n[2] >= p.zSize) continue;
        const int32_t a = p.piece[c];
        const int32_t b = p.piece[p.CellIndex(n[0], n[1], n[2])];
        if (a >= 0 && b >= 0 && a != b) {  // -1: the hole
          EXPECT_NE(colour[a], colour[b]) << "solution " << p.solution;
        }
      }
    }
  }
  // With two colours the palette runs out; every piece still gets one of them.
  const std::vector<int32_t> two = ColourPieces(packings.front(), 2);
  for (const int32_t c : two) EXPECT_TRUE(c == 0 || c == 1);
}

TEST(StlExport, SolidsEncloseTheirPieces) {
  TempDir dir;
  const std::string out = dir.PathOf("out.txt");
  WritePackings(dir, MixedPuzzle(), out, 0, 50);
  const Packing p = ReadAll(out, 1).front();
  const double size = 2.5;
  std::istringstream stl(FormatStl(p, size));
  std::string word;
  int solids = 0;
  double volume = 0;
  std::vector<double> volumes;
  std::array<double, 3> low{1e9, 1e9, 1e9}, high{-1e9, -1e9, -1e9};
  while (stl >> word) {
    if (word == "solid") {
      ++solids;
      volume = 0;
    } else if (word == "endsolid") {
      volumes.push_back(volume);
    } else if (word == "loop") {
      std::array<std::array<double, 3>, 3> v;
      for (auto& vertex : v) {
        stl >> word;
        EXPECT_EQ(word, "vertex");
        for (int k = 0; k < 3; ++k) {
          stl >> vertex[k];
          low[k] = std::min(low[k], vertex[k]);
          high[k] = std::max(high[k], vertex[k]);
        }
      }
      // Signed volume of the tetrahedron with the origin: the sum over a closed,
      // outward-facing surface is the enclosed volume.
      volume += (v[0][0] * (v[1][1] * v[2][2] - v[1][2] * v[2][1]) -
                 v[0][1] * (v[1][0] * v[2][2] - v[1][2] * v[2][0]) +
                 v[0][2] * (v[1][0] * v[2][1] - v[1][1] * v[2][0])) /
                6.0;
    }
  }
  ASSERT_EQ(solids, static_cast<int>(p.pieces.size()));
  ASSERT_EQ(volumes.size(), p.pieces.size());
  for (size_t i = 0; i < volumes.size(); ++i)
    EXPECT_NEAR(volumes[i], p.pieces[i].cellCount * size * size * size, 1e-6) << "solid " << i;
  EXPECT_EQ(low, (std::array<double, 3>{0, 0, 0}));
  EXPECT_EQ(high, (std::array<double, 3>{4 * size, 4 * size, 3 * size}));
}

}  // namespace
}  // namespace quaderix::testing
