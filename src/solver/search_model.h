#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/puzzle_definition.h"
#include "config/setup_error.h"
#include "model/puzzle_model.h"
#include "solver/work_unit.h"

namespace quaderix {

// The candidates of one stone type at one (fill position, neighbour pattern): rows
// [begin, begin + count) of the model's row arrays, in the placement list's order.
struct CandidateRange {
  int32_t begin = 0;
  int32_t count = 0;
};

// The bit of stone type k in the 64-bit masks of types that the search keeps; types from 64
// on have none and are looked up one by one.
inline uint64_t TypeBit(int32_t k) {
  return k < 64 ? uint64_t{1} << k : 0;
}

// Everything a search reads and never writes: the puzzle as read once from its file, its
// placement tables, and the same tables turned into bit masks over fill positions (bit i of
// a mask is the cell at fill position i). Built once per run by Build and then shared
// read-only by every worker through a std::shared_ptr<const SearchModel>; no method changes
// it, so any thread may read it.
class SearchModel {
 public:
  // Reads and checks the puzzle file once and builds all tables. nullptr on refusal, with
  // *error set. withOutput tells whether the run writes output files (without one,
  // WriteEveryNSolution is 0).
  static std::shared_ptr<const SearchModel> Build(const std::string& puzzlePath, bool withOutput,
                                                  SetupError* error);

  // The number of jobs of the run: one per stone type of the puzzle actually solved.
  int32_t JobCount() const { return puzzle_.stoneCount; }
  // Jobs beyond this stone find nothing: a packing whose first stone is higher is a rotated
  // copy of one that a lower job finds.
  int32_t LastStartStone() const { return puzzle_.stoneCount - puzzle_.symPosCount; }
  int32_t WriteEveryNSolution() const { return params_.writeEveryNSolution; }
  bool ShowLegend() const { return params_.showLegend != 0; }
  const PuzzleParameters& Parameters() const { return params_; }
  // The grid, fill order, stones and placement lists as the reading set them up.
  const PuzzleModel& Puzzle() const { return puzzle_; }

  int32_t CellCount() const { return puzzle_.cellCount; }
  int32_t StoneCount() const { return puzzle_.stoneCount; }
  int32_t TotalStones() const { return puzzle_.TotalStones; }
  int32_t SymPosCount() const { return puzzle_.symPosCount; }
  // 64-bit words of one mask over the fill positions.
  int32_t Words() const { return words_; }
  // Whether rows are stored as masks (blocks of up to kMaxMaskWords * 64 cells).
  bool HasRowMasks() const { return words_ <= kMaxMaskWords; }
  static constexpr int32_t kMaxMaskWords = 8;

  // The output record (CR LF line ends, byte for byte what the serial search writes) of
  // the packing given by its levels 1..depth, numbered `number`.
  std::string FormatRecord(uint64_t number, const PlacementChoice* levels, int32_t depth) const;

