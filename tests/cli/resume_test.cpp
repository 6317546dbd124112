// Runs cut off and resumed as a user meets them: quaderix-cli killed (SIGKILL) or stopped
// (SIGINT) at random moments of a fixed seed, then started again with --resume, must end
// with the counts and the files of one uninterrupted run; and every checkpoint it cannot
// go on from is refused with one sentence, exit 65 and nothing changed.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "run/checkpoint.h"
#include "support/child_process.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::ReadAll;
using testing::TempDir;

constexpr int kJobs = 7;  // of the Soma cube

// The program with `args`, as ChildProcess takes it.
std::vector<std::string> Cli(std::vector<std::string> args) {
  args.insert(args.begin(), QUADERIX_CLI_PATH);
  return args;
}

// The per-job lines of a summary, "job I: N solutions", in order.
std::string JobLines(const std::string& out) {
  std::string lines;
  for (size_t at = out.find("\njob "); at != std::string::npos; at = out.find("\njob ", at + 1))
    lines += out.substr(at + 1, out.find('\n', at + 1) - at);
  return lines;
}

std::vector<std::string> Files(const fs::path& dir, const std::string& base) {
  std::vector<std::string> files;
  for (int j = 0; j < kJobs; ++j)
    files.push_back(ReadAll(dir / (base + "_0" + std::to_string(j) + ".txt")));
  return files;
}

// The Soma cube with every packing written: 2880 records in a fraction of a second, so
// that a kill often lands in a record's write, and with checkpoints every 2 ms often in
// a checkpoint's.
std::string WrittenSoma() {
  return testing::SomaCube(1);
}

TEST(Resume, KilledAndStoppedRunsEndAsOneUninterruptedRun) {
  TempDir dir;
  dir.WriteFile("soma.ini", WrittenSoma());
  ChildProcess reference(Cli({"soma.ini", "--threads", "1", "--output-base", "ref"}), dir.path());
  ASSERT_EQ(reference.Wait(), 0) << reference.Err();
  const std::string counts = JobLines(reference.Out());
  ASSERT_NE(counts.find("job 6: 0 solutions\n"), std::string::npos) << reference.Out();
  const std::vector<std::string> files = Files(dir.path(), "ref");

  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delayUs(0, 150000);
  // Workers 0 means 1, 2, 3, 1, ... in turn: the units come from the checkpoint, so a
  // resume with other workers than the run it continues ends the same.
  struct Case {
    int workers;
    int signal;
    int cuts;  // times the run is cut off before it may end
  } cases[] = {{1, SIGKILL, 8}, {2, SIGKILL, 8}, {3, SIGKILL, 8}, {0, SIGINT, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.workers << " workers, signal " << c.signal);
    auto args = [&](int cut) {
      const int workers = c.workers > 0 ? c.workers : 1 + cut % 3;
      return std::vector<std::string>{"soma.ini",      "--threads", std::to_string(workers),
                                      "--output-base", "run",       "--checkpoint-every",
                                      "0.002",         "--resume"};
    };
    int cut = 0;
    int resumed = 0;    // starts that found a checkpoint
    int afterSave = 0;  // cuts that came once a checkpoint stood
    for (; cut < c.cuts; ++cut) {
      resumed += fs::exists(dir.path() / "run.checkpoint") ? 1 : 0;
      ChildProcess child(Cli(args(cut)), dir.path());
      // Every other cut comes at any moment from the start, in the set-up or in the first
      // checkpoint's write too; the others come once a checkpoint stands.
      const fs::path saved = dir.path() / "run.checkpoint";
      const int status = child.SignalAfter(
          std::chrono::microseconds(delayUs(random) / (cut % 2 == 0 ? 1 : 5)), c.signal,
          cut % 2 == 0 ? std::function<bool()>() : [&] { return fs::exists(saved); });
      if (status == 0) break;  // it ended before the signal came
      // Ctrl-C before the program has set up its handler ends it like a kill.
      EXPECT_TRUE(status == 1000 + c.signal || (c.signal == SIGINT && status == 130))
          << status << child.Err();
      afterSave += cut % 2;
    }
    const bool lastResumed = fs::exists(dir.path() / "run.checkpoint");
    resumed += lastResumed ? 1 : 0;
    ChildProcess last(Cli(args(cut)), dir.path());
    EXPECT_EQ(last.Wait(), 0) << last.Err();
    EXPECT_EQ(JobLines(last.Out()), counts);
    EXPECT_NE(last.Out().find("total: 2880 solutions in "), std::string::npos) << last.Out();
    EXPECT_TRUE(Files(dir.path(), "run") == files);
    // A complete run leaves no checkpoint behind, so the next one starts afresh.
    EXPECT_FALSE(fs::exists(dir.path() / "run.checkpoint"));
    EXPECT_FALSE(fs::exists(dir.path() / "run.checkpoint.new"));
    // Each cut after a checkpoint was saved is resumed from one.
    EXPECT_GE(resumed, afterSave);
    EXPECT_NE(last.Out().find(lastResumed ? " s (resumed)\n" : " s\n"), std::string::npos);
  }
}

