// quaderix-bench --simulate-workers: runs a puzzle with one worker exactly as a run does
// (one model, cut units, records in order), noting the time of every unit and the
// progress estimate at every status tick. It then prints how the estimate of the time
// left compared with the time that was really left, and the wall time that pools of
// 1 to 256 workers would need for the same units taken in order.
//
//   quaderix-bench --simulate-workers [--puzzle FILE] [--units FILE]
//   quaderix-bench --simulate-workers --replay FILE
//
// --units writes one line per task in the order they were handed out (job, cut or unit,
// the unit's place, the estimates made before it ran, nodes, seconds), so that progress
// estimators can be tried against the truth of one run without running it again.
// --replay reads such a file and shows, at every 10 % of that run's time, the fraction
// of the estimated work the finished units make and the time left it would show,
// against the fraction of the nodes truly done and the time truly left.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "run/run_log.h"
#include "run/run_supervisor.h"
#include "run/solver_engine.h"
#include "threads/message_sink.h"
#include "threads/tick_count.h"

namespace {

// The largest pool simulated; units are cut for it.
constexpr int32_t kMostWorkers = 256;

struct Sample {
  double elapsed = 0;
  bool known = false;
  double progress = 0;
  double leftEstimate = 0;
};

// One line per task: order, job, "cut" or "unit", the unit's place in its job, its share
// of the job, its estimated size (a cutting's: its job's), nodes, seconds.
bool WriteUnits(const std::string& path, const std::vector<quaderix::TaskTime>& tasks) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "order\tjob\tkind\titem\tshare\testimate\tnodes\tseconds\n");
  for (size_t i = 0; i < tasks.size(); ++i) {
    const quaderix::TaskTime& t = tasks[i];
    std::fprintf(f, "%zu\t%d\t%s\t%lld\t%.9g\t%.9g\t%llu\t%.6f\n", i, static_cast<int>(t.job),
                 t.cut ? "cut" : "unit", static_cast<long long>(t.item), t.share, t.estimate,
                 static_cast<unsigned long long>(t.nodes), t.seconds);
  }
  return std::fclose(f) == 0;
}

// The run of a --units file again, one task after the other as its one worker took them.
int Replay(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    std::fprintf(stderr, "quaderix-bench: cannot read %s\n", path.c_str());
    return 1;
  }
  struct Unit {
    double estimate = 0;
    double nodes = 0;
    double seconds = 0;
    double end = 0;  // when it ended, from the start of the run
  };
  std::vector<Unit> units;
  double wall = 0;
  char kind[8];
  double share = 0;
  double estimate = 0;
  double seconds = 0;
  unsigned long long nodes = 0;
  std::fscanf(f, "%*[^\n]\n");  // the heading
  while (std::fscanf(f, "%*d %*d %7s %*d %lf %lf %llu %lf", kind, &share, &estimate, &nodes,
                     &seconds) == 5) {
    wall += seconds;
    if (std::string(kind) == "unit")
      units.push_back({estimate, static_cast<double>(nodes), seconds, wall});
  }
  std::fclose(f);
  double allEstimate = 0;
  double allNodes = 0;
  for (const Unit& u : units) {
    allEstimate += u.estimate;
    allNodes += u.nodes;
  }
  std::printf("%zu units, %.1f s\n%8s %10s %10s %12s %12s\n", units.size(), wall, "run %",
              "estimate", "nodes", "left est. s", "left true s");
  for (int decile = 1; decile <= 9; ++decile) {
    const double at = wall * decile / 10.0;
    double doneEstimate = 0;
    double doneNodes = 0;
    double doneSeconds = 0;  // of the finished units alone, as the pool measures them
    for (const Unit& u : units) {
      if (u.end > at) break;
      doneEstimate += u.estimate;
      doneNodes += u.nodes;
      doneSeconds += u.seconds;
    }
    const double left =
        doneEstimate > 0 ? (allEstimate - doneEstimate) * doneSeconds / doneEstimate : 0;
    std::printf("%7d%% %9.1f%% %9.1f%% %12.1f %12.1f\n", decile * 10,
                100 * doneEstimate / allEstimate, 100 * doneNodes / allNodes, left, wall - at);
  }
  return 0;
}

}  // namespace

