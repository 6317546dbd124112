#include "run/work_pool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <queue>
#include <system_error>
#include <unordered_map>

namespace quaderix {
namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point t0) {
  return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

// Collects what a cut pass finds, in search order: nodes that become units or are cut
// further, and packings completed above the cut.
class CutCollector : public UnitObserver {
 public:
  struct Event {
    bool packing = false;
    std::vector<PlacementChoice> levels;
  };
  void OnSolution(const PlacementChoice* levels, int32_t depth) override {
    events.push_back({true, {levels, levels + depth}});
  }
  void OnCut(const PlacementChoice* levels, int32_t depth) override {
    events.push_back({false, {levels, levels + depth}});
    ++cuts;
  }
  std::vector<Event> events;
  int64_t cuts = 0;
};

}  // namespace

std::string OutputFileName(const std::string& base, int32_t job) {
  if (base.empty()) return {};
  // "%s_%02d.txt", with the base taken whole however long it is.
  char number[16];
  std::snprintf(number, sizeof number, "%02d", static_cast<int>(job));
  return base + "_" + number + ".txt";
}

double SimulatedWallTime(const std::vector<TaskTime>& tasks, int32_t workers) {
  // Free times of the workers, earliest first.
  std::priority_queue<double, std::vector<double>, std::greater<double>> free;
  for (int32_t i = 0; i < std::max(workers, 1); ++i) free.push(0.0);
  std::unordered_map<int32_t, double> cutEnd;
  double wall = 0;
  for (const TaskTime& task : tasks) {
    double start = free.top();
    free.pop();
    if (!task.cut) {
      const auto it = cutEnd.find(task.job);
      if (it != cutEnd.end()) start = std::max(start, it->second);
    }
    const double end = start + task.seconds;
    if (task.cut) cutEnd[task.job] = end;
    free.push(end);
    wall = std::max(wall, end);
  }
  return wall;
}

void WorkPool::Kept::Add(uint64_t n, const PlacementChoice* c, int32_t depth) {
  local.push_back(n);
  levels.insert(levels.end(), c, c + depth);
  ends.push_back(static_cast<uint32_t>(levels.size()));
}

void WorkPool::Kept::Clear() {
  std::vector<uint64_t>().swap(local);
  std::vector<uint32_t>().swap(ends);
  std::vector<PlacementChoice>().swap(levels);
}

WorkPool::WorkPool(MessageSink& sink, ModelBuilder builder, std::string puzzlePath,
                   PoolOptions options)
    : sink_(sink),
      builder_(std::move(builder)),
      puzzlePath_(std::move(puzzlePath)),
      options_(std::move(options)) {
  if (options_.workers < 1) options_.workers = 1;
  if (options_.cutForWorkers < 1) options_.cutForWorkers = options_.workers;
  if (options_.maxUnitShare <= 0) options_.maxUnitShare = 1.0 / (100.0 * options_.cutForWorkers);
}

WorkPool::~WorkPool() {
  Stop();
}

bool WorkPool::Start() {
  try {
    for (int32_t i = 0; i < options_.workers; ++i) {
      workers_.emplace_back([this, i] { WorkerMain(i); });
    }
  } catch (const std::system_error&) {
    Stop();
    return false;
  }
  return true;
}

void WorkPool::ResumeFrom(Checkpoint checkpoint) {
  resume_ = std::make_unique<Checkpoint>(std::move(checkpoint));
}

bool WorkPool::TakeCheckpoint(Checkpoint* checkpoint) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != PoolSnapshot::Ready) return false;
  checkpoint->jobs.assign(jobs_.size(), JobCheckpoint{});
  for (size_t j = 0; j < jobs_.size(); ++j) {
    const Job& job = jobs_[j];
    JobCheckpoint& out = checkpoint->jobs[j];
    out.cut = job.cut;
    out.probedSize = job.probedSize;
    // A job that writes records vouches only for the units whose records stand in the
    // file; one that writes none for every unit it has finished.
    const bool records = everyN_ > 0 && !job.outputPath.empty();
    out.committedLength = records ? job.committedLength : 0;
    out.units.resize(job.items.size());
    for (size_t i = 0; i < job.items.size(); ++i) {
      const Item& item = job.items[i];
      UnitCheckpoint& unit = out.units[i];
      unit.prefix = item.prefix;
      unit.packing = item.packing;
      unit.share = item.share;
      const bool finished = item.done && (!records || i < job.committedItems);
      unit.solutions = finished ? static_cast<int64_t>(item.count) : -1;
      unit.nodes = finished ? item.nodes : 0;
    }
  }
  return true;
}

