#include "model/puzzle_model.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <numeric>

#include "model/setup_plan.h"

namespace quaderix {
namespace {

std::string RowKey(int32_t y, int32_t z) {
  char key[48];
  std::snprintf(key, sizeof key, "YZLine_%02d_%02d", y, z);
  return key;
}

std::string CoordText(const std::array<int32_t, 3>& c) {
  return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

}  // namespace

PuzzleModel::~PuzzleModel() {
  // The virtual free operations would not dispatch to a derived class here, so the base
  // frees its own arrays directly.
  PuzzleModel::FreePlacementTables();
  PuzzleModel::FreeCellOrder();
  PuzzleModel::FreeGrid();
}

void PuzzleModel::SetGeometry(const std::string& puzzlePath, const PuzzleParameters& p) {
  puzzleFileName = puzzlePath;
  useFile = p.useFile;
  xSize = p.xSize;
  ySize = p.ySize;
  zSize = p.zSize;
  edgeZone = p.edgeZone;
  stoneCount = p.stoneCount;
  symPosCount = p.symPosCount;
  GridGeometry g = ComputeGeometry(p);
  xStride = 1;
  yStride = static_cast<int32_t>(g.yStride);
  zStride = static_cast<int32_t>(g.zStride);
  cellCount = static_cast<int32_t>(g.cellCount);
}

int32_t PuzzleModel::NeighbourPattern(int32_t cell) const {
  const int32_t* g = grid.data();
  return (g[cell + xStride] != 0 ? 1 : 0) | (g[cell + yStride] != 0 ? 2 : 0) |
         (g[cell + zStride] != 0 ? 4 : 0) | (g[cell - xStride] != 0 ? 8 : 0) |
         (g[cell - yStride] != 0 ? 16 : 0) | (g[cell - zStride] != 0 ? 32 : 0);
}

int PuzzleModel::ReadBlock() {
  const int32_t e = edgeZone;
  try {
    grid.assign(static_cast<size_t>(zStride) * static_cast<size_t>(zSize + 2 * e), -1);
  } catch (const std::bad_alloc&) {
    return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the block grid");
  }
  IniReader ini(puzzleFileName);
  IntArray row;
  for (int32_t z = e; z < zSize + e; ++z) {
    for (int32_t y = e; y < ySize + e; ++y) {
      if (useFile) {
        const std::string key = RowKey(y - e, z - e);
        if (!ini.ReadIntList(kBlockInfo, key, row))
          return Fail(SetupErrorCode::kMissingRow, "missing row " + key);
        if (row.size() != xSize)
          return Fail(SetupErrorCode::kRowLength, key + " has " + std::to_string(row.size()) +
                                                      " values but XSize is " +
                                                      std::to_string(xSize));
      }
      for (int32_t x = e; x < xSize + e; ++x) {
        int32_t value = 0;
        if (useFile) value = row[x - e] > 0 ? row[x - e] : -1;
        grid[static_cast<size_t>(x) * xStride + static_cast<size_t>(y) * yStride +
             static_cast<size_t>(z) * zStride] = value;
      }
    }
  }
  return 1;
}

int PuzzleModel::ReadSymmetry() {
  try {
    cellOrder.clear();
    cellOrder.reserve(static_cast<size_t>(cellCount));
  } catch (const std::bad_alloc&) {
    return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the fill order");
  }
  symPositions = {};
  symCells.fill(-1);
  if (useFile) {
    IniReader ini(puzzleFileName);
    IntArray list;
    for (int32_t i = 0; i < symPosCount; ++i) {
      const std::string key = "SymPos" + std::to_string(i);
      if (!ini.ReadIntList(kSymetryInfo, key, list))
        return Fail(SetupErrorCode::kMissingSymPos, "missing symmetry position " + key);
      if (list.size() != 3)
        return Fail(SetupErrorCode::kSymPosLength,
                    key + " has " + std::to_string(list.size()) + " values but needs 3 (x,y,z)");
      symPositions[i] = {list[0], list[1], list[2]};
    }
  } else {
    symPositions[0] = {0, 0, 0};
    symPositions[1] = {0, ySize - 1, zSize - 1};
    symPositions[2] = {xSize - 1, 0, zSize - 1};
    symPositions[3] = {xSize - 1, ySize - 1, 0};
  }

  std::vector<int32_t> keys;
  keys.reserve(static_cast<size_t>(cellCount));
  for (int32_t x = 0; x < xSize; ++x) {
    for (int32_t y = 0; y < ySize; ++y) {
      for (int32_t z = 0; z < zSize; ++z) {
        const int32_t cell = GridIndex(x, y, z);
        if (grid[cell] < 0) continue;
        cellOrder.push_back(cell);
        keys.push_back(grid[cell]);
        for (int32_t k = 0; k < symPosCount; ++k) {
          if (symPositions[k] == std::array<int32_t, 3>{x, y, z}) symCells[k] = cell;
        }
      }
    }
  }
  cellCount = static_cast<int32_t>(cellOrder.size());

  // Stable ascending sort by order key: equal keys keep the scan order.
  std::vector<int32_t> index(cellOrder.size());
  std::iota(index.begin(), index.end(), 0);
  std::stable_sort(index.begin(), index.end(),
                   [&](int32_t a, int32_t b) { return keys[a] < keys[b]; });
  std::vector<int32_t> sorted(cellOrder.size());
  for (size_t i = 0; i < index.size(); ++i) sorted[i] = cellOrder[index[i]];
  cellOrder.swap(sorted);

  if (symPosCount > 0) {
    if (cellCount == 0) return Fail(SetupErrorCode::kNoCells, "every cell of the block is a hole");
    if (symCells[0] != cellOrder[0])
      return Fail(SetupErrorCode::kSymPosNotFirst, "SymPos0 (" + CoordText(symPositions[0]) +
                                                       ") is not the first cell of the fill order");
    // A later position on a hole or outside the block would match no cell; the search
    // must never compare against such an entry, so the puzzle is refused.
    for (int32_t k = 1; k < symPosCount; ++k) {
      if (symCells[k] < 0)
        return Fail(SetupErrorCode::kSymPosOutside, "SymPos" + std::to_string(k) + " (" +
                                                        CoordText(symPositions[k]) +
                                                        ") is not a cell of the puzzle");
    }
  }
  return 1;
}

int PuzzleModel::ResetBlockCells() {
  for (int32_t x = 0; x < xSize; ++x)
    for (int32_t y = 0; y < ySize; ++y)
      for (int32_t z = 0; z < zSize; ++z) {
        int32_t& v = grid[GridIndex(x, y, z)];
        if (v > 0) v = 0;
      }
  return 1;
}

int PuzzleModel::BuildPlacementTables() {
  TotalStones = 0;
  const size_t entries = static_cast<size_t>(xSize) * ySize * zSize * stoneCount;
  try {
    // With reachable patterns only, a pattern's table is made when a position first needs
    // it: in a box filled in scan order only 8 of the 63 occur.
    for (size_t p = 0; p < PlacementTables.size(); ++p)
      PlacementTables[p].resize(p == 0 || !reachablePatternsOnly ? entries : 0);
    StoneCopies.assign(static_cast<size_t>(stoneCount), 0);
  } catch (const std::bad_alloc&) {
    return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the placement tables");
  }

  if (useFile) {
    if (!ReadStones(IniReader(puzzleFileName), stoneCount, stones, &setupError)) return 0;
  } else {
    stones = BuiltInStones();
  }
  if (!CheckEdgeZone(edgeZone, stones, &setupError)) return 0;

  // Stones whose rows could not be prepared are built cell by cell.
  std::vector<ShapeRows> shapes;
  std::vector<uint8_t> prepared(static_cast<size_t>(stoneCount), 0);
  if (shapesOnce) {
    try {
      shapes.resize(static_cast<size_t>(stoneCount));
    } catch (const std::bad_alloc&) {
      shapes.clear();
    }
    for (int32_t k = 0; k < static_cast<int32_t>(shapes.size()); ++k)
      prepared[k] = PrepareShapeRows(stones[k].cubes.data(), stones[k].cubeCount, xStride, yStride,
                                     zStride, &shapes[k]);
  }
  int32_t* g = grid.data();
  for (int32_t i = 0; i < cellCount; ++i) {
    const int32_t c = cellOrder[i];
    if (g[c] != 0) continue;
    PlacementList* base = PlacementTables[0].data() + static_cast<size_t>(i) * stoneCount;
    for (int32_t k = 0; k < stoneCount; ++k) {
      const StoneDefinition& stone = stones[k];
      const int built = prepared[k] ? base[k].BuildFromRows(shapes[k], c, g)
                                    : base[k].BuildFromShape(stone.cubes.data(), stone.cubeCount,
                                                             xStride, yStride, zStride, c, g);
      if (!built)
        return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the placement lists");
    }
    // Earlier cells (-2), holes and the frame (-1) are occupied whenever this position is
    // the first free one.
    int32_t fixedBits = 0;
    if (reachablePatternsOnly) {
      for (int32_t b = 0; b < 6; ++b)
        if (g[c + NeighbourOffset(b, xStride, yStride, zStride)] != 0) fixedBits |= 1 << b;
    }
    for (int32_t k = 0; k < stoneCount; ++k) {
      for (int32_t p = 1; p < kPatternCount; ++p) {
        if ((p & fixedBits) != fixedBits) continue;
        for (int32_t b = 0; b < 6; ++b) {
          const int32_t n = c + NeighbourOffset(b, xStride, yStride, zStride);
          if ((p >> b & 1) && g[n] == 0) g[n] = -3;
        }
        if (PlacementTables[p].empty()) {
          try {
            PlacementTables[p].resize(entries);
          } catch (const std::bad_alloc&) {
            return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the placement tables");
          }
        }
        PlacementList& list = PlacementTables[p][static_cast<size_t>(i) * stoneCount + k];
        if (!list.CopyFiltered(base[k], xStride, yStride, zStride, c, g))
          return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the placement lists");
        for (int32_t b = 0; b < 6; ++b) {
          const int32_t n = c + NeighbourOffset(b, xStride, yStride, zStride);
          if ((p >> b & 1) && g[n] == -3) g[n] = 0;
        }
      }
    }
    g[c] = -2;
  }
  for (int32_t i = 0; i < cellCount; ++i) {
    if (g[cellOrder[i]] == -2) g[cellOrder[i]] = 0;
  }
  int64_t total = 0;
  for (int32_t k = 0; k < stoneCount; ++k) {
    StoneCopies[k] = stones[k].copies;
    total += stones[k].copies;
  }
  if (total > std::numeric_limits<int32_t>::max() || total < std::numeric_limits<int32_t>::min())
    return Fail(SetupErrorCode::kBadValue,
                "the copies of all stones add up to " + std::to_string(total) + ", too many");
  TotalStones = static_cast<int32_t>(total);
  return 1;
}

void PuzzleModel::FreePlacementTables() {
  for (auto& table : PlacementTables) std::vector<PlacementList>().swap(table);
  std::vector<int32_t>().swap(StoneCopies);
}

void PuzzleModel::FreeCellOrder() {
  std::vector<int32_t>().swap(cellOrder);
}

void PuzzleModel::FreeGrid() {
  std::vector<int32_t>().swap(grid);
}

}  // namespace quaderix
