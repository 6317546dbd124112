#include "solver/puzzle_solver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>

#include "solver/record_file.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quaderix {

namespace {

#if defined(__x86_64__)
// FittingRows on one-word blocks, four rows per instruction where the processor has
// AVX2 (checked once per solver); the baseline target has no 64-bit lane compare.
__attribute__((target("avx2"))) uint64_t FittingRowsAvx2(const uint64_t* masks,
                                                         const uint64_t* stones, int32_t n,
                                                         uint64_t occupied, uint64_t spent) {
  const __m256i occ = _mm256_set1_epi64x(static_cast<int64_t>(occupied));
  const __m256i gone = _mm256_set1_epi64x(static_cast<int64_t>(spent));
  const __m256i zero = _mm256_setzero_si256();
  uint64_t bits = 0;
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256i cells = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + j));
    const __m256i types = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stones + j));
    const __m256i overlap =
        _mm256_or_si256(_mm256_and_si256(cells, occ), _mm256_and_si256(types, gone));
    const int fit = _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(overlap, zero)));
    bits |= static_cast<uint64_t>(fit) << j;
  }
  for (; j < n; ++j)
    bits |= static_cast<uint64_t>(((masks[j] & occupied) | (stones[j] & spent)) == 0) << j;
  return bits;
}
#endif

}  // namespace

PuzzleSolver::PuzzleSolver(int32_t start, int32_t end, std::string puzzlePath,
                           std::string outputPath)
    : puzzleFileName(std::move(puzzlePath)),
      outputFileName(std::move(outputPath)),
      startStone(start == -1 ? 0 : start),
      endStone(end == -1 ? 0 : end) {}

PuzzleSolver::~PuzzleSolver() {
  Teardown();
}

void PuzzleSolver::Teardown() {
  model_.reset();
  std::vector<Level>().swap(levels_);
  std::vector<uint64_t>().swap(occupied_);
  std::vector<int32_t>().swap(copies_);
  std::vector<uint8_t>().swap(preCheckAt_);
  std::vector<PlacementChoice>().swap(choices_);
  std::vector<int32_t>().swap(witness_);
  std::vector<uint64_t>().swap(witnessMask_);
  std::vector<uint64_t>().swap(foundMasks_);
  std::vector<int32_t>().swap(foundStones_);
  std::vector<PlacementChoice>().swap(foundChoices_);
  std::vector<size_t>().swap(foundOrder_);
  // The table of dead states keeps its memory, and may keep its states, for the next set-up
  // (see ChooseDeadStates).
  observer_ = nullptr;
  ready = 0;
}

int PuzzleSolver::Prepare(std::shared_ptr<const SearchModel> model) {
  const SearchModel& m = *model;
  stoneCount_ = m.StoneCount();
  totalStones_ = m.TotalStones();
  cellCount_ = m.CellCount();
  words_ = m.Words();
#if defined(__x86_64__)
  avx2_ = __builtin_cpu_supports("avx2");
#endif
  // Every level covers at least its own cell, so no more than cellCount levels are ever
  // open, whatever the copies add up to.
  const int32_t maxLevels = std::max(0, std::min(totalStones_, cellCount_));
  const PuzzleParameters& p = m.Parameters();
  try {
    levels_.assign(static_cast<size_t>(maxLevels) + 2, Level{});
    choices_.assign(static_cast<size_t>(maxLevels) + 1, PlacementChoice{});
    occupied_.assign(static_cast<size_t>(words_), 0);
    copies_.assign(static_cast<size_t>(stoneCount_), 0);
    preCheckAt_.assign(static_cast<size_t>(maxLevels) + 2, 0);
  } catch (const std::bad_alloc&) {
    setupError.Set(SetupErrorCode::kOutOfMemory, "not enough memory for the search state");
    return 0;
  }
  // The bits past the last cell count as occupied, so the first free bit is always a cell.
  for (int32_t bit = cellCount_; bit < words_ * 64; ++bit)
    occupied_[bit >> 6] |= uint64_t{1} << (bit & 63);
  spent_ = 0;
  for (int32_t k = 0; k < stoneCount_; ++k) {
    copies_[k] = m.Copies(k);
    if (copies_[k] <= 0) spent_ |= TypeBit(k);
  }
  if (p.preCheckLevel == 1 || p.preCheckLevel == 2) {
    for (int32_t level = 1; level <= maxLevels; ++level)
      preCheckAt_[level] = level >= p.firstPreCheckStone && level <= p.lastPreCheckStone;
  }
  cover_ = m.CoverCheck();
  if (cover_) {
    try {
      witness_.assign(static_cast<size_t>(cellCount_ + stoneCount_ + kMaxSymPositions), -1);
      // All cells: overlaps every grid with a stone on it, so it never passes for a fit.
      witnessMask_.assign(witness_.size() * static_cast<size_t>(words_ + 1), ~uint64_t{0});
    } catch (const std::bad_alloc&) {
      setupError.Set(SetupErrorCode::kOutOfMemory, "not enough memory for the search state");
      return 0;
    }
  }
  // Positions that are no cells (or the first cell again) are left to the search.
  symCheckCount_ = 0;
  if (cover_ && stoneCount_ <= 64) {
    for (int32_t k = 1; k < m.SymPosCount(); ++k) {
      const int32_t pos = m.SymFillPos(k);
      if (pos <= 0 || m.SymCoverBegin(k) == m.SymCoverBegin(k + 1)) continue;
      symFillPos_[symCheckCount_] = pos;
      symK_[symCheckCount_++] = k;
    }
  }
  lowerTypes_ = 0;
  blocks_ = cover_ && m.HasBlockMasks();
  std::fill(std::begin(cellWitness_), std::end(cellWitness_), CellWitness{});
  singles_ = blocks_ && m.SinglesKnown();
  blockOccupied_ = blocks_ ? ~m.BlockCells() : 0;
  ChooseAnchors(m);
  anchorAt_ = anchorTypeCount_ > 0 ? 1 : -1;
  anchored_ = plainNode_ = false;
  if (anchorTypeCount_ > 0) {
    symCells_ = 0;
    for (int32_t k = 1; k < m.SymPosCount(); ++k)
      if (m.SymFillPos(k) >= 0) symCells_ |= uint64_t{1} << m.SymFillPos(k);
    symPerStone_ = 0;
    for (int32_t e = m.StoneBegin(0); e < m.StoneBegin(stoneCount_); ++e)
      symPerStone_ = std::max(symPerStone_, std::popcount(m.CoverMask(e)[0] & symCells_));
  }
  goalDepth_ = totalStones_;
  countTest_ = true;
  floor_ = 0;
  firstStone_ = -1;
  firstStoneKey_ = 0;
  higherStonesLeft_ = totalStones_;
  openSymPositions_ = m.SymPosCount() - 1;
  depth_ = 0;
  baseDepth_ = 0;
  cutDepth_ = 0;
  switch (m.HasRowMasks() ? words_ : 0) {
    case 1:
      run_ = &PuzzleSolver::Run<1>;
      break;
    case 2:
      run_ = &PuzzleSolver::Run<2>;
      break;
    case 3:
      run_ = &PuzzleSolver::Run<3>;
      break;
    case 4:
      run_ = &PuzzleSolver::Run<4>;
      break;
    case 5:
      run_ = &PuzzleSolver::Run<5>;
      break;
    case 6:
      run_ = &PuzzleSolver::Run<6>;
      break;
    case 7:
      run_ = &PuzzleSolver::Run<7>;
      break;
    case 8:
      run_ = &PuzzleSolver::Run<8>;
      break;
    default:
      run_ = &PuzzleSolver::Run<0>;
      break;
  }
  model_ = std::move(model);
  solutionCount.store(0, std::memory_order_relaxed);
  nodeCount.store(0, std::memory_order_relaxed);
  return 1;
}

