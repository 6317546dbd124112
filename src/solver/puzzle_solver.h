#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/setup_error.h"
#include "solver/search_model.h"
#include "solver/work_unit.h"

namespace quaderix {

// The search of one job or one work unit on a shared SearchModel: a resumable depth-first
// search over bit masks that the worker advances in bounded slices (Step), checking its
// commands in between. It finds the same packings in the same order as ReferenceSolver.
// Owned by one worker and used only on its thread; other threads read nothing but
// SolutionCount(), NodeCount() and OutputFailures(), all relaxed atomics.
class PuzzleSolver {
 public:
  // -1 for a stone bound means "not given" and becomes 0.
  PuzzleSolver(int32_t startStone, int32_t endStone, std::string puzzlePath,
               std::string outputPath);
  ~PuzzleSolver();
  PuzzleSolver(const PuzzleSolver&) = delete;
  PuzzleSolver& operator=(const PuzzleSolver&) = delete;

  // Which stone types the search puts down before the others (see the anchors below):
  // chosen from the puzzle (kAutomatic), none, or every type that may be one, up to
  // kMaxAnchors (kEvery, which the tests use to run the anchored search on small puzzles).
  // Takes effect at the next Setup or SetupUnit; the packings and their order are the
  // same whatever is chosen. The packings of an anchored node wait in a buffer until the
  // node is done; a node with more pieces to keep than `maxBufferedPieces` is searched
  // again without anchors.
  enum class Anchors { kAutomatic, kNone, kEvery };
  static constexpr size_t kMaxBufferedPieces = size_t{1} << 22;
  void SetAnchors(Anchors anchors, size_t maxBufferedPieces = kMaxBufferedPieces) {
    anchorPolicy_ = anchors;
    maxBufferedPieces_ = maxBufferedPieces;
  }

  // Reads the puzzle, builds the model and empties the output file; level 1 then takes
  // the stones start..end in turn. Returns 1 when ready (also for a job with nothing to
  // search), 0 on failure with the reason in setupError.
  int Setup(int32_t start, int32_t end, const std::string& puzzlePath,
            const std::string& outputPath);
  // Prepares a search of `unit` on a shared model; the solver keeps only its own search
  // state. cutDepth 0 searches the whole subtree below unit.prefix. cutDepth d >
  // prefix.size() does not search beyond level d: every node opened at level d is reported
  // through observer->OnCut(levels, d) and then treated as done; a packing completed at or
  // before level d is reported through OnSolution. Every packing goes to
  // observer->OnSolution in search order and no file is written. A prefix that is not a
  // path of the job's search gives a finished search that found nothing. Returns 1 when
  // ready, 0 on failure.
  int SetupUnit(std::shared_ptr<const SearchModel> model, const WorkUnit& unit, int32_t cutDepth,
                UnitObserver* observer);
  // Tries up to kStepPlacements placements, stopping early at a packing or at the end of
  // the search. The packings below an anchored node (see the anchors) are handed over
  // together, in order, in the step that finishes the node. Returns 1 when not ready
  // (nothing done), else 0.
  int Step();
  // Drops the model and the search state; the counts and finished stay readable. The
  // table of dead states is kept for the next set-up, which may use its states as well
  // (see ChooseDeadStates).
  void Teardown();

  uint64_t SolutionCount() const { return solutionCount.load(std::memory_order_relaxed); }
  // Placements tried so far.
  uint64_t NodeCount() const { return nodeCount.load(std::memory_order_relaxed); }
  uint32_t OutputFailures() const { return outputFailures.load(std::memory_order_relaxed); }
  const SearchModel* Model() const { return model_.get(); }

  // About a millisecond of search at the usual rates, so that commands are taken quickly.
  static constexpr int64_t kStepPlacements = 1 << 16;
  // The cover check runs after a placement only while at least this many stones are left.
  // With two left it pays now that every few-neighbour cell of the block is checked: it
  // refuses most nodes whose last two stones would be tried in vain. With one left the
  // search ends sooner than the check.
  static constexpr int32_t kMinStonesToCheck = 2;
  // The open symmetry positions are checked (SymCellsAlive) only in jobs whose first stone
  // has at least a third of the stone types below it: with fewer barred types the check
  // seldom prunes and costs more than it saves (measured on the pentomino boxes).
  static constexpr int32_t kBarredShare = 3;
  // Automatic anchors only in blocks whose fill order reaches at least this far ahead.
  static constexpr int32_t kMinAnchorReach = 8;

