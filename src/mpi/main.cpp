// quaderix-mpi: the run of quaderix-cli spread over the ranks of an MPI job. The first
// rank runs the command-line program's run (cutting, checkpoint, records, status line
// and summary) with a model whose units are searched by the other ranks; those search
// with --threads threads each. With one rank it is quaderix-cli.

#include <mpi.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/puzzle_check.h"
#include "cli/puzzle_run.h"
#include "mpi/rank_worker.h"
#include "mpi/unit_dispatcher.h"

namespace quaderix {
namespace {

int RunFirstRank(const RunOptions& options, int32_t ranks, int32_t cutFor) {
  UnitDispatcher dispatcher(ranks);
  RunFrontEnd frontEnd;
  frontEnd.cutForWorkers = cutFor;
  frontEnd.workers = dispatcher.GatherSlots();
  frontEnd.builder = RemoteModelBuilder(dispatcher);
  frontEnd.statusSuffix = [&dispatcher] {
    return " | ranks: " + std::to_string(dispatcher.ranks()) + ", " +
           std::to_string(dispatcher.InFlight()) + " units in flight";
  };
  dispatcher.Start();
  const int status = RunPuzzle(options, frontEnd);
  dispatcher.Finish();
  if (const std::string report = dispatcher.OverheadReport(); !report.empty())
    std::fprintf(stderr, "%s\n", report.c_str());
  return status;
}

}  // namespace
}  // namespace quaderix

int main(int argc, char** argv) {
  using namespace quaderix;
  // One thread of a rank calls MPI at a time: the main thread, or on the first rank its
  // dispatcher's thread between GatherSlots and Finish.
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_SERIALIZED, &provided);
  int rank = 0;
  int ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  if (provided < MPI_THREAD_SERIALIZED) {
    if (rank == 0) std::fprintf(stderr, "This MPI library cannot serve a threaded program.\n");
    MPI_Finalize();
    return kExitSetupFailed;
  }

  CLI::App app{
      "Quaderix Puzzle over MPI: the first rank hands the work units of the run to the\n"
      "other ranks, which search them on --threads threads each (default: every core).",
      "quaderix-mpi"};
  RunOptions options;
  AddRunOptions(app, options);
  int32_t cutFor = 0;
  app.add_option("--cut-for", cutFor,
                 "cut the jobs into units as for N search threads, to measure for the "
                 "speed-up of a larger cluster")
      ->check(CLI::Range(1, 1 << 20));
  int status = kExitOk;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Every rank parses the same words; the first one speaks for all.
    status = rank == 0 ? app.exit(e) : (e.get_exit_code() == 0 ? 0 : 1);
    MPI_Finalize();
    return status == 0 ? kExitOk : kExitUsage;
  }
  const RunOptionSwitches given{nullptr, app.get_option("--threads"),
                                app.get_option("--output-base")};
  NoteGivenOptions(given, options);
  const int32_t threads =
      options.threadsGiven
          ? options.threads
          : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  if (ranks == 1) {
    status = RunPuzzle(options);
  } else if (rank == 0) {
    status = RunFirstRank(options, ranks, cutFor);
  } else {
    RankWorker(threads).Run();
  }
  MPI_Finalize();
  return status;
}
