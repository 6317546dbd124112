#include "solver/reference_solver.h"

#include <sys/file.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <new>

namespace quaderix {

ReferenceSolver::ReferenceSolver(int32_t start, int32_t end, std::string puzzlePath,
                                 std::string outputPath)
    : outputFileName(std::move(outputPath)),
      startStone(start == -1 ? 0 : start),
      endStone(end == -1 ? 0 : end) {
  puzzleFileName = std::move(puzzlePath);
}

ReferenceSolver::~ReferenceSolver() {
  Teardown();
}

int ReferenceSolver::Setup(int32_t start, int32_t end, const std::string& puzzlePath,
                           const std::string& outputPath) {
  // The arguments may alias our own fields (the worker passes them), so copy first.
  const std::string puzzle = puzzlePath;
  const std::string output = outputPath;
  outputFileName = output;
  puzzleFileName = puzzle;
  FreePlacementTables();
  FreeCellOrder();
  FreeGrid();
  ready = 0;
  setupError.Clear();

  const PuzzleParameters p = ReadPuzzleParameters(puzzle, !output.empty());
  preCheckLevel = p.preCheckLevel;
  firstPreCheckStone = p.firstPreCheckStone;
  lastPreCheckStone = p.lastPreCheckStone;
  enhancedSymetryCheck = p.enhancedSymetryCheck;
  writeEveryNSolution = p.writeEveryNSolution;
  showLegend = p.showLegend;
  if (!CheckPuzzleParameters(p, &setupError)) return 0;
  SetGeometry(puzzle, p);

  const int32_t bound = stoneCount - symPosCount;
  startStone = (start >= 0 && start < stoneCount) ? start : 0;
  endStone = (end >= 0 && end < stoneCount) ? std::min(end, bound) : bound;

  outputFailures.store(0, std::memory_order_relaxed);
  if (writeEveryNSolution > 0) {
    // Each set-up starts a fresh file; a file that cannot be made is noted, not fatal.
    std::FILE* f = std::fopen(outputFileName.c_str(), "wb");
    if (f != nullptr) {
      std::fclose(f);
    } else {
      outputFailures.fetch_add(1, std::memory_order_relaxed);
    }
  }

  depth = 0;
  lowestFreeStone = 0;
  firstStone = -1;
  currentFrame = SearchFrame{};
  solutionCount.store(0, std::memory_order_relaxed);
  if (startStone > endStone) {
    finished = 1;
    searchMode = ModeDone;
  } else {
    finished = 0;
    searchMode = ModeDescend;
    if (!ReadBlock() || !ReadSymmetry() || !ResetBlockCells() || !BuildPlacementTables()) {
      FreePlacementTables();
      FreeCellOrder();
      FreeGrid();
      ready = 0;
      return 0;
    }
    // A stone type without copies is never placed, so the search starts at the first
    // type that has some.
    while (lowestFreeStone < stoneCount && StoneCopies[lowestFreeStone] <= 0) ++lowestFreeStone;
    // Nothing to place at all: no packing can take a first stone.
    if (TotalStones <= 0) searchMode = ModeDone;
  }
  higherStonesLeft = TotalStones;
  openSymPositions = symPosCount - 1;
  ready = 1;
  return 1;
}

int ReferenceSolver::BuildPlacementTables() {
  if (!PuzzleModel::BuildPlacementTables()) return 0;
  try {
    // Every open level covers at least its own cell, so the search never holds more
    // than cellCount levels, whatever the copies add up to.
    SearchStack.assign(static_cast<size_t>(cellCount) + 1, SearchFrame{});
    // One look-up per cell instead of a scan over the symmetry positions 1.. while a
    // placement is tested.
    symMask.assign(grid.size(), 0);
    for (int32_t k = 1; k < symPosCount; ++k) symMask[symCells[k]] = 1;
  } catch (const std::bad_alloc&) {
    return Fail(SetupErrorCode::kOutOfMemory, "not enough memory for the search stack");
  }
  return 1;
}

void ReferenceSolver::FreePlacementTables() {
  PuzzleModel::FreePlacementTables();
  std::vector<SearchFrame>().swap(SearchStack);
  std::vector<uint8_t>().swap(symMask);
}

void ReferenceSolver::Teardown() {
  FreePlacementTables();
  FreeCellOrder();
  FreeGrid();
  ready = 0;
}

int ReferenceSolver::Step() {
  if (!ready) return 1;
  switch (searchMode) {
    case ModeDescend:
      Descend();
      break;
    case ModeBacktrack:
      Backtrack();
      break;
    default:
      finished = 1;
      break;
  }
  if (firstStone > endStone) {
    searchMode = ModeDone;
    finished = 1;
  }
  return 0;
}

int32_t ReferenceSolver::NextFreePosition(int32_t orderPos) const {
  const int32_t* g = grid.data();
  const int32_t* order = cellOrder.data();
  int32_t pos = orderPos + 1;
  while (pos < cellCount && g[order[pos]] != 0) ++pos;
  return pos;
}

int32_t ReferenceSolver::NextStone(int32_t pattern, int32_t after, int32_t orderPos) const {
  if (depth == 0 && after == -1) after = startStone - 1;
  const PlacementList* lists = Candidates(pattern, orderPos);
  if (after < lowestFreeStone && lowestFreeStone < stoneCount &&
      lists[lowestFreeStone].RowCount > 0)
    return lowestFreeStone;
  // Every type below lowestFreeStone has no copies left.
  for (int32_t s = std::max(after + 1, lowestFreeStone); s < stoneCount; ++s) {
    if (StoneCopies[s] > 0 && lists[s].RowCount > 0) return s;
  }
  return -1;
}

void ReferenceSolver::TakeStone(int32_t stone, int32_t level) {
  --StoneCopies[stone];
  if (stone == lowestFreeStone) {
    while (lowestFreeStone < stoneCount && StoneCopies[lowestFreeStone] <= 0) ++lowestFreeStone;
  }
  if (level == 1) {
    firstStone = stone;
    // TotalStones less one copy of every type up to the first stone; with at least one
    // copy per type that is TotalStones - stone - 1. A type without copies has none to
    // give: subtracting one for it would leave the count below the higher stones still
    // to come, and the count test would then refuse packings that exist.
    int32_t typesInSet = 0;
    for (int32_t t = 0; t <= stone; ++t) typesInSet += stones[t].copies > 0 ? 1 : 0;
    higherStonesLeft = TotalStones - typesInSet;
    openSymPositions = symPosCount - 1;
  }
}

void ReferenceSolver::ReturnStone(int32_t stone) {
  ++StoneCopies[stone];
  if (stone < lowestFreeStone) lowestFreeStone = stone;
}

int ReferenceSolver::PlaceStone() {
  const SearchFrame& f = currentFrame;
  const PlacementList& list = f.candidates[f.stone];
  assert(f.placement >= 0 && f.placement < list.RowCount);
  const int32_t* row = list.Row(f.placement);
  const int32_t n = list.RowLength;
  int32_t* g = grid.data();
  const int32_t cell = f.cell;

  bool claimed = false;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t c = cell + row[j];
    if (g[c] != 0) return 0;
    if (!claimed && symMask[c]) {
      // A lower stone on another symmetry position is a rotated copy of a packing that
      // the job of that lower stone finds.
      if (f.stone < firstStone) return 0;
      claimed = true;
    }
  }

