#pragma once

// One headless run of a puzzle from the command line: the checks before it starts, the
// checkpoint it goes on from, the main loop that drains the workers' messages and shows
// the status line, and the summary with its exit status. Shared by quaderix-cli and the
// MPI program's first rank; runs on the program's main thread.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "run/run_supervisor.h"
#include "run/unit_engine.h"

namespace quaderix {

// The command-line overrides of a run, as parsed on the main thread.
struct RunOptions {
  std::string puzzle;
  int threads = 0;
  bool threadsGiven = false;
  std::string outputBase;
  bool outputBaseGiven = false;
  bool resume = false;
  bool fresh = false;
  double checkpointEvery = 30;
};

// What a program other than quaderix-cli changes of a run; the defaults are quaderix-cli's.
struct RunFrontEnd {
  ModelBuilder builder;  // empty: the search on this machine
  int32_t workers = 0;   // above 0: the pool's workers, whatever MaxThreads and --threads say
  std::function<std::string()> statusSuffix;  // appended to the status line
  int32_t cutForWorkers = 0;                  // above 0: units cut as for that many workers
};

// Solves the puzzle of `options` and returns the program's exit status.
int RunPuzzle(const RunOptions& options, const RunFrontEnd& frontEnd = {});

// The options of a run, added to `app`; the switches let a caller exclude others.
struct RunOptionSwitches {
  CLI::Option* puzzle = nullptr;
  CLI::Option* threads = nullptr;
  CLI::Option* outputBase = nullptr;
  CLI::Option* resume = nullptr;
  CLI::Option* fresh = nullptr;
  CLI::Option* every = nullptr;
};
RunOptionSwitches AddRunOptions(CLI::App& app, RunOptions& options);
// After parsing: which overrides were given.
void NoteGivenOptions(const RunOptionSwitches& switches, RunOptions& options);

}  // namespace quaderix