  // --- Tables of the search. ---
  // Candidate ranges of every stone type for fill position `pos` under neighbour pattern
  // `pattern` (bit b set: neighbour b is occupied). nullptr for a pattern that cannot occur
  // at that position while it is the first free cell.
  const CandidateRange* Candidates(int32_t pos, int32_t pattern) const {
    const int32_t group = groupOf_[static_cast<size_t>(pos) * kPatternCount + pattern];
    return group < 0 ? nullptr : ranges_.data() + static_cast<size_t>(group) * puzzle_.stoneCount;
  }
  // The fill position of neighbour b (0..5, see NeighbourOffset) of `pos`, or -1 when that
  // neighbour is a hole or outside the block and so always occupied.
  int32_t NeighbourPos(int32_t pos, int32_t b) const { return neighbourPos_[pos * 6 + b]; }
  // The mask of a row: Words() words.
  const uint64_t* RowMask(int32_t row) const {
    return rowMasks_.data() + static_cast<size_t>(row) * words_;
  }
  // The fill positions of a row's cells, in row order; StoneCubes(stone) of them.
  const int32_t* RowCells(int32_t row) const { return rowCells_.data() + rowCellStart_[row]; }
  // The cells right after a position in the fill order whose occupancy selects a window
  // list: bit j of a window value is fill position pos + 1 + j. Each row is kept once per
  // window value that it fits, so the window tables grow with 2^kWindowBits. With three
  // cells they are a quarter of the size with five: the scan tests more rows, but misses
  // the cache less and faults in fewer pages. The pentomino boxes took as long or less
  // (2x3x10: 950 -> 612 page faults, 6 % less user time), the built-in puzzle about as
  // long.
  static constexpr int32_t kWindowBits = 3;
  static constexpr int32_t kWindowValues = 1 << kWindowBits;
  // The group number of (pos, pattern), -1 where the pattern cannot occur.
  int32_t Group(int32_t pos, int32_t pattern) const {
    return groupOf_[static_cast<size_t>(pos) * kPatternCount + pattern];
  }
  const CandidateRange* GroupRanges(int32_t group) const {
    return ranges_.data() + static_cast<size_t>(group) * puzzle_.stoneCount;
  }
  // The rows of `group` that avoid the occupied cells of `window`, as indices into
  // WindowRows() from WindowBegin to WindowBegin of the next window.
  int64_t WindowBegin(int32_t group, int32_t window) const {
    return windowStart_[static_cast<size_t>(group) * kWindowValues + window];
  }
  const int32_t* WindowRows() const { return windowRows_.data(); }
  // The mask of each window row, Words() words each. Only with row masks.
  const uint64_t* WindowMasks() const { return windowMasks_.data(); }
  // Per window row: the TypeBit of its stone type, so that the scan can skip the stones
  // without copies left with a mask. Only with row masks.
  const uint64_t* WindowStones() const { return windowStones_.data(); }
  // The stone type of every row. The rows of one (position, pattern) lie in stone order.
  const int32_t* RowStones() const { return rowStones_.data(); }
  // 1 when the row covers one of the symmetry positions 1..symPosCount-1.
  uint8_t RowClaims(int32_t row) const { return rowClaims_[row]; }
  // The neighbours of `pos` that may be free while it is the first free cell (those later
  // in the fill order), and the pattern bits of all others, which are always occupied.
  struct LaterNeighbours {
    int32_t fixedBits = 0;
    int32_t count = 0;
    int32_t pos[6] = {};
    int32_t bit[6] = {};
  };
  const LaterNeighbours& Later(int32_t pos) const { return later_[pos]; }
  // The in-block face neighbours of `pos`, as a mask.
  const uint64_t* NeighbourMask(int32_t pos) const {
    return neighbourMasks_.data() + static_cast<size_t>(pos) * words_;
  }
  // Number of stone types 0..k that have copies: what the first stone k takes from the
  // stones that can still go to symmetry positions.
  int32_t TypesWithCopiesUpTo(int32_t k) const { return typesUpTo_[k]; }
  int32_t Copies(int32_t k) const { return puzzle_.stones[k].copies; }
  int32_t StoneCubes(int32_t k) const { return puzzle_.stones[k].cubeCount; }