  std::string puzzleFileName;
  std::string outputFileName;
  int32_t startStone = 0;
  int32_t endStone = 0;
  int32_t finished = 0;
  int32_t ready = 0;
  SetupError setupError;
  // Written only by the solver's thread; read through the accessors above.
  std::atomic<uint64_t> solutionCount{0};
  std::atomic<uint64_t> nodeCount{0};
  // Output records that could not be written; the solutions still count.
  std::atomic<uint32_t> outputFailures{0};

 private:
  enum Mode : int32_t { kDescend, kAdvance, kDone };
  // One open level: the candidate lists of its cell and the row it is at.
  struct Level {
    const CandidateRange* lists = nullptr;
    int32_t pos = 0;
    int32_t stone = 0;
    int32_t row = 0;  // absolute row index into the model's row arrays
    int32_t lo = 0;   // rows [lo, hi) may be taken: all, or at level 1 the job's stones
    int32_t hi = 0;
    // The level's window rows end at indexEnd; without row masks, index is the place of the
    // row taken last.
    int64_t index = 0;
    int64_t indexEnd = 0;
    // With row masks: the fitting rows of the chunk from `chunk` as bits, not yet taken,
    // and where the next chunk starts.
    uint64_t pending = 0;
    int64_t chunk = 0;
    int64_t next = 0;
    // One-word blocks: the occupied cells before the row was placed, in fill and in block
    // order; lifting the row restores them.
    uint64_t occBefore = 0;
    uint64_t blockBefore = 0;
    uint64_t solutionsAtOpen = 0;  // solutionCount when the level was opened
    // With dead states: the key of the node this level's row made, kept for when that
    // node is done (the mirror images cost a sixth of the search to compute twice).
    uint64_t deadCells = 0;
    uint64_t deadTypes = 0;
    // Whole words: bytes set one by one and then read back as a pair stalled the store
    // forwarding in Accept.
    int32_t claimed = 0;  // the symmetry positions the row claimed
    int32_t higher = 0;   // 1: the row took one of higherStonesLeft
  };

  int Prepare(std::shared_ptr<const SearchModel> model);
  void Finish();
  template <int W>
  void Run(int64_t budget);
  // Bit j: window row begin + j fits the grid and its stone type is not spent (j < n <= 64;
  // types from 64 on are looked up by the caller).
  template <int W>
  uint64_t FittingRows(int64_t begin, int32_t n, const uint64_t* occ) const;
  template <int W>
  bool TryPlace(Level& level, uint64_t* occ);
  template <int W>
  bool Fits(int32_t row, int32_t stone, const uint64_t* occ) const;
  // The rules and checks for a row that fits, whose stone is already taken; on acceptance
  // it is on the grid, on refusal nothing has changed.
  template <int W>
  bool Accept(Level& level, uint64_t* occ);

