#include "solver/search_model.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

namespace quaderix {

std::shared_ptr<const SearchModel> SearchModel::Build(const std::string& puzzlePath,
                                                      bool withOutput, SetupError* error) {
  SetupError local;
  SetupError* err = error != nullptr ? error : &local;
  err->Clear();
  std::shared_ptr<SearchModel> model;
  try {
    model.reset(new SearchModel());
  } catch (const std::bad_alloc&) {
    err->Set(SetupErrorCode::kOutOfMemory, "not enough memory for the search tables");
    return nullptr;
  }
  model->params_ = ReadPuzzleParameters(puzzlePath, withOutput);
  if (!CheckPuzzleParameters(model->params_, err)) return nullptr;
  PuzzleModel& p = model->puzzle_;
  p.SetGeometry(puzzlePath, model->params_);
  // The search and the records look up only the patterns that can occur.
  p.reachablePatternsOnly = true;
  p.shapesOnce = true;
  if (!p.ReadBlock() || !p.ReadSymmetry() || !p.ResetBlockCells() || !p.BuildPlacementTables()) {
    *err = p.setupError;
    return nullptr;
  }
  if (!model->BuildMasks()) {
    err->Set(SetupErrorCode::kOutOfMemory, "not enough memory for the search tables");
    return nullptr;
  }
  return model;
}

int SearchModel::BuildMasks() {
  const PuzzleModel& p = puzzle_;
  const int32_t n = p.cellCount;
  const int32_t stoneCount = p.stoneCount;
  words_ = n > 0 ? (n + 63) / 64 : 1;
  const bool masks = HasRowMasks();
  try {
    posOfCell_.assign(p.grid.size(), -1);
    for (int32_t i = 0; i < n; ++i) posOfCell_[p.cellOrder[i]] = i;
    std::vector<uint64_t> symMask(static_cast<size_t>(words_), 0);
    for (int32_t k = 1; k < p.symPosCount; ++k) {
      const int32_t pos = posOfCell_[p.symCells[k]];
      symMask[pos >> 6] |= uint64_t{1} << (pos & 63);
    }
    neighbourPos_.assign(static_cast<size_t>(n) * 6, -1);
    later_.assign(static_cast<size_t>(n), LaterNeighbours{});
    neighbourMasks_.assign(static_cast<size_t>(n) * words_, 0);
    groupOf_.assign(static_cast<size_t>(n) * kPatternCount, -1);

    ranges_.clear();
    rowMasks_.clear();
    rowClaims_.clear();
    rowStones_.clear();
    rowCellStart_.clear();
    rowCells_.clear();
    for (int32_t i = 0; i < n; ++i) {
      const int32_t cell = p.cellOrder[i];
      // Neighbours that are holes, frame or earlier in the fill order are occupied whenever
      // this position is the first free one; only patterns with those bits set can occur.
      int32_t fixedBits = 0;
      for (int32_t b = 0; b < 6; ++b) {
        const int32_t np = posOfCell_[cell + NeighbourOffset(b, p.xStride, p.yStride, p.zStride)];
        neighbourPos_[static_cast<size_t>(i) * 6 + b] = np;
        if (np < 0 || np < i) {
          fixedBits |= 1 << b;
        } else {
          LaterNeighbours& l = later_[i];
          l.pos[l.count] = np;
          l.bit[l.count] = b;
          ++l.count;
        }
        if (np >= 0)
          neighbourMasks_[static_cast<size_t>(i) * words_ + (np >> 6)] |= uint64_t{1} << (np & 63);
      }
      later_[i].fixedBits = fixedBits;
    }
    // The rows are counted first, so that each array is allocated once.
    size_t rowCount = 0;
    size_t cellTotal = 0;
    size_t groupCount = 0;
    for (int32_t i = 0; i < n; ++i)
      for (int32_t pattern = 0; pattern < kPatternCount; ++pattern) {
        if ((pattern & later_[i].fixedBits) != later_[i].fixedBits) continue;
        ++groupCount;
        const PlacementList* lists = p.Candidates(pattern, i);
        for (int32_t k = 0; k < stoneCount; ++k) {
          rowCount += static_cast<size_t>(lists[k].RowCount);
          cellTotal += static_cast<size_t>(lists[k].RowCount) * lists[k].RowLength;
        }
      }
    ranges_.reserve(groupCount * static_cast<size_t>(stoneCount));
    if (masks) rowMasks_.reserve(rowCount * static_cast<size_t>(words_));
    rowClaims_.reserve(rowCount);
    rowStones_.reserve(rowCount);
    rowCellStart_.reserve(rowCount);
    rowCells_.reserve(cellTotal);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t cell = p.cellOrder[i];
      const int32_t fixedBits = later_[i].fixedBits;
      for (int32_t pattern = 0; pattern < kPatternCount; ++pattern) {
        if ((pattern & fixedBits) != fixedBits) continue;
        groupOf_[static_cast<size_t>(i) * kPatternCount + pattern] =
            static_cast<int32_t>(ranges_.size() / static_cast<size_t>(stoneCount));
        const PlacementList* lists = p.Candidates(pattern, i);
        for (int32_t k = 0; k < stoneCount; ++k) {
          const PlacementList& list = lists[k];
          ranges_.push_back({static_cast<int32_t>(rowClaims_.size()), list.RowCount});
          for (int32_t r = 0; r < list.RowCount; ++r) {
            const int32_t* row = list.Row(r);
            const size_t maskAt = rowMasks_.size();
            if (masks) rowMasks_.resize(maskAt + static_cast<size_t>(words_), 0);
            rowCellStart_.push_back(static_cast<int64_t>(rowCells_.size()));
            uint8_t claims = 0;
            for (int32_t j = 0; j < list.RowLength; ++j) {
              const int32_t pos = posOfCell_[cell + row[j]];
              rowCells_.push_back(pos);
              if (masks) rowMasks_[maskAt + (pos >> 6)] |= uint64_t{1} << (pos & 63);
              if (symMask[pos >> 6] >> (pos & 63) & 1) claims = 1;
            }
            rowClaims_.push_back(claims);
            rowStones_.push_back(k);
          }
        }
      }
    }
    // Per group and window: the group's rows, in order, that leave the window's occupied
    // cells alone. The search scans only these; the others would not fit anyway.
    const int32_t groups = static_cast<int32_t>(ranges_.size() / static_cast<size_t>(stoneCount));
    windowStart_.assign(static_cast<size_t>(groups) * kWindowValues + 1, 0);
    windowRows_.clear();
    windowMasks_.clear();
    std::vector<int32_t> groupPos(static_cast<size_t>(groups), 0);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t pattern = 0; pattern < kPatternCount; ++pattern) {
        const int32_t g = groupOf_[static_cast<size_t>(i) * kPatternCount + pattern];
        if (g >= 0) groupPos[g] = i;
      }
    // Each row's cells among the window's, as a window value.
    std::vector<uint8_t> footprint(rowStones_.size(), 0);
    for (int32_t g = 0; g < groups; ++g) {
      const CandidateRange* lists = ranges_.data() + static_cast<size_t>(g) * stoneCount;
      const int32_t end = lists[stoneCount - 1].begin + lists[stoneCount - 1].count;
      for (int32_t r = lists[0].begin; r < end; ++r) {
        const int32_t* cells = rowCells_.data() + rowCellStart_[r];
        const int32_t cubes = p.stones[rowStones_[r]].cubeCount;
        for (int32_t j = 0; j < cubes; ++j) {
          const int32_t bit = cells[j] - groupPos[g] - 1;
          if (bit >= 0 && bit < kWindowBits) footprint[r] |= static_cast<uint8_t>(1 << bit);
        }
      }
    }
    size_t windowTotal = 0;
    for (size_t r = 0; r < footprint.size(); ++r)
      for (int32_t v = 0; v < kWindowValues; ++v) windowTotal += (footprint[r] & v) == 0;
    windowRows_.reserve(windowTotal);
    for (int32_t g = 0; g < groups; ++g) {
      const CandidateRange* lists = ranges_.data() + static_cast<size_t>(g) * stoneCount;
      const int32_t begin = lists[0].begin;
      const int32_t end = lists[stoneCount - 1].begin + lists[stoneCount - 1].count;
      for (int32_t v = 0; v < kWindowValues; ++v) {
        windowStart_[static_cast<size_t>(g) * kWindowValues + v] =
            static_cast<int64_t>(windowRows_.size());
        for (int32_t r = begin; r < end; ++r)
          if ((footprint[r] & v) == 0) windowRows_.push_back(r);
      }
    }
    windowStart_.back() = static_cast<int64_t>(windowRows_.size());
    typesUpTo_.assign(static_cast<size_t>(stoneCount), 0);
    int32_t types = 0;
    for (int32_t k = 0; k < stoneCount; ++k) {
      types += p.stones[k].copies > 0 ? 1 : 0;
      typesUpTo_[k] = types;
    }
    BuildCoverTables();
    if (coverCheck_) BuildBlockMasks();
    if (blockMasks_) BuildMirrors();
    if (blockMasks_ && singlesKnown_ && singleStones_ == 0) DropDeadRows(groupPos);
    if (masks) {
      // The masks again in window order, so that the scan reads them one after the other.
      windowMasks_.resize(windowRows_.size() * static_cast<size_t>(words_));
      windowStones_.resize(windowRows_.size());
      for (size_t e = 0; e < windowRows_.size(); ++e) {
        const int32_t k = rowStones_[windowRows_[e]];
        windowStones_[e] = TypeBit(k);
      }
      for (size_t e = 0; e < windowRows_.size(); ++e)
        for (int32_t w = 0; w < words_; ++w)
          windowMasks_[e * words_ + w] =
              rowMasks_[static_cast<size_t>(windowRows_[e]) * words_ + w];
    }
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const std::length_error&) {
    return 0;
  }
  return 1;
}

