#pragma once

// A deliberately plain second way to count packings, used to cross-check the solver. It
// shares no code with the model or the search: it builds its own rotations (the signed
// permutation matrices of determinant +1), finds placements by translating each rotated
// shape over the block, and counts by a recursion that always covers the first free cell
// of the fill order. The symmetry rule and the isolated-cell check are applied afterwards
// to every complete packing. Meant for puzzles whose stones fill the puzzle's cells
// exactly (the search stops at the first last stone that fits, which only then is the
// only one). Test-only; small blocks (at most 64 cells).

#include <cstdint>
#include <vector>

#include "solver/puzzle_spec.h"

namespace quaderix::testing {

class ReferencePacker {
 public:
  struct Level {
    int type = 0;        // stone type index (position in the stone order)
    uint64_t cells = 0;  // bit i: fill position i
  };
  using Packing = std::vector<Level>;  // in the order the search lays the stones

  explicit ReferencePacker(const PuzzleSpec& spec);

  // Every packing of the puzzle, each set of stones once, regardless of jobs and rules.
  const std::vector<Packing>& packings() const { return packings_; }
  int cellCount() const { return static_cast<int>(cells_.size()); }
  int totalStones() const { return totalStones_; }

  // Packings that job `job` (level-1 stone index) counts: the job must lie within
  // stoneCount - symPosCount; symmetry position 0 carries the job's stone; no other
  // symmetry position is covered by a lower stone; and, when the check is on, no level in
  // its range leaves the next cell to fill walled in on all six sides.
  int64_t JobCount(int job) const;
  int64_t TotalCount() const;

  // True when some prefix of `packing` would be refused by the isolated-cell check.
  bool LostToPreCheck(const Packing& packing) const;
  bool PassesSymmetryRule(const Packing& packing) const;

  // The counting shortcut of the symmetry rule as the solver applies it level by level
  // (remaining higher stones against unclaimed positions); used to explain differences
  // from the direct rule, never to produce the expected counts.
  bool RefusedByCountTest(const Packing& packing) const;

  // Fill position of block cell (x, y, z), or -1 for a hole.
  int PositionOf(const Coord& c) const;

 private:
  void Enumerate(uint64_t occupied, std::vector<int>& copies, Packing& levels);
  bool Occupied(uint64_t occupied, int x, int y, int z) const;

  PuzzleSpec spec_;
  std::vector<Coord> cells_;         // by fill position
  std::vector<int> positionOfCell_;  // by PuzzleSpec::KeyIndex; -1 for a hole
  int totalStones_ = 0;
  // placements_[type][p]: cell sets of the type whose first fill position is p.
  std::vector<std::vector<std::vector<uint64_t>>> placements_;
  std::vector<int> symPositions_;  // fill positions of the symmetry positions
  std::vector<Packing> packings_;
};

}  // namespace quaderix::testing