void PuzzleSolver::ChooseAnchors(const SearchModel& m) {
  anchorTypeCount_ = 0;
  if (anchorPolicy_ == Anchors::kNone || !singles_ || m.SingleStones() != 0 || words_ != 1) return;
  // How far the fill order reaches ahead to a cell's later neighbour: in a block this
  // narrow the fill order meets every stone soon, and anchors only repeat the search.
  int32_t reach = 0;
  for (int32_t pos = 0; pos < cellCount_; ++pos)
    for (int32_t b = 0; b < 6; ++b) reach = std::max(reach, m.NeighbourPos(pos, b) - pos);
  const bool automatic = anchorPolicy_ == Anchors::kAutomatic;
  if (automatic && reach < kMinAnchorReach) return;
  // The types of one copy with the fewest placements; automatically only those with at
  // most one placement per cell, which few other stones have.
  std::pair<int32_t, int32_t> eligible[kMaxAnchors + 1];  // (placements, type), sorted
  for (int32_t k = 0; k < stoneCount_; ++k) {
    const int32_t placements = m.StoneBegin(k + 1) - m.StoneBegin(k);
    if (m.Copies(k) != 1 || (automatic && placements > cellCount_)) continue;
    int32_t at = anchorTypeCount_;
    for (; at > 0 && placements < eligible[at - 1].first; --at) eligible[at] = eligible[at - 1];
    eligible[at] = {placements, k};
    anchorTypeCount_ = std::min(anchorTypeCount_ + 1, kMaxAnchors);
  }
  for (int32_t i = 0; i < anchorTypeCount_; ++i) anchorTypes_[i] = eligible[i].second;
}

int PuzzleSolver::Setup(int32_t start, int32_t end, const std::string& puzzlePath,
                        const std::string& outputPath) {
  // The arguments may alias our own fields (the worker passes them), so copy first.
  const std::string puzzle = puzzlePath;
  const std::string output = outputPath;
  Teardown();
  puzzleFileName = puzzle;
  outputFileName = output;
  setupError.Clear();
  finished = 0;
  solutionCount.store(0, std::memory_order_relaxed);
  nodeCount.store(0, std::memory_order_relaxed);
  outputFailures.store(0, std::memory_order_relaxed);

  std::shared_ptr<const SearchModel> model =
      SearchModel::Build(puzzle, !output.empty(), &setupError);
  if (!model) return 0;
  const int32_t stoneCount = model->StoneCount();
  const int32_t bound = model->LastStartStone();
  // A first stone beyond the puzzle's stones leaves the job empty; it does not wrap to 0.
  startStone = start < 0 ? 0 : start;
  endStone = (end >= 0 && end < stoneCount) ? std::min(end, bound) : bound;

  writeEveryNSolution_ = model->WriteEveryNSolution();
  if (writeEveryNSolution_ > 0) {
    // Each set-up starts a fresh file; a file that cannot be made is noted, not fatal.
    const int fd = open(outputFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
    } else {
      outputFailures.fetch_add(1, std::memory_order_relaxed);
    }
  }
  if (!Prepare(std::move(model))) return 0;
  ChooseDeadStates();
  const bool empty = startStone >= stoneCount || startStone > endStone || totalStones_ <= 0;
  mode_ = empty ? kDone : kDescend;
  finished = empty ? 1 : 0;
  ready = 1;
  return 1;
}

