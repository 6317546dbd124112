#include "model/symmetry_analysis.h"

#include <algorithm>
#include <bit>
#include <set>

#include "model/setup_plan.h"

namespace quaderix {
namespace {

using Matrix = std::array<std::array<int32_t, 3>, 3>;
constexpr int32_t kRotations = 24;
constexpr int32_t kMaxPositions = 7;

// The 24 proper rotations of the cube as signed permutation matrices, the identity first.
const std::array<Matrix, kRotations>& Rotations() {
  static const std::array<Matrix, kRotations> table = [] {
    std::array<Matrix, kRotations> out{};
    int32_t count = 0;
    int32_t perm[3] = {0, 1, 2};
    do {
      for (int32_t signs = 0; signs < 8; ++signs) {
        Matrix m{};
        for (int32_t r = 0; r < 3; ++r) m[r][perm[r]] = (signs >> r & 1) ? -1 : 1;
        const int32_t det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                            m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                            m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        if (det == 1) out[count++] = m;
      }
    } while (std::next_permutation(perm, perm + 3));
    return out;
  }();
  return table;
}

CellCoord Apply(const Matrix& m, const CellCoord& v) {
  CellCoord r{};
  for (int32_t i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

// The rotation number of "first b, then a".
int32_t Compose(int32_t a, int32_t b) {
  static const auto table = [] {
    const auto& rot = Rotations();
    std::array<std::array<int32_t, kRotations>, kRotations> out{};
    for (int32_t p = 0; p < kRotations; ++p) {
      for (int32_t q = 0; q < kRotations; ++q) {
        Matrix m{};
        for (int32_t i = 0; i < 3; ++i)
          for (int32_t j = 0; j < 3; ++j)
            for (int32_t k = 0; k < 3; ++k) m[i][j] += rot[p][i][k] * rot[q][k][j];
        out[p][q] = static_cast<int32_t>(std::find(rot.begin(), rot.end(), m) - rot.begin());
      }
    }
    return out;
  }();
  return table[a][b];
}

using Coord64 = std::array<int64_t, 3>;

// The stone's cubes relative to its first one, in 64 bits: a file may place a stone at
// coordinates near the 32-bit limits, where turning them would overflow.
std::vector<Coord64> RelativeCubes(const StoneDefinition& stone) {
  std::vector<Coord64> cubes;
  for (int32_t j = 0; j < stone.cubeCount; ++j) {
    const Cube& c = stone.cubes[j];
    const Cube& o = stone.cubes[0];
    cubes.push_back({int64_t{c.x} - o.x, int64_t{c.y} - o.y, int64_t{c.z} - o.z});
  }
  return cubes;
}

Coord64 Apply64(const Matrix& m, const Coord64& v) {
  Coord64 r{};
  for (int32_t i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}

std::string CoordText(const CellCoord& c) {
  return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

// The block with its rotations about its centre.
class Block {
 public:
  explicit Block(const SymmetryInput& in) : in_(in), size_{in.xSize, in.ySize, in.zSize} {}

  bool IsCell(const CellCoord& c) const { return IsCell(Coord64{c[0], c[1], c[2]}); }
  bool IsCell(const Coord64& c) const {
    for (int32_t i = 0; i < 3; ++i)
      if (c[i] < 0 || c[i] >= size_[i]) return false;
    return in_.isCell[(static_cast<size_t>(c[0]) * size_[1] + c[1]) * size_[2] + c[2]] != 0;
  }

  // The image of cell `c` under rotation r about the block's centre; false when it falls
  // outside the box or between cells.
  bool Map(int32_t r, const CellCoord& c, CellCoord& out) const {
    CellCoord doubled{};
    for (int32_t i = 0; i < 3; ++i) doubled[i] = 2 * c[i] - (size_[i] - 1);
    const CellCoord turned = Apply(Rotations()[r], doubled);
    for (int32_t i = 0; i < 3; ++i) {
      const int32_t twice = turned[i] + size_[i] - 1;
      if (twice % 2 != 0 || twice < 0 || twice / 2 >= size_[i]) return false;
      out[i] = twice / 2;
    }
    return true;
  }

  bool CarriesOntoItself(int32_t r) const {
    CellCoord c{}, image{};
    for (c[0] = 0; c[0] < size_[0]; ++c[0])
      for (c[1] = 0; c[1] < size_[1]; ++c[1])
        for (c[2] = 0; c[2] < size_[2]; ++c[2])
          if (!Map(r, c, image) || IsCell(image) != IsCell(c)) return false;
    return true;
  }

  // The first stone that some rotation and shift lays on puzzle cells covering two of
  // `cells`, or nullptr.
  const StoneDefinition* CoversTwo(const std::vector<CellCoord>& cells) const {
    std::set<Coord64> targets;
    for (const CellCoord& c : cells) targets.insert({c[0], c[1], c[2]});
    for (const StoneDefinition& stone : in_.stones) {
      const std::vector<Coord64> cubes = RelativeCubes(stone);
      for (const Matrix& m : Rotations()) {
        std::vector<Coord64> turned;
        for (const Coord64& c : cubes) turned.push_back(Apply64(m, c));
        for (const Coord64& anchor : turned) {
          for (const Coord64& target : targets) {
            int32_t covered = 0;
            bool fits = true;
            for (const Coord64& t : turned) {
              const Coord64 c{t[0] - anchor[0] + target[0], t[1] - anchor[1] + target[1],
                              t[2] - anchor[2] + target[2]};
              if (!IsCell(c)) {
                fits = false;
                break;
              }
              covered += static_cast<int32_t>(targets.count(c));
            }
            if (fits && covered >= 2) return &stone;
          }
        }
      }
    }
    return nullptr;
  }

 private:
  const SymmetryInput& in_;
  CellCoord size_;
};

std::string PositionsText(const std::vector<CellCoord>& cells) {
  std::string text = "SymetryPosCount=" + std::to_string(cells.size()) + " with";
  for (size_t i = 0; i < cells.size(); ++i)
    text += " SymPos" + std::to_string(i) + "=" + CoordText(cells[i]);
  return text;
}

}  // namespace

std::vector<std::array<int64_t, 3>> OrientationSpans(const StoneDefinition& stone) {
  std::set<std::vector<Coord64>> shapes;
  std::vector<std::array<int64_t, 3>> spans;
  const std::vector<Coord64> cubes = RelativeCubes(stone);
  if (cubes.empty()) return spans;
  for (const Matrix& m : Rotations()) {
    std::vector<Coord64> cells;
    for (const Coord64& c : cubes) cells.push_back(Apply64(m, c));
    Coord64 low = cells[0], high = cells[0];
    for (const Coord64& c : cells) {
      for (int32_t i = 0; i < 3; ++i) {
        low[i] = std::min(low[i], c[i]);
        high[i] = std::max(high[i], c[i]);
      }
    }
    for (Coord64& c : cells) c = {c[0] - low[0], c[1] - low[1], c[2] - low[2]};
    std::sort(cells.begin(), cells.end());
    if (shapes.insert(cells).second)
      spans.push_back({high[0] - low[0] + 1, high[1] - low[1] + 1, high[2] - low[2] + 1});
  }
  return spans;
}

SymmetryAnalysis AnalyseSymmetry(const SymmetryInput& in) {
  SymmetryAnalysis a;
  const Block block(in);
  const std::vector<CellCoord>& positions = in.positions;
  const int32_t k = static_cast<int32_t>(positions.size());

  std::vector<int32_t> group;  // rotations that carry the block onto itself
  for (int32_t r = 0; r < kRotations; ++r)
    if (block.CarriesOntoItself(r)) group.push_back(r);
  a.blockRotations = static_cast<int32_t>(group.size());
  for (const StoneDefinition& stone : in.stones) a.typesWithCopies += stone.copies > 0 ? 1 : 0;
  a.facts.push_back("Rotations that carry the block (cells and holes) onto itself: " +
                    std::to_string(a.blockRotations) + " of 24");
  if (k == 0) {
    a.exact = true;
    a.facts.push_back("Symmetry positions: none, so every packing counts, rotated copies too");
    return a;
  }

  const CellCoord& first = positions[0];
  std::set<CellCoord> orbit;
  int32_t stabiliser = 0;
  for (int32_t r : group) {
    CellCoord image{};
    block.Map(r, first, image);
    orbit.insert(image);
    stabiliser += image == first ? 1 : 0;
  }
  a.orbitSize = static_cast<int32_t>(orbit.size());
  a.stabiliserTrivial = stabiliser == 1;
  const std::set<CellCoord> given(positions.begin(), positions.end());
  a.positionsAreOrbit = given == orbit && static_cast<int32_t>(given.size()) == k;
  a.facts.push_back("Orbit of SymPos0 under them: " + std::to_string(a.orbitSize) + " cells; " +
                    (a.stabiliserTrivial
                         ? std::string("only the identity keeps SymPos0 in place")
                         : std::to_string(stabiliser) + " of them keep SymPos0 in place"));
  a.facts.push_back(std::string("The symmetry positions are that orbit: ") +
                    (a.positionsAreOrbit ? "yes" : "no"));
  a.facts.push_back("Stone types with copies: " + std::to_string(a.typesWithCopies) + " for " +
                    std::to_string(k) + (k == 1 ? " position" : " positions"));

  // Every subgroup of the block's rotations that moves SymPos0 to a different cell with
  // each of its rotations, with the cells it reaches. Every subgroup of the cube's
  // rotation group is generated by two of its elements.
  struct Candidate {
    uint32_t members;
    std::vector<CellCoord> cells;  // SymPos0 first
  };
  std::vector<Candidate> regular;
  std::set<uint32_t> seen;
  for (int32_t g1 : group) {
    for (int32_t g2 : group) {
      uint32_t members = 1u;  // the identity
      std::vector<int32_t> pending{g1, g2};
      while (!pending.empty()) {
        const int32_t g = pending.back();
        pending.pop_back();
        if (members >> g & 1u) continue;
        members |= 1u << g;
        for (int32_t h = 0; h < kRotations; ++h)
          if (members >> h & 1u) pending.insert(pending.end(), {Compose(g, h), Compose(h, g)});
      }
      if (!seen.insert(members).second) continue;
      std::vector<CellCoord> cells;
      std::set<CellCoord> reached;
      for (int32_t h = 0; h < kRotations; ++h) {
        if (!(members >> h & 1u)) continue;
        CellCoord image{};
        block.Map(h, first, image);
        reached.insert(image);
        if (image != first) cells.push_back(image);
      }
      if (static_cast<int32_t>(reached.size()) != std::popcount(members)) continue;
      std::sort(cells.begin(), cells.end());
      cells.insert(cells.begin(), first);
      regular.push_back({members, cells});
    }
  }

  std::string reason;
  const StoneDefinition* coverer = nullptr;
  for (int32_t i = 1; i < k && reason.empty(); ++i)
    for (int32_t j = 0; j < i && reason.empty(); ++j)
      if (positions[i] == positions[j])
        reason =
            "SymPos" + std::to_string(i) + " names the same cell as SymPos" + std::to_string(j);
  bool oneCopyEach = true;
  for (size_t t = 0; t < in.stones.size(); ++t) {
    if (in.stones[t].copies == 1) continue;
    oneCopyEach = false;
    if (reason.empty() && k > 1)
      reason = "stone type " + std::to_string(t) + " (" + in.stones[t].key + ") has " +
               std::to_string(in.stones[t].copies) + " copies, not one";
  }
  if (k > 1 && reason.empty() && a.typesWithCopies < k)
    reason = "there are only " + std::to_string(a.typesWithCopies) + " stone types for " +
             std::to_string(k) + " positions";
  if (k > 1 && reason.empty()) {
    const auto match = std::find_if(regular.begin(), regular.end(), [&](const Candidate& c) {
      return std::set<CellCoord>(c.cells.begin(), c.cells.end()) == given &&
             static_cast<int32_t>(c.cells.size()) == k;
    });
    if (match == regular.end()) {
      reason = "no " + std::to_string(k) +
               " of the block's rotations carry SymPos0 onto exactly these positions, one "
               "rotation for each";
    } else if ((coverer = block.CoversTwo(positions)) != nullptr) {
      reason = coverer->key + " can cover two of the positions at once";
    }
  }
  if (k == 1 || reason.empty()) {
    a.exact = true;
    a.reduction = k;
    a.exactPositions = positions;
    a.facts.push_back(
        k == 1 ? std::string("Symmetry positions: SymPos0 alone, so every packing counts, "
                             "rotated copies too")
               : "Symmetry positions: exact, every count is 1/" + std::to_string(k) +
                     " of all packings (" + std::to_string(k) +
                     " of the block's rotations carry SymPos0 onto them, one for each)");
    return a;
  }

  // The largest set of positions that would be exact for these stones.
  a.exactPositions = {first};
  if (oneCopyEach) {
    size_t bestOverlap = 0;
    for (const Candidate& c : regular) {
      const int32_t n = static_cast<int32_t>(c.cells.size());
      if (n > kMaxPositions || n > a.typesWithCopies || block.CoversTwo(c.cells) != nullptr)
        continue;
      size_t overlap = 0;
      for (const CellCoord& cell : c.cells) overlap += given.count(cell);
      if (c.cells.size() > a.exactPositions.size() ||
          (c.cells.size() == a.exactPositions.size() && overlap > bestOverlap)) {
        a.exactPositions = c.cells;
        bestOverlap = overlap;
      }
    }
  }
  a.warning =
      "Warning: these symmetry positions can lose packings or count some twice, "
      "because " +
      reason + "; exact would be " + PositionsText(a.exactPositions) +
      (a.exactPositions.size() == 1 ? " (no reduction)." : ".");
  return a;
}

SymmetryInput SymmetryInputOf(const PuzzleModel& model) {
  SymmetryInput in;
  in.xSize = model.xSize;
  in.ySize = model.ySize;
  in.zSize = model.zSize;
  in.isCell.reserve(static_cast<size_t>(model.xSize) * model.ySize * model.zSize);
  for (int32_t x = 0; x < model.xSize; ++x)
    for (int32_t y = 0; y < model.ySize; ++y)
      for (int32_t z = 0; z < model.zSize; ++z)
        in.isCell.push_back(model.grid[model.GridIndex(x, y, z)] >= 0 ? 1 : 0);
  for (int32_t k = 0; k < model.symPosCount; ++k) in.positions.push_back(model.symPositions[k]);
  in.stones = model.stones;
  return in;
}

std::vector<std::string> SymmetrySentences(const std::string& path) {
  PuzzleModel model;
  SetupPlan plan;
  if (!PlanSetup(path, 1, model, plan, nullptr)) return {};
  SymmetryAnalysis a = AnalyseSymmetry(SymmetryInputOf(model));
  if (!a.warning.empty()) a.facts.push_back(a.warning);
  return a.facts;
}

}  // namespace quaderix