  template <int W>
  void Lift(const Level& level, uint64_t* occ);
  template <int W>
  int32_t FirstFree(const uint64_t* occ) const;
  int32_t Pattern(int32_t pos, const uint64_t* occ) const;
  // The occupancy of the kWindowBits fill positions after `pos`.
  template <int W>
  int32_t Window(int32_t pos, const uint64_t* occ) const;
  // Level 1 took `stone`: the symmetry counters start again for this first stone.
  void StartJobStone(int32_t stone);
  // False when, after placing `row`, a free cell or a stone with copies left has no
  // fitting placement any more: the subtree below holds no packing (see
  // SearchModel::CoverCheck). Only free cells left with at most one free neighbour are
  // looked at (in blocks of up to 64 cells all of them, else those next to the row); they
  // are nearly all the cells that lose their last placement, and cheap to decide. The
  // stones are looked at only in blocks of more than 64 cells.
  template <int W>
  bool Covered(int32_t row, const uint64_t* occ);
  // Blocks of up to 64 cells: whether every free cell with at most one free neighbour,
  // anywhere in the block, still lies under a placement that fits. A placement can take
  // the last chance of a cell two steps away, and the anchors leave such cells far from
  // the filled part.
  bool FewNeighbourCellsAlive();
  // Whether the witness of `list` (a cell, cellCount + a stone, or cellCount + stoneCount +
  // a symmetry position - 1) still fits, of a stone type not in `spent` (TypeBit masks).
  // Its cells and stone are kept beside it, so that this usual case reads one short array.
  template <int W>
  bool WitnessFits(int32_t list, const uint64_t* occ, uint64_t spent) const {
    const uint64_t* mask = witnessMask_.data() + static_cast<size_t>(list) * (W + 1);
    uint64_t overlap = mask[W] & spent;
    for (int32_t w = 0; w < W; ++w) overlap |= mask[w] & occ[w];
    return overlap == 0 && (stoneCount_ <= 64 || copies_[model_->CoverStone(witness_[list])] > 0);
  }
  // Once the witness of `list` fails: whether cover entries [begin, end) hold another that
  // fits, of a stone type not in `spent`, which then becomes the witness. `first` is the
  // first free fill position: placements starting before it cannot fit.
  template <int W>
  bool FindWitness(int32_t list, int32_t begin, int32_t end, int32_t first, const uint64_t* occ,
                   uint64_t spent);
  // Whether each open symmetry position after the first still lies under a placement that
  // fits, of the first stone's type or above: the only stones that may cover it.
  template <int W>
  bool SymCellsAlive(int32_t first, const uint64_t* occ);
  // Turns the table of dead states on or off for the search just set up, and empties it
  // unless the states it holds stay true for this search.
  void ChooseDeadStates();
  // The rest of a dead state's key: the spent types, the first stone from bit 52 (see
  // firstStoneKey_) and the open symmetry positions from bit 58. The positions do not
  // follow from the cells: a row claims one however many of them it covers.
  uint64_t DeadStateTypes() const {
    return spent_ | firstStoneKey_ | static_cast<uint64_t>(openSymPositions_ & 63) << 58;
  }
  // The cells of a dead state's key: the occupied cells, or with mirrors the least of
  // their images, so that a state and its mirror images share one entry.
  uint64_t DeadStateCells(uint64_t occupied) const {
    return mirrors_ ? model_->LeastImage(blockOccupied_ & model_->BlockCells()) : occupied;
  }
  // The pair of slots of a state in deadStates_.
  size_t DeadSlot(uint64_t occupied, uint64_t types) const {
    const uint64_t h = (occupied ^ (types * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
    return static_cast<size_t>(h >> (64 - kDeadStateBits));
  }
  // Copies leave and return through these, which keep spent_ in step with copies_.
  void TakeCopy(int32_t s) {
    if (--copies_[s] <= 0) spent_ |= TypeBit(s);
  }
  void ReturnCopy(int32_t s) {
    if (++copies_[s] > 0) spent_ &= ~TypeBit(s);
  }
  // Whether `row` walled in a free cell that only a one-cube stone could fill, while none
  // is left (always false unless singles_).
  bool WalledInSingle(int32_t row) const {
    if (!singles_ || (model_->SingleStones() & ~spent_) != 0) return false;
    const uint64_t free = ~blockOccupied_;
    return (free & ~model_->Grow(free) & model_->RowHalo(row)) != 0;
  }
  void ReportSolution();
  // Sets anchorTypes_ by anchorPolicy_; needs singles_.
  void ChooseAnchors(const SearchModel& m);
  // Numbers the packing given by its levels 1..depth and hands it to the observer, or
  // writes its record when its number is selected.
  void Emit(const PlacementChoice* levels, int32_t depth);
  void WriteRecord(const std::string& record);

  // At the node where the anchors are put down: starts the anchored search of its subtree
  // (the first placements are made by AtFloor), or false when no anchor has a copy left
  // or the node is searched again without anchors.
  bool EnterAnchored();
  // The search came back to floor_: its subtree is done. Returns the next mode: kDone at
  // the base, else (see the anchor below) kDescend below the next anchor placement, or
  // kAdvance once the anchored node is done and lifted.
  template <int W>
  int32_t AtFloor(uint64_t* occ);
  // Moves the anchors to their next combination of placements that fit, in the order of
  // an odometer (the last anchor fastest); false when none is left.
  bool NextAnchors(uint64_t* occ);
  // Places anchor i at its next placement after anchorEntry_[i] that fits.
  bool PlaceAnchor(int32_t i, uint64_t* occ);
  void LiftAnchor(int32_t i, uint64_t* occ);
  // The count test's sound part, which holds in any order of the levels: once `stone` is
  // placed, the `open` symmetry positions left can still all be covered by the stones of
  // the first type and above that are left.
  bool SymCellsCoverable(int32_t stone, int32_t open) const;
  // Keeps the packing now on the grid, anchors included, for FinishAnchored; false when
  // the buffer is full.
  bool CollectPacking();
  // Takes everything below the anchored node off the grid and drops what it found; the
  // node is then searched again without anchors.
  template <int W>
  void AbortAnchored(uint64_t* occ);
  // Replays packing `i` along the fill order from the anchored node, appending its
  // choices to foundChoices_; false (nothing appended) when the count test refuses it.
  bool ReplayPacking(size_t i, const uint64_t* occ);
  // Hands the anchored node's packings over in search order and leaves anchored mode;
  // false, with nothing handed over, when there is no memory to sort them.
  bool FinishAnchored(const uint64_t* occ);
  // Back to the plain search; with searchAgain the anchored node is searched once more
  // without anchors and what was found for it is dropped.
  void LeaveAnchored(bool searchAgain);

  std::shared_ptr<const SearchModel> model_;
  void (PuzzleSolver::*run_)(int64_t) = nullptr;
  UnitObserver* observer_ = nullptr;
  int32_t mode_ = kDone;
  int32_t depth_ = 0;
  int32_t baseDepth_ = 0;
  int32_t cutDepth_ = 0;
  int32_t cellCount_ = 0;
  int32_t totalStones_ = 0;
  int32_t stoneCount_ = 0;
  int32_t words_ = 1;
  int32_t firstStone_ = -1;
  // The first stone in a dead state's key, from bit 52. Only the symmetry rule and the count
  // test look at the first stone below level 1, and only where a puzzle has two symmetry
  // positions or more; with fewer it is left out, so that a state holds in every job.
  uint64_t firstStoneKey_ = 0;
  int32_t higherStonesLeft_ = 0;
  int32_t openSymPositions_ = 0;
  int32_t writeEveryNSolution_ = 0;
  bool avx2_ = false;  // the processor can test four rows at once (FittingRows)
  // The occupied cells in block order, kept with the cover check on small blocks.
  bool blocks_ = false;
  uint64_t blockOccupied_ = 0;
  // Whether walled-in single cells are looked for by masks (see Covered).
  bool singles_ = false;
  // Cover pruning (see SearchModel::CoverCheck): per list of the cover tables the entry that
  // fitted last. Backtracking only frees cells and returns copies, so a witness stays good
  // until a deeper placement takes it.
  bool cover_ = false;
  std::vector<int32_t> witness_;
  // Per list, Words() + 1 words: the cells of its witness, then its stone's bit.
  std::vector<uint64_t> witnessMask_;
  // With block masks, per block-order bit: a placement over that cell that fitted last,
  // as its cover entry, its cells in block order and its stone bit.
  struct CellWitness {
    uint64_t cells = ~uint64_t{0};  // all cells: never fits once a stone is down
    uint64_t stoneBit = 0;
    int32_t entry = -1;
  };
  CellWitness cellWitness_[64];
  // Dead states: nodes whose whole subtree was searched without a packing, as their
  // occupied cells and DeadStateTypes. A node's subtree depends on nothing else when every
  // type has at most one copy: the higher stones left follow from the types, the level
  // from their number. Meeting such a state again, by placing the same stones in another
  // order, the search skips it. Only in one-word searches without anchors (whose packings
  // are not counted as they are found) and without a cut (whose cut nodes are not
  // searched). Each pair of slots, one cache line, keeps the state put there with the
  // fewest stones down, whose subtree is the largest to skip, and the last other one (as
  // a chess program keeps positions by search depth): 16 K pairs find about as many
  // states as 32 K single slots, and keeping the shallow states cut the rows of 2x3x10 by
  // 5 % against keeping the last two. Few states come twice in a fill-order search without
  // mirrors; the anchored ones, which would need the anchors in the key, gained nothing
  // from it when it was tried.
  struct DeadState {
    uint64_t occupied = ~uint64_t{0};  // no state: all cells taken is a packing, never dead
    uint64_t types = ~uint64_t{0};     // as many stones down as there can be
    bool Is(uint64_t cells, uint64_t t) const { return occupied == cells && types == t; }
    // The stones down in the state, counted as its spent types (bits 0 to 51): the table
    // is on only when every type has at most one copy, so this is the depth plus the
    // types that never had one. Counted inline: the bit count is a library call on the
    // baseline target.
    int32_t StonesDown() const {
      uint64_t x = types & ((uint64_t{1} << 52) - 1);
      x -= (x >> 1) & 0x5555555555555555ull;
      x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
      x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
      return static_cast<int32_t>((x * 0x0101010101010101ull) >> 56);
    }
  };
  struct alignas(32) DeadPair {
    DeadState shallow;  // the fewest stones down so far
    DeadState recent;   // the last state that did not take the shallow slot
    void Insert(const DeadState& state) {
      if (state.StonesDown() <= shallow.StonesDown()) {
        recent = shallow;
        shallow = state;
      } else {
        recent = state;
      }
    }
  };
  static constexpr int32_t kDeadStateBits = 14;  // 16 K pairs, 512 KB
  // Whether the keys use the model's mirrors (see ChooseDeadStates).
  bool mirrors_ = false;
  std::vector<DeadPair> deadStates_;  // empty when off
  // The model whose states deadStates_ holds, and whether they are keyed by mirrors.
  std::weak_ptr<const SearchModel> deadModel_;
  bool deadMirrors_ = false;
  std::vector<Level> levels_;  // index = level number; 0 unused
  std::vector<uint64_t> occupied_;
  std::vector<int32_t> copies_;
  // Bit k: stone type k (below 64) has no copies left; the row scan skips its rows.
  uint64_t spent_ = 0;
  std::vector<uint8_t> preCheckAt_;  // per level: the walled-in test runs after placing
  std::vector<PlacementChoice> choices_;

  // The search ends when it backs up to floor_; a packing has goalDepth_ levels. Both are
  // baseDepth_ and totalStones_ except below an anchor.
  int32_t floor_ = 0;
  int32_t goalDepth_ = 0;
  bool countTest_ = true;

  // The anchors. Below level 1 (or below a unit's prefix), one copy of each anchor stone
  // type is put down first, in every combination of placements in turn, and the rest is
  // searched in fill order around them. Searched in fill order alone, a stone with few
  // placements is placed only when the fill order reaches it, after many partial packings
  // that leave it no room. The count test depends on the order of the levels, so below
  // the anchors only its sound part (SymCellsCoverable) prunes; every packing found is
  // replayed along its fill-order path, where the test itself is applied, and the node's
  // packings are handed over sorted into the order of the plain search. The pre-check and
  // the rule of one packing per last level refuse nothing that completes here (no
  // one-cube stones, no duplicate rows), so the packings, their order and their numbers
  // are the plain search's. Only with the walled-in test on one-word blocks and without
  // one-cube stones.
  static constexpr int32_t kMaxAnchors = 2;
  Anchors anchorPolicy_ = Anchors::kAutomatic;
  size_t maxBufferedPieces_ = kMaxBufferedPieces;
  bool plainNode_ = false;  // the node at anchorAt_ is searched again without anchors
  int32_t anchorTypes_[kMaxAnchors] = {};  // stone types with one copy each
  int32_t anchorTypeCount_ = 0;
  int32_t anchorAt_ = -1;    // the depth at which the anchors are put down, or -1
  bool anchored_ = false;    // a node's subtree is being searched around the anchors
  int32_t anchorDepth_ = 0;  // that node's depth
  // The anchors of that node (the anchor types with a copy left there), how many of them
  // are placed, and their placements: entries of the model's stone lists.
  int32_t anchors_[kMaxAnchors] = {};
  int32_t anchorCount_ = 0;
  int32_t anchorsPlaced_ = 0;
  int32_t anchorsAbove_ = 0;    // placed anchors of types above the first stone
  int32_t anchorSymCells_ = 0;  // symmetry positions 1.. that the placed anchors cover
  int32_t anchorEntry_[kMaxAnchors] = {};
  uint64_t symCells_ = 0;    // symmetry positions 1.. as fill-order bits
  int32_t symPerStone_ = 0;  // the most of them one placement covers
  // The symmetry positions 1.. that are cells, as fill positions, when the cover check
  // looks at them (types below 64 only); and the types below the first stone.
  int32_t symFillPos_[kMaxSymPositions] = {};
  int32_t symK_[kMaxSymPositions] = {};
  int32_t symCheckCount_ = 0;
  uint64_t lowerTypes_ = 0;
  int32_t stonesAbove_ = 0;  // copies of the types above the first stone
  int32_t higherTotal_ = 0;  // higherStonesLeft_ when the first stone is placed
  // The packings of the anchored node: per packing its pieces below the node, anchors
  // last, as cells and stone type; after the replay the choices of the kept ones.
  std::vector<uint64_t> foundMasks_;
  std::vector<int32_t> foundStones_;
  std::vector<PlacementChoice> foundChoices_;
  std::vector<size_t> foundOrder_;
};

}  // namespace quaderix
