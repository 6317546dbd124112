#include "run/run_supervisor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "config/puzzle_definition.h"
#include "model/symmetry_analysis.h"

namespace quaderix {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// "40 s", "12 min", "3 h 5 min": whole units, as a reader of a time left wants them.
std::string Duration(double seconds) {
  if (seconds < 60) return Format("%d s", static_cast<int>(seconds + 0.5));
  const long minutes = static_cast<long>(seconds / 60 + 0.5);
  if (minutes < 60) return Format("%ld min", minutes);
  return Format("%ld h %ld min", minutes / 60, minutes % 60);
}

// The estimate is trusted once every job is cut and sized and a fair sample of units has
// been measured for a while: before that a few early units decide too much.
constexpr uint32_t kTrustAfterMs = 2000;
constexpr int64_t kTrustUnits = 16;
constexpr double kTrustDoneEstimate = 0.01;

}  // namespace

RunSupervisor::RunSupervisor(RunLog& log, MessageSink& sink, Clock clock, Beeper beep,
                             ModelBuilder builder)
    : log_(log),
      sink_(sink),
      clock_(std::move(clock)),
      beep_(std::move(beep)),
      builder_(std::move(builder)) {}

// Destroying the pool stops and joins its workers.
RunSupervisor::~RunSupervisor() = default;

void RunSupervisor::ApplySettings(const Settings& settings) {
  maxThreads = settings.maxThreads;
  outputFileNameBase = settings.outputFileNameBase;
  configFileName = settings.configFileName;
  commandLineConfig = settings.commandLineConfig;
}

void RunSupervisor::SetConfigFileName(const std::string& path) {
  configFileName = path;
}

void RunSupervisor::ResumeNext(Checkpoint checkpoint) {
  resumeNext_ = std::make_unique<Checkpoint>(std::move(checkpoint));
}

void RunSupervisor::CheckpointIfDue() {
  if (!jobsCreated || runState != RunRunning || checkpointPath.empty()) return;
  if (clock_() - lastCheckpoint_ >= checkpointEveryMs) WriteCheckpoint();
}

void RunSupervisor::WriteCheckpoint() {
  if (!pool_ || checkpointPath.empty()) return;
  lastCheckpoint_ = clock_();
  Checkpoint cp;
  if (!pool_->TakeCheckpoint(&cp)) return;
  cp.puzzleFingerprint = identity_.puzzleFingerprint;
  cp.puzzleSize = identity_.puzzleSize;
  cp.outputBase = identity_.outputBase;
  cp.writeEveryNSolution = identity_.writeEveryNSolution;
  cp.elapsedMs = ElapsedTime(clock_());
  std::string error;
  if (WriteFileAtomically(checkpointPath, SerializeCheckpoint(cp), &error)) {
    checkpointError_.clear();
  } else if (error != checkpointError_) {
    checkpointError_ = error;
    log_.AppendLog("==> The checkpoint could not be saved: %s", error.c_str());
  }
}

void RunSupervisor::RemoveCheckpoint() {
  if (checkpointPath.empty()) return;
  std::remove(checkpointPath.c_str());
  // A write cut off by a crash may have left its new file behind.
  std::remove((checkpointPath + ".new").c_str());
}

