#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "run/checkpoint.h"
#include "run/unit_engine.h"
#include "solver/record_file.h"
#include "threads/message_sink.h"

namespace quaderix {

// How a pool cuts its jobs and where it writes.
struct PoolOptions {
  int32_t workers = 1;
  // Units are never cut below this share of the whole run; 0 means 1 / (100 × workers),
  // so that the last units of a run are small next to the others. Units with much work
  // after them are cut less finely (see CutJob). A unit's share of the run is its share
  // of its job times the job's share of the run, as random descents estimate it.
  double maxUnitShare = 0;
  // Units are never cut below this many levels; 0 makes every job one unit.
  int32_t maxCutDepth = 8;
  // "%s_%02d.txt" per job; empty writes no files.
  std::string outputFileNameBase{};
  // The number of workers the units are cut for; 0 means `workers`. A bench cuts for
  // more workers than it runs, to learn what a bigger pool would do with the same units.
  int32_t cutForWorkers = 0;
};

// One job as the supervision sees it at one moment.
struct JobProgress {
  bool started = false;   // one of its units has been taken (or it has none to search)
  bool complete = false;  // every unit searched and every record written
  uint64_t solutions = 0;
  uint64_t outputFailures = 0;  // records (or the file's creation) that failed
};

// The whole pool at one moment, taken under its lock in one piece.
struct PoolSnapshot {
  enum Phase { Building, Ready, Failed } phase = Building;
  std::string error;        // why the model could not be built
  double setupSeconds = 0;  // how long the model took to build
  std::vector<JobProgress> jobs;
  int32_t busyWorkers = 0;
  bool allComplete = false;
  // Work in search nodes: done, and the estimate of what is left.
  double doneWork = 0;
  double leftWork = 0;
  // The estimated sizes of the finished units and of the work left, before scaling by
  // what the finished units really took: how much of the run the measure rests on.
  double doneEstimate = 0;
  double leftEstimate = 0;
  // The wall time the work left should take the pool, from how long this run's finished
  // units took for their estimated sizes; 0 before one has finished.
  double leftSeconds = 0;
  int64_t unitsDone = 0;
  int64_t unitCount = 0;
  bool allCut = false;
};

// The measured cost of one task, in the order the tasks were handed out.
struct TaskTime {
  int32_t job = 0;
  bool cut = false;  // the cutting of the job, which its units wait for
  double seconds = 0;
  uint64_t nodes = 0;
  int64_t item = 0;  // the unit's place in its job
  // What was guessed before: a unit's share of its job and its size from a descent below
  // it; a probe's or a cutting's size of its job from descents from its root.
  double share = 0;
  double estimate = 0;
};

// The workers of one run: builds the puzzle's model once, cuts every job into units and
// searches the units on `workers` threads, taking them in order of job and unit. Per job
// the packings are numbered and written in the serial search's order. Owned by the
// supervision; Start, Pause, Continue, Stop and Snapshot are called from the owner's
// thread only, the workers share the rest under one lock. A command and the state it
// leads to are changed under that lock together, so no command can be half taken.
class WorkPool {
 public:
  WorkPool(MessageSink& sink, ModelBuilder builder, std::string puzzlePath, PoolOptions options);
  ~WorkPool();
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // Before Start: the run goes on from `checkpoint` instead of beginning afresh. Its jobs'
  // units are taken as they stand instead of being cut again, finished units are counted
  // and skipped, and the output files are cut back to their committed lengths (refused,
  // changing nothing, when one is shorter). A job the checkpoint lists as uncut is cut.
  void ResumeFrom(Checkpoint checkpoint);
  // What is finished and recorded, taken under the lock from a running, paused or stopped
  // pool: per job its units, the counts of finished units whose records all stand in the
  // file, and the file length those records make. Fills only the jobs; false while the
  // model is not built (then nothing of the run may be saved yet).
  bool TakeCheckpoint(Checkpoint* checkpoint) const;
  // Begins the workers; the first builds the model while the owner's thread goes on.
  // Returns false when no thread could be begun.
  bool Start();
  // Returns once no worker is searching (at most `timeoutMs` later). 0 taken, 2 timed out.
  int Pause(uint32_t timeoutMs);
  void Continue();
  // Ends every worker and waits for them; records of the packings found so far that
  // continue a job's file in order are written. Only a model build still running can
  // make this wait long.
  void Stop();

  PoolSnapshot Snapshot() const;
  bool ModelBuilding() const { return building_.load(); }
  std::shared_ptr<const RunModel> model() const;
  std::vector<TaskTime> TaskTimes() const;

 private:
  enum Command { RunCommand, PauseCommand, StopCommand };

