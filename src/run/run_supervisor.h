#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/checkpoint.h"
#include "run/run_log.h"
#include "run/settings.h"
#include "run/work_pool.h"
#include "threads/message_sink.h"

namespace quaderix {

enum RunState : int32_t { RunNone = 0, RunRunning = 1, RunPaused = 2, RunFinished = 3 };

inline constexpr uint32_t kCommandTimeout = 60000;
inline constexpr int32_t kSampleRing = 100;

// What a run counted, kept when its pool is gone so that a front end can report it.
struct RunResult {
  int32_t valid = 0;                     // 1 once a run has been stopped and destroyed
  std::vector<uint64_t> solutions;       // per job
  std::vector<int32_t> started;          // per job: some of its work was taken
  std::vector<uint64_t> outputFailures;  // per job: records its output file did not take
  uint32_t elapsed = 0;                  // run time in ms, as the time text showed it
};

// One row of the job table as the log and the status show it; written by the
// supervision alone.
struct JobRow {
  int32_t started = 0;
  int32_t retired = 0;  // complete, and its Stopped line logged
  uint64_t lastSolutionCount = 0;
};

// The run: one model, a pool of maxThreads workers searching the jobs' units, and the
// status tick that turns the pool's state into the job lines of the log, the elapsed
// time, the rates, the progress and the time left. Toolkit-free with its clock passed
// in, so the window, the command line and the tests share it. Used only on the front
// end's thread; the workers reach it through the messages passed to OnMessage.
class RunSupervisor {
 public:
  using Clock = std::function<uint32_t()>;
  using Beeper = std::function<void()>;

  // `builder` makes the run's model; tests substitute small models of their own.
  RunSupervisor(RunLog& log, MessageSink& sink, Clock clock, Beeper beep, ModelBuilder builder);
  ~RunSupervisor();

  void ApplySettings(const Settings& settings);

  void OnStart();
  void OnPause();
  void OnContinue();
  void OnStop();
  // OnStop twice: a running run is paused first, then stopped and destroyed.
  void StopSequence();
  // Timer 1. Returns true on every third tick that refreshes the texts, when the front
  // end repaints the whole window.
  bool OnStatusTick();
  void OnThreadText(uintptr_t wParam, const std::string& text);
  void OnThreadNotify(uintptr_t wParam, uintptr_t lParam);
  // Dispatches a drained worker message to the two handlers above.
  void OnMessage(const PuzzleMessage& message);

  // The button rules of timer 2.
  bool CanStart() const { return !jobsCreated; }
  bool CanLoadConfig() const { return !jobsCreated; }
  bool CanStop() const { return jobsCreated != 0; }
  bool CanPause() const { return jobsCreated && runState == RunRunning; }
  bool CanContinue() const { return jobsCreated && runState == RunPaused; }

  // Load Config: the next Start reads this file.
  void SetConfigFileName(const std::string& path);

  // The next Start goes on from `checkpoint` (found matching by the front end) instead
  // of beginning afresh; its elapsed time goes on from the time already spent.
  void ResumeNext(Checkpoint checkpoint);
  // Writes the checkpoint when `checkpointEveryMs` have passed since the last one; the
  // front end calls it often (the status tick does too). Pause and Stop write one anyway.
  void CheckpointIfDue();

  // Run time in ms at tick `now`, by runState: the value the time text shows.
  uint32_t ElapsedTime(uint32_t now) const;
  // True while the pool's first worker reads the puzzle and builds the tables.
  bool SettingUp() const { return pool_ && pool_->ModelBuilding(); }
  // Workers searching now, as of the last tick.
  int32_t BusyWorkers() const { return busyWorkers_; }
  const WorkPool* pool() const { return pool_.get(); }

  // Display strings, refreshed by OnStatusTick.
  std::string pastTimeText;
  std::string solutionsText;
  std::string completeRateText;
  std::string lastRateText;
  // "37 % · about 4 min left", or "estimating" until the estimate can be trusted.
  std::string progressText;
  // The estimated part of the run done, 0..1; it only grows within a run.
  double progress = 0;
  bool progressKnown = false;
  double secondsLeft = 0;  // the time left as progressText shows it, before rounding

  int32_t jobsCreated = 0;  // a run (its pool) exists
  int32_t jobCount = 0;     // known once the model is built
  int32_t maxThreads = 0;
  int32_t runningThreads = 0;  // jobs started and not retired
  std::vector<JobRow> jobs;
  int32_t runState = RunNone;
  uint32_t periodStart = 0;
  uint32_t accumulatedTime = 0;
  int32_t sampleCount = 0;
  int32_t sampleIndex = 0;
  std::array<uint64_t, kSampleRing> sampleSolutions{};
  std::array<uint32_t, kSampleRing> sampleTicks{};
  std::string configFileName;
  std::string outputFileNameBase;
  std::string commandLineConfig;
  PoolOptions poolOptions;  // workers and output base are set by Start

  // Where the run keeps its checkpoint; empty keeps none. A fresh Start removes the old
  // one, a run that finished completely removes its own.
  std::string checkpointPath;
  uint32_t checkpointEveryMs = 30000;
  bool resumed = false;  // the run in hand went on from a checkpoint

  // Sets progress, progressText and secondsLeft from the pool's state `elapsed` ms into
  // the run. Called on every status tick; public so that its rules can be tried on
  // chosen states.
  void UpdateProgress(const PoolSnapshot& snapshot, uint32_t elapsed);

  // Set when the run could not be set up, with the reason in one sentence.
  int32_t failedJob = -1;
  std::string failedJobReason;
  // Filled when OnStop destroys the run.
  RunResult lastRun;

 private:
  void DestroyPool();
  // Saves what the pool has finished and recorded; nothing before its model is built.
  void WriteCheckpoint();
  void RemoveCheckpoint();

  RunLog& log_;
  MessageSink& sink_;
  Clock clock_;
  Beeper beep_;
  ModelBuilder builder_;
  std::unique_ptr<WorkPool> pool_;
  int32_t busyWorkers_ = 0;
  bool endLogged_ = false;
  std::unique_ptr<Checkpoint> resumeNext_;
  RunIdentity identity_;
  uint32_t lastCheckpoint_ = 0;
  std::string checkpointError_;  // the last failure, logged once
  uint64_t refreshCount_ = 0;
};

}  // namespace quaderix
