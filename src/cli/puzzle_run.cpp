#include "cli/puzzle_run.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/puzzle_check.h"
#include "config/puzzle_definition.h"
#include "run/checkpoint.h"
#include "run/run_log.h"
#include "run/run_supervisor.h"
#include "run/settings.h"
#include "run/solver_engine.h"
#include "threads/message_sink.h"
#include "threads/tick_count.h"

namespace quaderix {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal stops the run like Ctrl-C: its summary is printed and its
  // checkpoint saved, instead of being killed in the middle of a record.
  sigaction(SIGHUP, &action, nullptr);
  // A reader that goes away (quaderix-cli | head) must not kill us in the middle of a
  // worker's write to an output file; a failed write to stdout stops the run instead.
  signal(SIGPIPE, SIG_IGN);
}

constexpr uint32_t kTickPeriod = 1000;
constexpr auto kPollPeriod = std::chrono::milliseconds(50);
constexpr int kPlainStatusEvery = 10;  // ticks between two status lines off a terminal

// The status line on stderr: rewritten in place on a terminal, otherwise printed as a
// line of its own every few ticks. Log lines printed to stdout clear it first so that
// the two never share a line on the screen.
class StatusDisplay {
 public:
  StatusDisplay() : terminal_(isatty(STDERR_FILENO) == 1) {}

  bool terminal() const { return terminal_; }

  void Show(const std::string& line, bool tickDue) {
    if (terminal_) {
      shown_ = Fit(line);
      std::fprintf(stderr, "\r%s\x1b[K", shown_.c_str());
      std::fflush(stderr);
    } else if (tickDue) {
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
    }
  }
  void Hide() {
    if (terminal_ && !shown_.empty()) {
      std::fputs("\r\x1b[K", stderr);
      std::fflush(stderr);
    }
  }
  void Redraw() {
    if (terminal_ && !shown_.empty()) {
      std::fprintf(stderr, "\r%s\x1b[K", shown_.c_str());
      std::fflush(stderr);
    }
  }
  void Finish() {
    Hide();
    shown_.clear();
  }

 private:
  // A line wider than the terminal would wrap, and "\r" would then rewrite only its tail.
  static std::string Fit(const std::string& line) {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        line.size() >= size.ws_col)
      return line.substr(0, size.ws_col - 1);
    return line;
  }

  bool terminal_;
  std::string shown_;
};

// A sentence without its full stop, to stand inside another one.
std::string Unfinished(std::string sentence) {
  if (!sentence.empty() && sentence.back() == '.') sentence.pop_back();
  return sentence;
}

void Beep() {
  if (isatty(STDERR_FILENO) == 1) {
    (void)!write(STDERR_FILENO, "\a", 1);
  }
}

}  // namespace

