#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/puzzle_definition.h"
#include "config/setup_error.h"
#include "model/placement_list.h"
#include "model/stone_set.h"

namespace quaderix {

inline constexpr int32_t kPatternCount = 64;

// Bit b of a neighbour pattern: +x, +y, +z, -x, -y, -z for b = 0..5.
inline int32_t NeighbourOffset(int32_t bit, int32_t sx, int32_t sy, int32_t sz) {
  switch (bit) {
    case 0:
      return sx;
    case 1:
      return sy;
    case 2:
      return sz;
    case 3:
      return -sx;
    case 4:
      return -sy;
    default:
      return -sz;
  }
}

// One job's view of the puzzle: the padded block grid, the fill order, the symmetry cells,
// the stone types and the placement tables built from them. The solver derives from it and
// runs its search on these arrays. Built and read only on the owning worker's thread.
class PuzzleModel {
 public:
  PuzzleModel() = default;
  virtual ~PuzzleModel();
  PuzzleModel(const PuzzleModel&) = delete;
  PuzzleModel& operator=(const PuzzleModel&) = delete;

  // Takes the file path, sizes and counts of `p` and derives the strides. The values
  // must have passed CheckPuzzleParameters.
  void SetGeometry(const std::string& puzzlePath, const PuzzleParameters& p);

  // The set-up steps, in this order, each only after the one before succeeded. Each
  // returns non-zero on success; on failure `setupError` says why.
  virtual int ReadBlock();        // grid with frame and holes, cells holding order keys
  virtual int ReadSymmetry();     // fill order, symmetry positions and their cells
  virtual int ResetBlockCells();  // order keys back to 0 (free)
  virtual int BuildPlacementTables();
  // Each may be called any number of times, also on a model never built.
  virtual void FreePlacementTables();
  virtual void FreeCellOrder();
  virtual void FreeGrid();

  // The stoneCount lists of placements for fill position `orderPos` under `pattern`.
  const PlacementList* Candidates(int32_t pattern, int32_t orderPos) const {
    return PlacementTables[pattern].data() + static_cast<size_t>(orderPos) * stoneCount;
  }
  int32_t GridIndex(int32_t x, int32_t y, int32_t z) const {
    return (x + edgeZone) * xStride + (y + edgeZone) * yStride + (z + edgeZone) * zStride;
  }
  int32_t NeighbourPattern(int32_t cell) const;

  std::string puzzleFileName;
  int32_t useFile = 0;
  int32_t xSize = 0, ySize = 0, zSize = 0;
  int32_t edgeZone = 0;
  int32_t xStride = 0, yStride = 0, zStride = 0;
  int32_t cellCount = 0;
  int32_t stoneCount = 0;
  int32_t TotalStones = 0;
  int32_t symPosCount = 0;
  std::array<int32_t, kMaxSymPositions> symCells{};
  std::array<std::array<int32_t, 3>, kMaxSymPositions> symPositions{};

  std::vector<int32_t> grid;
  std::vector<int32_t> cellOrder;
  // Per pattern: entry (fill position i, stone type k) at i * stoneCount + k, for all
  // xSize*ySize*zSize positions; positions from cellCount on hold empty lists.
  std::array<std::vector<PlacementList>, kPatternCount> PlacementTables;
  // When set before BuildPlacementTables, the lists of a pattern that cannot occur while
  // its position is the first free cell (a hole, the frame or an earlier cell left out of
  // it) stay empty. Such a list would only repeat the list of the pattern with those bits
  // set, and most of the build's time and memory went into these repeats. The table of a
  // pattern that occurs at no position stays empty: its Candidates must not be asked for.
  bool reachablePatternsOnly = false;
  // When set before BuildPlacementTables, each stone's rows are turned and sorted once
  // (PrepareShapeRows) and every cell's list is cut from them: the same lists, without
  // most of the work of building them.
  bool shapesOnce = false;
  std::vector<int32_t> StoneCopies;
  std::vector<StoneDefinition> stones;  // stone type k, read once per set-up

  SetupError setupError;

 protected:
  int Fail(SetupErrorCode code, std::string text) {
    setupError.Set(code, std::move(text));
    return 0;
  }
};

}  // namespace quaderix