  if (claimed) --openSymPositions;
  if (f.stone > firstStone) {
    // Too few higher stones left for the positions still open: every completion would
    // put a lower stone on one of them.
    if (higherStonesLeft < openSymPositions) {
      if (claimed) ++openSymPositions;
      return 0;
    }
    --higherStonesLeft;
  }

  for (int32_t j = 0; j < n; ++j) g[cell + row[j]] = f.mark;

  if ((preCheckLevel == 1 || preCheckLevel == 2) && f.mark >= firstPreCheckStone &&
      f.mark <= lastPreCheckStone) {
    const int32_t pos = NextFreePosition(f.orderPos);
    // A walled-in next cell can never be covered; the stone stays on the grid for the
    // RemoveStone that follows the refusal.
    if (pos < cellCount && NeighbourPattern(cellOrder[pos]) == 63) return 0;
  }
  return 1;
}

void ReferenceSolver::RemoveStone() {
  const SearchFrame& f = currentFrame;
  int32_t* g = grid.data();
  if (g[f.cell] != f.mark) return;  // this level's placement was never written
  const PlacementList& list = f.candidates[f.stone];
  const int32_t* row = list.Row(f.placement);
  const int32_t n = list.RowLength;
  bool claimed = false;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t c = f.cell + row[j];
    g[c] = 0;
    claimed |= symMask[c] != 0;
  }
  if (claimed) ++openSymPositions;
  if (f.stone > firstStone) ++higherStonesLeft;
}