void RunSupervisor::OnStart() {
  const uint32_t t0 = clock_();
  // A resume is meant for this Start alone, whether or not the run can begin.
  const std::unique_ptr<Checkpoint> resumeFrom = std::move(resumeNext_);
  sampleCount = 0;
  sampleIndex = 0;
  runState = RunNone;
  failedJob = -1;
  failedJobReason.clear();
  endLogged_ = false;
  progress = 0;
  progressKnown = false;
  progressText = "estimating";
  resumed = false;
  if (jobsCreated) {
    log_.AppendLog("Error on init Threads");
    return;
  }
  if (maxThreads < 1) {
    log_.AppendLog("MaxThreads is %d: a run needs at least one worker",
                   static_cast<int>(maxThreads));
    log_.AppendLog("Error on init Threads");
    return;
  }
  // The summary is what the file says; the job count follows once the model is built
  // from the puzzle actually solved.
  const PuzzleSummary summary = ReadPuzzleSummary(configFileName);
  log_.AppendLog("Block Size X*Y*Z=%d*%d*%d", static_cast<int>(summary.xSize),
                 static_cast<int>(summary.ySize), static_cast<int>(summary.zSize));
  log_.AppendLog("Number of different stones = %d", static_cast<int>(summary.stoneCount));
  log_.AppendLog("Number of symetries = %d", static_cast<int>(summary.symPosCount));
  log_.AppendLog("Write one every %d solutions to the output file(s)",
                 static_cast<int>(summary.writeEveryNSolution));
  // Whether the symmetry positions keep the counts exact, and which would if they do not:
  // a count that silently loses packings is worse than no count.
  for (const std::string& sentence : SymmetrySentences(configFileName))
    log_.AppendLog("%s", sentence.c_str());

  PoolOptions options = poolOptions;
  options.workers = maxThreads;
  options.outputFileNameBase = outputFileNameBase;
  pool_ = std::make_unique<WorkPool>(sink_, builder_, configFileName, options);
  // The puzzle's bytes as they are now are what the run's checkpoints vouch for.
  identity_ = ReadRunIdentity(configFileName, outputFileNameBase);
  uint32_t spent = 0;
  resumed = resumeFrom != nullptr;
  if (resumed) {
    spent = static_cast<uint32_t>(resumeFrom->elapsedMs);
    uint64_t counted = 0;
    for (const JobCheckpoint& job : resumeFrom->jobs) counted += job.FinishedSolutions();
    log_.AppendLog("Resuming the interrupted run: %llu solutions in %.1f sec already counted",
                   static_cast<unsigned long long>(counted), spent * 0.001);
    pool_->ResumeFrom(std::move(*resumeFrom));
  } else {
    RemoveCheckpoint();
  }
  jobs.clear();
  jobCount = 0;
  runningThreads = 0;
  busyWorkers_ = 0;
  if (!pool_->Start()) {
    pool_.reset();
    log_.AppendLog("Error on init Threads");
    return;
  }
  jobsCreated = 1;
  const uint32_t t1 = clock_();
  periodStart = t1;
  accumulatedTime = t1 - t0 + spent;
  lastCheckpoint_ = t1;
  log_.AppendLog("Timeto initialize %.1f sec", (t1 - t0) * 0.001);
  log_.AppendLog("Reading the puzzle and building the placement tables");
  runState = RunRunning;
}

void RunSupervisor::OnPause() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated || runState != RunRunning) return;
  pool_->Pause(kCommandTimeout);
  accumulatedTime += clock_() - periodStart;
  runState = RunPaused;
  WriteCheckpoint();
}

void RunSupervisor::OnContinue() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated || runState != RunPaused) return;
  periodStart = clock_();
  pool_->Continue();
  runState = RunRunning;
}

void RunSupervisor::OnStop() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated) return;
  // A Stop during a run only pauses it; the second one ends it.
  if (runState == RunRunning && !pool_->Snapshot().allComplete) {
    OnPause();
    return;
  }
  pool_->Stop();
  // What the stop left is saved; a run that ended complete needs nothing to go on from.
  if (pool_->Snapshot().allComplete) {
    RemoveCheckpoint();
  } else {
    WriteCheckpoint();
  }
  DestroyPool();
  runState = RunNone;
  periodStart = 0;
  accumulatedTime = 0;
}

