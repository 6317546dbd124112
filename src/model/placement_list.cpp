#include "model/placement_list.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

namespace quaderix {

Cube Rotate(Cube v, int32_t r) {
  for (int32_t i = 0; i < r % 4; ++i) v = {v.x, -v.z, v.y};
  if ((r / 4) % 2 == 1) v = {-v.x, -v.y, v.z};
  if (r / 8 == 1) {
    v = {-v.y, v.x, v.z};
  } else if (r / 8 == 2) {
    v = {-v.z, v.y, v.x};
  }
  return v;
}

void PlacementList::Clear() {
  std::vector<int32_t>().swap(rows_);
  RowCount = 0;
  RowLength = 0;
}

namespace {

// Row e of the stone's kRotationCount * n rows: rotation e / n, anchored at its cube e % n.
// `turned` holds the cubes relative to the first one under that rotation. The offsets are
// sorted by distance from the anchor, largest first, equal distances in definition order.
// With a grid, an offset onto an occupied cell becomes kRejectMarker and sorts last.
void ShapeRow(const Cube* turned, int32_t n, int32_t anchorCube, int32_t sx, int32_t sy, int32_t sz,
              int32_t cell, const int32_t* grid, int32_t* row) {
  int64_t keys[kMaxStoneCubes];
  const Cube& anchor = turned[anchorCube];
  for (int32_t j = 0; j < n; ++j) {
    const Cube w{turned[j].x - anchor.x, turned[j].y - anchor.y, turned[j].z - anchor.z};
    int32_t offset = w.x * sx + w.y * sy + w.z * sz;
    if (grid != nullptr && PlacementList::IsCellOccupied(cell + offset, grid)) {
      row[j] = kRejectMarker;
      keys[j] = -1;
    } else {
      row[j] = offset;
      keys[j] = PlacementList::SquaredLength(w);
    }
  }
  // Bubble sort, largest distance first; equal keys keep the definition order.
  for (int32_t pass = 0; pass < n - 1; ++pass) {
    for (int32_t j = 1; j < n; ++j) {
      if (keys[j] > keys[j - 1]) {
        std::swap(keys[j], keys[j - 1]);
        std::swap(row[j], row[j - 1]);
      }
    }
  }
}

// A rotation is linear, so the image of a cube relative to the anchor is the difference of
// their images: each cube is rotated once per rotation, not once per anchor. They are taken
// relative to the first cube, as the coordinates themselves may be far out.
void TurnShape(const Cube* shape, int32_t n, int32_t rotation, Cube* turned) {
  for (int32_t j = 0; j < n; ++j)
    turned[j] = Rotate({shape[j].x - shape[0].x, shape[j].y - shape[0].y, shape[j].z - shape[0].z},
                       rotation);
}

}  // namespace

bool PrepareShapeRows(const Cube* shape, int32_t cubeCount, int32_t sx, int32_t sy, int32_t sz,
                      ShapeRows* out) {
  *out = ShapeRows{};
  if (shape == nullptr || cubeCount <= 0) return true;
  assert(cubeCount <= kMaxStoneCubes);
  const int32_t n = cubeCount;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < i; ++j)
      if (shape[i].x == shape[j].x && shape[i].y == shape[j].y && shape[i].z == shape[j].z)
        return false;
  const int32_t rows = kRotationCount * n;
  try {
    out->offsets.resize(static_cast<size_t>(rows) * n);
    out->setOf.resize(static_cast<size_t>(rows));
    Cube turned[kMaxStoneCubes];
    for (int32_t e = 0; e < rows; ++e) {
      if (e % n == 0) TurnShape(shape, n, e / n, turned);
      ShapeRow(turned, n, e % n, sx, sy, sz, 0, nullptr,
               out->offsets.data() + static_cast<size_t>(e) * n);
    }
    // Rows with the same offsets in any order get one number: the rows sorted by their
    // sorted offsets, equal neighbours share the number of the first.
    std::vector<int32_t> sorted(out->offsets);
    for (int32_t e = 0; e < rows; ++e)
      std::sort(sorted.begin() + static_cast<ptrdiff_t>(e) * n,
                sorted.begin() + static_cast<ptrdiff_t>(e + 1) * n);
    auto set = [&](int32_t e) { return sorted.begin() + static_cast<ptrdiff_t>(e) * n; };
    std::vector<int32_t> order(static_cast<size_t>(rows));
    for (int32_t e = 0; e < rows; ++e) order[e] = e;
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return std::lexicographical_compare(set(a), set(a) + n, set(b), set(b) + n);
    });
    for (int32_t i = 0; i < rows; ++i) {
      const bool same = i > 0 && std::equal(set(order[i]), set(order[i]) + n, set(order[i - 1]));
      out->setOf[order[i]] = same ? out->setOf[order[i - 1]] : order[i];
    }
  } catch (const std::bad_alloc&) {
    *out = ShapeRows{};
    return false;
  }
  out->rowLength = n;
  return true;
}