int WorkPool::Pause(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (command_ == StopCommand) return 1;
  command_ = PauseCommand;
  interrupt_.store(true, std::memory_order_release);
  const bool settled = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [this] { return parked_ == busy_; });
  return settled ? 0 : 2;
}

void WorkPool::Continue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (command_ != PauseCommand) return;
    command_ = RunCommand;
    interrupt_.store(false, std::memory_order_release);
  }
  changed_.notify_all();
}

void WorkPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    command_ = StopCommand;
    interrupt_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
  // Alone now: what was found continues each file as far as it follows on in order.
  std::unique_lock<std::mutex> lock(mutex_);
  for (size_t j = 0; j < jobs_.size(); ++j) {
    NumberInOrder(jobs_[j], true);
    WriteRecords(lock, static_cast<int32_t>(j));
  }
}

std::shared_ptr<const RunModel> WorkPool::model() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_;
}

std::vector<TaskTime> WorkPool::TaskTimes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taskTimes_;
}

PoolSnapshot WorkPool::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  PoolSnapshot s;
  s.phase = phase_;
  s.error = error_;
  s.setupSeconds = setupSeconds_;
  s.busyWorkers = busy_ - parked_;
  s.allComplete = allComplete_;
  s.unitsDone = unitsDone_;
  s.unitCount = unitCount_;
  s.allCut = phase_ == PoolSnapshot::Ready && cutsDone_ == static_cast<int32_t>(jobs_.size());
  s.jobs.reserve(jobs_.size());
  // Every unit was sized by a random descent below it. Descents tend to miss the rare
  // deep parts of a tree, so the finished units tell how their real nodes compare with
  // their descents' estimates, and the units left are scaled alike. A job not yet cut is
  // sized by the descents from its root.
  double doneNodes = 0;
  double doneEstimate = 0;
  double leftEstimate = 0;
  for (const Job& job : jobs_) {
    s.jobs.push_back({job.started, JobComplete(job), job.solutions, job.outputFailures});
    doneNodes += job.doneNodes;
    doneEstimate += job.doneEstimate;
    leftEstimate += job.cut ? job.leftEstimate : job.probedSize;
  }
  const double scale = doneEstimate > 0 ? doneNodes / doneEstimate : 1;
  s.doneWork = doneNodes;
  s.leftWork = leftEstimate * scale;
  // Seconds of a worker per estimated node, as this run's finished units took them; the
  // units left are shared by every worker.
  if (measuredEstimate_ > 0)
    s.leftSeconds = leftEstimate * measuredSeconds_ / measuredEstimate_ / options_.workers;
  s.doneEstimate = doneEstimate;
  s.leftEstimate = leftEstimate;
  return s;
}

void WorkPool::WorkerMain(int32_t index) {
  if (index == 0 && !BuildModel()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock,
                [this] { return phase_ != PoolSnapshot::Building || command_ == StopCommand; });
  if (phase_ != PoolSnapshot::Ready) return;
  const std::shared_ptr<const RunModel> model = model_;
  lock.unlock();
  std::unique_ptr<UnitSearch> search = model->NewSearch();
  lock.lock();
  Task task;
  while (search && TakeTask(lock, &task)) {
    ++busy_;
    const size_t slot = taskTimes_.size();
    // A probe waits for nothing and is waited for by the cuttings, as a cutting is.
    taskTimes_.push_back(
        {task.job, task.cut || task.probe, 0, 0, static_cast<int64_t>(task.item), 0, 0});
    lock.unlock();
    const SteadyClock::time_point t0 = SteadyClock::now();
    if (task.probe) {
      ProbeJob(*search, task.job);
    } else if (task.cut) {
      CutJob(*search, task.job);
    } else {
      RunItem(*search, task.job, task.item);
    }
    const double seconds = SecondsSince(t0);
    lock.lock();
    taskTimes_[slot].seconds = seconds;
    if (task.cut || task.probe) {
      taskTimes_[slot].estimate = jobs_[task.job].probedSize;
    } else {
      taskTimes_[slot].nodes = jobs_[task.job].items[task.item].nodes;
      taskTimes_[slot].share = jobs_[task.job].items[task.item].share;
      taskTimes_[slot].estimate = jobs_[task.job].items[task.item].estimate;
    }
    --busy_;
    changed_.notify_all();
  }
}