void SearchModel::DropDeadRows(const std::vector<int32_t>& groupPos) {
  const int32_t n = puzzle_.cellCount;
  std::vector<uint64_t> bitOfPos(static_cast<size_t>(n), 0);
  for (int32_t bit = 0; bit < 64; ++bit)
    if (blockCells_ >> bit & 1) bitOfPos[posOfBit_[bit]] = uint64_t{1} << bit;
  // The cells before each fill position, all occupied while it is the first free cell.
  std::vector<uint64_t> before(static_cast<size_t>(n) + 1, 0);
  for (int32_t i = 0; i < n; ++i) before[i + 1] = before[i] | bitOfPos[i];
  std::vector<int32_t> patternOf(groupPos.size(), 0);
  for (int32_t i = 0; i < n; ++i)
    for (int32_t pattern = 0; pattern < kPatternCount; ++pattern) {
      const int32_t g = groupOf_[static_cast<size_t>(i) * kPatternCount + pattern];
      if (g >= 0) patternOf[g] = pattern;
    }
  size_t kept = 0;
  int64_t from = 0;
  for (size_t g = 0; g < groupPos.size(); ++g) {
    const int32_t pos = groupPos[g];
    // Known whenever this group is searched: holes, the frame, the cells before pos and
    // the neighbours the pattern names occupied are occupied; the neighbours it names
    // free are free. Any other cell may be either.
    // The known occupied cells also in fill order (one word: at most 64 cells).
    uint64_t known = ~blockCells_ | before[pos];
    uint64_t knownFill = pos == 0 ? 0 : ~uint64_t{0} >> (64 - pos);
    uint64_t knownFree = 0;
    for (int32_t b = 0; b < 6; ++b) {
      const int32_t np = NeighbourPos(pos, b);
      if (np < 0) continue;
      if (patternOf[g] >> b & 1) {
        known |= bitOfPos[np];
        knownFill |= uint64_t{1} << np;
      } else {
        knownFree |= bitOfPos[np];
      }
    }
    for (int32_t v = 0; v < kWindowValues; ++v) {
      uint64_t window = 0;
      uint64_t windowFree = 0;
      uint64_t windowFill = 0;
      for (int32_t j = 0; j < kWindowBits && pos + 1 + j < n; ++j) {
        (v >> j & 1 ? window : windowFree) |= bitOfPos[pos + 1 + j];
        if (v >> j & 1) windowFill |= uint64_t{1} << (pos + 1 + j);
      }
      const size_t at = g * kWindowValues + v;
      const int64_t to = windowStart_[at + 1];
      windowStart_[at] = static_cast<int64_t>(kept);
      for (; from < to; ++from) {
        const int32_t r = windowRows_[from];
        const int32_t s = rowStones_[r];
        const uint64_t occupied = knownFill | windowFill | rowMasks_[r];
        const uint64_t mayBeFree = ~(known | window | rowBlock_[r]);
        const uint64_t free = (knownFree | windowFree) & ~rowBlock_[r];
        // A cell known to be free whose neighbours are all known to be occupied (free lies
        // within mayBeFree). One count of the neighbours serves both tests.
        uint64_t walledIn = 0;
        const uint64_t few = free & FewNeighbours(mayBeFree, &walledIn) & rowHalo_[r];
        bool dead = (few & walledIn) != 0;
        // A cell known to be free with one neighbour that may be free, which no placement
        // can cover, even with every unknown cell free and every other stone left.
        for (uint64_t cells = few; cells != 0 && !dead; cells &= cells - 1) {
          const int32_t bit = __builtin_ctzll(cells);
          const uint64_t next = BlockNeighbours(bit) & mayBeFree;
          if (next == 0) continue;
          const int32_t h = posOfBit_[bit];
          const int32_t pattern = PatternBit(bit, __builtin_ctzll(next));
          dead = true;
          for (int32_t e = CoverBegin(h, pattern); e < CoverBegin(h, pattern + 1) && dead; ++e) {
            const int32_t k = CoverStone(e);
            dead = (coverMasks_[e] & occupied) != 0 || puzzle_.stones[k].copies <= 0 ||
                   (k == s && puzzle_.stones[k].copies == 1);
          }
        }
        if (!dead) windowRows_[kept++] = r;
      }
    }
  }
  windowStart_.back() = static_cast<int64_t>(kept);
  windowRows_.resize(kept);
}

