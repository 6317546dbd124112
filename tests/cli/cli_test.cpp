// quaderix-cli as a user runs it: the built program started in a scratch directory on
// small puzzle files. Checks the log lines, the per-job counts against the search engine
// stepped directly, the output files byte for byte, --check on good and broken files,
// the exit codes, and Ctrl-C in the middle of a run.

#include <signal.h>
#include <sys/wait.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "solver/puzzle_solver.h"
#include "support/temp_files.h"
#include "threads/run_puzzles.h"

namespace quaderix {
namespace {

namespace fs = std::filesystem;
using testing::Occurrences;
using testing::ReadAll;
using testing::TempDir;

// What one run of the program left: its exit status (1000 + signal when killed) and
// everything it wrote to stdout and stderr.
struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;

  bool HasLine(const std::string& line) const {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
  }
  // The count of the line "job I: N solutions", or -1 when there is none.
  long JobCount(int job) const {
    const std::string head = "\njob " + std::to_string(job) + ": ";
    const size_t found = ("\n" + out).find(head);
    const size_t at = found + head.size() - 1;  // where N begins in out
    if (found == std::string::npos || !std::isdigit(static_cast<unsigned char>(out[at]))) return -1;
    size_t digits = 0;
    const long n = std::stol(out.substr(at), &digits);
    return out.compare(at + digits, 11, " solutions\n") == 0 ? n : -1;
  }
  // The last line, "total: N solutions in S.S s...", with the run time S.S checked for
  // its one decimal and replaced by "#".
  std::string Total() const {
    const size_t from = out.rfind("\ntotal: ");
    if (from == std::string::npos) return "";
    std::string line = out.substr(from + 1);
    const size_t in = line.find(" in ") + 4;
    const size_t end = line.find(" s", in);
    const std::string time = line.substr(in, end - in);
    if (time.size() < 3 || time[time.size() - 2] != '.' ||
        time.find_first_not_of("0123456789.") != std::string::npos)
      return line;
    return line.replace(in, time.size(), "#");
  }
};

// Runs `program` with `args` in `cwd`, stdout and stderr into files (not a terminal).
// With `signal`, sends it half a second after the program has started its second job.
Outcome RunCli(const std::vector<std::string>& args, const fs::path& cwd, int signal = 0,
               const std::string& program = QUADERIX_CLI_PATH) {
  std::string command = "cd '" + cwd.string() + "' && echo $$ >.pid && exec '" + program + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  fs::remove(cwd / ".out");
  auto status = std::async(std::launch::async, [&] {
    return std::system((command + " </dev/null >.out 2>.err").c_str());
  });
  if (signal != 0) {
    EXPECT_TRUE(testing::WaitFor(
        [&] { return ReadAll(cwd / ".out").find("==> Thread(1) Started") != std::string::npos; },
        30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(std::stoi(ReadAll(cwd / ".pid")), signal);
  }
  const int raw = status.get();
  return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw), ReadAll(cwd / ".out"),
                 ReadAll(cwd / ".err")};
}

TEST(CommandLine, SolvesSmallPuzzlesToTheSearchEnginesCounts) {
  TempDir dir;
  dir.WriteFile("line.ini", testing::LinePuzzle());
  Outcome run = RunCli({"line.ini", "--threads", "2", "--output-base", "sol"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The log as the window shows it, one line each without the prompt.
  EXPECT_TRUE(
      run.out.starts_with("Maximum number of active threads = 2\n"
                          "Output file name base = sol\n"
                          "Active configuration file = line.ini\n"
                          "Number of Threads = 2\n"))
      << run.out;
  EXPECT_EQ(Occurrences(run.out, "-> Puzzle has finished\n"), 2u);
  EXPECT_EQ(Occurrences(run.out, "-> Puzzle has stopped\n"), 2u);
  EXPECT_EQ(run.out.find_first_of("\r"), std::string::npos);
  EXPECT_EQ(run.JobCount(0), 2);
  EXPECT_EQ(run.JobCount(1), 1);
  // The last line: the total and the run time with one decimal.
  EXPECT_EQ(run.Total(), "total: 3 solutions in # s\n");
  // The files are named after the base and the job, in the directory we started in.
  EXPECT_EQ(ReadAll(dir.PathOf("sol_00.txt")), testing::kLineJob0Records);
  EXPECT_EQ(ReadAll(dir.PathOf("sol_01.txt")), testing::kLineJob1Records);
  fs::remove(dir.PathOf("sol_00.txt"));
  fs::remove(dir.PathOf("sol_01.txt"));

  // The Soma cube's jobs give the counts of the search engine stepped here directly, a
  // quarter of its 11520 packings in all; without an output base no file is written.
  const std::string soma = dir.WriteFile("soma.ini", testing::SomaCube());
  run = RunCli({"soma.ini", "--threads", "7", "--output-base", ""}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  long total = 0;
  for (int job = 0; job < 7; ++job) {
    PuzzleSolver solver(job, job, soma, "");
    ASSERT_EQ(solver.Setup(job, job, soma, ""), 1);
    while (!solver.finished) solver.Step();
    EXPECT_EQ(run.JobCount(job), static_cast<long>(solver.SolutionCount())) << job;
    total += solver.SolutionCount();
  }
  EXPECT_EQ(total, 2880);
  EXPECT_EQ(run.Total(), "total: 2880 solutions in # s\n");
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
}

TEST(CommandLine, InterruptStopsEveryJobAndKeepsTheFilesWhole) {
  // MainConfig.ini is read from the program's directory and a relative ConfigFileName
  // belongs there; the output files go to the directory the program was started in.
  TempDir dir;
  const fs::path bin = dir.path() / "bin";
  const fs::path work = dir.path() / "work";
  fs::create_directories(bin / "puzzles");
  fs::create_directories(work);
  const fs::path program = bin / "quaderix-cli";
  fs::copy_file(QUADERIX_CLI_PATH, program);
  dir.WriteFile("bin/MainConfig.ini",
                "[Global Parameter]\r\nMaxThreads=2\r\nOutputFileNameBase=run\r\n"
                "ConfigFileName=puzzles/endless.ini\r\n");
  dir.WriteFile("bin/puzzles/endless.ini", testing::EndlessPuzzle());
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const Outcome run = RunCli({}, work, sig, program.string());
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_TRUE(
        run.HasLine("Active configuration file = " + (bin / "puzzles/endless.ini").string()))
        << run.out;
    // The complete stop sequence: both jobs paused, then stopped.
    EXPECT_EQ(Occurrences(run.out, "-> Puzzle has paused\n"), 2u) << run.out;
    EXPECT_EQ(Occurrences(run.out, "-> Puzzle has stopped\n"), 2u) << run.out;
    const long counts[2] = {run.JobCount(0), run.JobCount(1)};
    ASSERT_GT(counts[0], 0) << run.out;
    ASSERT_GT(counts[1], 0) << run.out;
    EXPECT_EQ(run.Total(), "total: " + std::to_string(counts[0] + counts[1]) +
                               " solutions in # s (interrupted)\n");
    // Solution 1 and every 1000th were written, each record complete.
    EXPECT_FALSE(fs::exists(bin / "run_00.txt"));
    for (int job = 0; job < 2; ++job) {
      const size_t written = 1 + static_cast<size_t>(counts[job]) / 1000;
      const std::string records = ReadAll(work / ("run_0" + std::to_string(job) + ".txt"));
      EXPECT_EQ(Occurrences(records, "Solution : "), written) << job;
      EXPECT_EQ(Occurrences(records, "__ENDBLOCK;\r\n\r\n"), written) << job;
      EXPECT_TRUE(records.ends_with("__ENDBLOCK;\r\n\r\n")) << job;
    }
  }
}

TEST(CommandLine, CheckDescribesAPuzzleOrNamesTheBrokenKey) {
  TempDir dir;
  struct Case {
    const char* find;  // changed in the Soma cube's file; "" leaves it whole
    const char* replace;
    int exitCode;
    std::vector<std::string> lines;  // of the description, or the one sentence on stderr
  };
  const Case cases[] = {
      // The placements of the seven Soma pieces in the cube are the well-known 144, 144,
      // 72, 72, 96, 96 and 64.
      {"",
       "",
       0,
       {"Built-in puzzle: no", "Block: 3*3*3, EdgeZone 3, 27 cells, 0 holes",
        "Stone types: 7, stones in one packing: 7",
        "  type 0 (Stone_00): 3 cubes, 1 copy, 144 placements",
        "  type 1 (Stone_01): 4 cubes, 1 copy, 144 placements",
        "  type 2 (Stone_02): 4 cubes, 1 copy, 72 placements",
        "  type 3 (Stone_03): 4 cubes, 1 copy, 72 placements",
        "  type 4 (Stone_04): 4 cubes, 1 copy, 96 placements",
        "  type 5 (Stone_05): 4 cubes, 1 copy, 96 placements",
        "  type 6 (Stone_06): 4 cubes, 1 copy, 64 placements", "Symmetry positions: 4",
        "  SymPos0: 0,0,0 (first cell of the fill order)",
        "Jobs: 7, of which 4 search (jobs 4..6 have nothing to search)"}},
      // A required key missing: the built-in puzzle, and which key.
      {"EdgeZone=3\n",
       "",
       0,
       {"Built-in puzzle: yes, the required key EdgeZone is missing",
        "Block: 5*4*3, EdgeZone 3, 60 cells, 0 holes", "Stone types: 12, stones in one packing: 12",
        "Jobs: 12, of which 9 search (jobs 9..11 have nothing to search)"}},
      {"YZLine_01_02=1,1,1\n", "", 65, {"missing row YZLine_01_02"}},
      {"Stone_03=1,4,0,0,0,1,0,0,1,1,0,2,1,0",
       "Stone_03=1,2,0,0,0,1,0,0,9",
       65,
       {"Stone_03 has 9 values but 3*2 + 2 = 8 are needed"}},
      {"StoneOrder=0,1,2,3,4,5,6", "StoneOrder=0,1,1,3,4,5,6", 65, {"StoneOrder repeats 1"}},
      {"SymPos0=0,0,0",
       "SymPos0=1,0,0",
       65,
       {"SymPos0 (1,0,0) is not the first cell of the fill order"}},
      {"EdgeZone=3", "EdgeZone=1", 65, {"EdgeZone 1 is narrower than stone Stone_01's extent 2"}},
      {"SymetryPosCount=4",
       "SymetryPosCount=8",
       65,
       {"SymetryPosCount is 8 but must lie between 0 and 7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    std::string text = testing::SomaCube();
    const size_t at = text.find(c.find);
    ASSERT_NE(at, std::string::npos);
    dir.WriteFile("puzzle.ini", text.replace(at, std::string(c.find).size(), c.replace));
    const Outcome run = RunCli({"--check", "puzzle.ini"}, dir.path());
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    if (c.exitCode != 0) {
      EXPECT_EQ(run.err, "The puzzle file puzzle.ini is refused: " + c.lines.front() + ".\n");
      EXPECT_EQ(run.out, "");
    }
    for (const std::string& line : c.exitCode == 0 ? c.lines : std::vector<std::string>{}) {
      EXPECT_TRUE(run.HasLine(line)) << line << "\n" << run.out;
    }
  }
}

TEST(CommandLine, ExitCodes) {
  TempDir dir;
  dir.WriteFile("soma.ini", testing::SomaCube());
  dir.WriteFile("broken.ini", testing::MissingRowPuzzle());
  dir.WriteFile("negative.ini", "[StoneInfo]\nStoneCount=-1\n");
  dir.WriteFile("line.ini", testing::LinePuzzle());
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* text;  // in what it printed, stdout or stderr
  };
  const Case cases[] = {
      // A job whose set-up fails ends the run; so does a job table that cannot be made.
      {{"broken.ini"}, 65, "==> Error on starting Thread(0)\n"},
      {{"broken.ini"}, 65, "missing row YZLine_01_00"},
      {{"negative.ini"}, 65, "Error on init Threads\n"},
      // Output files that cannot be written: the run still counts and says so.
      {{"line.ini", "--output-base", "missing/sol"}, 0, "writes to its output file failed"},
      // Usage errors.
      {{"--threads", "0"}, 64, "--threads"},
      {{"--bogus"}, 64, "--bogus"},
      {{"a.ini", "b.ini"}, 64, "b.ini"},
      {{"--check", "soma.ini", "--threads", "2"}, 64, "excludes"},
      {{"--help"}, 0, "--output-base"},
      {{"--version"}, 0, "quaderix-cli 1."},
      // show: the subcommand is reached, and its refusals keep their exit codes.
      {{"show", "none_00.txt"}, 66, "none_00.txt cannot be read"},
      {{"show", "soma.ini", "--solution", "1"}, 65, "is not a solution output file"},
      {{"show", "soma.ini", "--list", "--solution", "1"}, 64, "excludes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const Outcome run = RunCli(c.args, dir.path());
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE((run.out + run.err).find(c.text), std::string::npos) << run.out << run.err;
  }
}

}  // namespace
}  // namespace quaderix