bool WorkPool::BuildModel() {
  building_.store(true);
  const SteadyClock::time_point t0 = SteadyClock::now();
  SetupError error;
  std::shared_ptr<const RunModel> model;
  try {
    model = builder_(puzzlePath_, !options_.outputFileNameBase.empty(), &error);
  } catch (const std::bad_alloc&) {
    error.Set(SetupErrorCode::kOutOfMemory, "not enough memory for the placement tables");
  }
  building_.store(false);
  std::vector<Job> jobs;
  std::string refusal;
  if (model) {
    jobs.resize(static_cast<size_t>(std::max(0, model->JobCount())));
    for (size_t j = 0; j < jobs.size(); ++j)
      jobs[j].outputPath = OutputFileName(options_.outputFileNameBase, static_cast<int32_t>(j));
    if (resume_) {
      if (!RestoreJobs(*model, jobs, &refusal)) model = nullptr;
    } else {
      // Each run starts fresh files, made before any worker can write to them.
      for (Job& job : jobs) {
        if (model->WriteEveryNSolution() <= 0 || job.outputPath.empty()) continue;
        std::FILE* f = std::fopen(job.outputPath.c_str(), "wb");
        if (f == nullptr || std::fclose(f) != 0) job.outputFailures = 1;
      }
    }
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    setupSeconds_ = SecondsSince(t0);
    if (!model) {
      phase_ = PoolSnapshot::Failed;
      error_ = !refusal.empty()        ? refusal
               : error.message.empty() ? "its set-up failed"
                                       : error.message;
    } else {
      model_ = model;
      everyN_ = model->WriteEveryNSolution();
      jobs_ = std::move(jobs);
      phase_ = PoolSnapshot::Ready;
      // Counted here, under the lock that Snapshot reads them under.
      for (const Job& job : jobs_) {
        if (!job.cut) continue;
        ++cutsDone_;
        for (const Item& item : job.items) {
          if (item.packing) continue;
          ++unitCount_;
          if (item.done) ++unitsDone_;
        }
      }
      changed_.notify_all();
      // A resumed job's packings found while it was cut, after its last recorded unit,
      // are numbered and written again now.
      for (size_t j = 0; j < jobs_.size(); ++j) {
        if (!jobs_[j].cut) continue;
        NumberInOrder(jobs_[j], false);
        WriteRecords(lock, static_cast<int32_t>(j));
      }
      NoteJobsComplete();
    }
  }
  changed_.notify_all();
  return model != nullptr;
}

bool WorkPool::RestoreJobs(const RunModel& model, std::vector<Job>& jobs, std::string* error) {
  const Checkpoint& cp = *resume_;
  if (cp.jobs.size() != jobs.size()) {
    *error = "the checkpoint lists " + std::to_string(cp.jobs.size()) + " jobs, the puzzle has " +
             std::to_string(jobs.size()) + ".";
    return false;
  }
  const bool records = model.WriteEveryNSolution() > 0 && !options_.outputFileNameBase.empty();
  if (records) {
    std::vector<std::string> paths;
    for (const Job& job : jobs) paths.push_back(job.outputPath);
    if (!CutOutputFilesBack(cp, paths, error)) return false;
  }
  for (size_t j = 0; j < jobs.size(); ++j) {
    Job& job = jobs[j];
    const JobCheckpoint& from = cp.jobs[j];
    job.probedSize = from.probedSize;
    job.committedLength = job.fileLength = records ? from.committedLength : 0;
    if (!from.cut) continue;  // cut afresh: none of its units was recorded
    job.cut = true;
    job.leftEstimate = 0;
    for (const UnitCheckpoint& unit : from.units) {
      Item item;
      item.prefix = unit.prefix;
      item.share = unit.share;
      // The descents below the units are not kept; the job's own share them out.
      item.estimate = unit.share * job.probedSize;
      item.packing = unit.packing;
      if (unit.packing) {
        // Found while cutting: one solution, whose record is written again unless it
        // already stands in the file.
        item.done = item.taken = true;
        item.count = 1;
        if (records && unit.solutions < 0)
          item.kept.Add(1, unit.prefix.data(), static_cast<int32_t>(unit.prefix.size()));
      } else if (unit.solutions >= 0) {
        item.done = item.taken = true;
        item.count = static_cast<uint64_t>(unit.solutions);
        item.nodes = unit.nodes;
        job.doneNodes += static_cast<double>(unit.nodes);
        job.doneEstimate += item.estimate;
      } else {
        job.leftEstimate += item.estimate;
      }
      if (item.done) job.solutions += item.count;
      if (item.taken) job.started = true;
      job.items.push_back(std::move(item));
    }
    while (job.nextItem < job.items.size() && job.items[job.nextItem].done) ++job.nextItem;
    if (job.nextItem >= job.items.size()) job.started = true;
  }
  return true;
}

