#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "app/settings.h"
#include "threads/message_sink.h"
#include "threads/puzzle_thread.h"

namespace quaderix {

enum RunState : int32_t { RunNone = 0, RunRunning = 1, RunPaused = 2, RunFinished = 3 };

inline constexpr uint32_t kCommandTimeout = 60000;
inline constexpr int32_t kSampleRing = 100;
// More jobs than this are refused by CreateJobs: a StoneCount beyond it is a broken file,
// and a controller per job would exhaust memory long before 2^31 of them.
inline constexpr int32_t kMaxJobs = 10000;

// What a run counted, kept when its jobs are destroyed so that a front end can report it.
struct RunResult {
  int32_t valid = 0;                     // 1 once a job table has been stopped and destroyed
  std::vector<uint32_t> solutions;       // per job, read after its worker stopped
  std::vector<int32_t> started;          // per job: its Start succeeded
  std::vector<uint32_t> outputFailures;  // per job: records its output file did not take
  uint32_t elapsed = 0;                  // run time in ms, as the time text showed it
};

// The run: one job per stone type, at most maxThreads running at a time, the status tick
// that retires finished jobs and starts waiting ones, the elapsed time and the rates. It
// is toolkit-free and takes its clock from outside, so the window, the command line and
// the tests share it. Used only on the front end's thread; the workers reach it through
// the messages the front end passes to OnMessage.
class RunSupervisor {
 public:
  using Clock = std::function<uint32_t()>;
  using Beeper = std::function<void()>;
  // Makes one job; tests substitute controllers of their own.
  using JobFactory = std::function<std::unique_ptr<PuzzleThreadBase>(
      MessageSink& sink, int32_t startStone, int32_t endStone, const std::string& puzzlePath,
      const std::string& outputPath)>;

  RunSupervisor(RunLog& log, MessageSink& sink, Clock clock, Beeper beep,
                JobFactory factory = nullptr);
  ~RunSupervisor();

  void ApplySettings(const Settings& settings);

  int CreateJobs();
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
  bool CanPause() const { return AnyActiveJobIn(StateRunning); }
  bool CanContinue() const { return AnyActiveJobIn(StatePaused); }

  // Load Config: the next Start reads this file.
  void SetConfigFileName(const std::string& path);

  // Run time in ms at tick `now`, by runState: the value the time text shows.
  uint32_t ElapsedTime(uint32_t now) const;
  // True when a job table exists and every job is retired or reports StateFinished.
  bool AllJobsDone() const;

  // Display strings, refreshed by OnStatusTick.
  std::string pastTimeText;
  std::string solutionsText;
  std::string completeRateText;
  std::string lastRateText;

  int32_t jobsCreated = 0;
  int32_t jobCount = 0;
  int32_t maxThreads = 0;
  int32_t runningThreads = 0;
  std::vector<std::unique_ptr<PuzzleThreadBase>> jobs;
  int32_t runState = RunNone;
  uint32_t periodStart = 0;
  uint32_t accumulatedTime = 0;
  int32_t sampleCount = 0;
  int32_t sampleIndex = 0;
  std::array<int32_t, kSampleRing> sampleSolutions{};
  std::array<uint32_t, kSampleRing> sampleTicks{};
  std::string configFileName;
  std::string outputFileNameBase;
  std::string commandLineConfig;

  // The job whose Start failed in the last run, -1 if none, and why, in one sentence.
  int32_t failedJob = -1;
  std::string failedJobReason;
  // Filled when OnStop destroys the job table.
  RunResult lastRun;

 private:
  void DestroyJobs();

  bool AnyActiveJobIn(int32_t state) const;

  RunLog& log_;
  MessageSink& sink_;
  Clock clock_;
  Beeper beep_;
  JobFactory factory_;
  uint64_t refreshCount_ = 0;
};

}  // namespace quaderix
