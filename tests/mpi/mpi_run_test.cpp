// quaderix-mpi started by mpirun with 1, 2, 3 and 5 ranks must count and write exactly
// what quaderix-cli does; a run whose searching rank is killed goes on with --resume and
// another number of ranks to the same end. Open MPI refuses root unless told, and leaks
// inside its own library, so the children run with both allowed.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mpi/unit_dispatcher.h"
#include "support/child_process.h"
#include "support/puzzle_description.h"
#include "support/run_puzzles.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempDir;

using Child = testing::ChildProcess;

// Open MPI refuses root unless told so, and leaks inside its own library: every program
// the tests start inherits both permissions.
[[maybe_unused]] const bool kMpiEnvironment = [] {
  setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
  setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  return true;
}();

std::vector<std::string> Mpirun(int ranks, const std::vector<std::string>& args) {
  std::vector<std::string> all = {QUADERIX_MPIEXEC, "--oversubscribe", "-np", std::to_string(ranks),
                                  QUADERIX_MPI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

// The summary's per-job lines and the total's count, without the time.
std::string Counts(const std::string& out) {
  std::string lines;
  for (size_t at = out.find("\njob "); at != std::string::npos; at = out.find("\njob ", at + 1))
    lines += out.substr(at + 1, out.find('\n', at + 1) - at);
  const size_t total = out.find("\ntotal: ");
  return total == std::string::npos ? lines
                                    : lines + out.substr(total, out.find(" in ", total) - total);
}

std::vector<std::string> Files(const fs::path& dir, const std::string& base, int jobs) {
  std::vector<std::string> files;
  for (int j = 0; j < jobs; ++j)
    files.push_back(ReadAll(dir / (base + "_0" + std::to_string(j) + ".txt")));
  return files;
}

// The ring of eight cells around a hole from the README, every packing written.
std::string Ring() {
  testing::PuzzleDescription ring;
  ring.xSize = ring.ySize = 3;
  ring.SetKey(1, 1, 0, 0);
  ring.stones = {{testing::kTriLine}, {testing::kTriBend}, {testing::kDomino}};
  ring.symPositions = {{0, 0, 0}, {2, 2, 0}};
  ring.writeEveryNSolution = 1;
  ring.edgeZone = 2;
  return testing::ToIni(ring);
}

TEST(MpiRun, CountsAndFilesEqualTheSingleMachineRunForAnyNumberOfRanks) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string puzzle;
    int jobs;
  } cases[] = {
      // Symmetry positions, jobs with nothing to search, one record in seven.
      {"soma", testing::SomaCube(7), 7},
      {"ring", Ring(), 3},  // a hole
      // Three copies of one stone, every other record.
      {"dominoes", testing::DominoCube() + "[OutputInfo]\nWriteEveryNSolution=2\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.WriteFile(std::string(c.name) + ".ini", c.puzzle);
    Child reference({QUADERIX_CLI_PATH, file, "--threads", "2", "--output-base", "ref"},
                    dir.path());
    ASSERT_EQ(reference.Wait(), 0) << reference.Err();
    const std::string counts = Counts(reference.Out());
    ASSERT_NE(counts.find("total: "), std::string::npos) << reference.Out();
    for (int ranks : {1, 2, 3, 5}) {
      SCOPED_TRACE(ranks);
      const std::string base = "np" + std::to_string(ranks);
      Child run(Mpirun(ranks, {file, "--threads", "1", "--output-base", base}), dir.path());
      ASSERT_EQ(run.Wait(), 0) << run.Err();
      EXPECT_EQ(Counts(run.Out()), counts);
      EXPECT_TRUE(Files(dir.path(), base, c.jobs) == Files(dir.path(), "ref", c.jobs));
    }
  }
}

// The process of the run started as `mpirun` whose MPI rank is `rank`, or -1.
pid_t RankProcess(pid_t mpirun, int rank) {
  const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank);
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    pid_t parent = 0;
    stat >> pid >> comm >> state >> parent;
    if (parent != mpirun) continue;
    const std::string environ = ReadAll(entry.path() / "environ");
    if (environ.find(std::string(1, '\0') + wanted + '\0') != std::string::npos)
      return static_cast<pid_t>(std::stol(name));
  }
  return -1;
}

TEST(MpiRun, KilledRankIsResumedWithAnotherNumberOfRanks) {
  TempDir dir;
  // Every packing written: with the units' round trips between the ranks the run lasts
  // long enough to be cut off in its middle.
  const std::string file = dir.WriteFile("soma.ini", testing::SomaCube(1));
  Child reference({QUADERIX_CLI_PATH, file, "--threads", "1", "--output-base", "ref"}, dir.path());
  ASSERT_EQ(reference.Wait(), 0) << reference.Err();

  const fs::path checkpoint = dir.path() / "run.checkpoint";
  const std::vector<std::string> args = {file,  "--threads",          "1",    "--output-base",
                                         "run", "--checkpoint-every", "0.02", "--resume"};
  Child cut(Mpirun(3, args), dir.path());
  // Cut off in the middle: a checkpoint stands and half of job 0's records are written.
  const uintmax_t half = fs::file_size(dir.path() / "ref_00.txt") / 2;
  ASSERT_TRUE(testing::WaitFor(
      [&] {
        std::error_code ec;
        return fs::exists(checkpoint) && fs::file_size(dir.path() / "run_00.txt", ec) >= half &&
               !ec;
      },
      60000));
  pid_t victim = -1;
  ASSERT_TRUE(testing::WaitFor([&] { return (victim = RankProcess(cut.pid(), 1)) > 0; }));
  kill(victim, SIGKILL);
  EXPECT_NE(cut.Wait(), 0) << cut.Out();
  ASSERT_TRUE(fs::exists(checkpoint));

  Child resumed(Mpirun(2, args), dir.path());
  EXPECT_EQ(resumed.Wait(), 0) << resumed.Err();
  EXPECT_NE(resumed.Out().find("Resuming the interrupted run"), std::string::npos);
  EXPECT_EQ(Counts(resumed.Out()), Counts(reference.Out()));
  EXPECT_TRUE(Files(dir.path(), "run", 7) == Files(dir.path(), "ref", 7));
  EXPECT_FALSE(fs::exists(checkpoint));
}

// The simulation behind rank 0's speed-up line, against timelines worked out by hand.
TEST(MpiRun, SimulatedClusterTimeFollowsTheUnitsAndTheFirstRanksQueue) {
  struct Case {
    const char* what;
    std::vector<double> seconds;
    int32_t workers;
    double overhead, way, wall;
  } cases[] = {
      {"free first rank: two rounds", {1, 1, 1, 1}, 2, 0, 0, 2},
      // Both first units end at 1 and queue at rank 0 (1.5, 2.0); the next ones start
      // then and end at 2.5 and 3.0, dealt with at 3.0 and 3.5.
      {"first rank's queue", {1, 1, 1, 1}, 2, 0.5, 0, 3.5},
      {"the way out and back on every unit", {1, 1, 1, 1}, 1, 0, 0.25, 5},
      // Many threads, small units: the first rank's time per unit is the bound.
      {"first rank the bottleneck", std::vector<double>(100, 0.01), 50, 0.01, 0, 1.01},
      {"one long unit last", {1, 1, 4}, 3, 0, 0, 4},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(SimulatedClusterTime(c.seconds, c.workers, c.overhead, c.way), c.wall, 1e-9)
        << c.what;
  }
}

}  // namespace
}  // namespace quaderix