bool WorkPool::TakeTask(std::unique_lock<std::mutex>& lock, Task* task) {
  for (;;) {
    if (command_ == StopCommand) return false;
    if (command_ == PauseCommand) {
      changed_.wait(lock);
      continue;
    }
    // Every job is sized, then cut, before any unit runs: both are cheap, the cutting of
    // a job needs the sizes of all, and the estimate of the run needs every unit.
    const int32_t jobCount = static_cast<int32_t>(jobs_.size());
    while (nextProbe_ < jobCount && (jobs_[nextProbe_].cut || jobs_[nextProbe_].probedSize > 0))
      ++nextProbe_;
    if (nextProbe_ < jobCount) {
      *task = {nextProbe_, false, true, 0};
      ++nextProbe_;
      ++probesRunning_;
      return true;
    }
    if (probesRunning_ > 0) {
      changed_.wait(lock);
      continue;
    }
    while (nextCut_ < jobCount && jobs_[nextCut_].cut) ++nextCut_;
    if (nextCut_ < jobCount) {
      *task = {nextCut_, true, false, 0};
      ++nextCut_;
      return true;
    }
    while (firstOpenJob_ < jobs_.size() && jobs_[firstOpenJob_].cut &&
           jobs_[firstOpenJob_].nextItem >= jobs_[firstOpenJob_].items.size())
      ++firstOpenJob_;
    for (size_t j = firstOpenJob_; j < jobs_.size(); ++j) {
      Job& job = jobs_[j];
      if (!job.cut || job.nextItem >= job.items.size()) continue;
      *task = {static_cast<int32_t>(j), false, false, job.nextItem};
      job.items[job.nextItem].taken = true;
      job.started = true;
      ++job.nextItem;
      while (job.nextItem < job.items.size() && job.items[job.nextItem].done) ++job.nextItem;
      return true;
    }
    if (cutsDone_ < static_cast<int32_t>(jobs_.size())) {
      changed_.wait(lock);  // a cut still running may bring units
      continue;
    }
    return false;
  }
}

bool WorkPool::Drive(UnitSearch& search, double* parkedSeconds) {
  for (;;) {
    if (search.Advance()) return true;
    if (!interrupt_.load(std::memory_order_acquire)) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    const SteadyClock::time_point t0 = SteadyClock::now();
    while (command_ == PauseCommand) {
      ++parked_;
      changed_.notify_all();
      changed_.wait(lock);
      --parked_;
    }
    if (parkedSeconds != nullptr) *parkedSeconds += SecondsSince(t0);
    if (command_ == StopCommand) return false;
  }
}