  // --- Block-order masks (bit x + X*(y + Y*z)), built with the cover check for blocks of
  // up to 64 positions: the cells it looks at and their free neighbours are found by a few
  // mask operations this way. ---
  bool HasBlockMasks() const { return blockMasks_; }
  // The block-order bit of every cell (holes and the bits past the block are never free).
  uint64_t BlockCells() const { return blockCells_; }
  // The block-order cells of a row, and their in-block face neighbours outside the row.
  uint64_t RowBlockMask(int32_t row) const { return rowBlock_[row]; }
  uint64_t RowHalo(int32_t row) const { return rowHalo_[row]; }
  // The cells one face step away from `cells` (block order), some of them holes.
  uint64_t Grow(uint64_t cells) const {
    uint64_t grown = 0;
    for (int32_t a = 0; a < 3; ++a)
      grown |= (cells & growUp_[a]) << growStep_[a] | (cells & growDown_[a]) >> growStep_[a];
    return grown;
  }
  // The cells of `free` with at most one free face neighbour, counted for all at once;
  // those with none go to `isolated` as well.
  uint64_t FewNeighbours(uint64_t free, uint64_t* isolated = nullptr) const {
    uint64_t one = 0;  // a free neighbour so far
    uint64_t two = 0;  // two or more
    // The three axes written out: the compiler kept the loop, and the search asks this
    // once per placement.
    auto axis = [&](int32_t a) {
      const uint64_t up = (free >> growStep_[a]) & growUp_[a];
      const uint64_t down = (free << growStep_[a]) & growDown_[a];
      two |= (one & (up | down)) | (up & down);
      one |= up | down;
    };
    axis(0);
    axis(1);
    axis(2);
    if (isolated != nullptr) *isolated = free & ~one;
    return free & ~two;
  }
  // The one-cube stone types (as WindowStones bits), and whether that mask names them all
  // (none from type 64 on).
  uint64_t SingleStones() const { return singleStones_; }
  bool SinglesKnown() const { return singlesKnown_; }
  // The fill position of a block-order bit that is a cell.
  int32_t PosOfBit(int32_t bit) const { return posOfBit_[bit]; }
  // Mirror images for the search's table of dead states: the flips of the box along one
  // axis that map its cells, and every stone type's placements, onto themselves. Such a
  // flip turns a state whose free cells no stones left can fill into another one. Only the
  // flips that move no cell far in the fill order are kept: the search meets the images
  // of a state only where the fill order puts them near it.
  int32_t MirrorCount() const { return mirrorCount_; }
  // The least of `cells` (block order, cells only) and its images under every combination
  // of the mirrors: one value for a state and all its images.
  uint64_t LeastImage(uint64_t cells) const {
    uint64_t least = cells;
    for (const LayerSwap& swap : imageWalk_) {
      cells = swap.Apply(cells);
      if (swap.imageDone) least = std::min(least, cells);
    }
    return least;
  }
  // The in-block face neighbours of a block-order bit.
  uint64_t BlockNeighbours(int32_t bit) const { return blockNeighbours_[bit]; }
  // The neighbour pattern bit (see NeighbourPos) of the neighbour `to` of block-order bit
  // `from`.
  int32_t PatternBit(int32_t from, int32_t to) const { return stepBit_[to - from + 64]; }

  // --- Cover pruning. When the stones' volume equals the cell count, every packing fills
  // the block, so each free cell must still be covered by some placement that fits, of a
  // stone with copies left, and each stone with copies left must still fit somewhere;
  // otherwise the subtree holds no packing. (With fewer cubes than cells a packing may
  // leave cells empty and the check is off.) Only with row masks and tables of bounded
  // size. The placements are the distinct rows (stone, cells) of all lists. ---
  bool CoverCheck() const { return coverCheck_; }
  // The placements over cell `pos` that can still fit while its free face neighbours are
  // those of `pattern` (bit b: neighbour b, see NeighbourPos) are the entries
  // [CoverBegin(pos, pattern), CoverBegin(pos, pattern + 1)); only patterns of at most one
  // bit have entries. Stone k's placements are [StoneBegin(k), StoneBegin(k + 1)).
  int32_t CoverBegin(int32_t pos, int32_t pattern) const {
    return coverStart_[static_cast<size_t>(pos) * kPatternCount + pattern];
  }
  int32_t StoneBegin(int32_t k) const {
    return coverStart_[static_cast<size_t>(puzzle_.cellCount) * kPatternCount + k];
  }
  // Every placement over symmetry position k (1..SymPosCount()-1) is an entry of
  // [SymCoverBegin(k), SymCoverBegin(k + 1)); empty when the position is no cell.
  int32_t SymCoverBegin(int32_t k) const { return StoneBegin(puzzle_.stoneCount + k - 1); }
  // The fill position of symmetry position k, or -1 when it is no cell of the block.
  int32_t SymFillPos(int32_t k) const {
    const int32_t cell = puzzle_.symCells[k];
    return cell >= 0 && static_cast<size_t>(cell) < posOfCell_.size() ? posOfCell_[cell] : -1;
  }
  const uint64_t* CoverMask(int32_t entry) const {
    return coverMasks_.data() + static_cast<size_t>(entry) * words_;
  }
  int32_t CoverStone(int32_t entry) const { return coverStones_[entry]; }
  // Per entry, as flat arrays for the scans: the masks (Words() each), TypeBit of the
  // stone, and the first fill position of the placement (each list ascends in it); with
  // block masks also the cells in block order.
  const uint64_t* CoverMasks() const { return coverMasks_.data(); }
  const uint64_t* CoverStoneBits() const { return coverStoneBits_.data(); }
  const int32_t* CoverFirsts() const { return coverFirst_.data(); }
  const uint64_t* CoverBlocks() const { return coverBlocks_.data(); }
  // The in-block face neighbours of a row's cells outside the row, Words() words; only for
  // blocks without block-order masks.
  const uint64_t* RowHaloMask(int32_t row) const {
    return rowHaloMasks_.data() + static_cast<size_t>(row) * words_;
  }

