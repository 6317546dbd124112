// quaderix-cli as a user runs it: the built program started in a scratch directory on
// small puzzle files. Checks the log lines, the per-job counts, the output files byte
// for byte, --check on good and broken files, the README's examples, the exit codes, and
// Ctrl-C, SIGTERM and SIGHUP in the middle of a run.

#include <signal.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_files.h"

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
// With `signal`, sends it half a second after the program has started its first job.
Outcome RunCli(const std::vector<std::string>& args, const fs::path& cwd, int signal = 0,
               const std::string& program = QUADERIX_CLI_PATH) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  testing::ChildProcess child(argv, cwd);
  const int status =
      signal == 0 ? child.Wait() : child.SignalAfter(std::chrono::milliseconds(500), signal, [&] {
        return child.Out().find("==> Thread(0) Started") != std::string::npos;
      });
  return Outcome{status, child.Out(), child.Err()};
}

TEST(CommandLine, SolvesASmallPuzzleToItsKnownCounts) {
  TempDir dir;
  dir.WriteFile("line.ini", testing::LinePuzzle());
  // --threads 3: neither the built MainConfig.ini nor the job count says 3.
  Outcome run = RunCli({"line.ini", "--threads", "3", "--output-base", "sol"}, dir.path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The log as the window shows it, one line each without the prompt.
  EXPECT_TRUE(
      run.out.starts_with("Maximum number of active threads = 3\n"
                          "Output file name base = sol\n"
                          "Active configuration file = line.ini\n"))
      << run.out;
  EXPECT_TRUE(run.HasLine("Number of Threads = 2")) << run.out;
  // The last tick logs the last job's lines, then the run's own.
  const size_t stopped = run.out.find("==> Thread(1) Stopped ==> 0 Threads Running\n");
  const size_t stat = run.out.find(", Solutions Found=1\n", stopped);
  const size_t end = run.out.find("==> Run finished: 3 solutions in ");
  EXPECT_TRUE(stopped < stat && stat < end && end != std::string::npos) << run.out;
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

  // Without an output base no file is written.
  run = RunCli({"line.ini", "--output-base", ""}, dir.path());
  EXPECT_EQ(run.Total(), "total: 3 solutions in # s\n");
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
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    // The first stop leaves a checkpoint that the next run must be told to replace.
    const Outcome run = RunCli({"--fresh"}, work, sig, program.string());
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_TRUE(
        run.HasLine("Active configuration file = " + (bin / "puzzles/endless.ini").string()))
        << run.out;
    // Job 1 starts once every unit of job 0 has been taken, or never within the test.
    const long counts[2] = {run.JobCount(0),
                            run.HasLine("job 1: 0 solutions (not started)") ? 0 : run.JobCount(1)};
    ASSERT_GT(counts[0], 0) << run.out;
    ASSERT_GE(counts[1], 0) << run.out;
    const std::string total = std::to_string(counts[0] + counts[1]);
    EXPECT_NE(run.out.find("==> Run stopped: " + total + " solutions in "), std::string::npos)
        << run.out;
    EXPECT_EQ(run.Total(), "total: " + total + " solutions in # s (interrupted)\n");
    // Solution 1 and every 1000th of those that follow on in search order were written,
    // each record complete.
    EXPECT_FALSE(fs::exists(bin / "run_00.txt"));
    for (int job = 0; job < 2; ++job) {
      const std::string records = ReadAll(work / ("run_0" + std::to_string(job) + ".txt"));
      const size_t written = Occurrences(records, "Solution : ");
      EXPECT_LE(written, 1 + static_cast<size_t>(counts[job]) / 1000) << job;
      EXPECT_EQ(Occurrences(records, "__ENDBLOCK;\r\n\r\n"), written) << job;
      EXPECT_TRUE(written == 0 || records.ends_with("__ENDBLOCK;\r\n\r\n")) << job;
    }
    EXPECT_TRUE(fs::exists(work / "run.checkpoint"));
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
        "Symmetry positions: exact, every count is 1/4 of all packings (4 of the block's "
        "rotations carry SymPos0 onto them, one for each)",
        "Jobs: 7, of which 4 search (jobs 4..6 have nothing to search)"}},
      // The widest stones span 3 cells, so a frame of 2 is wide enough and 1 is not.
      {"EdgeZone=3", "EdgeZone=2", 0, {"Block: 3*3*3, EdgeZone 2, 27 cells, 0 holes"}},
      // A comment behind a value is part of it: read, but warned about.
      {"StoneOrder=0,1,2,3,4,5,6",
       "StoneOrder=0,1,2,3,4,5,6 ; the search order",
       0,
       {"Warning: in puzzle.ini, [StoneInfo] StoneOrder=0,1,2,3,4,5,6 ; the search order "
        "carries a comment; a value is everything after the equals sign, so put comments on "
        "lines of their own."}},
      // Seven corners cannot be exact; the four of the half turns are proposed.
      {"SymPos3=2,2,0\n",
       "SymPos3=2,2,0\nSymPos4=2,2,2\nSymPos5=0,0,2\nSymPos6=2,0,0\n",
       0,
       {"Warning: these symmetry positions can lose packings or count some twice, because no 7 "
        "of the block's rotations carry SymPos0 onto exactly these positions, one rotation for "
        "each; exact would be SymetryPosCount=4 with SymPos0=0,0,0 SymPos1=0,2,2 SymPos2=2,0,2 "
        "SymPos3=2,2,0."}},
      {"StoneCount=7", "StoneCount=0", 65, {"StoneCount is 0 but must be at least 1"}},
      // A required key missing: the built-in puzzle, and which key.
      {"EdgeZone=3\n",
       "",
       0,
       {"Built-in puzzle: yes, the required key EdgeZone is missing",
        "Block: 5*4*3, EdgeZone 3, 60 cells, 0 holes", "Stone types: 12, stones in one packing: 12",
        "Jobs: 12, of which 9 search (jobs 9..11 have nothing to search)"}},
      {"YZLine_01_02=1,1,1\n", "", 65, {"missing row YZLine_01_02"}},
      {"SymPos0=0,0,0",
       "SymPos0=1,0,0",
       65,
       {"SymPos0 (1,0,0) is not the first cell of the fill order"}},
      {"EdgeZone=3",
       "EdgeZone=1",
       65,
       {"EdgeZone is 1 but Stone_01 spans 3 cells along one axis, so EdgeZone must be at least 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    std::string text = testing::SomaCube();
    const size_t at = text.find(c.find);
    ASSERT_NE(at, std::string::npos);
    if (std::string(c.find) == "SymPos3=2,2,0\n") {
      const size_t count = text.find("SymetryPosCount=4");
      text.replace(count, 17, "SymetryPosCount=7");
    }
    dir.WriteFile("puzzle.ini", text.replace(at, std::string(c.find).size(), c.replace));
    const Outcome run = RunCli({"--check", "puzzle.ini"}, dir.path());
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    if (c.exitCode != 0) {
      EXPECT_EQ(run.err, "The puzzle file puzzle.ini is refused: " + c.lines.front() + ".\n");
      EXPECT_EQ(run.out, "");
    }
    for (const std::string& line : c.exitCode == 0 ? c.lines : std::vector<std::string>{}) {
      const bool warning = line.starts_with("Warning: ");
      EXPECT_EQ(
          ("\n" + (warning ? run.err : run.out)).find("\n" + line + "\n") == std::string::npos,
          false)
          << line << "\n"
          << run.out << run.err;
      if (!warning) {
        EXPECT_EQ(run.err.find("Warning: "), std::string::npos) << run.err;
      }
    }
  }
}