int PuzzleSolver::SetupUnit(std::shared_ptr<const SearchModel> model, const WorkUnit& unit,
                            int32_t cutDepth, UnitObserver* observer) {
  Teardown();
  setupError.Clear();
  finished = 0;
  outputFailures.store(0, std::memory_order_relaxed);
  if (!model) {
    setupError.Set(SetupErrorCode::kBadValue, "no search model");
    return 0;
  }
  if (!Prepare(std::move(model))) return 0;
  const SearchModel& m = *model_;
  observer_ = observer;
  writeEveryNSolution_ = 0;
  startStone = endStone = unit.job;
  const int32_t prefixLength = static_cast<int32_t>(unit.prefix.size());
  cutDepth_ = cutDepth > prefixLength ? cutDepth : 0;

  // Replay the prefix through the same placing logic as the search, so that every counter
  // stands as the search would have left it on reaching this node.
  bool valid = unit.job >= 0 && unit.job < stoneCount_ && unit.job <= m.LastStartStone() &&
               totalStones_ > 0 && prefixLength <= static_cast<int32_t>(levels_.size()) - 2;
  uint64_t* occ = occupied_.data();
  for (int32_t d = 1; valid && d <= prefixLength; ++d) {
    const PlacementChoice& c = unit.prefix[d - 1];
    const int32_t pos = depth_ == totalStones_ ? cellCount_ : FirstFree<0>(occ);
    if (pos >= cellCount_) {
      valid = false;
      break;
    }
    const CandidateRange* lists = m.Candidates(pos, Pattern(pos, occ));
    const int32_t s = c.stone;
    if (lists == nullptr || s < 0 || s >= stoneCount_ || (d == 1 && s != unit.job) ||
        copies_[s] <= 0 || c.placement < 0 || c.placement >= lists[s].count) {
      valid = false;
      break;
    }
    depth_ = d;
    Level& level = levels_[d];
    level = Level{};
    level.lists = lists;
    level.pos = pos;
    level.stone = s;
    level.row = lists[s].begin + c.placement;
    if (d == 1) StartJobStone(s);
    TakeCopy(s);
    valid = TryPlace<0>(level, occ);
  }
  baseDepth_ = depth_ = valid ? prefixLength : 0;
  floor_ = baseDepth_;
  // A search that cuts the job into units reports its nodes in plain order, unanchored.
  anchorAt_ = anchorTypeCount_ > 0 && cutDepth_ == 0 ? std::max(1, baseDepth_) : -1;
  ChooseDeadStates();
  mode_ = valid ? kDescend : kDone;
  finished = valid ? 0 : 1;
  ready = 1;
  return 1;
}

void PuzzleSolver::ChooseDeadStates() {
  const SearchModel& m = *model_;
  bool on = words_ == 1 && m.HasRowMasks() && stoneCount_ <= 52 && anchorAt_ < 0 && cutDepth_ == 0;
  for (int32_t k = 0; k < stoneCount_ && on; ++k) on = m.Copies(k) <= 1;
  // A mirror image of a dead state is dead as well when nothing but the free cells and the
  // stones left decides what the subtree holds. Symmetry positions do not move with the
  // image, and the pre-check refuses by the order of the levels once one-cube stones may
  // fill a walled-in cell.
  const bool preCheck = std::find(preCheckAt_.begin(), preCheckAt_.end(), 1) != preCheckAt_.end();
  const bool exactPreCheck = !preCheck || (m.SinglesKnown() && m.SingleStones() == 0);
  mirrors_ = on && blocks_ && m.SymPosCount() <= 1 && exactPreCheck && m.MirrorCount() > 0;
  try {
    if (on) {
      // A worker sets its solver up once per unit or job, on one model. Without the first
      // stone in the key (see firstStoneKey_) the states found so far hold for the next
      // unit or job of the same model, keyed alike, and are kept: on 2x3x10 the later jobs
      // meet the states of the earlier ones. Otherwise the table is emptied in place, which
      // costs a fraction of fresh pages; the states of other jobs would only take up slots.
      // The weak pointer holds the model's control block, so no later model can pass for it.
      const size_t pairs = size_t{1} << kDeadStateBits;
      const bool sameModel = !deadModel_.owner_before(model_) && !model_.owner_before(deadModel_);
      const bool keep = m.SymPosCount() <= 1 && sameModel && deadMirrors_ == mirrors_ &&
                        deadStates_.size() == pairs;
      if (!keep) deadStates_.assign(pairs, DeadPair{});
      deadModel_ = model_;
      deadMirrors_ = mirrors_;
      return;
    }
  } catch (const std::bad_alloc&) {
    // Only a speed-up: search without it.
  }
  std::vector<DeadPair>().swap(deadStates_);
  deadModel_.reset();
}

int PuzzleSolver::Step() {
  if (!ready) return 1;
  if (mode_ != kDone) (this->*run_)(kStepPlacements);
  if (mode_ == kDone) finished = 1;
  return 0;
}

template <int W>
int32_t PuzzleSolver::FirstFree(const uint64_t* occ) const {
  const int32_t n = W > 0 ? W : words_;
  for (int32_t w = 0; w < n; ++w) {
    const uint64_t free = ~occ[w];
    if (free != 0) return w * 64 + __builtin_ctzll(free);
  }
  return cellCount_;
}

template <int W>
int32_t PuzzleSolver::Window(int32_t pos, const uint64_t* occ) const {
  const int32_t n = W > 0 ? W : words_;
  const int32_t bit = pos + 1;
  const int32_t w = bit >> 6;
  const int32_t shift = bit & 63;
  if (w >= n) return SearchModel::kWindowValues - 1;
  uint64_t bits = occ[w] >> shift;
  // Past the last word every cell counts as occupied, like the padding bits.
  if (shift > 64 - SearchModel::kWindowBits)
    bits |= (w + 1 < n ? occ[w + 1] : ~uint64_t{0}) << (64 - shift);
  return static_cast<int32_t>(bits & (SearchModel::kWindowValues - 1));
}

[[gnu::always_inline]] inline int32_t PuzzleSolver::Pattern(int32_t pos,
                                                            const uint64_t* occ) const {
  // Holes, frame and earlier cells are occupied whenever pos is the first free cell; only
  // the later neighbours are looked up.
  const SearchModel& m = *model_;
  const SearchModel::LaterNeighbours& later = m.Later(pos);
  int32_t bits = later.fixedBits;
  for (int32_t j = 0; j < later.count; ++j) {
    const int32_t np = later.pos[j];
    bits |= static_cast<int32_t>(occ[np >> 6] >> (np & 63) & 1) << later.bit[j];
  }
  return bits;
}

