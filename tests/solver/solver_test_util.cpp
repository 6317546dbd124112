#include "solver/solver_test_util.h"

#include <fstream>
#include <map>
#include <sstream>

namespace quaderix::testing {

std::string WritePuzzle(const TempDir& dir, const std::string& name, const PuzzleSpec& spec) {
  return dir.WriteFile(name, ToIni(spec));
}

RunResult RunToEnd(PuzzleSolver& solver, int64_t maxSteps) {
  RunResult result;
  while (!solver.finished && result.steps < maxSteps) {
    if (solver.Step() != 0) break;
    ++result.steps;
  }
  result.solutions = solver.SolutionCount();
  result.finished = solver.finished != 0;
  return result;
}

::testing::AssertionResult SearchStateConsistent(const PuzzleSolver& solver,
                                                 const std::vector<int32_t>& copiesAtSetup) {
  const int32_t depth = solver.depth;
  if (depth < 0 || depth > solver.TotalStones)
    return ::testing::AssertionFailure() << "depth " << depth << " out of range";
  std::map<int32_t, int32_t> expected;  // grid index -> mark
  std::vector<int32_t> taken(copiesAtSetup.size(), 0);
  for (int32_t level = 1; level <= depth; ++level) {
    const SearchFrame& f = level < depth ? solver.SearchStack[level - 1] : solver.currentFrame;
    if (f.mark != level)
      return ::testing::AssertionFailure() << "level " << level << " has mark " << f.mark;
    if (f.stone < 0 || f.stone >= solver.stoneCount)
      return ::testing::AssertionFailure() << "level " << level << " holds stone " << f.stone;
    ++taken[f.stone];
    const PlacementList& list = f.candidates[f.stone];
    if (f.placement < 0 || f.placement >= list.RowCount)
      return ::testing::AssertionFailure()
             << "level " << level << " points at row " << f.placement << " of " << list.RowCount;
    if (solver.cellOrder[f.orderPos] != f.cell)
      return ::testing::AssertionFailure() << "level " << level << " has a stale cell";
    const int32_t* row = list.Row(f.placement);
    for (int32_t j = 0; j < list.RowLength; ++j) {
      if (!expected.emplace(f.cell + row[j], level).second)
        return ::testing::AssertionFailure() << "levels overlap at cell " << f.cell + row[j];
    }
  }
  for (size_t i = 0; i < solver.grid.size(); ++i) {
    const int32_t v = solver.grid[i];
    auto it = expected.find(static_cast<int32_t>(i));
    const int32_t want = it == expected.end() ? 0 : it->second;
    if (v > 0 && v != want)
      return ::testing::AssertionFailure()
             << "cell " << i << " holds mark " << v << " but level " << want << " covers it";
    if (want > 0 && v != want)
      return ::testing::AssertionFailure()
             << "cell " << i << " of level " << want << " holds " << v;
  }
  int64_t copiesLeft = 0;
  for (size_t s = 0; s < copiesAtSetup.size(); ++s) {
    if (solver.StoneCopies[s] != copiesAtSetup[s] - taken[s])
      return ::testing::AssertionFailure() << "stone " << s << " has " << solver.StoneCopies[s]
                                           << " copies, expected " << copiesAtSetup[s] - taken[s];
    copiesLeft += solver.StoneCopies[s];
  }
  if (copiesLeft + depth != solver.TotalStones)
    return ::testing::AssertionFailure() << "copies left " << copiesLeft << " + depth " << depth
                                         << " != TotalStones " << solver.TotalStones;
  if (depth > 0) {
    // Every open level whose placement touches a symmetry position other than the first
    // has claimed one of them.
    int32_t claims = 0;
    for (int32_t level = 1; level <= depth; ++level) {
      const SearchFrame& f = level < depth ? solver.SearchStack[level - 1] : solver.currentFrame;
      const PlacementList& list = f.candidates[f.stone];
      bool claimed = false;
      for (int32_t j = 0; j < list.RowLength; ++j) {
        for (int32_t k = 1; k < solver.symPosCount; ++k)
          claimed = claimed || f.cell + list.Row(f.placement)[j] == solver.symCells[k];
      }
      claims += claimed ? 1 : 0;
    }
    if (solver.openSymPositions != solver.symPosCount - 1 - claims)
      return ::testing::AssertionFailure() << "openSymPositions " << solver.openSymPositions
                                           << " with " << claims << " positions claimed";
  }
  int32_t lowest = 0;
  while (lowest < solver.stoneCount && solver.StoneCopies[lowest] <= 0) ++lowest;
  if (solver.lowestFreeStone != lowest)
    return ::testing::AssertionFailure()
           << "lowestFreeStone " << solver.lowestFreeStone << ", first with copies " << lowest;
  return ::testing::AssertionSuccess();
}

int CountMarkedCells(const PuzzleSolver& solver) {
  int n = 0;
  for (int32_t v : solver.grid) n += v > 0 ? 1 : 0;
  return n;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace quaderix::testing
