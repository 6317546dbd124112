#include "solver/reference_packer.h"

#include <algorithm>
#include <bit>
#include <set>
#include <stdexcept>

namespace quaderix::testing {
namespace {

using Matrix = std::array<std::array<int, 3>, 3>;

int Determinant(const Matrix& m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The 24 proper rotations of the cube: one non-zero entry of either sign in every row and
// column, determinant +1.
std::vector<Matrix> Rotations() {
  std::vector<Matrix> out;
  std::array<int, 3> perm = {0, 1, 2};
  do {
    for (int signs = 0; signs < 8; ++signs) {
      Matrix m{};
      for (int r = 0; r < 3; ++r) m[r][perm[r]] = (signs >> r & 1) ? -1 : 1;
      if (Determinant(m) == 1) out.push_back(m);
    }
  } while (std::next_permutation(perm.begin(), perm.end()));
  if (out.size() != 24) throw std::logic_error("expected 24 rotations");
  return out;
}

}  // namespace

ReferencePacker::ReferencePacker(const PuzzleSpec& spec) : spec_(spec) {
  // Fill order: scan with x slowest and z fastest, then a stable sort by key.
  for (int x = 0; x < spec.xSize; ++x)
    for (int y = 0; y < spec.ySize; ++y)
      for (int z = 0; z < spec.zSize; ++z)
        if (spec.KeyOf(x, y, z) > 0) cells_.push_back({x, y, z});
  std::stable_sort(cells_.begin(), cells_.end(), [&](const Coord& a, const Coord& b) {
    return spec.KeyOf(a[0], a[1], a[2]) < spec.KeyOf(b[0], b[1], b[2]);
  });
  if (cells_.size() > 64) throw std::invalid_argument("reference packer takes 64 cells at most");
  positionOfCell_.assign(static_cast<size_t>(spec.xSize) * spec.ySize * spec.zSize, -1);
  for (size_t i = 0; i < cells_.size(); ++i) {
    const Coord& c = cells_[i];
    positionOfCell_[spec.KeyIndex(c[0], c[1], c[2])] = static_cast<int>(i);
  }
  for (const Coord& c : spec.symPositions) symPositions_.push_back(PositionOf(c));

  const std::vector<Matrix> rotations = Rotations();
  const int types = spec.StoneCount();
  placements_.assign(types, std::vector<std::vector<uint64_t>>(cells_.size()));
  for (int t = 0; t < types; ++t) {
    const StoneSpec& stone = spec.stones[spec.EntryOfType(t)];
    std::set<uint64_t> distinct;
    for (const Matrix& m : rotations) {
      std::vector<Coord> turned;
      for (const Coord& c : stone.cubes) {
        Coord r{};
        for (int i = 0; i < 3; ++i) r[i] = m[i][0] * c[0] + m[i][1] * c[1] + m[i][2] * c[2];
        turned.push_back(r);
      }
      // Every shift that keeps the shape's bounding box inside the block; shapes that
      // cover a hole are dropped.
      Coord low = turned[0], high = turned[0];
      for (const Coord& c : turned) {
        for (int i = 0; i < 3; ++i) {
          low[i] = std::min(low[i], c[i]);
          high[i] = std::max(high[i], c[i]);
        }
      }
      for (int dx = -low[0]; dx + high[0] < spec.xSize; ++dx) {
        for (int dy = -low[1]; dy + high[1] < spec.ySize; ++dy) {
          for (int dz = -low[2]; dz + high[2] < spec.zSize; ++dz) {
            uint64_t cells = 0;
            bool fits = true;
            for (const Coord& c : turned) {
              const int p = PositionOf({c[0] + dx, c[1] + dy, c[2] + dz});
              if (p < 0) {
                fits = false;
                break;
              }
              cells |= uint64_t{1} << p;
            }
            if (fits) distinct.insert(cells);
          }
        }
      }
    }
    for (uint64_t cells : distinct) placements_[t][std::countr_zero(cells)].push_back(cells);
  }

  std::vector<int> copies;
  for (int t = 0; t < types; ++t) {
    copies.push_back(spec.stones[spec.EntryOfType(t)].copies);
    totalStones_ += copies.back();
  }
  Packing levels;
  Enumerate(0, copies, levels);
}

int ReferencePacker::PositionOf(const Coord& c) const {
  if (c[0] < 0 || c[0] >= spec_.xSize || c[1] < 0 || c[1] >= spec_.ySize || c[2] < 0 ||
      c[2] >= spec_.zSize)
    return -1;
  return positionOfCell_[spec_.KeyIndex(c[0], c[1], c[2])];
}

void ReferencePacker::Enumerate(uint64_t occupied, std::vector<int>& copies, Packing& levels) {
  if (static_cast<int>(levels.size()) == totalStones_) {
    packings_.push_back(levels);
    return;
  }
  const int n = cellCount();
  const uint64_t all = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
  const uint64_t free = all & ~occupied;
  if (free == 0) return;
  const int first = std::countr_zero(free);
  for (int t = 0; t < static_cast<int>(copies.size()); ++t) {
    if (copies[t] <= 0) continue;
    for (uint64_t cells : placements_[t][first]) {
      if (cells & occupied) continue;
      --copies[t];
      levels.push_back({t, cells});
      Enumerate(occupied | cells, copies, levels);
      levels.pop_back();
      ++copies[t];
    }
  }
}

bool ReferencePacker::Occupied(uint64_t occupied, int x, int y, int z) const {
  const int p = PositionOf({x, y, z});
  return p < 0 || (occupied >> p & 1);
}

bool ReferencePacker::LostToPreCheck(const Packing& packing) const {
  const int level = spec_.preCheckLevel.value_or(0);
  if (level != 1 && level != 2) return false;
  const int first = spec_.firstPreCheckStone.value_or(1);
  const int last = spec_.lastPreCheckStone.value_or(spec_.StoneCount() - 2);
  const int n = cellCount();
  const uint64_t all = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
  uint64_t occupied = 0;
  for (size_t i = 0; i < packing.size(); ++i) {
    occupied |= packing[i].cells;
    const int mark = static_cast<int>(i) + 1;
    if (mark < first || mark > last) continue;
    const uint64_t free = all & ~occupied;
    if (free == 0) continue;
    const Coord& c = cells_[std::countr_zero(free)];
    if (Occupied(occupied, c[0] + 1, c[1], c[2]) && Occupied(occupied, c[0] - 1, c[1], c[2]) &&
        Occupied(occupied, c[0], c[1] + 1, c[2]) && Occupied(occupied, c[0], c[1] - 1, c[2]) &&
        Occupied(occupied, c[0], c[1], c[2] + 1) && Occupied(occupied, c[0], c[1], c[2] - 1))
      return true;
  }
  return false;
}

bool ReferencePacker::PassesSymmetryRule(const Packing& packing) const {
  const int first = packing[0].type;
  for (size_t k = 1; k < symPositions_.size(); ++k) {
    if (symPositions_[k] < 0) continue;  // not a cell of the puzzle
    for (const Level& level : packing) {
      if ((level.cells >> symPositions_[k] & 1) && level.type < first) return false;
    }
  }
  return true;
}

bool ReferencePacker::RefusedByCountTest(const Packing& packing) const {
  const int first = packing[0].type;
  const int positions = static_cast<int>(symPositions_.size());
  // One copy of every type up to the first stone is kept out of the higher stones.
  int higherLeft = totalStones_;
  for (int t = 0; t <= first; ++t) higherLeft -= spec_.stones[spec_.EntryOfType(t)].copies > 0;
  int open = positions - 1;
  for (size_t i = 0; i < packing.size(); ++i) {
    bool claims = false;
    for (int k = 1; k < positions; ++k)
      claims = claims || (symPositions_[k] >= 0 && (packing[i].cells >> symPositions_[k] & 1));
    if (claims) --open;
    if (i > 0 && packing[i].type > first) {
      if (higherLeft < open) return true;
      --higherLeft;
    }
  }
  return false;
}

int64_t ReferencePacker::JobCount(int job) const {
  const int positions = static_cast<int>(symPositions_.size());
  if (job > spec_.StoneCount() - positions) return 0;
  int64_t count = 0;
  for (const Packing& packing : packings_) {
    if (packing.empty() || packing[0].type != job) continue;
    if (!PassesSymmetryRule(packing) || LostToPreCheck(packing)) continue;
    ++count;
  }
  return count;
}

int64_t ReferencePacker::TotalCount() const {
  int64_t total = 0;
  for (int job = 0; job < spec_.StoneCount(); ++job) total += JobCount(job);
  return total;
}

}  // namespace quaderix::testing