void ReferenceSolver::HandleSolution() {
  const uint32_t n = solutionCount.load(std::memory_order_relaxed) + 1;
  solutionCount.store(n, std::memory_order_relaxed);
  if (writeEveryNSolution > 0 && (n == 1 || n % static_cast<uint32_t>(writeEveryNSolution) == 0)) {
    WriteSolution(outputFileName);
  }
  RemoveStone();
  ReturnStone(currentFrame.stone);
  --depth;
  if (depth > 0) {
    currentFrame = SearchStack[depth - 1];
    searchMode = ModeBacktrack;
  } else {
    searchMode = ModeDone;
  }
}

void ReferenceSolver::Descend() {
  for (;;) {
    if (depth == TotalStones && depth > 0) {
      HandleSolution();
      return;
    }
    const int32_t pos = depth == 0 ? 0 : NextFreePosition(currentFrame.orderPos);
    if (pos >= cellCount) {
      // Every cell is covered but stones remain (or the block has no cells): a dead end.
      searchMode = depth == 0 ? ModeDone : ModeBacktrack;
      return;
    }
    const int32_t cell = cellOrder[pos];
    const int32_t pattern = NeighbourPattern(cell);
    const int32_t stone = NextStone(pattern, -1, pos);
    if (stone < 0) {
      searchMode = depth == 0 ? ModeDone : ModeBacktrack;
      return;
    }
    if (depth == 0 && stone > endStone) {
      searchMode = ModeDone;
      return;
    }
    TakeStone(stone, depth + 1);
    if (depth > 0) SearchStack[depth - 1] = currentFrame;
    currentFrame = {0, stone, pos, cell, depth + 1, pattern, Candidates(pattern, pos)};
    ++depth;
    if (!PlaceStone()) {
      Backtrack();
      return;
    }
  }
}

void ReferenceSolver::Backtrack() {
  for (;;) {
    RemoveStone();
    ++currentFrame.placement;
    // Move on to the next stone, or down to the level below, until some row is left.
    while (currentFrame.placement >= currentFrame.candidates[currentFrame.stone].RowCount) {
      ReturnStone(currentFrame.stone);
      currentFrame.placement = 0;
      const int32_t stone =
          NextStone(currentFrame.pattern, currentFrame.stone, currentFrame.orderPos);
      if (stone >= 0) {
        currentFrame.stone = stone;
        TakeStone(stone, depth);
        continue;
      }
      --depth;
      if (depth == 0) {
        searchMode = ModeDone;
        return;
      }
      currentFrame = SearchStack[depth - 1];
      RemoveStone();
      ++currentFrame.placement;
    }
    if (PlaceStone()) {
      searchMode = ModeDescend;
      return;
    }
  }
}

const SearchFrame& ReferenceSolver::FrameOfLevel(int32_t level) const {
  return level < depth ? SearchStack[level - 1] : currentFrame;
}

std::string ReferenceSolver::FormatSolution() const {
  std::string out;
  char buf[128];
  std::snprintf(buf, sizeof buf, "Solution : %u\r\n", SolutionCount());
  out += buf;
  if (showLegend) {
    out += "Stone Legend (Presentation=Stone) : ";
    for (int32_t level = 1; level <= depth; ++level) {
      const SearchFrame& f = FrameOfLevel(level);
      std::snprintf(buf, sizeof buf, "%2d=%2d; ", f.mark, f.stone);
      out += buf;
    }
    out += "\r\n";
  }
  std::snprintf(buf, sizeof buf, "__BEGINBLOCK[%u]; __XYZ[%d,%d,%d];\r\n", SolutionCount(), xSize,
                ySize, zSize);
  out += buf;
  for (int32_t y = ySize - 1; y >= 0; --y) {
    for (int32_t z = 0; z < zSize; ++z) {
      for (int32_t x = 0; x < xSize; ++x) {
        const int32_t cell = GridIndex(x, y, z);
        const int32_t v = grid[cell];
        char text[3] = "  ";
        if (v >= 100) {
          text[0] = text[1] = '-';
        } else if (v > 0) {
          std::snprintf(text, sizeof text, "%2d", v);
        }
        const char* decoration = " %s ";
        for (int32_t k = 0; k < symPosCount; ++k) {
          if (cell == symCells[k]) {
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

void ReferenceSolver::WriteSolution(const std::string& path) {
  const std::string record = FormatSolution();
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) {
    outputFailures.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // Another writer of the same file waits until this record stands in it whole.
  flock(fileno(f), LOCK_EX);
  const bool ok = std::fwrite(record.data(), 1, record.size(), f) == record.size();
  const bool flushed = std::fflush(f) == 0;
  flock(fileno(f), LOCK_UN);
  if (std::fclose(f) != 0 || !ok || !flushed)
    outputFailures.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace quaderix