int RunPuzzle(const RunOptions& options, const RunFrontEnd& frontEnd) {
  // A file the user named must be there; the built-in puzzle is no answer to a typo.
  if (!options.puzzle.empty()) {
    if (const int readable = CheckReadable(options.puzzle, std::cerr); readable != kExitOk)
      return readable;
  }
  InstallSignalHandlers();
  StatusDisplay status;
  LogLineSplitter splitter;
  RunLog log;
  log.SetListener([&](const std::string& added) {
    const std::vector<std::string> lines = splitter.Feed(added);
    if (lines.empty()) return;
    status.Hide();
    for (const std::string& line : lines) std::fprintf(stdout, "%s\n", line.c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) gInterrupted = 1;
    status.Redraw();
  });

  const std::string programDir = ProgramDirectory();
  // MainConfig.ini belongs to the program; the puzzle and output files belong to the
  // directory the user started us in, which stays the current directory.
  Settings settings = LoadSettings(programDir + "/MainConfig.ini", options.puzzle, programDir);
  if (options.threadsGiven) settings.maxThreads = options.threads;
  if (frontEnd.workers > 0) settings.maxThreads = frontEnd.workers;
  if (options.outputBaseGiven) settings.outputFileNameBase = options.outputBase;
  // The checkpoint lives beside the output files, or in the current directory, so that
  // the same command in the same directory finds it again.
  const RunIdentity identity =
      ReadRunIdentity(settings.configFileName, settings.outputFileNameBase);
  const std::string checkpointPath = CheckpointPathFor(identity, settings.configFileName, "");
  const CheckpointLookup found = LookUpCheckpoint(checkpointPath, identity);
  const Checkpoint* resumeFrom = nullptr;
  if (options.resume) {
    if (found.state == CheckpointLookup::Refused) {
      std::fprintf(stderr, "Cannot resume from %s: %s\n", checkpointPath.c_str(),
                   found.reason.c_str());
      return kExitSetupFailed;
    }
    if (found.state == CheckpointLookup::None) {
      std::fprintf(stderr, "Note: there is no checkpoint %s; the run starts from the beginning.\n",
                   checkpointPath.c_str());
    } else {
      resumeFrom = &found.checkpoint;
    }
  } else if (found.state != CheckpointLookup::None && !options.fresh) {
    // Starting afresh would throw away what the interrupted run has done; only the user
    // may decide that.
    if (found.state == CheckpointLookup::Matching) {
      std::fprintf(stderr,
                   "%s holds an interrupted run of this puzzle; give --resume to continue it, "
                   "or --fresh to start afresh.\n",
                   checkpointPath.c_str());
    } else {
      std::fprintf(stderr,
                   "%s holds a checkpoint this run cannot go on from (%s); give --fresh to start "
                   "afresh and replace it.\n",
                   checkpointPath.c_str(), Unfinished(found.reason).c_str());
    }
    return kExitSetupFailed;
  }
  AppendStartupLines(log, settings);
  if (settings.maxThreads < 1) {
    std::fprintf(stderr,
                 "MaxThreads is %d, so no job could ever start; give --threads N with N >= 1.\n",
                 static_cast<int>(settings.maxThreads));
    return kExitUsage;
  }
  for (const std::string& warning : CommentWarnings(programDir + "/MainConfig.ini"))
    std::fprintf(stderr, "%s\n", warning.c_str());
  const PuzzleParameters params = ReadPuzzleParameters(settings.configFileName, false);
  if (!params.useFile) {
    std::error_code ec;
    const char* path = settings.configFileName.c_str();
    if (std::filesystem::is_directory(settings.configFileName, ec)) {
      std::fprintf(stderr,
                   "Note: no puzzle file is named; every job solves the built-in puzzle.\n");
    } else if (!std::filesystem::exists(settings.configFileName, ec)) {
      std::fprintf(stderr, "Note: %s does not exist; every job solves the built-in puzzle.\n",
                   path);
    } else {
      std::fprintf(stderr, "Note: %s has no %s; every job solves the built-in puzzle.\n", path,
                   params.missingKey.c_str());
    }
  }
  // The jobs would refuse the puzzle one by one; refuse it once, before any job starts,
  // with the sentence --check gives.
  std::vector<std::string> warnings;
  if (const int checked = PrecheckRun(settings.configFileName, warnings, std::cerr);
      checked != kExitOk)
    return checked;
  for (const std::string& warning : warnings) std::fprintf(stderr, "%s\n", warning.c_str());

  QueuedMessageSink sink;
  RunSupervisor run(log, sink, TickCount, Beep,
                    frontEnd.builder ? frontEnd.builder : SolverModelBuilder());
  run.ApplySettings(settings);
  run.poolOptions.cutForWorkers = frontEnd.cutForWorkers;

  if (resumeFrom != nullptr) run.ResumeNext(*resumeFrom);
  run.checkpointPath = checkpointPath;
  run.checkpointEveryMs = static_cast<uint32_t>(options.checkpointEvery * 1000);
  auto drain = [&] {
    for (const PuzzleMessage& message : sink.Drain()) run.OnMessage(message);
  };

  run.OnStart();
  if (!run.jobsCreated) {
    std::fprintf(stderr, "The run could not be started: no worker thread could be begun.\n");
    return kExitSetupFailed;
  }

  uint32_t lastTick = TickCount();
  int ticks = 0;
  // Checkpoints more often than the poll period (for tests of crashes) shorten the poll.
  const auto poll = std::clamp(std::chrono::milliseconds(run.checkpointEveryMs),
                               std::chrono::milliseconds(1), kPollPeriod);
  for (;;) {
    sink.WaitFor(poll);
    drain();
    if (gInterrupted && run.SettingUp()) {
      // Building the tables cannot be cut short, and nothing has been found or written
      // yet; waiting for the build would keep the user waiting for nothing.
      status.Finish();
      std::fprintf(stdout, "total: 0 solutions in %.1f s (interrupted during set-up)\n",
                   run.ElapsedTime(TickCount()) * 0.001);
      std::fflush(stdout);
      std::_Exit(kExitInterrupted);
    }
    if (gInterrupted) break;
    if (!run.jobsCreated) break;
    run.CheckpointIfDue();  // the puzzle could not be set up and the run was stopped
    if (run.runState == RunFinished) {
      // One more tick retires the jobs that finished last, as the window's next tick
      // would, so their Stopped lines and the final totals are shown.
      run.OnStatusTick();
      drain();
      break;
    }
    if (TickCount() - lastTick >= kTickPeriod) {
      lastTick = TickCount();
      run.OnStatusTick();
      ++ticks;
      if (run.jobsCreated) {
        std::string line = FormatStatusLine(run);
        if (frontEnd.statusSuffix) line += frontEnd.statusSuffix();
        status.Show(line, ticks % kPlainStatusEvery == 0);
      }
    }
  }
  status.Finish();

  // The complete stop sequence: the pool's workers end within a few milliseconds.
  run.StopSequence();
  drain();
  if (!splitter.pending().empty()) {
    std::fprintf(stdout, "%s\n", splitter.pending().c_str());
  }

  if (run.failedJob >= 0) {
    std::fprintf(stderr, "Job %d could not be started: %s.\n", static_cast<int>(run.failedJob),
                 run.failedJobReason.c_str());
    return kExitSetupFailed;
  }
  const RunResult result = run.lastRun;

  const bool interrupted = gInterrupted != 0;
  // Counts go through 64 bits whatever width the jobs report them in.
  unsigned long long total = 0;
  unsigned long long unwritten = 0;
  for (size_t i = 0; i < result.solutions.size(); ++i) {
    const auto count = static_cast<unsigned long long>(result.solutions[i]);
    const auto failures = static_cast<unsigned long long>(result.outputFailures[i]);
    total += count;
    unwritten += failures;
    std::fprintf(stdout, "job %zu: %llu solutions%s\n", i, count,
                 interrupted && !result.started[i] ? " (not started)" : "");
    // The solutions still count; the user learns that their file lacks some records.
    if (failures > 0) {
      std::fprintf(stderr,
                   "job %zu: %llu writes to its output file failed; its solutions still count\n", i,
                   failures);
    }
  }
  std::string notWritten;
  if (unwritten > 0)
    notWritten = ", " + std::to_string(unwritten) + " writes to the output files failed";
  const char* how = run.resumed ? (interrupted ? " (resumed, interrupted)" : " (resumed)")
                                : (interrupted ? " (interrupted)" : "");
  std::fprintf(stdout, "total: %llu solutions in %.1f s%s%s\n", total, result.elapsed * 0.001,
               notWritten.c_str(), how);
  std::fflush(stdout);
  if (interrupted) return kExitInterrupted;
  return unwritten > 0 ? kExitWriteFailed : kExitOk;
}

