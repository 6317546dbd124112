// quaderix-cli: solves a puzzle headless with the same jobs, log lines, counts and files
// as the window. The main thread plays the window's part: it drains the workers'
// messages, runs the one-second status tick and prints what the log receives.

#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "app/run_log.h"
#include "app/run_supervisor.h"
#include "app/settings.h"
#include "cli/cli_output.h"
#include "cli/puzzle_check.h"
#include "cli/show_command.h"
#include "config/puzzle_definition.h"
#include "threads/message_sink.h"
#include "threads/puzzle_thread.h"

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

void Beep() {
  if (isatty(STDERR_FILENO) == 1) {
    (void)!write(STDERR_FILENO, "\a", 1);
  }
}

// The command-line overrides of a run, as parsed on the main thread.
struct RunOptions {
  std::string puzzle;
  int threads = 0;
  bool threadsGiven = false;
  std::string outputBase;
  bool outputBaseGiven = false;
};

int RunPuzzle(const RunOptions& options) {
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
  if (options.outputBaseGiven) settings.outputFileNameBase = options.outputBase;
  AppendStartupLines(log, settings);
  if (settings.maxThreads < 1) {
    std::fprintf(stderr,
                 "MaxThreads is %d, so no job could ever start; give --threads N with N >= 1.\n",
                 static_cast<int>(settings.maxThreads));
    return kExitUsage;
  }
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

  QueuedMessageSink sink;
  RunSupervisor run(log, sink, TickCount, Beep);
  run.ApplySettings(settings);
  auto drain = [&] {
    for (const PuzzleMessage& message : sink.Drain()) run.OnMessage(message);
  };

  run.OnStart();
  if (!run.jobsCreated) {
    std::fprintf(stderr, "The jobs of %s could not be created (StoneCount out of range).\n",
                 settings.configFileName.c_str());
    return kExitSetupFailed;
  }

  uint32_t lastTick = TickCount();
  int ticks = 0;
  for (;;) {
    std::this_thread::sleep_for(kPollPeriod);
    drain();
    if (gInterrupted) break;
    if (!run.jobsCreated) break;  // a job failed to start and the run was stopped
    if (run.runState == RunFinished || run.jobs.empty()) {
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
      if (run.jobsCreated) status.Show(FormatStatusLine(run), ticks % kPlainStatusEvery == 0);
    }
  }
  status.Finish();

  // The complete stop sequence; a stop that is not acknowledged keeps the table, so it
  // is tried again before the destructor's own stop takes over.
  for (int attempt = 0; attempt < 3 && run.jobsCreated; ++attempt) {
    run.StopSequence();
    drain();
  }
  drain();
  if (!splitter.pending().empty()) {
    std::fprintf(stdout, "%s\n", splitter.pending().c_str());
  }

  if (run.failedJob >= 0) {
    std::fprintf(stderr, "Job %d could not be started: %s.\n", static_cast<int>(run.failedJob),
                 run.failedJobReason.c_str());
    return kExitSetupFailed;
  }
  RunResult result = run.lastRun;
  if (run.jobsCreated) {
    // The table is still there; report what the jobs hold now, before the supervisor's
    // destruction makes each remaining worker stop and waits for it.
    std::fprintf(stderr, "Some jobs did not acknowledge Stop; they are ended now.\n");
    result = RunResult{};
    result.elapsed = run.ElapsedTime(TickCount());
    for (const auto& job : run.jobs) {
      result.solutions.push_back(job->GetSolutionCount());
      result.started.push_back(job->started);
      result.outputFailures.push_back(job->solver.OutputFailures());
    }
  }

  const bool interrupted = gInterrupted != 0;
  uint64_t total = 0;
  for (size_t i = 0; i < result.solutions.size(); ++i) {
    total += result.solutions[i];
    std::fprintf(stdout, "job %zu: %u solutions%s\n", i, result.solutions[i],
                 interrupted && !result.started[i] ? " (not started)" : "");
    // The solutions still count; the user learns that their file lacks some records.
    if (result.outputFailures[i] > 0) {
      std::fprintf(stderr,
                   "job %zu: %u writes to its output file failed; its solutions still count\n", i,
                   result.outputFailures[i]);
    }
  }
  std::fprintf(stdout, "total: %llu solutions in %.1f s%s\n",
               static_cast<unsigned long long>(total), result.elapsed * 0.001,
               interrupted ? " (interrupted)" : "");
  std::fflush(stdout);
  return interrupted ? kExitInterrupted : kExitOk;
}

}  // namespace
}  // namespace quaderix

int main(int argc, char** argv) {
  using namespace quaderix;
  CLI::App app{
      "Quaderix Puzzle: finds and counts every packing of a 3-D polycube puzzle.\n"
      "Without PUZZLE the ConfigFileName of MainConfig.ini (next to this program) is\n"
      "solved, or the built-in puzzle.",
      "quaderix-cli"};
  RunOptions options;
  std::string checkPath;
  auto* puzzle = app.add_option("PUZZLE", options.puzzle,
                                "puzzle definition file, relative to the current directory");
  auto* threads = app.add_option("--threads", options.threads,
                                 "most jobs running at once (overrides MaxThreads)")
                      ->check(CLI::Range(1, 1 << 20));
  auto* outputBase = app.add_option("--output-base", options.outputBase,
                                    "base name of the solution files NAME_ii.txt "
                                    "(overrides OutputFileNameBase; empty: no files)");
  auto* check = app.add_option("--check", checkPath,
                               "describe the puzzle file, or name the key that is wrong");
  check->excludes(puzzle)->excludes(threads)->excludes(outputBase);
  ShowOptions showOptions;
  CLI::App* show = AddShowCommand(app, showOptions);
  app.set_version_flag("--version", std::string("quaderix-cli ") + QUADERIX_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (show->parsed()) return RunShow(showOptions, ShowInColour(), std::cout, std::cerr);
  if (!check->empty()) return CheckPuzzle(checkPath, std::cout, std::cerr);
  options.threadsGiven = !threads->empty();
  options.outputBaseGiven = !outputBase->empty();
  return RunPuzzle(options);
}