TEST(Resume, RefusesCheckpointsItCannotGoOnFrom) {
  TempDir dir;
  const std::string puzzle = testing::EndlessPuzzle();
  dir.WriteFile("endless.ini", puzzle);
  // The checkpoint of a run of this puzzle that committed 100 bytes to job 0's file.
  Checkpoint cp;
  const RunIdentity id = ReadRunIdentity(dir.PathOf("endless.ini"), "run");
  cp.puzzleFingerprint = id.puzzleFingerprint;
  cp.puzzleSize = id.puzzleSize;
  cp.outputBase = "run";
  cp.writeEveryNSolution = 1000;
  cp.jobs.resize(2);
  cp.jobs[0].committedLength = 100;
  const std::string saved = SerializeCheckpoint(cp);
  const std::string output(150, 'x');
  const fs::path checkpoint = dir.path() / "run.checkpoint";
  dir.WriteFile("run_01.txt", "");

  struct Case {
    const char* what;
    std::string checkpointText;  // written to run.checkpoint
    std::string puzzleText;
    uint64_t outputLength;  // of run_00.txt
    std::vector<std::string> args;
    const char* sentence;  // a part of the one line on stderr
  } cases[] = {
      {"damaged",
       saved.substr(0, 40) + "X" + saved.substr(41),
       puzzle,
       output.size(),
       {"--resume"},
       "the checkpoint is damaged"},
      {"truncated",
       saved.substr(0, saved.size() - 3),
       puzzle,
       output.size(),
       {"--resume"},
       "the checkpoint is damaged"},
      {"another puzzle",
       saved,
       puzzle + "; edited\n",
       output.size(),
       {"--resume"},
       "belongs to another puzzle"},
      {"short output",
       saved,
       puzzle,
       cp.jobs[0].committedLength - 1,
       {"--resume"},
       "is shorter than the"},
      {"no --resume", saved, puzzle, output.size(), {}, "give --resume to continue it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.WriteFile("run.checkpoint", c.checkpointText);
    dir.WriteFile("endless.ini", c.puzzleText);
    dir.WriteFile("run_00.txt", output.substr(0, c.outputLength));
    const std::string job1 = ReadAll(dir.path() / "run_01.txt");
    std::vector<std::string> args = {"endless.ini", "--output-base", "run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildProcess child(Cli(args), dir.path());
    EXPECT_EQ(child.Wait(), 65);
    const std::string err = child.Err();
    EXPECT_NE(err.find(c.sentence), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(child.Out(), "");
    EXPECT_EQ(ReadAll(checkpoint), c.checkpointText);
    EXPECT_EQ(ReadAll(dir.path() / "run_00.txt"), output.substr(0, c.outputLength));
    EXPECT_EQ(ReadAll(dir.path() / "run_01.txt"), job1);
  }
  // Another output base finds its own checkpoint: one copied over is refused by name.
  dir.WriteFile("endless.ini", puzzle);
  dir.WriteFile("other.checkpoint", saved);
  ChildProcess other(Cli({"endless.ini", "--output-base", "other", "--resume"}), dir.path());
  EXPECT_EQ(other.Wait(), 65);
  EXPECT_NE(other.Err().find("output base \"run\""), std::string::npos) << other.Err();
}

}  // namespace
}  // namespace quaderix