void RunSupervisor::DestroyPool() {
  const PoolSnapshot snapshot = pool_->Snapshot();
  RunResult result;
  result.valid = 1;
  result.elapsed = ElapsedTime(clock_());
  uint64_t total = 0;
  for (size_t i = 0; i < snapshot.jobs.size(); ++i) {
    const JobProgress& job = snapshot.jobs[i];
    result.solutions.push_back(job.solutions);
    result.started.push_back(job.started ? 1 : 0);
    result.outputFailures.push_back(job.outputFailures);
    total += job.solutions;
    const bool retired = i < jobs.size() && jobs[i].retired;
    if (!retired && job.outputFailures > 0) {
      log_.AppendLog("==> Thread(%d): %llu writes to its output file failed", static_cast<int>(i),
                     static_cast<unsigned long long>(job.outputFailures));
    }
  }
  lastRun = std::move(result);
  if (!endLogged_ && snapshot.phase == PoolSnapshot::Ready) {
    log_.AppendLog("==> Run stopped: %llu solutions in %.1f sec",
                   static_cast<unsigned long long>(total), lastRun.elapsed * 0.001);
  }
  endLogged_ = true;
  pool_.reset();
  jobs.clear();
  jobsCreated = 0;
  busyWorkers_ = 0;
}

void RunSupervisor::StopSequence() {
  OnStop();
  OnStop();
}

uint32_t RunSupervisor::ElapsedTime(uint32_t now) const {
  switch (runState) {
    case RunRunning:
      return now + accumulatedTime - periodStart;
    case RunPaused:
    case RunFinished:
      return accumulatedTime;
    default:
      return 0;
  }
}

void RunSupervisor::UpdateProgress(const PoolSnapshot& snapshot, uint32_t elapsed) {
  const double total = snapshot.doneWork + snapshot.leftWork;
  const double estimated = snapshot.doneEstimate + snapshot.leftEstimate;
  if (snapshot.allComplete) {
    progress = 1;
    progressKnown = true;
  } else if (snapshot.allCut && total > 0 && elapsed >= kTrustAfterMs &&
             snapshot.unitsDone >= kTrustUnits &&
             snapshot.doneEstimate >= kTrustDoneEstimate * estimated) {
    // Shown, it only grows: a fraction that went back would tell the user nothing.
    progress = std::max(progress, std::min(snapshot.doneWork / total, 0.999));
    progressKnown = true;
  }
  secondsLeft = 0;
  if (!progressKnown) {
    progressText = "estimating";
  } else if (progress >= 1) {
    progressText = "100 %";
  } else {
    // The pool's measured speed leaves out the set-up, the cutting and the pauses; the
    // elapsed time is the fallback.
    const double left = snapshot.leftSeconds > 0
                            ? snapshot.leftSeconds
                            : elapsed * 0.001 * (1 - progress) / std::max(progress, 1e-9);
    secondsLeft = left;
    progressText = Format("%d %% \xC2\xB7 about %s left", static_cast<int>(progress * 100),
                          Duration(left).c_str());
  }
}