void WorkPool::CutJob(UnitSearch& search, int32_t jobIndex) {
  std::vector<Item> items;
  bool keep = false;
  double jobShare = 1;  // of the run, as the descents from every job's root tell
  double after = 0;     // the share of the run in the jobs after this one
  double all = 0;       // the run's estimated size
  {
    std::lock_guard<std::mutex> lock(mutex_);
    keep = everyN_ > 0 && !jobs_[jobIndex].outputPath.empty();
    for (const Job& job : jobs_) all += job.probedSize;
    for (size_t j = static_cast<size_t>(jobIndex) + 1; j < jobs_.size(); ++j)
      after += all > 0 ? jobs_[j].probedSize / all : 0;
    // Descents from the root often miss a job's big rare subtrees: taken as some times
    // its estimate, a job underrated that much is still cut finely enough.
    constexpr double kUnderrated = 4;
    jobShare = all > 0 ? std::min(1.0, kUnderrated * jobs_[jobIndex].probedSize / all) : 1;
  }
  bool stopped = false;
  uint64_t random = 0xD1B54A32D192ED03ull * static_cast<uint64_t>(jobIndex + 1);
  auto size = [&](const std::vector<PlacementChoice>& prefix) {
    return stopped ? 0.0 : Descend(search, jobIndex, prefix, &random, &stopped);
  };
  // Depth first, so that the items come out in the search's own order. A node's share of
  // its job is the product of 1 / (number of siblings) along its prefix. A node is cut
  // further while its share of the run is above the limit at its place: units only need
  // to be small next to the work that comes after them, for that is what the workers
  // share out at the end; a unit is never above kMostOfRun, so that the progress is
  // measured early, nor cut below maxUnitShare. This keeps the units of early and small
  // jobs few. Subtrees are very unequal, so a node that descents below it find big is
  // cut further too, whatever its share.
  constexpr double kMostOfRun = 0.005;
  // Units after which this much work per worker is left do not delay the end much.
  constexpr double kUnitsPerWorker = 8;
  const double perWorker = kUnitsPerWorker * options_.cutForWorkers;
  auto refine = [&](auto& self, const std::vector<PlacementChoice>& prefix, double begin,
                    double share) -> void {
    if (stopped) return;
    const double left = after + (1 - begin - share) * jobShare;
    const double limit = std::max(options_.maxUnitShare, std::min(kMostOfRun, left / perWorker));
    const bool deepest = static_cast<int32_t>(prefix.size()) >= options_.maxCutDepth;
    if (deepest || (share * jobShare <= limit && size(prefix) <= limit * all)) {
      Item item;
      item.prefix = prefix;
      item.share = share;
      items.push_back(std::move(item));
      return;
    }
    CutCollector found;
    if (search.Begin(WorkUnit{jobIndex, prefix}, static_cast<int32_t>(prefix.size()) + 1, &found) ==
        1) {
      stopped = !Drive(search);
      search.End();
    }
    if (stopped) return;
    const double childShare = share / static_cast<double>(std::max<int64_t>(found.cuts, 1));
    double childBegin = begin;
    for (CutCollector::Event& event : found.events) {
      if (event.packing) {
        Item item;
        item.packing = item.done = item.taken = true;
        item.count = 1;
        item.prefix = event.levels;
        if (keep) item.kept.Add(1, event.levels.data(), static_cast<int32_t>(event.levels.size()));
        items.push_back(std::move(item));
      } else {
        self(self, event.levels, childBegin, childShare);
        childBegin += childShare;
      }
    }
  };
  refine(refine, {}, 0.0, 1.0);
  // Fresh descents below every unit size it: the units together estimate the job far
  // better than descents from the job's root, which rarely reach its rare big subtrees.
  // Those that chose the units are not reused: a unit was kept whole because they found
  // it small, so they would underrate it. One descent that happens to run deep can rate a
  // unit at a large part of the run, and the progress would leap when that unit ends
  // quickly; the mean of several tames such outliers. Their number shrinks as the units
  // grow many, so that a job's descents stay a small part of its search.
  constexpr size_t kDescentsPerJob = 16384;
  constexpr size_t kMostDescentsPerUnit = 16;
  const size_t descents = std::clamp<size_t>(kDescentsPerJob / std::max<size_t>(items.size(), 1), 1,
                                             kMostDescentsPerUnit);
  for (Item& item : items) {
    if (item.packing) continue;
    double sum = 0;
    for (size_t d = 0; d < descents; ++d) sum += size(item.prefix);
    item.estimate = sum / static_cast<double>(descents);
  }

  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped) return;  // the job stays uncut; Stop writes nothing for it
  Job& job = jobs_[jobIndex];
  job.items = std::move(items);
  job.cut = true;
  job.leftEstimate = 0;
  for (Item& item : job.items) {
    if (item.packing) {
      job.solutions += 1;
    } else {
      job.leftEstimate += item.estimate;
      ++unitCount_;
    }
  }
  while (job.nextItem < job.items.size() && job.items[job.nextItem].done) ++job.nextItem;
  if (job.nextItem >= job.items.size()) job.started = true;  // nothing left to search
  ++cutsDone_;
  NumberInOrder(job, false);
  WriteRecords(lock, jobIndex);
  NoteJobsComplete();
  changed_.notify_all();
}