void PuzzleSolver::StartJobStone(int32_t stone) {
  firstStone_ = stone;
  firstStoneKey_ = model_->SymPosCount() > 1 ? static_cast<uint64_t>(stone) << 52 : 0;
  lowerTypes_ = stone >= 64 ? ~uint64_t{0} : (uint64_t{1} << stone) - 1;
  // TotalStones less one copy of every type up to the first stone, counting only types
  // that have copies: the stones of higher types that can still reach the positions.
  higherStonesLeft_ = totalStones_ - model_->TypesWithCopiesUpTo(stone);
  openSymPositions_ = model_->SymPosCount() - 1;
  higherTotal_ = higherStonesLeft_;
  stonesAbove_ = 0;
  for (int32_t k = stone + 1; k < stoneCount_; ++k) stonesAbove_ += std::max(0, model_->Copies(k));
}

template <int W>
bool PuzzleSolver::FindWitness(int32_t list, int32_t begin, int32_t end, int32_t first,
                               const uint64_t* occ, uint64_t spent) {
  const SearchModel& m = *model_;
  uint64_t* witnessMask = witnessMask_.data() + static_cast<size_t>(list) * (W + 1);
  // From the end: the placements farthest from the filled part, which stay free longest.
  const uint64_t* masks = m.CoverMasks();
  const uint64_t* stoneBits = m.CoverStoneBits();
  const int32_t* firsts = m.CoverFirsts();
  for (int32_t e = end - 1; e >= begin && firsts[e] >= first; --e) {
    uint64_t over = stoneBits[e] & spent;
    for (int32_t w = 0; w < W; ++w) over |= masks[static_cast<size_t>(e) * W + w] & occ[w];
    if (over == 0 && (stoneCount_ <= 64 || copies_[m.CoverStone(e)] > 0)) {
      witness_[list] = e;
      std::copy_n(masks + static_cast<size_t>(e) * W, W, witnessMask);
      witnessMask[W] = stoneBits[e];
      return true;
    }
  }
  return false;
}

// Covered, the checks it makes, Accept and Lift run once or more per placement; inlined
// into Run they skip the saving and restoring of registers around each call, which took
// 8 % of the instructions.
template <int W>
[[gnu::always_inline]] inline bool PuzzleSolver::Covered(int32_t row, const uint64_t* occ) {
  if constexpr (W > 0) {
    const SearchModel& m = *model_;
    const int32_t first = FirstFree<W>(occ);
    if (blocks_) {
      if (!FewNeighbourCellsAlive()) return false;
    } else {
      // The free cells next to the new stone that are left with at most one free neighbour
      // are the ones it most likely cut off; their lists are short.
      auto cellAlive = [&](int32_t pos, int32_t pattern) {
        return WitnessFits<W>(pos, occ, spent_) ||
               FindWitness<W>(pos, m.CoverBegin(pos, pattern), m.CoverBegin(pos, pattern + 1),
                              first, occ, spent_);
      };
      const uint64_t* halo = m.RowHaloMask(row);
      for (int32_t w = 0; w < W; ++w)
        for (uint64_t cells = halo[w] & ~occ[w]; cells != 0; cells &= cells - 1) {
          const int32_t pos = w * 64 + __builtin_ctzll(cells);
          int32_t pattern = 0;
          for (int32_t b = 0; b < 6; ++b) {
            const int32_t np = m.NeighbourPos(pos, b);
            if (np >= 0 && (occ[np >> 6] >> (np & 63) & 1) == 0) pattern |= 1 << b;
          }
          if ((pattern & (pattern - 1)) == 0 && !cellAlive(pos, pattern)) return false;
        }
    }
    if (firstStone_ * kBarredShare >= stoneCount_ && !SymCellsAlive<W>(first, occ)) return false;
    // With every few-neighbour cell of the block checked, a stone that fits nowhere any more
    // has nearly always cut off such a cell as well: on the pentomino boxes and the built-in
    // puzzle the stone check refused about 1 % of the placements and cost 5 to 10 % of the
    // time.
    if (blocks_) return true;
    auto stoneAlive = [&](int32_t k) {
      // The witness is a placement of k itself, which has copies: only the cells count.
      const uint64_t* mask = witnessMask_.data() + static_cast<size_t>(cellCount_ + k) * (W + 1);
      uint64_t overlap = 0;
      for (int32_t w = 0; w < W; ++w) overlap |= mask[w] & occ[w];
      return overlap == 0 || FindWitness<W>(cellCount_ + k, m.StoneBegin(k), m.StoneBegin(k + 1),
                                            first, occ, spent_);
    };
    if (stoneCount_ <= 64) {
      // Only the types with copies left, straight from the spent mask.
      const uint64_t types = stoneCount_ == 64 ? ~uint64_t{0} : (uint64_t{1} << stoneCount_) - 1;
      for (uint64_t left = types & ~spent_; left != 0; left &= left - 1)
        if (!stoneAlive(__builtin_ctzll(left))) return false;
    } else {
      for (int32_t k = 0; k < stoneCount_; ++k)
        if (copies_[k] > 0 && !stoneAlive(k)) return false;
    }
  }
  return true;
}

template <int W>
[[gnu::always_inline]] inline bool PuzzleSolver::SymCellsAlive(int32_t first, const uint64_t* occ) {
  const SearchModel& m = *model_;
  const uint64_t barred = spent_ | lowerTypes_;
  for (int32_t i = 0; i < symCheckCount_; ++i) {
    const int32_t pos = symFillPos_[i];
    if ((occ[pos >> 6] >> (pos & 63) & 1) != 0) continue;
    const int32_t k = symK_[i];
    const int32_t list = cellCount_ + stoneCount_ + k - 1;
    if (!WitnessFits<W>(list, occ, barred) &&
        !FindWitness<W>(list, m.SymCoverBegin(k), m.SymCoverBegin(k + 1), first, occ, barred))
      return false;
  }
  return true;
}