bool RunSupervisor::OnStatusTick() {
  if (!jobsCreated) {
    pastTimeText = "0";
    solutionsText = "0";
  } else {
    const PoolSnapshot snapshot = pool_->Snapshot();
    if (snapshot.phase == PoolSnapshot::Failed) {
      log_.AppendLog("==> Error on starting Thread(%d)", 0);
      log_.AppendLog("==> The puzzle could not be set up: %s", snapshot.error.c_str());
      failedJob = 0;
      failedJobReason = snapshot.error;
      StopSequence();
      return false;
    }
    if (snapshot.phase == PoolSnapshot::Ready && jobs.size() != snapshot.jobs.size()) {
      jobCount = static_cast<int32_t>(snapshot.jobs.size());
      jobs.assign(snapshot.jobs.size(), JobRow{});
      log_.AppendLog("Set-up done in %.1f sec", snapshot.setupSeconds);
      log_.AppendLog("Number of Threads = %d", static_cast<int>(jobCount));
    }
    // The log shows the jobs in their order: a job is started (and retired) in the log
    // only after every lower one, even when a small job got there first.
    uint64_t sum = 0;
    bool lowerStarted = true;
    bool lowerRetired = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
      JobRow& row = jobs[i];
      const JobProgress& job = snapshot.jobs[i];
      if (!row.retired) row.lastSolutionCount = job.solutions;
      if (!row.started && job.started && lowerStarted) {
        row.started = 1;
        ++runningThreads;
        log_.AppendLog("==> Thread(%d) Started ==> %d Threads Running", static_cast<int>(i),
                       static_cast<int>(runningThreads));
      }
      if (row.started && !row.retired && job.complete && lowerRetired) {
        row.retired = 1;
        --runningThreads;
        log_.AppendLog("==> Thread(%d) Stopped ==> %d Threads Running", static_cast<int>(i),
                       static_cast<int>(runningThreads));
        log_.AppendLog("ThreadStat: Elapsed Time=%dsec, Solutions Found=%llu",
                       static_cast<int>((clock_() + accumulatedTime - periodStart) / 1000),
                       static_cast<unsigned long long>(row.lastSolutionCount));
        if (job.outputFailures > 0) {
          log_.AppendLog("==> Thread(%d): %llu writes to its output file failed",
                         static_cast<int>(i), static_cast<unsigned long long>(job.outputFailures));
        }
      }
      sum += row.lastSolutionCount;
      lowerStarted = row.started != 0;
      lowerRetired = row.retired != 0;
    }
    busyWorkers_ = snapshot.busyWorkers;

    const uint32_t now = clock_();
    const uint32_t e = ElapsedTime(now);
    if (runState == RunFinished && !endLogged_ && runningThreads == 0) {
      log_.AppendLog("==> Run finished: %llu solutions in %.1f sec",
                     static_cast<unsigned long long>(sum), e * 0.001);
      endLogged_ = true;
    }
    sampleCount = sampleCount + 1 < kSampleRing ? sampleCount + 1 : kSampleRing;
    sampleIndex = (sampleIndex + 1) % kSampleRing;
    sampleSolutions[sampleIndex] = sum;
    sampleTicks[sampleIndex] = now;

    solutionsText = Format("%llu    ", static_cast<unsigned long long>(sum));

    const char* word = "unkwown";
    if (runState == RunRunning) word = "running";
    if (runState == RunPaused) word = "paused";
    if (runState == RunFinished) word = "finished";
    pastTimeText = Format("%dh %dmin %4.0fsec (%s)    ", static_cast<int>(e / 3600000),
                          static_cast<int>((e % 3600000) / 60000), (e % 60000) * 0.001, word);

    const double total = static_cast<double>(sum);
    completeRateText = e > 0 ? Format("%.1f    ", total / (e * 0.001)) : "0    ";
    if (sampleCount > 1) {
      const int32_t oldest = (sampleIndex - sampleCount + 101) % kSampleRing;
      const uint64_t newest = sampleSolutions[sampleIndex];
      const double dS = newest > sampleSolutions[oldest]
                            ? static_cast<double>(newest - sampleSolutions[oldest])
                            : 0.0;
      const uint32_t dT = sampleTicks[sampleIndex] - sampleTicks[oldest];
      // Two samples taken in the same millisecond give no rate.
      lastRateText = dS > 0 && dT > 0 ? Format("%.1f    ", dS * 1000.0 / dT) : "0    ";
    }
    UpdateProgress(snapshot, e);
    CheckpointIfDue();
  }
  ++refreshCount_;
  return refreshCount_ % 3 == 0;
}

void RunSupervisor::OnThreadText(uintptr_t wParam, const std::string& text) {
  if (wParam == 0) {
    log_.AppendRaw(text);
  } else {
    log_.AppendLine(text);
  }
}

void RunSupervisor::OnThreadNotify(uintptr_t wParam, uintptr_t /*lParam*/) {
  if (wParam != 2 || !jobsCreated) return;
  if (!pool_->Snapshot().allComplete) return;
  if (runState == RunFinished) return;
  beep_();
  const uint32_t now = clock_();
  // A paused run has already folded its last period into accumulatedTime.
  if (runState == RunRunning) accumulatedTime += now - periodStart;
  runState = RunFinished;
  periodStart = now;
  RemoveCheckpoint();
}

void RunSupervisor::OnMessage(const PuzzleMessage& message) {
  if (message.message == WM_PUZZLE_LOG) {
    OnThreadText(message.wParam, message.text);
  } else if (message.message == WM_PUZZLE_NOTIFY) {
    OnThreadNotify(message.wParam, message.lParam);
  }
}

}  // namespace quaderix