void SearchModel::BuildBlockMasks() {
  const PuzzleModel& p = puzzle_;
  blockMasks_ = false;
  if (int64_t{p.xSize} * p.ySize * p.zSize > 64) return;
  // Block-order bits and the masks of the cells that may step one cell along each axis.
  const int32_t size[3] = {p.xSize, p.ySize, p.zSize};
  std::vector<int32_t> bitOfPos(static_cast<size_t>(p.cellCount), 0);
  posOfBit_.assign(64, -1);
  blockCells_ = 0;
  for (int32_t a = 0; a < 3; ++a) growUp_[a] = growDown_[a] = 0;
  for (int32_t z = 0; z < p.zSize; ++z)
    for (int32_t y = 0; y < p.ySize; ++y)
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t bit = x + p.xSize * (y + p.ySize * z);
        const int32_t at[3] = {x, y, z};
        for (int32_t a = 0; a < 3; ++a) {
          if (at[a] + 1 < size[a]) growUp_[a] |= uint64_t{1} << bit;
          if (at[a] > 0) growDown_[a] |= uint64_t{1} << bit;
        }
        const int32_t pos = posOfCell_[p.GridIndex(x, y, z)];
        if (pos < 0) continue;
        bitOfPos[pos] = bit;
        posOfBit_[bit] = pos;
        blockCells_ |= uint64_t{1} << bit;
      }
  // An axis of length 1 has no steps; its masks are empty, and a zero shift keeps the
  // shift amounts below 64.
  growStep_[0] = p.xSize > 1 ? 1 : 0;
  growStep_[1] = p.ySize > 1 ? p.xSize : 0;
  growStep_[2] = p.zSize > 1 ? p.xSize * p.ySize : 0;
  // Pattern bits 0..2 are the steps up along x, y and z, bits 3..5 the steps down.
  for (int32_t a = 0; a < 3; ++a) {
    if (growStep_[a] == 0) continue;
    stepBit_[64 + growStep_[a]] = 1 << a;
    stepBit_[64 - growStep_[a]] = 1 << (a + 3);
  }
  blockNeighbours_.assign(64, 0);
  for (int32_t bit = 0; bit < 64; ++bit)
    blockNeighbours_[bit] = Grow(uint64_t{1} << bit) & blockCells_;
  const size_t rows = rowStones_.size();
  rowBlock_.assign(rows, 0);
  rowHalo_.assign(rows, 0);
  for (size_t r = 0; r < rows; ++r) {
    const int32_t* cells = rowCells_.data() + rowCellStart_[r];
    uint64_t mask = 0;
    for (int32_t j = 0; j < p.stones[rowStones_[r]].cubeCount; ++j)
      mask |= uint64_t{1} << bitOfPos[cells[j]];
    rowBlock_[r] = mask;
    rowHalo_[r] = Grow(mask) & ~mask & blockCells_;
  }
  coverBlocks_.assign(coverStones_.size(), 0);
  for (size_t e = 0; e < coverBlocks_.size(); ++e)
    for (uint64_t cells = coverMasks_[e]; cells != 0; cells &= cells - 1)
      coverBlocks_[e] |= uint64_t{1} << bitOfPos[__builtin_ctzll(cells)];
  // A free cell with no free neighbour takes a one-cube stone or nothing, as long as every
  // cube of a larger stone touches another of the same stone.
  singleStones_ = 0;
  singlesKnown_ = true;
  for (size_t r = 0; r < rows && singlesKnown_; ++r)
    singlesKnown_ =
        (rowBlock_[r] & (rowBlock_[r] - 1)) == 0 || (rowBlock_[r] & ~Grow(rowBlock_[r])) == 0;
  for (int32_t k = 0; k < p.stoneCount; ++k) {
    if (p.stones[k].cubeCount != 1 || p.stones[k].copies <= 0) continue;
    singleStones_ |= TypeBit(k);
    if (k >= 64) singlesKnown_ = false;
  }
  blockMasks_ = true;
}

