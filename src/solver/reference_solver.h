#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "model/puzzle_model.h"

namespace quaderix {

enum SearchMode : int32_t { ModeDescend = 1, ModeBacktrack = 2, ModeDone = 3 };

// One level of the search. Frames are copied by value between currentFrame and the
// preallocated SearchStack, so opening and closing a level never allocates.
struct SearchFrame {
  int32_t placement = 0;  // row index into candidates[stone]
  int32_t stone = 0;
  int32_t orderPos = 0;  // fill position of the cell this level covers
  int32_t cell = 0;      // cellOrder[orderPos]
  int32_t mark = 0;      // level number, written into the grid cells of the placement
  int32_t pattern = 0;   // neighbour pattern of cell when the level was opened
  const PlacementList* candidates = nullptr;  // stoneCount lists for (pattern, orderPos)
};

// The first engine, kept as the oracle that the tests and the bench compare the bit-mask
// search with: one job's solver, set up from the puzzle definition, then a resumable
// depth-first search advanced one Step (one descent or one backtrack move) at a time.
// Used on one thread; others read nothing but SolutionCount() and OutputFailures(), both
// relaxed atomics.
class ReferenceSolver : public PuzzleModel {
 public:
  // -1 for a stone bound means "not given" and becomes 0.
  ReferenceSolver(int32_t startStone, int32_t endStone, std::string puzzlePath,
                  std::string outputPath);
  ~ReferenceSolver() override;

  // Reads the puzzle, builds the tables and empties the output file. Returns 1 when the
  // solver is ready (also for a job with nothing to search), 0 on failure with the reason
  // in setupError and nothing left allocated.
  int Setup(int32_t start, int32_t end, const std::string& puzzlePath,
            const std::string& outputPath);
  // One descent or one backtrack move. Returns 1 when not ready (nothing done), else 0.
  int Step();
  // Frees the tables; solutionCount and finished stay readable.
  void Teardown();

  uint32_t SolutionCount() const { return solutionCount.load(std::memory_order_relaxed); }
  uint32_t OutputFailures() const { return outputFailures.load(std::memory_order_relaxed); }

  // The search, normally reached only through Step.
  void Descend();
  void Backtrack();
  int32_t NextStone(int32_t pattern, int32_t after, int32_t orderPos) const;
  int PlaceStone();
  void RemoveStone();

  // The output record of the packing now on the grid, with CR LF line ends.
  std::string FormatSolution() const;
  // Appends FormatSolution() to `path` with one open, write and close.
  void WriteSolution(const std::string& path);

  int BuildPlacementTables() override;
  void FreePlacementTables() override;

  int32_t preCheckLevel = 0;
  int32_t firstPreCheckStone = 0;
  int32_t lastPreCheckStone = 0;
  int32_t enhancedSymetryCheck = 0;
  std::string outputFileName;
  int32_t writeEveryNSolution = 0;
  int32_t showLegend = 0;
  std::atomic<uint32_t> solutionCount{0};
  int32_t finished = 0;
  int32_t ready = 0;
  int32_t searchMode = ModeDescend;
  int32_t depth = 0;
  std::vector<SearchFrame> SearchStack;
  // 1 for the cells of symmetry positions 1..symPosCount-1, per grid index.
  std::vector<uint8_t> symMask;
  SearchFrame currentFrame;
  int32_t lowestFreeStone = 0;
  int32_t firstStone = -1;
  int32_t higherStonesLeft = 0;
  int32_t openSymPositions = 0;
  int32_t startStone = 0;
  int32_t endStone = 0;
  // Output records that could not be written; the solutions still count.
  std::atomic<uint32_t> outputFailures{0};

 private:
  void TakeStone(int32_t stone, int32_t level);
  void ReturnStone(int32_t stone);
  void HandleSolution();
  // First free fill position after `orderPos`, or cellCount when none is left.
  int32_t NextFreePosition(int32_t orderPos) const;
  const SearchFrame& FrameOfLevel(int32_t level) const;
};

}  // namespace quaderix
