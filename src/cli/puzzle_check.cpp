#include "cli/puzzle_check.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "config/puzzle_definition.h"
#include "solver/reference_solver.h"

namespace quaderix {
namespace {

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool Readable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char c;
  return in && (in.get(c) || in.eof()) && !in.bad();
}

}  // namespace

int CheckPuzzle(const std::string& path, std::ostream& out, std::ostream& err) {
  const PuzzleParameters params = ReadPuzzleParameters(path, true);
  ReferenceSolver solver(0, 0, path, "");
  if (!solver.Setup(0, 0, path, "")) {
    err << "The puzzle file " << path << " is refused: " << solver.setupError.message << ".\n";
    return kExitSetupFailed;
  }
  // A job with nothing to search builds nothing, but the user wants the whole puzzle
  // checked, so the builders run here in the order Setup would run them.
  if (solver.grid.empty()) {
    if (!solver.ReadBlock() || !solver.ReadSymmetry() || !solver.ResetBlockCells() ||
        !solver.BuildPlacementTables()) {
      err << "The puzzle file " << path << " is refused: " << solver.setupError.message << ".\n";
      return kExitSetupFailed;
    }
  }

  out << "Puzzle file: " << path << "\n";
  if (solver.useFile) {
    out << "Built-in puzzle: no\n";
  } else if (params.missingKey.empty()) {
    out << "Built-in puzzle: yes, no puzzle file was given\n";
  } else {
    out << "Built-in puzzle: yes, the required key " << params.missingKey << " is missing";
    if (!Readable(path)) out << " (the file cannot be read)";
    out << "\n";
  }
  const int64_t volume = int64_t{solver.xSize} * solver.ySize * solver.zSize;
  out << "Block: " << solver.xSize << "*" << solver.ySize << "*" << solver.zSize << ", EdgeZone "
      << solver.edgeZone << ", " << Plural(solver.cellCount, "cell", "cells") << ", "
      << Plural(volume - solver.cellCount, "hole", "holes") << "\n";
  out << "Stone types: " << solver.stoneCount << ", stones in one packing: " << solver.TotalStones
      << "\n";
  for (int32_t k = 0; k < solver.stoneCount; ++k) {
    const StoneDefinition& stone = solver.stones[k];
    // Each placement is listed once, at the first of its cells in fill order, in the
    // lists for a free neighbourhood.
    int64_t placements = 0;
    for (int32_t i = 0; i < solver.cellCount; ++i) {
      placements +=
          solver.PlacementTables[0][static_cast<size_t>(i) * solver.stoneCount + k].RowCount;
    }
    out << "  type " << k << " (" << stone.key << "): " << Plural(stone.cubeCount, "cube", "cubes")
        << ", " << Plural(stone.copies, "copy", "copies") << ", "
        << Plural(placements, "placement", "placements") << "\n";
  }
  out << "Symmetry positions: " << solver.symPosCount << "\n";
  for (int32_t k = 0; k < solver.symPosCount; ++k) {
    const auto& c = solver.symPositions[k];
    out << "  SymPos" << k << ": " << c[0] << "," << c[1] << "," << c[2]
        << (k == 0 ? " (first cell of the fill order)" : "") << "\n";
  }
  const int32_t searching =
      std::clamp(solver.stoneCount - solver.symPosCount + 1, 0, solver.stoneCount);
  out << "Jobs: " << solver.stoneCount << ", of which " << searching << " search";
  if (searching < solver.stoneCount) {
    out << " (jobs " << searching << ".." << solver.stoneCount - 1 << " have nothing to search)";
  }
  out << "\n";
  if (params.writeEveryNSolution > 0) {
    out << "Output: solution 1 and every " << params.writeEveryNSolution << ". solution, "
        << (params.showLegend ? "with" : "without") << " stone legend\n";
  } else {
    out << "Output: none\n";
  }
  if (params.preCheckLevel == 1 || params.preCheckLevel == 2) {
    out << "Isolated-cell check: on levels " << params.firstPreCheckStone << ".."
        << params.lastPreCheckStone << "\n";
  } else {
    out << "Isolated-cell check: off\n";
  }
  return kExitOk;
}

}  // namespace quaderix
