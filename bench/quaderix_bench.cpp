// quaderix-bench: runs jobs of a puzzle one after the other on the calling thread, the way
// a worker drives its solver (Setup, then Step until finished), and prints per job the
// solutions, steps, time and steps per second, then the totals.
//
//   quaderix-bench [--puzzle FILE] [--jobs 0,1,2|all] [--max-steps N]
//   quaderix-bench --simulate-workers [--puzzle FILE]   (see simulate_workers.cpp)
//
// Without --puzzle the built-in puzzle is solved. --max-steps caps the steps of each job
// (0, the default, runs every job to its end); a capped job is reported as cut.

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

#include "solver/puzzle_solver.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string puzzlePath;  // "" selects the built-in puzzle
  bool allJobs = true;
  std::vector<int32_t> jobs;
  int64_t maxSteps = 0;  // 0: no limit
};

// What one job did; filled by RunJob and printed by the caller.
struct JobResult {
  int32_t job = 0;
  bool setupOk = false;
  std::string setupError;
  uint32_t solutions = 0;
  int64_t steps = 0;
  double setupSeconds = 0;
  double searchSeconds = 0;
  bool finished = false;
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: quaderix-bench [--puzzle FILE] [--jobs 0,1,2|all] [--max-steps N]\n"
               "  --puzzle FILE   puzzle definition file (default: the built-in puzzle)\n"
               "  --jobs LIST     comma-separated job numbers, or all (default)\n"
               "  --max-steps N   stop each job after N steps (default 0: no limit)\n");
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

JobResult RunJob(const Options& options, int32_t job) {
  JobResult result;
  result.job = job;
  // Heap-allocated like a worker's solver; the tables of a large puzzle are big.
  auto solver = std::make_unique<quaderix::PuzzleSolver>(job, job, options.puzzlePath, "");
  const Clock::time_point setupStart = Clock::now();
  result.setupOk = solver->Setup(job, job, options.puzzlePath, "") == 1;
  result.setupSeconds = SecondsSince(setupStart);
  if (!result.setupOk) {
    result.setupError = solver->setupError.message;
    return result;
  }
  const Clock::time_point searchStart = Clock::now();
  int64_t steps = 0;
  while (!solver->finished && (options.maxSteps == 0 || steps < options.maxSteps)) {
    solver->Step();
    ++steps;
  }
  result.searchSeconds = SecondsSince(searchStart);
  result.steps = steps;
  result.solutions = solver->SolutionCount();
  result.finished = solver->finished != 0;
  solver->Teardown();
  return result;
}

std::string Rate(int64_t steps, double seconds) {
  if (seconds <= 0 || steps == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", static_cast<double>(steps) / seconds);
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

  // Set up job 0 once to learn what the solver makes of the file.
  quaderix::PuzzleSolver probe(0, 0, options.puzzlePath, "");
  if (probe.Setup(0, 0, options.puzzlePath, "") != 1) {
    std::fprintf(stderr, "quaderix-bench: set-up failed: %s\n", probe.setupError.message.c_str());
    return 1;
  }
  const int32_t stoneCount = probe.stoneCount;
  std::printf("puzzle: %s%s, %dx%dx%d, %d stone types, %d symmetry positions, pre-check %d\n",
              options.puzzlePath.empty() ? "built-in" : options.puzzlePath.c_str(),
              !options.puzzlePath.empty() && !probe.useFile ? " (incomplete: built-in used)" : "",
              probe.xSize, probe.ySize, probe.zSize, stoneCount, probe.symPosCount,
              probe.preCheckLevel);
  probe.Teardown();
  if (options.allJobs) {
    options.jobs.clear();
    for (int32_t job = 0; job < stoneCount; ++job) options.jobs.push_back(job);
  }
  if (options.maxSteps > 0)
    std::printf("each job stops after %" PRId64 " steps\n", options.maxSteps);

  std::printf("%4s %12s %14s %9s %10s %14s  %s\n", "job", "solutions", "steps", "setup s",
              "search s", "steps/s", "state");
  uint64_t totalSolutions = 0;
  int64_t totalSteps = 0;
  double totalSetup = 0;
  double totalSearch = 0;
  int failures = 0;
  for (int32_t job : options.jobs) {
    const JobResult r = RunJob(options, job);
    if (!r.setupOk) {
      std::printf("%4d  set-up failed: %s\n", job, r.setupError.c_str());
      ++failures;
      continue;
    }
    totalSolutions += r.solutions;
    totalSteps += r.steps;
    totalSetup += r.setupSeconds;
    totalSearch += r.searchSeconds;
    std::printf("%4d %12u %14" PRId64 " %9.3f %10.3f %14s  %s\n", job, r.solutions, r.steps,
                r.setupSeconds, r.searchSeconds, Rate(r.steps, r.searchSeconds).c_str(),
                r.finished ? "finished" : "cut at max steps");
    std::fflush(stdout);
  }
  std::printf("%4s %12" PRIu64 " %14" PRId64 " %9.3f %10.3f %14s\n", "all", totalSolutions,
              totalSteps, totalSetup, totalSearch, Rate(totalSteps, totalSearch).c_str());
  return failures == 0 ? 0 : 1;
}
