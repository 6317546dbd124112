#include "app/run_supervisor.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "config/puzzle_definition.h"

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

std::string OutputFileName(const std::string& base, int32_t job) {
  if (base.empty()) return {};
  // "%s_%02d.txt", with the base taken whole however long it is.
  char number[16];
  std::snprintf(number, sizeof number, "%02d", static_cast<int>(job));
  return base + "_" + number + ".txt";
}

}  // namespace

RunSupervisor::RunSupervisor(RunLog& log, MessageSink& sink, Clock clock, Beeper beep,
                             JobFactory factory)
    : log_(log),
      sink_(sink),
      clock_(std::move(clock)),
      beep_(std::move(beep)),
      factory_(std::move(factory)) {
  if (!factory_) {
    factory_ = [](MessageSink& window, int32_t startStone, int32_t endStone,
                  const std::string& puzzlePath, const std::string& outputPath) {
      return std::make_unique<PuzzleThread>(window, startStone, endStone, puzzlePath, outputPath);
    };
  }
}

// Destroying the controllers joins their workers; each one still running is told to stop.
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

int RunSupervisor::CreateJobs() {
  if (jobsCreated) return 0;
  const PuzzleSummary summary = ReadPuzzleSummary(configFileName);
  jobCount = summary.jobCount;
  runningThreads = 0;
  log_.AppendLog("Number of Threads = %d", static_cast<int>(jobCount));
  log_.AppendLog("Block Size X*Y*Z=%d*%d*%d", static_cast<int>(summary.xSize),
                 static_cast<int>(summary.ySize), static_cast<int>(summary.zSize));
  log_.AppendLog("Number of different stones = %d", static_cast<int>(summary.stoneCount));
  log_.AppendLog("Number of symetries = %d", static_cast<int>(summary.symPosCount));
  log_.AppendLog("Write one every %d solutions to the output file(s)",
                 static_cast<int>(summary.writeEveryNSolution));

  // A negative or absurd count is what a failed allocation of the table would be.
  if (jobCount < 0 || jobCount > kMaxJobs) {
    jobCount = 0;
    return 0;
  }
  try {
    jobs.clear();
    jobs.reserve(static_cast<size_t>(jobCount));
    for (int32_t i = 0; i < jobCount; ++i) {
      std::unique_ptr<PuzzleThreadBase> job =
          factory_(sink_, i, i, configFileName, OutputFileName(outputFileNameBase, i));
      if (!job) throw std::bad_alloc();
      job->started = 0;
      job->retired = 0;
      job->lastSolutionCount = 0;
      jobs.push_back(std::move(job));
    }
  } catch (const std::exception&) {
    jobs.clear();
    jobsCreated = 0;
    return 0;
  }
  jobsCreated = 1;
  return 1;
}

void RunSupervisor::OnStart() {
  const uint32_t t0 = clock_();
  sampleCount = 0;
  sampleIndex = 0;
  runState = RunNone;
  failedJob = -1;
  failedJobReason.clear();
  if (CreateJobs() == 1) {
    const uint32_t t1 = clock_();
    periodStart = t1;
    accumulatedTime = t1 - t0;
    log_.AppendLog("Timeto initialize %.1f sec", (t1 - t0) * 0.001);
    runState = RunRunning;
  } else {
    log_.AppendLog("Error on init Threads");
  }
}

void RunSupervisor::OnPause() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated) return;
  for (auto& job : jobs) {
    if (job && job->started && !job->retired) job->Pause(kCommandTimeout);
  }
  accumulatedTime += clock_() - periodStart;
  runState = RunPaused;
}

void RunSupervisor::OnContinue() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated) return;
  periodStart = clock_();
  for (auto& job : jobs) {
    if (job && job->started && !job->retired) job->Continue(kCommandTimeout);
  }
  runState = RunRunning;
}

void RunSupervisor::OnStop() {
  sampleCount = 0;
  sampleIndex = 0;
  if (!jobsCreated) return;
  for (auto& job : jobs) {
    if (job && job->started && !job->retired && job->GetState() == StateRunning) {
      OnPause();
      return;
    }
  }
  bool failed = false;
  for (auto& job : jobs) {
    if (!job || !job->started || job->retired) continue;
    // A started job that is idle again was stopped by an earlier Stop whose round failed
    // elsewhere; it would refuse a second Stop, and the table could never be freed.
    if (job->GetState() == StateIdle) continue;
    if (job->Stop(kCommandTimeout) != 0) failed = true;
  }
  if (failed) return;
  DestroyJobs();
  runState = RunNone;
  periodStart = 0;
  accumulatedTime = 0;
}

