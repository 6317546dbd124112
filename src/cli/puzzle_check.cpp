#include "cli/puzzle_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "config/ini_reader.h"
#include "config/puzzle_definition.h"
#include "model/setup_plan.h"
#include "model/symmetry_analysis.h"
#include "solver/reference_solver.h"

namespace quaderix {
namespace {

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Megabytes(int64_t bytes) {
  return std::to_string((bytes + 1024 * 1024 - 1) / (1024 * 1024)) + " MB";
}

int Refuse(const std::string& path, const SetupError& error, std::ostream& err) {
  err << "The puzzle file " << path << " is refused: " << error.message << ".\n";
  return kExitSetupFailed;
}

// Jobs whose first stone can take SymPos0; the others have nothing to search.
int32_t SearchingJobs(const PuzzleParameters& p) {
  return std::clamp(p.stoneCount - p.symPosCount + 1, 0, p.stoneCount);
}

}  // namespace

int CheckReadable(const std::string& path, std::ostream& err) {
  struct stat info {};
  std::string why;
  if (stat(path.c_str(), &info) != 0) {
    why = errno == ENOENT ? "it does not exist" : std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    why = "it is a directory";
  } else if (std::ifstream in(path, std::ios::binary); !in) {
    why = std::strerror(errno);
  } else if (in.peek() == std::ifstream::traits_type::eof()) {
    why = "it is empty";
  }
  if (why.empty()) return kExitOk;
  err << "The puzzle file " << path << " cannot be read: " << why << ".\n";
  return kExitNoInput;
}

std::vector<std::string> CommentWarnings(const std::string& path) {
  std::vector<std::string> warnings;
  for (const CommentedValue& v : FindCommentedValues(path)) {
    warnings.push_back("Warning: in " + path + ", [" + v.section + "] " + v.key + "=" + v.value +
                       " carries a comment; a value is everything after the equals sign, so "
                       "put comments on lines of their own.");
  }
  return warnings;
}

int PrecheckRun(const std::string& path, std::vector<std::string>& warnings, std::ostream& err) {
  warnings = CommentWarnings(path);
  PuzzleModel model;
  SetupPlan plan;
  SetupError error;
  if (!PlanSetup(path, 1, model, plan, &error)) return Refuse(path, error, err);
  // The run builds the tables once and every worker shares them. The symmetry analysis
  // is part of the run's start lines in the log, so it is not repeated here.
  if (!CheckMemoryFits(plan.jobBytes, 1, AvailableMemoryBytes(), &error))
    return Refuse(path, error, err);
  return kExitOk;
}

int CheckPuzzle(const std::string& path, std::ostream& out, std::ostream& err) {
  if (const int readable = CheckReadable(path, err); readable != kExitOk) return readable;
  // Everything that can be refused is refused here, before any table is built.
  PuzzleModel model;
  SetupPlan plan;
  SetupError error;
  if (!PlanSetup(path, 1, model, plan, &error)) return Refuse(path, error, err);
  // Output keys are read as for a job that has an output file.
  const PuzzleParameters params = ReadPuzzleParameters(path, true);

  ReferenceSolver solver(0, 0, path, "");
  if (!solver.Setup(0, 0, path, "")) return Refuse(path, solver.setupError, err);
  // A job with nothing to search builds nothing, but the user wants the whole puzzle
  // described, so the builders run here in the order Setup would run them.
  if (solver.grid.empty()) {
    if (!solver.ReadBlock() || !solver.ReadSymmetry() || !solver.ResetBlockCells() ||
        !solver.BuildPlacementTables()) {
      return Refuse(path, solver.setupError, err);
    }
  }

  out << "Puzzle file: " << path << "\n";
  if (solver.useFile) {
    out << "Built-in puzzle: no\n";
  } else {
    out << "Built-in puzzle: yes, the required key " << params.missingKey << " is missing\n";
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
  const SymmetryAnalysis symmetry = AnalyseSymmetry(SymmetryInputOf(model));
  for (const std::string& fact : symmetry.facts) out << fact << "\n";
  const int32_t searching = SearchingJobs(plan.params);
  out << "Jobs: " << solver.stoneCount << ", of which " << searching << " search";
  if (searching < solver.stoneCount) {
    out << " (jobs " << searching << ".." << solver.stoneCount - 1 << " have nothing to search)";
  }
  out << "\n";
  out << "Memory: about " << Megabytes(plan.jobBytes) << " or more for each job's tables\n";
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
  for (const std::string& warning : CommentWarnings(path)) err << warning << "\n";
  if (!symmetry.warning.empty()) err << symmetry.warning << "\n";
  return kExitOk;
}

}  // namespace quaderix