[[gnu::always_inline]] inline bool PuzzleSolver::FewNeighbourCellsAlive() {
  const SearchModel& m = *model_;
  const uint64_t occupied = blockOccupied_;
  const uint64_t free = ~occupied;
  const uint64_t spent = spent_;
  const uint64_t* blocks = m.CoverBlocks();
  const uint64_t* stoneBits = m.CoverStoneBits();
  // Types from 64 on have no bit in the spent mask.
  auto fits = [&](uint64_t cells, uint64_t stoneBit, int32_t e) {
    return ((cells & occupied) | (stoneBit & spent)) == 0 &&
           (stoneCount_ <= 64 || copies_[m.CoverStone(e)] > 0);
  };
  uint64_t isolated = 0;
  uint64_t need = m.FewNeighbours(free, &isolated);
  // A free cell walled in on all sides, most often by the new stone: without a one-cube
  // stone left nothing can fill it, and no list need be searched to know.
  if (isolated != 0 && singles_ && (m.SingleStones() & ~spent) == 0) return false;
  while (need != 0) {
    const int32_t bit = __builtin_ctzll(need);
    CellWitness& witness = cellWitness_[bit];
    if (!fits(witness.cells, witness.stoneBit, witness.entry)) {
      // Look for a new one among the placements that use no occupied neighbour, from
      // the end: those farthest from the filled part stay free longest.
      const uint64_t neighbours = m.BlockNeighbours(bit) & free;
      const int32_t pattern = neighbours == 0 ? 0 : m.PatternBit(bit, __builtin_ctzll(neighbours));
      const int32_t pos = m.PosOfBit(bit);
      const int32_t begin = m.CoverBegin(pos, pattern);
      int32_t e = m.CoverBegin(pos, pattern + 1) - 1;
      // A placement that starts before the first free cell covers an occupied one, so the
      // fit test alone ends the scan. The usual case, all types in the spent mask, as a
      // tight loop: the lambda's test of the type count kept the compiler from one.
      if (stoneCount_ <= 64) {
        while (e >= begin && ((blocks[e] & occupied) | (stoneBits[e] & spent)) != 0) --e;
      } else {
        while (e >= begin && !fits(blocks[e], stoneBits[e], e)) --e;
      }
      if (e < begin) return false;
      witness = {blocks[e], stoneBits[e], e};
    }
    // The witness's other free cells are covered as well.
    need &= ~witness.cells;
  }
  return true;
}

template <int W>
bool PuzzleSolver::TryPlace(Level& level, uint64_t* occ) {
  return Fits<W>(level.row, level.stone, occ) && Accept<W>(level, occ);
}

template <int W>
bool PuzzleSolver::Fits(int32_t row, int32_t stone, const uint64_t* occ) const {
  const SearchModel& m = *model_;
  if constexpr (W > 0) {
    const uint64_t* mask = m.RowMask(row);
    for (int32_t w = 0; w < W; ++w)
      if ((mask[w] & occ[w]) != 0) return false;
  } else {
    const int32_t* cells = m.RowCells(row);
    const int32_t n = m.StoneCubes(stone);
    for (int32_t j = 0; j < n; ++j)
      if ((occ[cells[j] >> 6] >> (cells[j] & 63) & 1) != 0) return false;
  }
  return true;
}

template <int W>
[[gnu::always_inline]] inline bool PuzzleSolver::Accept(Level& level, uint64_t* occ) {
  const SearchModel& m = *model_;
  const int32_t row = level.row;
  const int32_t s = level.stone;
  const uint8_t claims = m.RowClaims(row);
  // A lower stone on another symmetry position is a rotated copy of a packing that the job
  // of that lower stone finds.
  if (claims != 0 && s < firstStone_) return false;
  if (!countTest_ && symCells_ != 0) {
    // With at most one position per placement every claim covers one: the count of open
    // positions needs no bit count (which is a library call on the baseline target).
    const int32_t open = symPerStone_ <= 1
                             ? openSymPositions_ - claims - anchorSymCells_
                             : std::popcount(symCells_ & ~(occ[0] | m.RowMask(row)[0]));
    if (!SymCellsCoverable(s, open)) return false;
  }
  openSymPositions_ -= claims;
  const bool higher = s > firstStone_;
  if (higher) {
    // Too few higher stones left for the positions still open: every completion would put
    // a lower stone on one of them.
    if (countTest_ && higherStonesLeft_ < openSymPositions_) {
      openSymPositions_ += claims;
      return false;
    }
    --higherStonesLeft_;
  }
  level.claimed = claims;
  level.higher = higher ? 1 : 0;
  if constexpr (W == 1) {
    level.occBefore = occ[0];
    level.blockBefore = blockOccupied_;
  }
  if constexpr (W > 0) {
    const uint64_t* mask = m.RowMask(row);
    for (int32_t w = 0; w < W; ++w) occ[w] |= mask[w];
  } else {
    const int32_t* cells = m.RowCells(row);
    const int32_t n = m.StoneCubes(s);
    for (int32_t j = 0; j < n; ++j) occ[cells[j] >> 6] |= uint64_t{1} << (cells[j] & 63);
  }
  if (blocks_) blockOccupied_ |= m.RowBlockMask(row);
  if (preCheckAt_[depth_]) {
    // A walled-in next cell can never be covered.
    const int32_t next = FirstFree<W>(occ);
    if (next < cellCount_) {
      const uint64_t* around = m.NeighbourMask(next);
      const int32_t n = W > 0 ? W : words_;
      bool open = false;
      for (int32_t w = 0; w < n && !open; ++w) open = (around[w] & ~occ[w]) != 0;
      if (!open) {
        Lift<W>(level, occ);
        TakeCopy(s);
        return false;
      }
    }
  }
  return true;
}

template <int W>
[[gnu::always_inline]] inline void PuzzleSolver::Lift(const Level& level, uint64_t* occ) {
  const SearchModel& m = *model_;
  if constexpr (W == 1) {
    occ[0] = level.occBefore;
    blockOccupied_ = level.blockBefore;
  } else if constexpr (W > 0) {
    const uint64_t* mask = m.RowMask(level.row);
    for (int32_t w = 0; w < W; ++w) occ[w] &= ~mask[w];
  } else {
    const int32_t* cells = m.RowCells(level.row);
    const int32_t n = m.StoneCubes(level.stone);
    for (int32_t j = 0; j < n; ++j) occ[cells[j] >> 6] &= ~(uint64_t{1} << (cells[j] & 63));
  }
  if (W != 1 && blocks_) blockOccupied_ &= ~m.RowBlockMask(level.row);
  openSymPositions_ += level.claimed;
  higherStonesLeft_ += level.higher;
  ReturnCopy(level.stone);
}

