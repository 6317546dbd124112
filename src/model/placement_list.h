#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace quaderix {

// Stands in a row only between building it and removing rejected rows.
inline constexpr int32_t kRejectMarker = std::numeric_limits<int32_t>::max();
inline constexpr int32_t kMaxStoneCubes = 32;
inline constexpr int32_t kRotationCount = 24;

// One cube of a stone, or a vector between two cubes, in block coordinates.
struct Cube {
  int32_t x = 0;
  int32_t y = 0;
  int32_t z = 0;
};

// The image of `v` under rotation number r (0..23): r mod 4 quarter turns about x, a half
// turn about z when (r / 4) is odd, then a quarter turn about z (r / 8 == 1) or about y
// (r / 8 == 2). Mirror images are never produced.
Cube Rotate(Cube v, int32_t r);

// The rows that PlacementList::BuildFromShape makes for one stone, worked out once for all
// cells: the kRotationCount * n rows in generation order, each already sorted, and per row
// the number of its set of offsets (equal sets, equal numbers). Read-only once prepared.
struct ShapeRows {
  int32_t rowLength = 0;
  std::vector<int32_t> offsets;  // rowLength per row
  std::vector<int32_t> setOf;    // per row
};
// False, with `out` empty, when the cubes are not all distinct (a row could then hold
// another's offsets without being equal to it) or memory runs out.
bool PrepareShapeRows(const Cube* shape, int32_t cubeCount, int32_t sx, int32_t sy, int32_t sz,
                      ShapeRows* out);

// All placements of one stone that cover one cell of the padded grid, as rows of grid
// offsets relative to that cell. Built once during a solver's set-up on the worker's
// thread and only read afterwards. The row order decides the order in which the search
// finds packings, so every step that reorders rows follows fixed rules.
class PlacementList {
 public:
  int32_t RowCount = 0;
  int32_t RowLength = 0;

  // Row r as RowLength offsets; the last entry of every finished row is 0 (the anchor).
  const int32_t* Row(int32_t r) const { return rows_.data() + static_cast<size_t>(r) * RowLength; }

  void Clear();

  // Every row of 24 rotations times n anchors whose cells are all free, largest distance
  // from the anchor first, without duplicates. Returns 0 (list empty) when memory runs
  // out; absent input gives an empty list and 1. Every probed cell must lie in the grid.
  int BuildFromShape(const Cube* shape, int32_t cubeCount, int32_t sx, int32_t sy, int32_t sz,
                     int32_t cell, const int32_t* grid);
  // The same list as BuildFromShape for the stone that `rows` were prepared from, without
  // turning and sorting the rows again for every cell.
  int BuildFromRows(const ShapeRows& rows, int32_t cell, const int32_t* grid);
  // The rows of `source` (built for the same cell) that touch no occupied cell, in the
  // source's order changed only by the removal rule.
  int CopyFiltered(const PlacementList& source, int32_t sx, int32_t sy, int32_t sz, int32_t cell,
                   const int32_t* grid);

  // Both removals fill a removed row with the last row, so the final order is not the
  // generation order with gaps closed; the search order depends on exactly this rule.
  void RemoveRejectedRows();
  void RemoveDuplicateRows();

  static int IsCellOccupied(int32_t cell, const int32_t* grid) { return grid[cell] != 0 ? 1 : 0; }
  static int64_t SquaredLength(const Cube& v) {
    return int64_t{v.x} * v.x + int64_t{v.y} * v.y + int64_t{v.z} * v.z;
  }

 private:
  int32_t* MutableRow(int32_t r) { return rows_.data() + static_cast<size_t>(r) * RowLength; }
  void DropRowByMovingLast(int32_t r);
  void ReleaseSpareRows();

  std::vector<int32_t> rows_;
};

}  // namespace quaderix
