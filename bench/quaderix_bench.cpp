// quaderix-bench: runs jobs of a puzzle one after the other on the calling thread, the way
// a worker drives its solver (set-up, then Step until finished), and prints per job the
// solutions, the search's work, time and rate, then the totals.
//
//   quaderix-bench [--puzzle FILE] [--jobs 0,1,2|all] [--max-steps N] [--engine new|reference]
//                  [--anchors auto|none|every]
//   quaderix-bench --simulate-workers [--puzzle FILE]   (see simulate_workers.cpp)
//
// Without --puzzle the built-in puzzle is solved. --max-steps caps the steps of each job
// (0, the default, runs every job to its end); a capped job is reported as cut. The new
// engine builds the model once and runs each job as a unit on it; its work is counted in
// placements tried, and a step is a slice of up to PuzzleSolver::kStepPlacements of them.
// The reference engine sets each job up from the file and counts its steps (one descent or
// one backtrack move each). --anchors sets which stones the new engine puts down first
// (auto, the default, chooses from the puzzle; none searches in fill order alone).

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/puzzle_definition.h"
#include "solver/puzzle_solver.h"
#include "solver/reference_solver.h"
#include "solver/search_model.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string puzzlePath;  // "" selects the built-in puzzle
  bool allJobs = true;
  std::vector<int32_t> jobs;
  int64_t maxSteps = 0;  // 0: no limit
  bool reference = false;
  quaderix::PuzzleSolver::Anchors anchors = quaderix::PuzzleSolver::Anchors::kAutomatic;
};

// What one job did; filled by the Run...Job functions and printed by the caller.
struct JobResult {
  int32_t job = 0;
  bool setupOk = false;
  std::string setupError;
  uint64_t solutions = 0;
  int64_t steps = 0;
  uint64_t work = 0;  // placements tried (new engine) or steps (reference engine)
  double setupSeconds = 0;
  double searchSeconds = 0;
  bool finished = false;
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: quaderix-bench [--puzzle FILE] [--jobs 0,1,2|all] [--max-steps N]\n"
               "                      [--engine new|reference] [--anchors auto|none|every]\n"
               "  --puzzle FILE   puzzle definition file (default: the built-in puzzle)\n"
               "  --jobs LIST     comma-separated job numbers, or all (default)\n"
               "  --max-steps N   stop each job after N steps (default 0: no limit)\n"
               "  --engine E      new (default) or reference, the engine kept as the oracle\n"
               "  --anchors A     stones the new engine puts down first: auto (default),\n"
               "                  none or every one it may\n"
               "\n"
               "       quaderix-bench --simulate-workers [--puzzle FILE] [--units FILE]\n"
               "       quaderix-bench --simulate-workers --replay FILE\n"
               "  runs the puzzle as a one-worker run and prints the wall time of pools of\n"
               "  1 to 256 workers and how the time-left estimate tracked the truth\n");
}

bool ParseInt64(const char* text, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  value = v;
  return true;
}

bool ParseJobs(const std::string& text, Options& options) {
  if (text == "all") {
    options.allJobs = true;
    return true;
  }
  options.allJobs = false;
  options.jobs.clear();
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string piece =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int64_t job = 0;
    if (!ParseInt64(piece.c_str(), job) || job < 0 || job > INT32_MAX) return false;
    options.jobs.push_back(static_cast<int32_t>(job));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !options.jobs.empty();
}

// Returns 0 when the arguments were understood, 1 after --help, 2 on a usage error.
int ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 1;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "quaderix-bench: %s needs a value\n", arg.c_str());
      return 2;
    }
    const char* value = argv[++i];
    if (arg == "--puzzle") {
      options.puzzlePath = value;
    } else if (arg == "--jobs") {
      if (!ParseJobs(value, options)) {
        std::fprintf(stderr, "quaderix-bench: --jobs takes job numbers like 0,1,2 or all\n");
        return 2;
      }
    } else if (arg == "--max-steps") {
      if (!ParseInt64(value, options.maxSteps) || options.maxSteps < 0) {
        std::fprintf(stderr, "quaderix-bench: --max-steps takes a number of 0 or more\n");
        return 2;
      }
    } else if (arg == "--engine") {
      const std::string engine = value;
      if (engine != "new" && engine != "reference") {
        std::fprintf(stderr, "quaderix-bench: --engine takes new or reference\n");
        return 2;
      }
      options.reference = engine == "reference";
    } else if (arg == "--anchors") {
      using Anchors = quaderix::PuzzleSolver::Anchors;
      const std::string anchors = value;
      if (anchors != "auto" && anchors != "none" && anchors != "every") {
        std::fprintf(stderr, "quaderix-bench: --anchors takes auto, none or every\n");
        return 2;
      }
      options.anchors = anchors == "auto"   ? Anchors::kAutomatic
                        : anchors == "none" ? Anchors::kNone
                                            : Anchors::kEvery;
    } else {
      std::fprintf(stderr, "quaderix-bench: unknown argument %s\n", arg.c_str());
      PrintUsage(stderr);
      return 2;
    }
  }
  return 0;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Steps `solver` as a worker would, until it is finished or the step limit is reached,
// and notes the time, steps, solutions and whether it finished. Both engines step alike.
template <typename Solver>
Solver& StepToTheEnd(const Options& options, Solver& solver, JobResult& result) {
  const Clock::time_point searchStart = Clock::now();
  int64_t steps = 0;
  while (!solver.finished && (options.maxSteps == 0 || steps < options.maxSteps)) {
    solver.Step();
    ++steps;
  }
  result.searchSeconds = SecondsSince(searchStart);
  result.steps = steps;
  result.solutions = solver.SolutionCount();
  result.finished = solver.finished != 0;
  solver.Teardown();
  return solver;
}

