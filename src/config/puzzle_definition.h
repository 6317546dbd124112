#pragma once

// The run parameters of a puzzle definition file: the scalar keys, the all-or-nothing
// rule that falls back to the built-in puzzle, the defaults and the range checks. Both the
// solver's set-up and the window's summary read the file through this code. Plain values,
// no state; safe on any thread.

#include <cstdint>
#include <string>

#include "config/setup_error.h"

namespace quaderix {

inline constexpr const char* kBlockInfo = "BlockInfo";
inline constexpr const char* kStoneInfo = "StoneInfo";
inline constexpr const char* kSymetryInfo = "SymetryInfo";
inline constexpr const char* kOutputInfo = "OutputInfo";

inline constexpr int32_t kMaxSymPositions = 8;  // table size; at most 7 are used

// The scalar keys of one puzzle file as the solver uses them; a plain value, copied
// into each job's solver at set-up.
struct PuzzleParameters {
  int32_t useFile = 0;  // 1: the file's block, stones and positions; 0: the built-in puzzle
  int32_t xSize = 0;
  int32_t ySize = 0;
  int32_t zSize = 0;
  int32_t edgeZone = 0;
  int32_t stoneCount = 0;
  int32_t enhancedSymetryCheck = 0;
  int32_t symPosCount = 0;
  int32_t writeEveryNSolution = 0;
  int32_t showLegend = 0;
  int32_t preCheckLevel = 0;
  int32_t firstPreCheckStone = 0;
  int32_t lastPreCheckStone = 0;
  // When the built-in puzzle was chosen because of the file: the first required key that
  // was missing or empty ("" for an empty path).
  std::string missingKey;
};

// The built-in puzzle: twelve stones in a 5*4*3 block with four symmetry positions.
PuzzleParameters BuiltInParameters();

// Reads the scalar keys in the fixed order; any missing required key selects the built-in
// puzzle for every key. Without an output file WriteEveryNSolution is forced to 0.
// Does not check ranges.
PuzzleParameters ReadPuzzleParameters(const std::string& path, bool hasOutputFile);

// Range checks on the values read: sizes, EdgeZone and StoneCount at least 1,
// SymetryPosCount 0..7, and the derived grid, cell and table sizes within 32 bits.
// Returns 1 when valid; otherwise 0 and the reason in `error` (if given).
int CheckPuzzleParameters(const PuzzleParameters& p, SetupError* error);

// Padded grid size and strides as 64-bit values, so that oversized puzzles can be
// refused before anything is multiplied in 32 bits.
struct GridGeometry {
  int64_t xStride = 1;
  int64_t yStride = 0;
  int64_t zStride = 0;
  int64_t gridSize = 0;
  int64_t cellCount = 0;
};
GridGeometry ComputeGeometry(const PuzzleParameters& p);

// What the window shows when a run starts. Missing keys show as 0; the job count is 12
// when StoneCount is missing. No all-or-nothing rule here.
struct PuzzleSummary {
  int32_t jobCount = 12;
  int32_t xSize = 0;
  int32_t ySize = 0;
  int32_t zSize = 0;
  int32_t stoneCount = 0;
  int32_t symPosCount = 0;
  int32_t writeEveryNSolution = 0;
};
PuzzleSummary ReadPuzzleSummary(const std::string& path);

}  // namespace quaderix