void SearchModel::BuildMirrors() {
  const PuzzleModel& p = puzzle_;
  mirrorCount_ = 0;
  imageWalk_.clear();
  std::vector<std::vector<LayerSwap>> kept;
  const int32_t size[3] = {p.xSize, p.ySize, p.zSize};
  const int32_t step[3] = {1, p.xSize, p.xSize * p.ySize};
  // The placements as (stone, cells), sorted, to look the images up.
  std::vector<std::pair<int32_t, uint64_t>> placements;
  for (int32_t e = StoneBegin(0); e < StoneBegin(p.stoneCount); ++e)
    placements.emplace_back(coverStones_[e], coverBlocks_[e]);
  std::sort(placements.begin(), placements.end());
  for (int32_t a = 0; a < 3; ++a) {
    if (size[a] < 2) continue;
    std::vector<LayerSwap> flip;
    for (int32_t c = 0; c < size[a] / 2; ++c) {
      // The cells at coordinate c along the axis trade places with those at size - 1 - c.
      uint64_t low = 0;
      for (int32_t bit = 0; bit < p.xSize * p.ySize * p.zSize; ++bit)
        if (bit / step[a] % size[a] == c) low |= uint64_t{1} << bit;
      flip.push_back({low, (size[a] - 1 - 2 * c) * step[a]});
    }
    flip.back().imageDone = true;
    bool keep = Flip(flip, blockCells_) == blockCells_;
    for (int32_t bit = 0; bit < 64 && keep; ++bit) {
      if ((blockCells_ >> bit & 1) == 0) continue;
      const int32_t image = __builtin_ctzll(Flip(flip, uint64_t{1} << bit));
      keep = std::abs(posOfBit_[image] - posOfBit_[bit]) <= p.cellCount / 4;
    }
    for (size_t j = 0; j < placements.size() && keep; ++j)
      keep =
          std::binary_search(placements.begin(), placements.end(),
                             std::make_pair(placements[j].first, Flip(flip, placements[j].second)));
    if (keep) kept.push_back(std::move(flip));
  }
  mirrorCount_ = static_cast<int32_t>(kept.size());
  for (int32_t i = 1; i < (1 << mirrorCount_); ++i) {
    const std::vector<LayerSwap>& flip = kept[__builtin_ctz(i)];
    imageWalk_.insert(imageWalk_.end(), flip.begin(), flip.end());
  }
}