JobResult RunReferenceJob(const Options& options, int32_t job) {
  JobResult result;
  result.job = job;
  // Heap-allocated like a worker's solver; the tables of a large puzzle are big.
  auto solver = std::make_unique<quaderix::ReferenceSolver>(job, job, options.puzzlePath, "");
  const Clock::time_point setupStart = Clock::now();
  result.setupOk = solver->Setup(job, job, options.puzzlePath, "") == 1;
  result.setupSeconds = SecondsSince(setupStart);
  if (!result.setupOk) {
    result.setupError = solver->setupError.message;
    return result;
  }
  StepToTheEnd(options, *solver, result);
  result.work = static_cast<uint64_t>(result.steps);
  return result;
}

// `solver` is set up afresh for each job, as a worker's solver is for each unit.
JobResult RunNewJob(const Options& options, std::shared_ptr<const quaderix::SearchModel> model,
                    int32_t job, quaderix::PuzzleSolver* solver) {
  JobResult result;
  result.job = job;
  solver->SetAnchors(options.anchors);
  const Clock::time_point setupStart = Clock::now();
  result.setupOk = solver->SetupUnit(std::move(model), {job, {}}, 0, nullptr) == 1;
  result.setupSeconds = SecondsSince(setupStart);
  if (!result.setupOk) {
    result.setupError = solver->setupError.message;
    return result;
  }
  result.work = StepToTheEnd(options, *solver, result).NodeCount();
  return result;
}

std::string Rate(uint64_t work, double seconds) {
  if (seconds <= 0 || work == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", static_cast<double>(work) / seconds);
  return text;
}

}  // namespace

// In simulate_workers.cpp.
int SimulateWorkersMain(int argc, char** argv);

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--simulate-workers") == 0) {
    return SimulateWorkersMain(argc, argv);
  }
  Options options;
  if (const int rc = ParseArguments(argc, argv, options); rc != 0) return rc == 1 ? 0 : 2;

  // The header comes from the puzzle file alone: the reference engine reads the puzzle in
  // each job's set-up, and building the new engine's model would be charged to it as well.
  quaderix::SetupError error;
  const quaderix::PuzzleParameters params =
      quaderix::ReadPuzzleParameters(options.puzzlePath, false);
  if (quaderix::CheckPuzzleParameters(params, &error) == 0) {
    std::fprintf(stderr, "quaderix-bench: set-up failed: %s\n", error.message.c_str());
    return 1;
  }
  // The new engine's model is built once and shared by its jobs.
  std::shared_ptr<const quaderix::SearchModel> model;
  double buildSeconds = 0;
  if (!options.reference) {
    const Clock::time_point buildStart = Clock::now();
    model = quaderix::SearchModel::Build(options.puzzlePath, false, &error);
    buildSeconds = SecondsSince(buildStart);
    if (!model) {
      std::fprintf(stderr, "quaderix-bench: set-up failed: %s\n", error.message.c_str());
      return 1;
    }
  }
  const int32_t stoneCount = params.stoneCount;
  std::printf("puzzle: %s%s, %dx%dx%d, %d stone types, %d symmetry positions, pre-check %d\n",
              options.puzzlePath.empty() ? "built-in" : options.puzzlePath.c_str(),
              !options.puzzlePath.empty() && !params.useFile ? " (incomplete: built-in used)" : "",
              params.xSize, params.ySize, params.zSize, stoneCount, params.symPosCount,
              params.preCheckLevel);
  std::printf("engine: %s", options.reference ? "reference (work = steps)\n" : "");
  if (!options.reference)
    std::printf("new (work = placements tried), model built in %.3f s\n", buildSeconds);
  if (options.allJobs) {
    options.jobs.clear();
    for (int32_t job = 0; job < stoneCount; ++job) options.jobs.push_back(job);
  }
  if (options.maxSteps > 0)
    std::printf("each job stops after %" PRId64 " steps\n", options.maxSteps);

  std::printf("%4s %12s %14s %9s %10s %14s  %s\n", "job", "solutions", "work", "setup s",
              "search s", "work/s", "state");
  uint64_t totalSolutions = 0;
  uint64_t totalWork = 0;
  double totalSetup = 0;
  double totalSearch = 0;
  int failures = 0;
  // Heap-allocated like a worker's solver.
  auto solver = std::make_unique<quaderix::PuzzleSolver>(-1, -1, options.puzzlePath, "");
  for (int32_t job : options.jobs) {
    const JobResult r = options.reference ? RunReferenceJob(options, job)
                                          : RunNewJob(options, model, job, solver.get());
    if (!r.setupOk) {
      std::printf("%4d  set-up failed: %s\n", job, r.setupError.c_str());
      ++failures;
      continue;
    }
    totalSolutions += r.solutions;
    totalWork += r.work;
    totalSetup += r.setupSeconds;
    totalSearch += r.searchSeconds;
    std::printf("%4d %12" PRIu64 " %14" PRIu64 " %9.3f %10.3f %14s  %s\n", job, r.solutions, r.work,
                r.setupSeconds, r.searchSeconds, Rate(r.work, r.searchSeconds).c_str(),
                r.finished ? "finished" : "cut at max steps");
    std::fflush(stdout);
  }
  std::printf("%4s %12" PRIu64 " %14" PRIu64 " %9.3f %10.3f %14s\n", "all", totalSolutions,
              totalWork, totalSetup, totalSearch, Rate(totalWork, totalSearch).c_str());
  return failures == 0 ? 0 : 1;
}