  // The packings of one unit kept for the records: their numbers within the unit (from 1)
  // and their choices, flat.
  struct Kept {
    std::vector<uint64_t> local;
    std::vector<uint32_t> ends;
    std::vector<PlacementChoice> levels;
    void Add(uint64_t n, const PlacementChoice* c, int32_t depth);
    void Clear();
  };
  struct Item {
    std::vector<PlacementChoice> prefix;  // a packing's whole choices for a packing item
    double share = 0;                     // estimated part of its job
    double estimate = 0;                  // its size, from a random descent below it
    bool packing = false;                 // a packing found while cutting: one solution, no search
    bool taken = false;
    bool done = false;
    bool partial = false;    // stopped part-way
    bool baseKnown = false;  // its first number was known when its records were kept
    uint64_t count = 0;
    uint64_t nodes = 0;
    Kept kept;
  };
  struct Record {
    uint64_t number = 0;
    size_t item = 0;  // the item whose packing it is
    std::vector<PlacementChoice> levels;
  };
  struct Job {
    std::string outputPath;
    bool started = false;
    bool cut = false;
    std::vector<Item> items;
    size_t nextItem = 0;  // first item not yet taken
    size_t frontier = 0;  // first item whose packings are not numbered yet
    uint64_t numbered = 0;
    uint64_t solutions = 0;
    uint64_t outputFailures = 0;
    double doneNodes = 0;
    // The units' estimated sizes: of those finished, and of those left.
    double doneEstimate = 0;
    double leftEstimate = 0;
    // The job's size as random descents estimate it, before any unit is measured.
    double probedSize = 0;
    // Records numbered but not written, and whether a worker is writing them now.
    std::vector<Record> pending;
    bool writing = false;
    // The items before committedItems are done and all their records stand in the file,
    // which is then committedLength bytes long; fileLength counts every byte appended. A
    // write that failed freezes the commitment: a resume must write those records again.
    size_t committedItems = 0;
    uint64_t committedLength = 0;
    uint64_t fileLength = 0;
    bool commitBroken = false;
  };
  struct Task {
    int32_t job = -1;
    bool cut = false;
    bool probe = false;  // sizing the job by random descents, before any job is cut
    size_t item = 0;
  };

  void WorkerMain(int32_t index);
  bool BuildModel();
  // Fills `jobs` from the checkpoint being resumed; false with the reason in `error`.
  bool RestoreJobs(const RunModel& model, std::vector<Job>& jobs, std::string* error);
  bool TakeTask(std::unique_lock<std::mutex>& lock, Task* task);
  void CutJob(UnitSearch& search, int32_t job);
  // Sizes the job by random descents; every job is sized before any is cut.
  void ProbeJob(UnitSearch& search, int32_t job);
  // Knuth's estimate of the job's tree size from random descents, one level at a time.
  double ProbeSize(UnitSearch& search, int32_t job, bool* stopped);
  // One random descent below `prefix`: its estimate of that subtree's size in nodes opened.
  double Descend(UnitSearch& search, int32_t job, std::vector<PlacementChoice> prefix,
                 uint64_t* random, bool* stopped);
  void RunItem(UnitSearch& search, int32_t job, size_t item);
  // Runs the search to its end; false when the pool was stopped first.
  // Time spent paused is added to `parkedSeconds` when given.
  bool Drive(UnitSearch& search, double* parkedSeconds = nullptr);
  bool Selected(uint64_t number) const;
  // Numbers the done items at the job's frontier and queues their records; with
  // `takePartial` a stopped item at the frontier is numbered too and ends the file.
  void NumberInOrder(Job& job, bool takePartial);
  // Writes the job's queued records, if no other worker is writing them.
  void WriteRecords(std::unique_lock<std::mutex>& lock, int32_t job);
  bool JobComplete(const Job& job) const;
  void NoteJobsComplete();

  MessageSink& sink_;
  ModelBuilder builder_;
  std::string puzzlePath_;
  PoolOptions options_;
  std::unique_ptr<Checkpoint> resume_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Command command_ = RunCommand;
  std::atomic<bool> interrupt_{false};
  std::atomic<bool> building_{false};
  PoolSnapshot::Phase phase_ = PoolSnapshot::Building;
  std::string error_;
  double setupSeconds_ = 0;
  std::shared_ptr<const RunModel> model_;
  int32_t everyN_ = 0;
  std::vector<Job> jobs_;
  int32_t nextProbe_ = 0;
  int32_t probesRunning_ = 0;
  int32_t nextCut_ = 0;
  int32_t cutsDone_ = 0;
  size_t firstOpenJob_ = 0;
  int32_t busy_ = 0;    // workers inside a task
  int32_t parked_ = 0;  // of those, waiting out a pause
  int64_t unitCount_ = 0;
  int64_t unitsDone_ = 0;
  // The units finished in this run (not taken from a checkpoint): their time in all and
  // their estimated sizes in all.
  double measuredSeconds_ = 0;
  double measuredEstimate_ = 0;
  bool allComplete_ = false;
  std::vector<TaskTime> taskTimes_;
  std::vector<std::thread> workers_;
};

// The wall time a pool of `workers` would need for `tasks` (as measured, in the order they
// were handed out): each task goes to the first worker free, and no unit of a job starts
// before that job's cutting has ended.
double SimulatedWallTime(const std::vector<TaskTime>& tasks, int32_t workers);

// "%s_%02d.txt" of `base` and `job`; "" when the base is empty.
std::string OutputFileName(const std::string& base, int32_t job);

}  // namespace quaderix
