// quaderix-cli as a user runs it: the built program started in a scratch directory on
// small puzzle files. Checks the log lines, the per-job counts against the search engine
// stepped directly, the output files byte for byte, --check on good and broken files,
// the exit codes, and Ctrl-C in the middle of a run.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
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
using testing::TempDir;
using testing::WaitFor;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What one run of the program left: its exit status (1000 + signal when killed) and
// everything it wrote to stdout and stderr.
struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;

  bool HasLine(const std::string& line) const {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
  }
};

// Runs `program` with `args` in `cwd`, stdout and stderr into files (not a terminal).
// `whileRunning` gets the child's pid and the path of its stdout file.
Outcome RunCli(const std::vector<std::string>& args, const fs::path& cwd,
               const std::function<void(pid_t, const fs::path&)>& whileRunning = nullptr,
               const std::string& program = QUADERIX_CLI_PATH) {
  static int serial = 0;
  const fs::path out = cwd / (".stdout" + std::to_string(++serial));
  const fs::path err = cwd / (".stderr" + std::to_string(serial));
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(120);
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(121);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(122);
  }
  Outcome outcome;
  if (pid < 0) return outcome;
  if (whileRunning) whileRunning(pid, out);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  outcome.out = ReadAll(out);
  outcome.err = ReadAll(err);
  fs::remove(out);
  fs::remove(err);
  return outcome;
}

// Sends `sig` once the program has printed `line`, a little later so that the workers
// have run for a while.
std::function<void(pid_t, const fs::path&)> SignalAfter(const std::string& line, int sig) {
  return [line, sig](pid_t pid, const fs::path& out) {
    EXPECT_TRUE(WaitFor([&] { return ReadAll(out).find(line) != std::string::npos; }, 30000))
        << line;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, sig);
  };
}

// The job counts of the search engine alone, each job stepped to its end in process.
std::vector<uint32_t> EngineJobCounts(const std::string& path, int jobs) {
  std::vector<uint32_t> counts;
  for (int job = 0; job < jobs; ++job) {
    PuzzleSolver solver(job, job, path, "");
    EXPECT_EQ(solver.Setup(job, job, path, ""), 1);
    while (!solver.finished) solver.Step();
    counts.push_back(solver.SolutionCount());
  }
  return counts;
}