void WorkPool::ProbeJob(UnitSearch& search, int32_t jobIndex) {
  bool stopped = false;
  const double size = ProbeSize(search, jobIndex, &stopped);
  std::lock_guard<std::mutex> lock(mutex_);
  // A stopped probe leaves the job unsized; a resume sizes it again.
  if (!stopped) jobs_[jobIndex].probedSize = size;
  --probesRunning_;
  changed_.notify_all();
}

double WorkPool::Descend(UnitSearch& search, int32_t jobIndex, std::vector<PlacementChoice> prefix,
                         uint64_t* random, bool* stopped) {
  // Picks one child at random on every level; the sum over the levels of the product of
  // the degrees seen is an unbiased estimate of the subtree's size (Knuth). Deep trees
  // are sized by their top levels only, every subtree alike, which is what comparing them
  // needs. Each level opens one node, so a descent costs little.
  constexpr size_t kProbeDepth = 48;
  double product = 1;
  double estimate = 1;
  while (prefix.size() < kProbeDepth) {
    CutCollector found;
    if (search.Begin(WorkUnit{jobIndex, prefix}, static_cast<int32_t>(prefix.size()) + 1, &found) !=
        1)
      break;
    *stopped = !Drive(search);
    search.End();
    if (*stopped) return 0;
    if (found.cuts == 0) break;
    product *= static_cast<double>(found.cuts);
    estimate += product;
    *random = *random * 6364136223846793005ull + 1442695040888963407ull;
    int64_t pick = static_cast<int64_t>((*random >> 33) % static_cast<uint64_t>(found.cuts));
    for (CutCollector::Event& event : found.events) {
      if (!event.packing && pick-- == 0) {
        prefix = std::move(event.levels);
        break;
      }
    }
  }
  return estimate;
}

double WorkPool::ProbeSize(UnitSearch& search, int32_t jobIndex, bool* stopped) {
  constexpr int32_t kProbes = 256;
  uint64_t random = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(jobIndex + 1);
  double sum = 0;
  for (int32_t probe = 0; probe < kProbes; ++probe) {
    sum += Descend(search, jobIndex, {}, &random, stopped);
    if (*stopped) return 0;
  }
  return sum / kProbes;
}

void WorkPool::RunItem(UnitSearch& search, int32_t jobIndex, size_t itemIndex) {
  // Records need the choices of the packings that will be written. Once the unit's first
  // number is known only those are kept; before, every packing may be one of them.
  class Recorder : public UnitObserver {
   public:
    void OnSolution(const PlacementChoice* levels, int32_t depth) override {
      ++count;
      if (rule.Keeps(count)) kept.Add(count, levels, depth);
    }
    KeepRule Keeps() const override { return rule; }
    void OnSkipped(uint64_t skipped) override { count += skipped; }
    KeepRule rule;
    uint64_t count = 0;
    Kept kept;
  } recorder;

  WorkUnit unit;
  unit.job = jobIndex;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Job& job = jobs_[jobIndex];
    unit.prefix = job.items[itemIndex].prefix;
    const bool keep = everyN_ > 0 && !job.outputPath.empty();
    const bool baseKnown = job.frontier == itemIndex;
    recorder.rule = {!keep       ? KeepRule::None
                     : baseKnown ? KeepRule::Selected
                                 : KeepRule::All,
                     job.numbered, everyN_};
  }
  bool finished = true;
  uint64_t nodes = 0;
  const SteadyClock::time_point t0 = SteadyClock::now();
  double parked = 0;
  if (search.Begin(unit, 0, &recorder) == 1) {
    finished = Drive(search, &parked);
    nodes = search.NodeCount();
    search.End();
  }

  std::unique_lock<std::mutex> lock(mutex_);
  Job& job = jobs_[jobIndex];
  Item& item = job.items[itemIndex];
  item.count = recorder.count;
  item.nodes = nodes;
  item.baseKnown = recorder.rule.mode == KeepRule::Selected;
  item.kept = std::move(recorder.kept);
  job.solutions += recorder.count;
  if (finished) {
    item.done = true;
    // The time it searched, a pause left out, tells the speed for the time left.
    measuredSeconds_ += std::max(0.0, SecondsSince(t0) - parked);
    measuredEstimate_ += item.estimate;
    job.doneNodes += static_cast<double>(nodes);
    job.doneEstimate += item.estimate;
    job.leftEstimate -= item.estimate;
    ++unitsDone_;
    NumberInOrder(job, false);
    WriteRecords(lock, jobIndex);
    NoteJobsComplete();
  } else {
    item.partial = true;
  }
}