// The text of the first fenced block after `heading` in README.md, without its fences.
std::string ReadmeBlock(const std::string& heading) {
  const std::string readme = ReadAll(QUADERIX_README_PATH);
  const size_t section = readme.find(heading);
  const size_t open = readme.find("```", section);
  const size_t from = readme.find('\n', open) + 1;
  if (section == std::string::npos || open == std::string::npos) return "";
  return readme.substr(from, readme.find("```", from) - from);
}

TEST(CommandLine, ReadmeExamplesWorkAsWritten) {
  // The settings example next to a copy of the program, the puzzle example beside it.
  TempDir dir;
  const fs::path program = dir.path() / "quaderix-cli";
  fs::copy_file(QUADERIX_CLI_PATH, program);
  dir.WriteFile("MainConfig.ini", ReadmeBlock("## Settings: `MainConfig.ini`"));
  dir.WriteFile("puzzle.ini", ReadmeBlock("## Writing a puzzle file"));
  const Outcome run = RunCli({}, dir.path(), 0, program.string());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(
      run.out.starts_with("Maximum number of active threads = 2\n"
                          "Output file name base = solution\n"
                          "Active configuration file = " +
                          (dir.path() / "puzzle.ini").string() + "\n"))
      << run.out;
  EXPECT_EQ(run.Total(), "total: 4 solutions in # s\n");
  // The sample record shown is the first one the puzzle writes.
  std::string shown;
  for (char c : ReadmeBlock("## Where the output goes"))
    shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_TRUE(ReadAll(dir.PathOf("solution_00.txt")).starts_with(shown + "\r\n")) << shown;
}