int SimulateWorkersMain(int argc, char** argv) {
  using namespace quaderix;
  std::string puzzle;
  std::string unitsPath;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--puzzle" && i + 1 < argc) {
      puzzle = argv[++i];
    } else if (arg == "--units" && i + 1 < argc) {
      unitsPath = argv[++i];
    } else if (arg == "--replay" && i + 1 < argc) {
      return Replay(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: quaderix-bench --simulate-workers [--puzzle FILE] [--units FILE]\n"
                   "       quaderix-bench --simulate-workers --replay FILE\n");
      return 2;
    }
  }
  RunLog log;
  QueuedMessageSink sink;
  RunSupervisor run(
      log, sink, TickCount, [] {}, SolverModelBuilder());
  Settings settings;
  settings.maxThreads = 1;
  settings.configFileName = puzzle;
  run.ApplySettings(settings);
  run.poolOptions.cutForWorkers = kMostWorkers;

  const auto t0 = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  run.OnStart();
  std::vector<Sample> samples;
  double lastTick = 0;
  while (run.jobsCreated && run.runState != RunFinished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const PuzzleMessage& m : sink.Drain()) run.OnMessage(m);
    if (seconds() - lastTick >= 1.0) {
      lastTick = seconds();
      run.OnStatusTick();
      const double elapsed = seconds();
      const double p = run.progress;
      samples.push_back({elapsed, run.progressKnown, p, run.secondsLeft});
    }
  }
  if (!run.jobsCreated) {
    std::fprintf(stderr, "quaderix-bench: %s\n", run.failedJobReason.c_str());
    return 1;
  }
  const double wall = seconds();
  run.OnStatusTick();
  const std::vector<TaskTime> tasks = run.pool()->TaskTimes();
  std::printf("puzzle: %s, %s solutions, %.2f s with one worker\n",
              puzzle.empty() ? "built-in" : puzzle.c_str(), run.solutionsText.c_str(), wall);

  std::printf("\nestimate of the time left, at every 10 %% of the run:\n");
  std::printf("%8s %10s %10s %12s %12s\n", "run %", "elapsed s", "progress", "left est. s",
              "left true s");
  size_t next = 0;
  for (int decile = 1; decile <= 9; ++decile) {
    const double at = wall * decile / 10.0;
    while (next + 1 < samples.size() && samples[next].elapsed < at) ++next;
    if (next >= samples.size()) break;
    const Sample& s = samples[next];
    if (s.known) {
      std::printf("%7d%% %10.1f %9.1f%% %12.1f %12.1f\n", decile * 10, s.elapsed, s.progress * 100,
                  s.leftEstimate, wall - s.elapsed);
    } else {
      std::printf("%7d%% %10.1f %10s %12s %12.1f\n", decile * 10, s.elapsed, "estimating", "-",
                  wall - s.elapsed);
    }
  }

  if (!unitsPath.empty() && !WriteUnits(unitsPath, tasks)) {
    std::fprintf(stderr, "quaderix-bench: cannot write %s\n", unitsPath.c_str());
    return 1;
  }

  int64_t units = 0;
  double unitSeconds = 0;
  double largest = 0;
  for (const TaskTime& task : tasks) {
    if (!task.cut) ++units;
    unitSeconds += task.seconds;
    largest = std::max(largest, task.seconds);
  }
  std::printf("\n%lld units and %zu cuttings, %.2f s of work, largest task %.3f s\n",
              static_cast<long long>(units), tasks.size() - static_cast<size_t>(units), unitSeconds,
              largest);
  const double one = SimulatedWallTime(tasks, 1);
  std::printf("%8s %12s %10s\n", "workers", "wall s", "speed-up");
  for (int32_t n : {1, 2, 4, 8, 16, 64, 256}) {
    const double t = SimulatedWallTime(tasks, n);
    std::printf("%8d %12.3f %10.2f\n", n, t, t > 0 ? one / t : 0.0);
  }
  run.StopSequence();
  return 0;
}