void WorkPool::NumberInOrder(Job& job, bool takePartial) {
  const bool keep = everyN_ > 0 && !job.outputPath.empty();
  while (job.frontier < job.items.size()) {
    Item& item = job.items[job.frontier];
    const bool partial = !item.done && item.partial && takePartial;
    if (!item.done && !partial) break;
    const uint64_t base = job.numbered;
    for (size_t k = 0; keep && k < item.kept.local.size(); ++k) {
      const uint64_t number = base + item.kept.local[k];
      if (!item.baseKnown && !SelectedForOutput(number, everyN_)) continue;
      const uint32_t begin = k == 0 ? 0 : item.kept.ends[k - 1];
      job.pending.push_back(
          {number, job.frontier,
           std::vector<PlacementChoice>(item.kept.levels.begin() + begin,
                                        item.kept.levels.begin() + item.kept.ends[k])});
    }
    job.numbered += item.count;
    item.kept.Clear();
    ++job.frontier;
    // A stopped unit's packings are the first ones of its subtree; nothing after it may
    // be numbered, or the file would skip the rest of that subtree.
    if (partial) {
      job.frontier = job.items.size();
      break;
    }
  }
}

void WorkPool::WriteRecords(std::unique_lock<std::mutex>& lock, int32_t jobIndex) {
  Job& job = jobs_[jobIndex];
  if (job.writing) return;
  job.writing = true;
  const std::shared_ptr<const RunModel> model = model_;
  const std::string path = job.outputPath;
  for (;;) {
    // The items numbered so far that are finished: once the records taken now are written,
    // every record of theirs stands in the file. (A unit stopped part-way is numbered on
    // Stop but never finished, and its records are never committed.)
    size_t through = job.committedItems;
    while (through < job.frontier && job.items[through].done) ++through;
    if (job.pending.empty()) {
      if (!job.commitBroken) job.committedItems = through;
      break;
    }
    std::vector<Record> batch;
    batch.swap(job.pending);
    uint64_t length = job.fileLength;
    uint64_t committed = job.committedLength;
    lock.unlock();
    uint64_t failures = 0;
    for (const Record& r : batch) {
      const std::string record =
          model->FormatRecord(r.number, r.levels.data(), static_cast<int32_t>(r.levels.size()));
      if (!AppendRecord(path, record)) {
        ++failures;
        continue;
      }
      length += record.size();
      if (failures == 0 && r.item < through) committed = length;
    }
    lock.lock();
    job.outputFailures += failures;
    job.fileLength = length;
    if (failures > 0) job.commitBroken = true;
    if (!job.commitBroken) {
      job.committedItems = through;
      job.committedLength = committed;
    }
  }
  job.writing = false;
}

bool WorkPool::JobComplete(const Job& job) const {
  return job.cut && job.frontier == job.items.size() && job.pending.empty() && !job.writing;
}

void WorkPool::NoteJobsComplete() {
  if (allComplete_ || phase_ != PoolSnapshot::Ready) return;
  if (cutsDone_ < static_cast<int32_t>(jobs_.size())) return;
  for (const Job& job : jobs_) {
    if (!JobComplete(job)) return;
  }
  allComplete_ = true;
  sink_.Post(PuzzleMessage{WM_PUZZLE_NOTIFY, 2, 0, {}});
}

}  // namespace quaderix