template <int W>
uint64_t PuzzleSolver::FittingRows(int64_t begin, int32_t n, const uint64_t* occ) const {
  const uint64_t* masks = model_->WindowMasks() + begin * W;
  const uint64_t* stones = model_->WindowStones() + begin;
  const uint64_t spent = spent_;
#if defined(__x86_64__)
  if constexpr (W == 1) {
    if (avx2_) return FittingRowsAvx2(masks, stones, n, occ[0], spent);
  }
#endif
  uint64_t bits = 0;
  for (int32_t j = 0; j < n; ++j) {
    uint64_t overlap = stones[j] & spent;
    for (int32_t w = 0; w < W; ++w) overlap |= masks[j * W + w] & occ[w];
    bits |= static_cast<uint64_t>(overlap == 0) << j;
  }
  return bits;
}

template <int W>
void PuzzleSolver::Run(int64_t budget) {
  const SearchModel& m = *model_;
  uint64_t local[W > 0 ? W : 1];
  uint64_t* occ = occupied_.data();
  if constexpr (W > 0) {
    std::copy(occupied_.begin(), occupied_.end(), local);
    occ = local;
  }
  const int32_t* rowStone = m.RowStones();
  const int32_t* windowRows = m.WindowRows();
  int64_t tried = 0;
  int32_t mode = mode_;
  while (tried < budget) {
    if (mode == kDescend) {
      // Levels 1..depth_ are on the grid.
      if (depth_ == goalDepth_) {
        if (anchored_ && !CollectPacking()) {
          // Too many packings below this node to keep: search it again without anchors.
          AbortAnchored<W>(occ);
          continue;
        }
        if (!anchored_) ReportSolution();
        if (depth_ == floor_) {
          mode = AtFloor<W>(occ);
          break;
        }
        // The other rows and stones of the last level are not tried after a packing: the
        // search goes on with the next alternative of the level below.
        Lift<W>(levels_[depth_], occ);
        --depth_;
        if (depth_ == floor_) {
          mode = AtFloor<W>(occ);
        } else {
          Lift<W>(levels_[depth_], occ);
          mode = kAdvance;
        }
        break;  // one packing per step at most
      }
      if (depth_ == anchorAt_ && !anchored_ && EnterAnchored()) {
        mode = AtFloor<W>(occ);
        if (mode == kDone) break;
        continue;
      }
      int32_t pos = cellCount_;
      if (depth_ == cutDepth_ && depth_ > baseDepth_) {
        for (int32_t d = 1; d <= depth_; ++d) {
          const Level& l = levels_[d];
          choices_[d - 1] = {l.stone, l.row - l.lists[l.stone].begin};
        }
        observer_->OnCut(choices_.data(), depth_);
      } else {
        pos = FirstFree<W>(occ);
      }
      if (pos >= cellCount_) {
        // No cell left or a cut: this node is done.
        if (depth_ == floor_) {
          mode = AtFloor<W>(occ);
          if (mode == kDone) break;
          continue;
        }
        Lift<W>(levels_[depth_], occ);
        mode = kAdvance;
        continue;
      }
      const int32_t group = m.Group(pos, Pattern(pos, occ));
      assert(group >= 0);
      const CandidateRange* lists = m.GroupRanges(group);
      const int32_t window = Window<W>(pos, occ);
      // The rows of all stones lie in stone order, each stone's in its list's order: one
      // scan over them tries the stones in ascending order. Level 1 takes only the job's
      // stones.
      const int32_t first = depth_ == 0 ? startStone : 0;
      const int32_t last = depth_ == 0 ? endStone : stoneCount_ - 1;
      ++depth_;
      Level& opened = levels_[depth_];
      opened.lists = lists;
      opened.pos = pos;
      opened.stone = -1;
      opened.lo = lists[first].begin;
      opened.hi = lists[last].begin + lists[last].count;
      opened.index = m.WindowBegin(group, window) - 1;
      opened.indexEnd = m.WindowBegin(group, window + 1);
      opened.next = opened.index + 1;
      opened.pending = 0;
      opened.solutionsAtOpen = solutionCount.load(std::memory_order_relaxed);
      mode = kAdvance;
    }
    // Advance the top level to its next acceptable row, dropping exhausted levels.
    Level& level = levels_[depth_];
    const int64_t indexEnd = level.indexEnd;
    int64_t index = indexEnd;  // the row taken next, or indexEnd once the level is exhausted
    if constexpr (W > 0) {
      // Most rows overlap the stones already placed or belong to a stone with no copies
      // left. They are tested 64 at a time without a branch per row; the level keeps the
      // fitting ones of its current chunk as bits and takes them in order.
      for (;;) {
        while (level.pending == 0 && level.next < indexEnd) {
          const int64_t begin = level.next;
          const int32_t n = static_cast<int32_t>(std::min<int64_t>(64, indexEnd - begin));
          level.pending = FittingRows<W>(begin, n, occ);
          level.chunk = begin;
          level.next = begin + n;
          tried += n;
        }
        if (level.pending == 0) break;
        const int64_t i = level.chunk + __builtin_ctzll(level.pending);
        level.pending &= level.pending - 1;
        const int32_t r = windowRows[i];
        // Types from 64 on have no bit in the spent mask. Level 1 takes only the job's stones.
        if ((stoneCount_ <= 64 || copies_[rowStone[r]] > 0) && r >= level.lo && r < level.hi) {
          index = i;
          break;
        }
      }
    } else {
      index = level.index + 1;
      for (;;) {
        while (index < indexEnd && !Fits<W>(windowRows[index], rowStone[windowRows[index]], occ))
          ++index;
        if (index >= indexEnd) break;
        const int32_t r = windowRows[index];
        if (copies_[rowStone[r]] > 0 && r >= level.lo && r < level.hi) break;
        ++index;  // a stone with no copies left, or outside the job's stones
      }
      tried += index - level.index;
      level.index = index;
    }
    if (index < indexEnd) {
      const int32_t row = windowRows[index];
      level.row = row;
      const int32_t s = rowStone[row];
      level.stone = s;
      if (depth_ == 1 && s != firstStone_) StartJobStone(s);
      TakeCopy(s);
      if (Accept<W>(level, occ)) {
        // With one stone left the search itself ends sooner than the check.
        bool dead = cover_ && (depth_ <= goalDepth_ - kMinStonesToCheck ? !Covered<W>(row, occ)
                                                                        : WalledInSingle(row));
        if constexpr (W == 1) {
          if (!dead && !deadStates_.empty() && depth_ < goalDepth_) {
            const uint64_t types = DeadStateTypes();
            const uint64_t cells = DeadStateCells(occ[0]);
            const DeadPair& known = deadStates_[DeadSlot(cells, types)];
            dead = known.shallow.Is(cells, types) || known.recent.Is(cells, types);
            level.deadCells = cells;
            level.deadTypes = types;
          }
        }
        if (dead) {
          Lift<W>(level, occ);
        } else {
          mode = kDescend;
        }
      } else {
        ReturnCopy(s);
      }
      continue;
    }
    --depth_;
    if (depth_ == floor_) {
      mode = AtFloor<W>(occ);
      if (mode == kDone) break;
      continue;
    }
    if constexpr (W == 1) {
      // The node below the exhausted level is done; without a packing it is a dead state.
      if (!deadStates_.empty() &&
          level.solutionsAtOpen == solutionCount.load(std::memory_order_relaxed)) {
        const uint64_t cells = levels_[depth_].deadCells;
        const uint64_t types = levels_[depth_].deadTypes;
        assert(cells == DeadStateCells(occ[0]) && types == DeadStateTypes());
        deadStates_[DeadSlot(cells, types)].Insert({cells, types});
      }
    }
    Lift<W>(levels_[depth_], occ);
  }
  mode_ = mode;
  if constexpr (W > 0) std::copy(local, local + W, occupied_.begin());
  nodeCount.store(nodeCount.load(std::memory_order_relaxed) + static_cast<uint64_t>(tried),
                  std::memory_order_relaxed);
}