// The count on the line "job I: N solutions", or -1 when there is no such line.
int64_t JobLineCount(const Outcome& run, int job) {
  const std::string head = "\njob " + std::to_string(job) + ": ";
  const size_t at = ("\n" + run.out).find(head);
  if (at == std::string::npos) return -1;
  const size_t digits = at + head.size() - 1;  // index into run.out
  const size_t end = run.out.find_first_not_of("0123456789", digits);
  if (end == digits || end == std::string::npos || run.out.compare(end, 10, " solutions") != 0)
    return -1;
  return std::stoll(run.out.substr(digits, end - digits));
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(CommandLine, SolvesASmallPuzzleIntoItsFiles) {
  TempDir dir;
  dir.WriteFile("line.ini", testing::kLinePuzzle);
  const Outcome run = RunCli({"line.ini", "--threads", "2", "--output-base", "sol"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The log as the window shows it, without prompts: settings, summary, the two jobs.
  EXPECT_EQ(run.out.rfind("Maximum number of active threads = 2\n"
                          "Output file name base = sol\n"
                          "Active configuration file = line.ini\n"
                          "Number of Threads = 2\n"
                          "Block Size X*Y*Z=4*1*1\n"
                          "Number of different stones = 2\n"
                          "Number of symetries = 0\n"
                          "Write one every 1 solutions to the output file(s)\n"
                          "Timeto initialize ",
                          0),
            0u)
      << run.out;
  EXPECT_TRUE(run.HasLine("==> Thread(0) Started ==> 1 Threads Running"));
  EXPECT_TRUE(run.HasLine("==> Thread(1) Started ==> 2 Threads Running"));
  EXPECT_EQ(Occurrences(run.out, "-> Puzzle has finished\n"), 2u);
  EXPECT_EQ(Occurrences(run.out, "-> Puzzle has stopped\n"), 2u);
  EXPECT_EQ(run.out.find("::>"), std::string::npos);
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_TRUE(run.HasLine("job 0: 2 solutions"));
  EXPECT_TRUE(run.HasLine("job 1: 1 solutions"));
  // The last line: the total and the run time with one decimal.
  const size_t last = run.out.rfind("\ntotal: 3 solutions in ");
  ASSERT_NE(last, std::string::npos) << run.out;
  const std::string seconds = run.out.substr(last + 23);
  EXPECT_TRUE(EndsWith(seconds, " s\n")) << seconds;
  EXPECT_EQ(seconds.find_first_not_of("0123456789."), seconds.size() - 3) << seconds;
  EXPECT_EQ(seconds[seconds.size() - 5], '.') << seconds;
  // The files are named after the base and the job, in the directory we started in.
  EXPECT_EQ(ReadAll(dir.path() / "sol_00.txt"), testing::kLineJob0Records);
  EXPECT_EQ(ReadAll(dir.path() / "sol_01.txt"), testing::kLineJob1Records);
}

TEST(CommandLine, JobCountsEqualTheSearchEngines) {
  TempDir dir;
  const std::string dominoes = dir.WriteFile("dominoes.ini", testing::kDominoCube);
  const std::string soma = dir.WriteFile("soma.ini", testing::kSomaCube);
  const std::vector<uint32_t> dominoCounts = EngineJobCounts(dominoes, 2);
  EXPECT_EQ(dominoCounts, (std::vector<uint32_t>{9, 27}));
  const std::vector<uint32_t> somaCounts = EngineJobCounts(soma, 7);

  // Without --output-base no files are written.
  Outcome run = RunCli({"dominoes.ini", "--threads", "2"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("job 0: 9 solutions"));
  EXPECT_TRUE(run.HasLine("job 1: 27 solutions"));
  EXPECT_TRUE(run.out.find("\ntotal: 36 solutions in ") != std::string::npos);

  run = RunCli({"soma.ini", "--threads", "7", "--output-base", ""}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  uint64_t total = 0;
  for (int job = 0; job < 7; ++job) {
    EXPECT_TRUE(run.HasLine("job " + std::to_string(job) + ": " + std::to_string(somaCounts[job]) +
                            " solutions"))
        << job;
    total += somaCounts[job];
  }
  EXPECT_EQ(total, 2880u);
  EXPECT_TRUE(run.out.find("\ntotal: 2880 solutions in ") != std::string::npos);
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
}

TEST(CommandLine, ReadsMainConfigFromItsOwnDirectoryAndFilesFromTheCurrentOne) {
  TempDir dir;
  const fs::path bin = dir.path() / "bin";
  const fs::path work = dir.path() / "work";
  fs::create_directories(bin / "puzzles");
  fs::create_directories(work);
  const fs::path program = bin / "quaderix-cli";
  fs::copy_file(QUADERIX_CLI_PATH, program);
  dir.WriteFile("bin/MainConfig.ini",
                "[Global Parameter]\r\nMaxThreads=3\r\nOutputFileNameBase=out\r\n"
                "ConfigFileName=puzzles/line.ini\r\n");
  dir.WriteFile("bin/puzzles/line.ini", testing::kLinePuzzle);

  Outcome run = RunCli({}, work, nullptr, program.string());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("Maximum number of active threads = 3"));
  EXPECT_TRUE(run.HasLine("Output file name base = out"));
  // A relative ConfigFileName belongs to the program's directory.
  EXPECT_TRUE(run.HasLine("Active configuration file = " + (bin / "puzzles/line.ini").string()))
      << run.out;
  EXPECT_EQ(ReadAll(work / "out_00.txt"), testing::kLineJob0Records);
  EXPECT_EQ(ReadAll(work / "out_01.txt"), testing::kLineJob1Records);
  EXPECT_FALSE(fs::exists(bin / "out_00.txt"));

  // A file named on the command line wins and is taken from the current directory.
  dir.WriteFile("work/mine.ini", testing::kDominoCube);
  run = RunCli({"mine.ini"}, work, nullptr, program.string());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("Active configuration file = mine.ini"));
  EXPECT_TRUE(run.HasLine("job 1: 27 solutions"));

  // MaxThreads 0 would never start a job: refused unless --threads overrides it.
  dir.WriteFile("bin/MainConfig.ini", "[Global Parameter]\nMaxThreads=0\n");
  run = RunCli({"mine.ini"}, work, nullptr, program.string());
  EXPECT_EQ(run.exitCode, 64);
  EXPECT_TRUE(run.HasLine("Maximum number of active threads = 0"));
  EXPECT_NE(run.err.find("--threads"), std::string::npos);

  // Without MainConfig.ini: one job at a time, no files, and the program's directory as
  // the configuration file, which selects the built-in puzzle. It runs for minutes, so
  // it is interrupted once it has begun.
  fs::remove(bin / "MainConfig.ini");
  run = RunCli({}, work, SignalAfter("==> Thread(0) Started", SIGINT), program.string());
  EXPECT_EQ(run.exitCode, 130) << run.err;
  EXPECT_EQ(run.out.rfind("Maximum number of active threads = 1\n"
                          "Output file name base = \n"
                          "Active configuration file = " +
                              bin.string() + "\nNumber of Threads = 12\n",
                          0),
            0u)
      << run.out;
  EXPECT_NE(run.err.find("built-in puzzle"), std::string::npos);
}

TEST(CommandLine, InterruptStopsEveryJobAndKeepsTheFilesWhole) {
  TempDir dir;
  dir.WriteFile("endless.ini", testing::kEndlessPuzzle);
  for (int sig : {SIGINT, SIGTERM}) {
    const Outcome run = RunCli({"endless.ini", "--threads", "2", "--output-base", "run"},
                               dir.path(), SignalAfter("==> Thread(1) Started", sig));
    EXPECT_EQ(run.exitCode, 130) << sig << run.err;
    // The complete stop sequence: both jobs paused, then stopped.
    EXPECT_EQ(Occurrences(run.out, "-> Puzzle has paused\n"), 2u) << run.out;
    EXPECT_EQ(Occurrences(run.out, "-> Puzzle has stopped\n"), 2u) << run.out;
    const int64_t counts[2] = {JobLineCount(run, 0), JobLineCount(run, 1)};
    ASSERT_GE(counts[0], 0) << run.out;
    ASSERT_GE(counts[1], 0) << run.out;
    EXPECT_GT(counts[0] + counts[1], 0);
    EXPECT_TRUE(run.out.find("\ntotal: " + std::to_string(counts[0] + counts[1]) +
                             " solutions in ") != std::string::npos);
    EXPECT_TRUE(EndsWith(run.out, " s (interrupted)\n")) << run.out;
    // Solution 1 and every 1000th were written, each record complete.
    for (int job = 0; job < 2; ++job) {
      const uint64_t count = static_cast<uint64_t>(counts[job]);
      const std::string records = ReadAll(dir.path() / ("run_0" + std::to_string(job) + ".txt"));
      EXPECT_EQ(Occurrences(records, "Solution : "), count > 0 ? 1 + count / 1000 : 0) << job;
      EXPECT_EQ(Occurrences(records, "__ENDBLOCK;\r\n\r\n"), Occurrences(records, "Solution : "));
      if (count > 0) {
        ASSERT_GE(records.size(), 15u);
        EXPECT_EQ(records.substr(records.size() - 15), "__ENDBLOCK;\r\n\r\n");
      }
    }
  }
}

TEST(CommandLine, FailedSetupEndsTheRunWithStatus65) {
  TempDir dir;
  dir.WriteFile("broken.ini", testing::kMissingRowPuzzle);
  const Outcome run = RunCli({"broken.ini"}, dir.path());
  EXPECT_EQ(run.exitCode, 65);
  EXPECT_TRUE(run.HasLine("==> Error on starting Thread(0)")) << run.out;
  EXPECT_NE(run.err.find("missing row YZLine_01_00"), std::string::npos) << run.err;

  // A job count that cannot be made: the summary, then the error line.
  dir.WriteFile("negative.ini", "[StoneInfo]\nStoneCount=-1\n");
  const Outcome none = RunCli({"negative.ini"}, dir.path());
  EXPECT_EQ(none.exitCode, 65);
  EXPECT_TRUE(none.HasLine("Number of Threads = -1"));
  EXPECT_TRUE(none.HasLine("Error on init Threads"));
}

TEST(CommandLine, CheckDescribesAPuzzle) {
  TempDir dir;
  dir.WriteFile("soma.ini", testing::kSomaCube);
  Outcome run = RunCli({"--check", "soma.ini"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("Built-in puzzle: no"));
  EXPECT_TRUE(run.HasLine("Block: 3*3*3, EdgeZone 3, 27 cells, 0 holes"));
  EXPECT_TRUE(run.HasLine("Stone types: 7, stones in one packing: 7"));
  // The placements of the seven Soma pieces in the cube are the well-known 144, 144,
  // 72, 72, 96, 96 and 64.
  EXPECT_TRUE(run.HasLine("  type 0 (Stone_00): 3 cubes, 1 copy, 144 placements"));
  EXPECT_TRUE(run.HasLine("  type 1 (Stone_01): 4 cubes, 1 copy, 144 placements"));
  EXPECT_TRUE(run.HasLine("  type 2 (Stone_02): 4 cubes, 1 copy, 72 placements"));
  EXPECT_TRUE(run.HasLine("  type 3 (Stone_03): 4 cubes, 1 copy, 72 placements"));
  EXPECT_TRUE(run.HasLine("  type 4 (Stone_04): 4 cubes, 1 copy, 96 placements"));
  EXPECT_TRUE(run.HasLine("  type 5 (Stone_05): 4 cubes, 1 copy, 96 placements"));
  EXPECT_TRUE(run.HasLine("  type 6 (Stone_06): 4 cubes, 1 copy, 64 placements"));
  EXPECT_TRUE(run.HasLine("Symmetry positions: 4"));
  EXPECT_TRUE(run.HasLine("  SymPos0: 0,0,0 (first cell of the fill order)"));
  EXPECT_TRUE(run.HasLine("  SymPos3: 2,2,0"));
  EXPECT_TRUE(run.HasLine("Jobs: 7, of which 4 search (jobs 4..6 have nothing to search)"));

  // Copies and holes: the row puzzle has 4 cells, 2 single cubes with 4 placements each
  // and one domino with 3. A hole at the end leaves 3 cells.
  std::string line = testing::kLinePuzzle;
  line.replace(line.find("YZLine_00_00=1,1,1,1"), 20, "YZLine_00_00=1,1,1,0");
  dir.WriteFile("holed.ini", line);
  run = RunCli({"--check", "holed.ini"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("Block: 4*1*1, EdgeZone 1, 3 cells, 1 hole"));
  EXPECT_TRUE(run.HasLine("  type 0 (Stone_00): 1 cube, 2 copies, 3 placements"));
  EXPECT_TRUE(run.HasLine("  type 1 (Stone_01): 2 cubes, 1 copy, 2 placements"));

  // A required key missing: the built-in puzzle, and which key.
  std::string noEdge = testing::kSomaCube;
  noEdge.erase(noEdge.find("EdgeZone=3\n"), 11);
  dir.WriteFile("noedge.ini", noEdge);
  run = RunCli({"--check", "noedge.ini"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(run.HasLine("Built-in puzzle: yes, the required key EdgeZone is missing")) << run.out;
  EXPECT_TRUE(run.HasLine("Block: 5*4*3, EdgeZone 3, 60 cells, 0 holes"));
  EXPECT_TRUE(run.HasLine("Stone types: 12, stones in one packing: 12"));
  EXPECT_TRUE(run.HasLine("Jobs: 12, of which 9 search (jobs 9..11 have nothing to search)"));
}

TEST(CommandLine, CheckNamesTheBrokenKey) {
  TempDir dir;
  struct Case {
    const char* find;
    const char* replace;
    const char* message;
  };
  const Case cases[] = {
      {"YZLine_01_02=1,1,1\n", "", "missing row YZLine_01_02"},
      {"Stone_03=1,4,0,0,0,1,0,0,1,1,0,2,1,0", "Stone_03=1,2,0,0,0,1,0,0,9",
       "Stone_03 has 9 values but 3*2 + 2 = 8 are needed"},
      {"StoneOrder=0,1,2,3,4,5,6", "StoneOrder=0,1,1,3,4,5,6", "StoneOrder repeats 1"},
      {"SymPos0=0,0,0", "SymPos0=1,0,0", "SymPos0 (1,0,0) is not the first cell of the fill order"},
      {"EdgeZone=3", "EdgeZone=1", "EdgeZone 1 is narrower than stone Stone_01's extent 2"},
      {"SymetryPosCount=4", "SymetryPosCount=8",
       "SymetryPosCount is 8 but must lie between 0 and 7"},
  };
  for (const Case& c : cases) {
    std::string text = testing::kSomaCube;
    const size_t at = text.find(c.find);
    ASSERT_NE(at, std::string::npos) << c.find;
    text.replace(at, std::string(c.find).size(), c.replace);
    dir.WriteFile("broken.ini", text);
    const Outcome run = RunCli({"--check", "broken.ini"}, dir.path());
    EXPECT_EQ(run.exitCode, 65) << c.message;
    EXPECT_EQ(run.err, std::string("The puzzle file broken.ini is refused: ") + c.message + ".\n");
    EXPECT_EQ(run.out, "");
  }
}

TEST(CommandLine, UsageErrorsHelpAndVersion) {
  TempDir dir;
  dir.WriteFile("soma.ini", testing::kSomaCube);
  const std::vector<std::vector<std::string>> wrong = {{"--threads", "0"},
                                                       {"--threads", "two"},
                                                       {"--bogus"},
                                                       {"a.ini", "b.ini"},
                                                       {"--check"},
                                                       {"--check", "soma.ini", "--threads", "2"},
                                                       {"--check", "soma.ini", "x.ini"}};
  for (const auto& args : wrong) {
    const Outcome run = RunCli(args, dir.path());
    EXPECT_EQ(run.exitCode, 64) << args[0];
    EXPECT_FALSE(run.err.empty()) << args[0];
  }
  Outcome run = RunCli({"--help"}, dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("--threads"), std::string::npos);
  EXPECT_NE(run.out.find("--output-base"), std::string::npos);
  EXPECT_NE(run.out.find("--check"), std::string::npos);
  run = RunCli({"--version"}, dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("quaderix-cli 1.", 0), 0u) << run.out;
}

}  // namespace
}  // namespace quaderix