void SearchModel::BuildCoverTables() {
  const PuzzleModel& p = puzzle_;
  const int32_t n = p.cellCount;
  const int32_t stoneCount = p.stoneCount;
  coverCheck_ = false;
  coverStart_.clear();
  coverMasks_.clear();
  coverStones_.clear();
  coverStoneBits_.clear();
  int64_t stoneVolume = 0;
  for (int32_t k = 0; k < stoneCount; ++k)
    stoneVolume += int64_t{p.stones[k].copies} * p.stones[k].cubeCount;
  if (!HasRowMasks() || n <= 0 || stoneVolume != n) return;

  // The distinct placements: the same stone on the same cells appears in the lists of
  // several patterns.
  const size_t rows = rowStones_.size();
  std::vector<int32_t> order(rows);
  for (size_t r = 0; r < rows; ++r) order[r] = static_cast<int32_t>(r);
  auto key = [&](int32_t a, int32_t b) {
    if (rowStones_[a] != rowStones_[b]) return rowStones_[a] < rowStones_[b] ? -1 : 1;
    for (int32_t w = 0; w < words_; ++w) {
      const uint64_t x = rowMasks_[static_cast<size_t>(a) * words_ + w];
      const uint64_t y = rowMasks_[static_cast<size_t>(b) * words_ + w];
      if (x != y) return x < y ? -1 : 1;
    }
    return 0;
  };
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return key(a, b) < 0; });
  std::vector<int32_t> unique;
  for (size_t i = 0; i < rows; ++i)
    if (i == 0 || key(order[i - 1], order[i]) != 0) unique.push_back(order[i]);
  // Every list runs by the placements' first fill position, so that a search from its end
  // meets the placements farthest from the filled part first (they stay free longest) and
  // stops at the first one that starts before the first free cell. Found once per row:
  // the sorts below ask for it many times.
  std::vector<int32_t> firstPos(rows);
  for (size_t r = 0; r < rows; ++r) {
    const int32_t* cells = rowCells_.data() + rowCellStart_[r];
    firstPos[r] = *std::min_element(cells, cells + p.stones[rowStones_[r]].cubeCount);
  }
  auto minPos = [&](int32_t r) { return firstPos[static_cast<size_t>(r)]; };
  std::stable_sort(unique.begin(), unique.end(), [&](int32_t a, int32_t b) {
    if (rowStones_[a] != rowStones_[b]) return rowStones_[a] < rowStones_[b];
    return minPos(a) < minPos(b);
  });
  // Per cell and free-neighbour pattern: the placements over the cell that use no other
  // neighbour of it. The search asks only about cells with at most one free neighbour, so
  // only those patterns get lists, and short ones.
  std::vector<std::vector<int32_t>> over(static_cast<size_t>(n));
  for (const int32_t r : unique) {
    const int32_t* cells = rowCells_.data() + rowCellStart_[r];
    for (int32_t j = 0; j < p.stones[rowStones_[r]].cubeCount; ++j) over[cells[j]].push_back(r);
  }
  constexpr size_t kMaxCoverWords = size_t{1} << 22;
  const int32_t symLists = std::max(0, p.symPosCount - 1);
  const size_t lists = static_cast<size_t>(n) * kPatternCount + stoneCount + symLists;
  coverStart_.assign(lists + 1, 0);
  coverMasks_.clear();
  coverStones_.clear();
  coverStoneBits_.clear();
  coverFirst_.clear();
  auto put = [&](int32_t r) {
    coverStones_.push_back(rowStones_[r]);
    coverStoneBits_.push_back(TypeBit(rowStones_[r]));
    coverFirst_.push_back(minPos(r));
    coverMasks_.insert(coverMasks_.end(), rowMasks_.data() + static_cast<size_t>(r) * words_,
                       rowMasks_.data() + static_cast<size_t>(r + 1) * words_);
  };
  std::vector<int32_t> uses;
  for (int32_t pos = 0; pos < n; ++pos) {
    std::vector<int32_t>& list = over[pos];
    std::stable_sort(list.begin(), list.end(),
                     [&](int32_t a, int32_t b) { return minPos(a) < minPos(b); });
    // Which neighbours of pos each placement covers.
    uses.assign(list.size(), 0);
    for (int32_t b = 0; b < 6; ++b) {
      const int32_t np = NeighbourPos(pos, b);
      if (np < 0) continue;
      for (size_t i = 0; i < list.size(); ++i)
        if (rowMasks_[static_cast<size_t>(list[i]) * words_ + (np >> 6)] >> (np & 63) & 1)
          uses[i] |= 1 << b;
    }
    for (int32_t pattern = 0; pattern < kPatternCount; ++pattern) {
      coverStart_[static_cast<size_t>(pos) * kPatternCount + pattern] =
          static_cast<int32_t>(coverStones_.size());
      if ((pattern & (pattern - 1)) != 0) continue;
      for (size_t i = 0; i < list.size(); ++i)
        if ((uses[i] & ~pattern) == 0) put(list[i]);
    }
    if (coverMasks_.size() > kMaxCoverWords) break;
  }
  for (int32_t k = 0; k < stoneCount; ++k) {
    coverStart_[static_cast<size_t>(n) * kPatternCount + k] =
        static_cast<int32_t>(coverStones_.size());
    for (const int32_t r : unique)
      if (rowStones_[r] == k) put(r);
  }
  // Every placement over each symmetry position after the first, whatever its pattern.
  for (int32_t k = 1; k <= symLists; ++k) {
    coverStart_[static_cast<size_t>(n) * kPatternCount + stoneCount + k - 1] =
        static_cast<int32_t>(coverStones_.size());
    const int32_t pos = SymFillPos(k);
    if (pos < 0) continue;
    std::vector<int32_t>& list = over[pos];
    std::stable_sort(list.begin(), list.end(),
                     [&](int32_t a, int32_t b) { return minPos(a) < minPos(b); });
    for (const int32_t r : list) put(r);
  }
  coverStart_[lists] = static_cast<int32_t>(coverStones_.size());
  // Tables far beyond the row tables cost more memory than the pruning saves time.
  if (coverMasks_.size() > kMaxCoverWords) {
    std::vector<int32_t>().swap(coverStart_);
    std::vector<uint64_t>().swap(coverMasks_);
    std::vector<int32_t>().swap(coverStones_);
    std::vector<uint64_t>().swap(coverStoneBits_);
    std::vector<int32_t>().swap(coverFirst_);
    return;
  }
  // Blocks of up to 64 cells find the neighbours of a row by shifts (BuildBlockMasks).
  const bool small = int64_t{p.xSize} * p.ySize * p.zSize <= 64;
  rowHaloMasks_.assign(small ? 0 : rows * static_cast<size_t>(words_), 0);
  for (size_t r = 0; r < rows && !small; ++r) {
    uint64_t* halo = rowHaloMasks_.data() + r * words_;
    const uint64_t* mask = rowMasks_.data() + r * words_;
    const int32_t* cells = rowCells_.data() + rowCellStart_[r];
    for (int32_t j = 0; j < p.stones[rowStones_[r]].cubeCount; ++j)
      for (int32_t w = 0; w < words_; ++w) halo[w] |= NeighbourMask(cells[j])[w];
    for (int32_t w = 0; w < words_; ++w) halo[w] &= ~mask[w];
  }
  coverCheck_ = true;
}