 private:
  SearchModel() = default;
  int BuildMasks();
  void BuildBlockMasks();
  // Without one-cube stones, drops from the window lists the rows that leave a free cell
  // next to them uncoverable whatever the cells after the window hold: walled in, or with
  // one neighbour that may be free and no placement that could fit. The search would
  // refuse each of them anyway. groupPos: the fill position of each group.
  void DropDeadRows(const std::vector<int32_t>& groupPos);
  void BuildCoverTables();
  // Sets mirrorCount_ and imageWalk_; needs the block masks and the cover tables.
  void BuildMirrors();

  // One step of a flip: the cells of `low` trade places with those `shift` bits above
  // them. A flip swaps its outer layer pairs; the middle layer of an odd axis stays.
  struct LayerSwap {
    uint64_t low = 0;
    int32_t shift = 0;
    bool imageDone = false;  // the last swap of a flip
    uint64_t Apply(uint64_t cells) const {
      const uint64_t differ = ((cells >> shift) ^ cells) & low;
      return cells ^ differ ^ (differ << shift);
    }
  };
  static uint64_t Flip(const std::vector<LayerSwap>& flip, uint64_t cells) {
    for (const LayerSwap& swap : flip) cells = swap.Apply(cells);
    return cells;
  }

  PuzzleParameters params_;
  PuzzleModel puzzle_;
  int32_t words_ = 1;
  std::vector<int32_t> posOfCell_;     // per grid index: fill position, or -1
  std::vector<int32_t> neighbourPos_;  // 6 per fill position
  std::vector<LaterNeighbours> later_;
  std::vector<uint64_t> neighbourMasks_;  // words_ per fill position
  std::vector<int32_t> groupOf_;          // kPatternCount per fill position
  std::vector<CandidateRange> ranges_;    // stoneCount per group
  std::vector<uint64_t> rowMasks_;        // words_ per row
  std::vector<uint8_t> rowClaims_;
  std::vector<int32_t> rowStones_;
  std::vector<int64_t> windowStart_;
  std::vector<int32_t> windowRows_;
  std::vector<uint64_t> windowMasks_;
  std::vector<uint64_t> windowStones_;
  std::vector<int64_t> rowCellStart_;
  std::vector<int32_t> rowCells_;
  std::vector<int32_t> typesUpTo_;
  bool blockMasks_ = false;
  uint64_t blockCells_ = 0;
  std::vector<uint64_t> rowBlock_;
  std::vector<uint64_t> rowHalo_;
  std::vector<int32_t> posOfBit_;
  std::vector<uint64_t> blockNeighbours_;
  int32_t stepBit_[129] = {};
  // Per axis: the cells that may step up / down along it, and the step in block-order bits
  // (0 for an axis of length 1, whose masks are empty).
  uint64_t growUp_[3] = {};
  uint64_t growDown_[3] = {};
  int32_t growStep_[3] = {};
  uint64_t singleStones_ = 0;
  bool singlesKnown_ = false;
  bool coverCheck_ = false;
  std::vector<int32_t> coverStart_;  // kPatternCount per cell, then one per stone, + 1
  std::vector<uint64_t> coverMasks_;
  std::vector<int32_t> coverStones_;
  std::vector<uint64_t> coverStoneBits_;
  std::vector<int32_t> coverFirst_;
  std::vector<uint64_t> coverBlocks_;  // with block masks: one per entry
  std::vector<uint64_t> rowHaloMasks_;
  // The kept flips one after the other in Gray-code order, so that each image follows
  // from the one before by one flip.
  int32_t mirrorCount_ = 0;
  std::vector<LayerSwap> imageWalk_;
};

}  // namespace quaderix