RunOptionSwitches AddRunOptions(CLI::App& app, RunOptions& options) {
  RunOptionSwitches o;
  o.puzzle = app.add_option("PUZZLE", options.puzzle,
                            "puzzle definition file, relative to the current directory");
  o.threads = app.add_option("--threads", options.threads,
                             "worker threads searching at once (overrides MaxThreads)")
                  ->check(CLI::Range(1, 1 << 20));
  o.outputBase = app.add_option("--output-base", options.outputBase,
                                "base name of the solution files NAME_ii.txt "
                                "(overrides OutputFileNameBase; empty: no files)");
  o.resume = app.add_flag("--resume", options.resume,
                          "continue the interrupted run of this puzzle from its checkpoint");
  o.fresh = app.add_flag("--fresh", options.fresh,
                         "start afresh, replacing the checkpoint of an interrupted run");
  o.every = app.add_option("--checkpoint-every", options.checkpointEvery,
                           "seconds between two checkpoints (default 30)")
                ->check(CLI::Range(0.0, 1e6));
  o.resume->excludes(o.fresh);
  return o;
}

void NoteGivenOptions(const RunOptionSwitches& switches, RunOptions& options) {
  options.threadsGiven = !switches.threads->empty();
  options.outputBaseGiven = !switches.outputBase->empty();
}

}  // namespace quaderix