TEST(CommandLine, ExitCodes) {
  TempDir dir;
  const std::string soma = testing::SomaCube();
  dir.WriteFile("soma.ini", soma);
  dir.WriteFile("broken.ini", testing::MissingRowPuzzle());
  dir.WriteFile("line.ini", testing::LinePuzzle());
  dir.WriteFile("empty.ini", "");
  fs::create_directory(dir.path() / "folder.ini");
  dir.WriteFile("nostones.ini",
                std::string(soma).replace(soma.find("StoneCount=7"), 12, "StoneCount=0"));
  // Every job would have nothing to search, so no job ever reads the missing rows.
  dir.WriteFile("norows.ini",
                "[BlockInfo]\nXSize=2\nYSize=1\nZSize=1\nEdgeZone=1\n[StoneInfo]\n"
                "StoneCount=1\nStoneOrder=0\nStone_00=1,1,0,0,0\n[SymetryInfo]\n"
                "SymetryPosCount=2\nEnhancedSymetryCheck=0\n");
  // Refused before 10000 stone types' tables are made.
  dir.WriteFile("manystones.ini",
                std::string(soma).replace(soma.find("StoneCount=7"), 12, "StoneCount=10000"));
  // A million cells and a 32-cube L without symmetry: some 100 GB of placement rows.
  std::string bigL = "Stone_00=1,32";
  for (int x = 0; x < 31; ++x) bigL += "," + std::to_string(x) + ",0,0";
  bigL += ",0,1,0";
  dir.WriteFile("huge.ini",
                "[BlockInfo]\nXSize=100\nYSize=100\nZSize=100\nEdgeZone=30\n[StoneInfo]\n"
                "StoneCount=1\nStoneOrder=0\n" +
                    bigL + "\n[SymetryInfo]\nSymetryPosCount=0\nEnhancedSymetryCheck=0\n");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* text;  // in what it printed, stdout or stderr
  };
  const Case cases[] = {
      // The run refuses what --check refuses, with the same sentence, before any job.
      {{"broken.ini"}, 65, "The puzzle file broken.ini is refused: missing row YZLine_01_00.\n"},
      {{"nostones.ini"}, 65, "refused: StoneCount is 0 but must be at least 1.\n"},
      {{"norows.ini"}, 65, "refused: missing row YZLine_00_00.\n"},
      {{"--check", "norows.ini"}, 65, "refused: missing row YZLine_00_00.\n"},
      {{"manystones.ini"}, 65, "refused: StoneOrder has 7 values but StoneCount is 10000.\n"},
      {{"huge.ini"}, 65, "refused: its tables would need about "},
      {{"--check", "huge.ini"}, 65, " MB of memory are available.\n"},
      // A named file that cannot be read is no reason to solve the built-in puzzle.
      {{"missing.ini"}, 66, "The puzzle file missing.ini cannot be read: it does not exist.\n"},
      {{"--check", "missing.ini"}, 66, "cannot be read: it does not exist.\n"},
      {{"folder.ini"}, 66, "The puzzle file folder.ini cannot be read: it is a directory.\n"},
      {{"--check", "empty.ini"}, 66, "The puzzle file empty.ini cannot be read: it is empty.\n"},
      {{"empty.ini"}, 66, "cannot be read: it is empty.\n"},
      // Output files that cannot be written (two creations, three records): the run still
      // counts and says so.
      {{"line.ini", "--output-base", "missing/sol"}, 74, "total: 3 solutions in "},
      {{"line.ini", "--output-base", "missing/sol"},
       74,
       " s, 5 writes to the output files failed\n"},
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
    SCOPED_TRACE(c.args.front() + " " + c.text);
    const Outcome run = RunCli(c.args, dir.path());
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE((run.out + run.err).find(c.text), std::string::npos) << run.out << run.err;
  }
}

}  // namespace
}  // namespace quaderix