int PlacementList::BuildFromRows(const ShapeRows& rows, int32_t cell, const int32_t* grid) {
  Clear();
  const int32_t n = rows.rowLength;
  if (n == 0 || grid == nullptr) return 1;
  // The removals of BuildFromShape played on row numbers: a removed row takes the last one.
  int32_t kept[kRotationCount * kMaxStoneCubes];
  int32_t count = static_cast<int32_t>(rows.setOf.size());
  for (int32_t i = 0; i < count; ++i) kept[i] = i;
  auto rejected = [&](int32_t r) {
    const int32_t* row = rows.offsets.data() + static_cast<size_t>(r) * n;
    for (int32_t j = 0; j < n; ++j)
      if (IsCellOccupied(cell + row[j], grid)) return true;
    return false;
  };
  for (int32_t i = 0; i < count;) {
    if (rejected(kept[i])) {
      kept[i] = kept[--count];
    } else {
      ++i;
    }
  }
  for (int32_t r = 0; r < count; ++r) {
    for (int32_t j = r + 1; j < count;) {
      if (rows.setOf[kept[r]] == rows.setOf[kept[j]]) {
        kept[j] = kept[--count];
      } else {
        ++j;
      }
    }
  }
  try {
    rows_.resize(static_cast<size_t>(count) * n);
  } catch (const std::bad_alloc&) {
    Clear();
    return 0;
  }
  RowLength = n;
  RowCount = count;
  for (int32_t i = 0; i < count; ++i)
    std::copy_n(rows.offsets.data() + static_cast<size_t>(kept[i]) * n, n, MutableRow(i));
  return 1;
}

int PlacementList::BuildFromShape(const Cube* shape, int32_t cubeCount, int32_t sx, int32_t sy,
                                  int32_t sz, int32_t cell, const int32_t* grid) {
  Clear();
  if (shape == nullptr || cubeCount <= 0 || grid == nullptr) return 1;
  assert(cubeCount <= kMaxStoneCubes);
  const int32_t n = cubeCount;
  try {
    rows_.resize(static_cast<size_t>(kRotationCount) * n * n);
  } catch (const std::bad_alloc&) {
    Clear();
    return 0;
  }
  RowLength = n;
  RowCount = kRotationCount * n;

  Cube turned[kMaxStoneCubes];
  for (int32_t e = 0; e < RowCount; ++e) {
    if (e % n == 0) TurnShape(shape, n, e / n, turned);
    ShapeRow(turned, n, e % n, sx, sy, sz, cell, grid, MutableRow(e));
  }
  RemoveRejectedRows();
  RemoveDuplicateRows();
  ReleaseSpareRows();
  return 1;
}

int PlacementList::CopyFiltered(const PlacementList& source, int32_t, int32_t, int32_t,
                                int32_t cell, const int32_t* grid) {
  Clear();
  if (source.RowLength == 0 || grid == nullptr) return 1;
  try {
    rows_.resize(static_cast<size_t>(source.RowCount) * source.RowLength);
  } catch (const std::bad_alloc&) {
    Clear();
    return 0;
  }
  RowCount = source.RowCount;
  RowLength = source.RowLength;
  const size_t total = rows_.size();
  const int32_t* from = source.rows_.data();
  for (size_t i = 0; i < total; ++i) {
    rows_[i] = IsCellOccupied(cell + from[i], grid) ? kRejectMarker : from[i];
  }
  RemoveRejectedRows();
  ReleaseSpareRows();
  return 1;
}

void PlacementList::ReleaseSpareRows() {
  // A list starts with room for every rotation at every anchor and usually keeps a few
  // rows. Without this the tables would hold, and the system would have to supply, many
  // times the memory they use. A shrink that fails keeps the room and nothing else.
  rows_.shrink_to_fit();
}

void PlacementList::DropRowByMovingLast(int32_t r) {
  const int32_t last = RowCount - 1;
  if (r != last) std::memcpy(MutableRow(r), Row(last), sizeof(int32_t) * RowLength);
  --RowCount;
  rows_.resize(static_cast<size_t>(RowCount) * RowLength);
}

void PlacementList::RemoveRejectedRows() {
  int32_t i = 0;
  while (i < RowCount) {
    const int32_t* row = Row(i);
    if (std::find(row, row + RowLength, kRejectMarker) != row + RowLength) {
      DropRowByMovingLast(i);  // look at position i again: it now holds the former last row
    } else {
      ++i;
    }
  }
}

void PlacementList::RemoveDuplicateRows() {
  // Row j duplicates row r when every entry of r occurs in j. Comparing sorted copies
  // answers that in one merge instead of n*n look-ups; the rows themselves keep their
  // entry order.
  const int32_t n = RowLength;
  std::vector<int32_t> sorted(rows_);
  for (int32_t r = 0; r < RowCount; ++r) {
    std::sort(sorted.begin() + static_cast<ptrdiff_t>(r) * n,
              sorted.begin() + static_cast<ptrdiff_t>(r + 1) * n);
  }
  auto covers = [&](int32_t r, int32_t j) {
    const int32_t* a = sorted.data() + static_cast<size_t>(r) * n;
    const int32_t* b = sorted.data() + static_cast<size_t>(j) * n;
    for (int32_t i = 0; i < n; ++i) {
      if (!std::binary_search(b, b + n, a[i])) return false;
    }
    return true;
  };
  for (int32_t r = 0; r < RowCount; ++r) {
    int32_t j = r + 1;
    while (j < RowCount) {
      if (covers(r, j)) {
        const int32_t last = RowCount - 1;
        if (j != last) {
          std::memcpy(sorted.data() + static_cast<size_t>(j) * n,
                      sorted.data() + static_cast<size_t>(last) * n, sizeof(int32_t) * n);
        }
        DropRowByMovingLast(j);
      } else {
        ++j;
      }
    }
  }
}

}  // namespace quaderix