std::string SearchModel::FormatRecord(uint64_t number, const PlacementChoice* levels,
                                      int32_t depth) const {
  const PuzzleModel& p = puzzle_;
  // Replay the levels on a copy of the empty grid: each covers the first free cell of the
  // fill order with its row of the list chosen by that cell's neighbour pattern.
  std::vector<int32_t> g = p.grid;
  auto pattern = [&](int32_t cell) {
    int32_t bits = 0;
    for (int32_t b = 0; b < 6; ++b)
      if (g[cell + NeighbourOffset(b, p.xStride, p.yStride, p.zStride)] != 0) bits |= 1 << b;
    return bits;
  };
  int32_t pos = 0;
  for (int32_t level = 1; level <= depth; ++level) {
    while (pos < p.cellCount && g[p.cellOrder[pos]] != 0) ++pos;
    if (pos >= p.cellCount) break;
    const int32_t cell = p.cellOrder[pos];
    const PlacementList& list = p.Candidates(pattern(cell), pos)[levels[level - 1].stone];
    const int32_t* row = list.Row(levels[level - 1].placement);
    for (int32_t j = 0; j < list.RowLength; ++j) g[cell + row[j]] = level;
  }

  std::string out;
  char buf[128];
  std::snprintf(buf, sizeof buf, "Solution : %" PRIu64 "\r\n", number);
  out += buf;
  if (params_.showLegend) {
    out += "Stone Legend (Presentation=Stone) : ";
    for (int32_t level = 1; level <= depth; ++level) {
      std::snprintf(buf, sizeof buf, "%2d=%2d; ", level, levels[level - 1].stone);
      out += buf;
    }
    out += "\r\n";
  }
  std::snprintf(buf, sizeof buf, "__BEGINBLOCK[%" PRIu64 "]; __XYZ[%d,%d,%d];\r\n", number, p.xSize,
                p.ySize, p.zSize);
  out += buf;
  for (int32_t y = p.ySize - 1; y >= 0; --y) {
    for (int32_t z = 0; z < p.zSize; ++z) {
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t cell = p.GridIndex(x, y, z);
        const int32_t v = g[cell];
        char text[3] = "  ";
        if (v >= 100) {
          text[0] = text[1] = '-';
        } else if (v > 0) {
          std::snprintf(text, sizeof text, "%2d", v);
        }
        const char* decoration = " %s ";
        for (int32_t k = 0; k < p.symPosCount; ++k) {
          if (cell == p.symCells[k]) {
            decoration = k == 0 ? "[%s]" : "(%s)";
            break;
          }
        }
        std::snprintf(buf, sizeof buf, decoration, text);
        out += buf;
      }
      out += "    ";
    }
    out += "\r\n";
  }
  out += "__ENDBLOCK;\r\n\r\n";
  return out;
}

}  // namespace quaderix