void RunSupervisor::DestroyJobs() {
  RunResult result;
  result.valid = 1;
  result.elapsed = ElapsedTime(clock_());
  for (auto& job : jobs) {
    result.solutions.push_back(job ? job->GetSolutionCount() : 0);
    result.started.push_back(job ? job->started : 0);
    result.outputFailures.push_back(job ? job->solver.OutputFailures() : 0);
  }
  lastRun = std::move(result);
  jobsCreated = 0;
  jobs.clear();
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

bool RunSupervisor::AllJobsDone() const {
  if (!jobsCreated) return false;
  for (const auto& job : jobs) {
    if (job && !job->retired && job->GetState() != StateFinished) return false;
  }
  return true;
}

bool RunSupervisor::AnyActiveJobIn(int32_t wanted) const {
  if (!jobsCreated) return false;
  for (const auto& job : jobs) {
    if (job && job->started && !job->retired && job->GetState() == wanted) return true;
  }
  return false;
}

bool RunSupervisor::OnStatusTick() {
  if (!jobsCreated) {
    pastTimeText = "0";
    solutionsText = "0";
  } else {
    // Counts wrap like the 32-bit words they come from.
    uint32_t sum = 0;
    for (int32_t i = 0; i < jobCount && i < static_cast<int32_t>(jobs.size()); ++i) {
      PuzzleThreadBase* job = jobs[i].get();
      if (!job) continue;
      if (job->started && !job->retired) {
        job->lastSolutionCount = static_cast<int32_t>(job->GetSolutionCount());
        if (job->GetState() == StateFinished) {
          job->Stop(kCommandTimeout);
          job->retired = 1;
          --runningThreads;
          log_.AppendLog("==> Thread(%d) Stopped ==> %d Threads Running", static_cast<int>(i),
                         static_cast<int>(runningThreads));
          log_.AppendLog("ThreadStat: Elapsed Time=%dsec, Solutions Found=%d",
                         static_cast<int>((clock_() + accumulatedTime - periodStart) / 1000),
                         static_cast<int>(job->lastSolutionCount));
        }
      }
      sum += static_cast<uint32_t>(job->lastSolutionCount);
      if (runningThreads < maxThreads && !job->started) {
        ++runningThreads;
        const int result = job->Start(kCommandTimeout);
        if (result != 0) {
          log_.AppendLog("==> Error on starting Thread(%d)", static_cast<int>(i));
          failedJob = i;
          if (job->GetState() == StateFailed) {
            failedJobReason = job->solver.setupError.message.empty()
                                  ? "its set-up failed"
                                  : job->solver.setupError.message;
          } else if (result == 2) {
            failedJobReason = "it did not take the start command within " +
                              std::to_string(kCommandTimeout) + " ms";
          } else {
            failedJobReason = "its worker thread could not be begun";
          }
          StopSequence();
          return false;
        }
        job->started = 1;
        log_.AppendLog("==> Thread(%d) Started ==> %d Threads Running", static_cast<int>(i),
                       static_cast<int>(runningThreads));
      }
    }

    const uint32_t now = clock_();
    sampleCount = sampleCount + 1 < kSampleRing ? sampleCount + 1 : kSampleRing;
    sampleIndex = (sampleIndex + 1) % kSampleRing;
    sampleSolutions[sampleIndex] = static_cast<int32_t>(sum);
    sampleTicks[sampleIndex] = now;

    solutionsText = Format("%d    ", static_cast<int>(static_cast<int32_t>(sum)));

    const char* word = "unkwown";
    if (runState == RunRunning) word = "running";
    if (runState == RunPaused) word = "paused";
    if (runState == RunFinished) word = "finished";
    const uint32_t e = ElapsedTime(now);
    pastTimeText = Format("%dh %dmin %4.0fsec (%s)    ", static_cast<int>(e / 3600000),
                          static_cast<int>((e % 3600000) / 60000), (e % 60000) * 0.001, word);

    const double total = static_cast<int32_t>(sum);
    completeRateText = e > 0 ? Format("%.1f    ", total / (e * 0.001)) : "0    ";
    if (sampleCount > 1) {
      const int32_t oldest = (sampleIndex - sampleCount + 101) % kSampleRing;
      const int32_t dS = static_cast<int32_t>(static_cast<uint32_t>(sampleSolutions[sampleIndex]) -
                                              static_cast<uint32_t>(sampleSolutions[oldest]));
      const uint32_t dT = sampleTicks[sampleIndex] - sampleTicks[oldest];
      // Two samples taken in the same millisecond give no rate.
      lastRateText = dS > 0 && dT > 0 ? Format("%.1f    ", dS * 1000.0 / dT) : "0    ";
    }
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
  for (const auto& job : jobs) {
    if (job && !job->retired && job->GetState() != StateFinished) return;
  }
  // Every finishing worker posts a notice; when several finish between two drains the
  // run is complete at the first, and the later ones must neither beep again nor let the
  // frozen time grow.
  if (runState == RunFinished) return;
  beep_();
  const uint32_t now = clock_();
  // A paused run has already folded its last period into accumulatedTime.
  if (runState == RunRunning) accumulatedTime += now - periodStart;
  runState = RunFinished;
  periodStart = now;
}

void RunSupervisor::OnMessage(const PuzzleMessage& message) {
  if (message.message == WM_PUZZLE_LOG) {
    OnThreadText(message.wParam, message.text);
  } else if (message.message == WM_PUZZLE_NOTIFY) {
    OnThreadNotify(message.wParam, message.lParam);
  }
}

}  // namespace quaderix