void PuzzleSolver::ReportSolution() {
  const uint64_t n = solutionCount.load(std::memory_order_relaxed) + 1;
  if (observer_ == nullptr && !SelectedForOutput(n, writeEveryNSolution_)) {
    solutionCount.store(n, std::memory_order_relaxed);
    return;
  }
  for (int32_t d = 1; d <= depth_; ++d) {
    const Level& l = levels_[d];
    choices_[d - 1] = {l.stone, l.row - l.lists[l.stone].begin};
  }
  Emit(choices_.data(), depth_);
}

void PuzzleSolver::Emit(const PlacementChoice* levels, int32_t depth) {
  const uint64_t n = solutionCount.load(std::memory_order_relaxed) + 1;
  solutionCount.store(n, std::memory_order_relaxed);
  if (observer_ != nullptr) {
    observer_->OnSolution(levels, depth);
  } else if (SelectedForOutput(n, writeEveryNSolution_)) {
    WriteRecord(model_->FormatRecord(n, levels, depth));
  }
}

bool PuzzleSolver::EnterAnchored() {
  // The anchor types with a copy left here, unless the node is searched again.
  anchorCount_ = 0;
  for (int32_t i = 0; i < anchorTypeCount_ && !plainNode_; ++i)
    if (copies_[anchorTypes_[i]] > 0) anchors_[anchorCount_++] = anchorTypes_[i];
  plainNode_ = false;
  if (anchorCount_ == 0) return false;
  anchored_ = true;
  anchorDepth_ = floor_ = depth_;
  goalDepth_ = totalStones_ - anchorCount_;
  countTest_ = false;
  anchorsPlaced_ = anchorsAbove_ = anchorSymCells_ = 0;
  anchorEntry_[0] = model_->StoneBegin(anchors_[0]) - 1;
  foundMasks_.clear();
  foundStones_.clear();
  return true;
}

template <int W>
int32_t PuzzleSolver::AtFloor(uint64_t* occ) {
  if (!anchored_) return kDone;
  if (NextAnchors(occ)) return kDescend;
  // Without the memory to sort, the node is searched again without anchors.
  if (!FinishAnchored(occ)) return kDescend;
  if (depth_ == baseDepth_) return kDone;
  Lift<W>(levels_[depth_], occ);
  return kAdvance;
}

bool PuzzleSolver::NextAnchors(uint64_t* occ) {
  int32_t i = anchorsPlaced_;
  if (i == anchorCount_) {
    // All are placed and their subtree is done: the last one moves on.
    --i;
    LiftAnchor(i, occ);
  }
  for (;;) {
    if (PlaceAnchor(i, occ)) {
      if (++i == anchorCount_) return true;
      anchorEntry_[i] = model_->StoneBegin(anchors_[i]) - 1;
      continue;
    }
    if (i == 0) return false;
    LiftAnchor(--i, occ);
  }
}

bool PuzzleSolver::PlaceAnchor(int32_t i, uint64_t* occ) {
  const SearchModel& m = *model_;
  const int32_t s = anchors_[i];
  const int32_t end = m.StoneBegin(s + 1);
  while (++anchorEntry_[i] < end) {
    const uint64_t cells = m.CoverMask(anchorEntry_[i])[0];
    if ((cells & occ[0]) != 0) continue;
    // The same rule as for a row: a lower stone on another symmetry position.
    if ((cells & symCells_) != 0 && s < firstStone_) continue;
    const uint64_t block = m.CoverBlocks()[anchorEntry_[i]];
    // A cell the anchor walls in can never be covered.
    const uint64_t free = ~(blockOccupied_ | block);
    if ((free & ~m.Grow(free)) != 0) continue;
    const int32_t sym = std::popcount(cells & symCells_);
    if (symCells_ != 0 && !SymCellsCoverable(s, std::popcount(symCells_ & ~(occ[0] | cells))))
      continue;
    occ[0] |= cells;
    blockOccupied_ |= block;
    TakeCopy(s);
    anchorsAbove_ += s > firstStone_ ? 1 : 0;
    anchorSymCells_ += sym;
    ++anchorsPlaced_;
    return true;
  }
  return false;
}

