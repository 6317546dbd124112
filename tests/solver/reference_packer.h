#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <vector>

#include "support/puzzle_description.h"
#include "support/rotations.h"

namespace quaderix::testing {

// A deliberately plain second way to count packings, used to cross-check the solver. It
// shares no code with the model or the search: it builds its own rotations (the signed
// permutation matrices of determinant +1), finds placements by translating each rotated
// shape over the block, and counts by a recursion that always covers the first free cell of
// the fill order. The job bound, the symmetry rule and the isolated-cell check are applied
// afterwards to every complete packing. Meant for puzzles whose stones fill the cells
// exactly, of at most 64 cells. Test-only: one object per count, used by one test thread.
class ReferencePacker {
 public:
  explicit ReferencePacker(const PuzzleDescription& puzzle) : puzzle_(puzzle) {
    // Fill order: scan with x slowest and z fastest, then a stable sort by key.
    for (int x = 0; x < puzzle.xSize; ++x)
      for (int y = 0; y < puzzle.ySize; ++y)
        for (int z = 0; z < puzzle.zSize; ++z)
          if (puzzle.KeyOf(x, y, z) > 0) cells_.push_back({x, y, z});
    std::stable_sort(cells_.begin(), cells_.end(), [&](const Coord& a, const Coord& b) {
      return puzzle.KeyOf(a[0], a[1], a[2]) < puzzle.KeyOf(b[0], b[1], b[2]);
    });
    if (cells_.size() > 64) throw std::invalid_argument("64 cells at most");
    for (const Coord& c : puzzle.symPositions) symPositions_.push_back(PositionOf(c));
    placements_.assign(puzzle.StoneCount(), std::vector<std::vector<uint64_t>>(cells_.size()));
    std::vector<int> copies;
    for (int t = 0; t < puzzle.StoneCount(); ++t) {
      for (uint64_t cells : Placements(puzzle.TypeStone(t).cubes))
        placements_[t][std::countr_zero(cells)].push_back(cells);
      copies.push_back(puzzle.TypeStone(t).copies);
      totalStones_ += copies.back();
    }
    jobCounts_.assign(puzzle.StoneCount(), 0);
    Enumerate(0, copies);
  }

  // Every packing, each set of stones once, before the job bound and the rules.
  int64_t packings() const { return packings_; }
  // Per job (the stone type on the first cell), the packings that pass the rules.
  const std::vector<int64_t>& jobCounts() const { return jobCounts_; }

 private:
  struct Level {
    int type;
    uint64_t cells;  // bit i: fill position i
  };

  // Fill position of block cell c, or -1 for a hole or a cell outside the block.
  int PositionOf(const Coord& c) const {
    for (size_t i = 0; i < cells_.size(); ++i)
      if (cells_[i] == c) return static_cast<int>(i);
    return -1;
  }

  // The distinct cell sets the shape covers in all 24 rotations and all shifts.
  std::set<uint64_t> Placements(const std::vector<Coord>& cubes) const {
    std::set<uint64_t> out;
    for (const Matrix& m : ProperRotations()) {
      std::vector<Coord> turned;
      for (const Coord& c : cubes) turned.push_back(Apply(m, c));
      // Every shift that lays the first cube on a cell of the puzzle.
      for (const Coord& anchor : cells_) {
        uint64_t cells = 0;
        bool fits = true;
        for (const Coord& c : turned) {
          const int p =
              PositionOf({c[0] + anchor[0] - turned[0][0], c[1] + anchor[1] - turned[0][1],
                          c[2] + anchor[2] - turned[0][2]});
          fits = fits && p >= 0;
          if (p >= 0) cells |= uint64_t{1} << p;
        }
        if (fits) out.insert(cells);
      }
    }
    return out;
  }

  void Enumerate(uint64_t occupied, std::vector<int>& copies) {
    if (static_cast<int>(levels_.size()) == totalStones_) return Count();
    const uint64_t free =
        ~occupied & (cells_.size() == 64 ? ~uint64_t{0} : (uint64_t{1} << cells_.size()) - 1);
    if (free == 0) return;
    for (int t = 0; t < static_cast<int>(copies.size()); ++t) {
      if (copies[t] <= 0) continue;
      for (uint64_t cells : placements_[t][std::countr_zero(free)]) {
        if (cells & occupied) continue;
        --copies[t];
        levels_.push_back({t, cells});
        Enumerate(occupied | cells, copies);
        levels_.pop_back();
        ++copies[t];
      }
    }
  }

  void Count() {
    ++packings_;
    const int job = levels_[0].type;
    if (job > puzzle_.StoneCount() - static_cast<int>(symPositions_.size())) return;
    // No symmetry position but the first may be covered by a stone of a lower type.
    for (size_t k = 1; k < symPositions_.size(); ++k)
      for (const Level& level : levels_)
        if (symPositions_[k] >= 0 && (level.cells >> symPositions_[k] & 1) && level.type < job)
          return;
    if (LostToPreCheck()) return;
    ++jobCounts_[job];
  }

  // True when some level in the checked range leaves the next cell to fill walled in on
  // all six sides (by stones, holes or the block's faces).
  bool LostToPreCheck() const {
    const int check = puzzle_.preCheckLevel.value_or(0);
    if (check != 1 && check != 2) return false;
    const int first = puzzle_.firstPreCheckStone.value_or(1);
    const int last = puzzle_.lastPreCheckStone.value_or(puzzle_.StoneCount() - 2);
    uint64_t occupied = 0;
    for (size_t i = 0; i < levels_.size(); ++i) {
      occupied |= levels_[i].cells;
      const int mark = static_cast<int>(i) + 1;
      if (mark < first || mark > last || std::popcount(occupied) == std::ssize(cells_)) continue;
      const Coord& c = cells_[std::countr_one(occupied)];
      bool walled = true;
      for (int axis = 0; axis < 3; ++axis)
        for (int step : {-1, 1}) {
          Coord n = c;
          n[axis] += step;
          const int p = PositionOf(n);
          walled = walled && (p < 0 || (occupied >> p & 1));
        }
      if (walled) return true;
    }
    return false;
  }

  PuzzleDescription puzzle_;
  std::vector<Coord> cells_;  // by fill position
  std::vector<int> symPositions_;
  // placements_[type][p]: cell sets of the type whose first fill position is p.
  std::vector<std::vector<std::vector<uint64_t>>> placements_;
  int totalStones_ = 0;
  std::vector<Level> levels_;  // in the order the search lays the stones
  int64_t packings_ = 0;
  std::vector<int64_t> jobCounts_;
};

}  // namespace quaderix::testing