bool PuzzleSolver::SymCellsCoverable(int32_t stone, int32_t open) const {
  // Stones of the first type and above left once `stone` is placed (a row's copy is taken
  // already, an anchor's not yet): no lower stone may cover a symmetry position.
  const int32_t left = copies_[firstStone_] + stonesAbove_ - (higherTotal_ - higherStonesLeft_) -
                       anchorsAbove_ - (stone > firstStone_ ? 1 : 0);
  return open <= symPerStone_ * left;
}

void PuzzleSolver::LiftAnchor(int32_t i, uint64_t* occ) {
  const int32_t s = anchors_[i];
  occ[0] &= ~model_->CoverMask(anchorEntry_[i])[0];
  blockOccupied_ &= ~model_->CoverBlocks()[anchorEntry_[i]];
  ReturnCopy(s);
  anchorsAbove_ -= s > firstStone_ ? 1 : 0;
  anchorSymCells_ -= std::popcount(model_->CoverMask(anchorEntry_[i])[0] & symCells_);
  --anchorsPlaced_;
}

bool PuzzleSolver::CollectPacking() {
  const SearchModel& m = *model_;
  const size_t pieces = static_cast<size_t>(totalStones_ - anchorDepth_);
  if (foundStones_.size() + pieces > maxBufferedPieces_) return false;
  try {
    for (int32_t d = anchorDepth_ + 1; d <= depth_; ++d) {
      foundMasks_.push_back(m.RowMask(levels_[d].row)[0]);
      foundStones_.push_back(levels_[d].stone);
    }
    for (int32_t i = 0; i < anchorCount_; ++i) {
      foundMasks_.push_back(m.CoverMask(anchorEntry_[i])[0]);
      foundStones_.push_back(anchors_[i]);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

template <int W>
void PuzzleSolver::AbortAnchored(uint64_t* occ) {
  for (; depth_ > anchorDepth_; --depth_) Lift<W>(levels_[depth_], occ);
  while (anchorsPlaced_ > 0) LiftAnchor(anchorsPlaced_ - 1, occ);
  LeaveAnchored(true);
}

bool PuzzleSolver::ReplayPacking(size_t i, const uint64_t* occ) {
  const SearchModel& m = *model_;
  const size_t pieces = static_cast<size_t>(totalStones_ - anchorDepth_);
  const uint64_t* masks = foundMasks_.data() + i * pieces;
  const int32_t* stones = foundStones_.data() + i * pieces;
  const size_t at = foundChoices_.size();
  uint64_t o = occ[0];
  int32_t higher = higherStonesLeft_;
  int32_t open = openSymPositions_;
  for (size_t level = 0; level < pieces; ++level) {
    // The piece over the first free cell is the next level's, as in the plain search.
    const int32_t pos = __builtin_ctzll(~o);
    // Every cell is covered and each piece lies in its list there, since the checks that
    // the plain search makes on its way refuse nothing that completes.
    size_t j = 0;
    while (j + 1 < pieces && (masks[j] >> pos & 1) == 0) ++j;
    assert(masks[j] >> pos & 1);
    const int32_t s = stones[j];
    const CandidateRange& range = m.Candidates(pos, Pattern(pos, &o))[s];
    int32_t row = range.begin;
    while (row + 1 < range.begin + range.count && m.RowMask(row)[0] != masks[j]) ++row;
    assert(m.RowMask(row)[0] == masks[j]);
    open -= m.RowClaims(row);
    if (s > firstStone_) {
      if (higher < open) {
        foundChoices_.resize(at);
        return false;
      }
      --higher;
    }
    foundChoices_.push_back({s, row - range.begin});
    o |= masks[j];
  }
  return true;
}

bool PuzzleSolver::FinishAnchored(const uint64_t* occ) {
  const size_t pieces = static_cast<size_t>(totalStones_ - anchorDepth_);
  const size_t found = foundStones_.size() / pieces;
  foundChoices_.clear();
  foundOrder_.clear();
  try {
    foundChoices_.reserve(found * pieces);
    foundOrder_.reserve(found);
  } catch (const std::bad_alloc&) {
    LeaveAnchored(true);
    return false;
  }
  for (size_t i = 0; i < found; ++i)
    if (ReplayPacking(i, occ)) foundOrder_.push_back(foundOrder_.size() * pieces);
  // The plain search tries stones in ascending order, each in its list's order.
  const PlacementChoice* choices = foundChoices_.data();
  auto before = [&](size_t a, size_t b) {
    return std::lexicographical_compare(
        choices + a, choices + a + pieces, choices + b, choices + b + pieces,
        [](const PlacementChoice& x, const PlacementChoice& y) {
          return x.stone != y.stone ? x.stone < y.stone : x.placement < y.placement;
        });
  };
  std::sort(foundOrder_.begin(), foundOrder_.end(), before);
  LeaveAnchored(false);
  for (int32_t d = 1; d <= anchorDepth_; ++d) {
    const Level& l = levels_[d];
    choices_[d - 1] = {l.stone, l.row - l.lists[l.stone].begin};
  }
  for (size_t start : foundOrder_) {
    std::copy_n(choices + start, pieces, choices_.begin() + anchorDepth_);
    Emit(choices_.data(), totalStones_);
  }
  return true;
}

void PuzzleSolver::LeaveAnchored(bool searchAgain) {
  anchored_ = false;
  plainNode_ = searchAgain;
  floor_ = baseDepth_;
  goalDepth_ = totalStones_;
  countTest_ = true;
  if (searchAgain) {
    std::vector<uint64_t>().swap(foundMasks_);
    std::vector<int32_t>().swap(foundStones_);
  }
}

void PuzzleSolver::WriteRecord(const std::string& record) {
  if (!AppendRecord(outputFileName, record)) outputFailures.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace quaderix
