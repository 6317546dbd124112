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
  if (options_.maxUnitShare <= 0) options_.maxUnitShare = 1.0 / (100.0 * options_.workers);
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
  // A job's size is its measured nodes over the share of it they cover; a job not yet
  // measured is taken to be as big as the measured ones on average.
  // A job not yet measured is sized by its random descents, scaled by how the descents
  // of the measured jobs compared with what their units really cost.
  double measured = 0;
  double probed = 0;
  for (const Job& job : jobs_) {
    if (job.doneShare > 0 && job.probedSize > 0) {
      measured += job.doneNodes / job.doneShare;
      probed += job.probedSize;
    }
  }
  const double scale = probed > 0 ? measured / probed : 0;
  for (const Job& job : jobs_) {
    s.jobs.push_back({job.started, JobComplete(job), job.solutions, job.outputFailures});
    s.doneWork += job.doneNodes;
    const double size = job.doneShare > 0 ? job.doneNodes / job.doneShare : job.probedSize * scale;
    s.leftWork += (job.cut ? job.leftShare : 1.0) * size;
  }
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
    taskTimes_.push_back({task.job, task.cut, 0, 0});
    lock.unlock();
    const SteadyClock::time_point t0 = SteadyClock::now();
    if (task.cut) {
      CutJob(*search, task.job);
    } else {
      RunItem(*search, task.job, task.item);
    }
    const double seconds = SecondsSince(t0);
    lock.lock();
    taskTimes_[slot].seconds = seconds;
    if (!task.cut) taskTimes_[slot].nodes = jobs_[task.job].items[task.item].nodes;
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
    job.leftShare = 0;
    for (const UnitCheckpoint& unit : from.units) {
      Item item;
      item.prefix = unit.prefix;
      item.share = unit.share;
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
        job.doneShare += unit.share;
      } else {
        job.leftShare += unit.share;
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
    // Every job is cut first: cutting is cheap, and the estimate of the run needs all.
    while (nextCut_ < static_cast<int32_t>(jobs_.size()) && jobs_[nextCut_].cut) ++nextCut_;
    if (nextCut_ < static_cast<int32_t>(jobs_.size())) {
      *task = {nextCut_, true, 0};
      ++nextCut_;
      return true;
    }
    while (firstOpenJob_ < jobs_.size() && jobs_[firstOpenJob_].cut &&
           jobs_[firstOpenJob_].nextItem >= jobs_[firstOpenJob_].items.size())
      ++firstOpenJob_;
    for (size_t j = firstOpenJob_; j < jobs_.size(); ++j) {
      Job& job = jobs_[j];
      if (!job.cut || job.nextItem >= job.items.size()) continue;
      *task = {static_cast<int32_t>(j), false, job.nextItem};
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

bool WorkPool::Drive(UnitSearch& search) {
  for (;;) {
    if (search.Advance()) return true;
    if (!interrupt_.load(std::memory_order_acquire)) continue;
    std::unique_lock<std::mutex> lock(mutex_);
    while (command_ == PauseCommand) {
      ++parked_;
      changed_.notify_all();
      changed_.wait(lock);
      --parked_;
    }
    if (command_ == StopCommand) return false;
  }
}

void WorkPool::CutJob(UnitSearch& search, int32_t jobIndex) {
  std::vector<Item> items;
  const bool keep = everyN_ > 0 && !jobs_[jobIndex].outputPath.empty();
  bool stopped = false;
  // Depth first, so that the items come out in the search's own order. A node is cut
  // further while its share of the job, estimated as the product of 1 / (number of
  // siblings) along its prefix, is above the limit.
  auto refine = [&](auto& self, const std::vector<PlacementChoice>& prefix, double share) -> void {
    if (stopped) return;
    if (share <= options_.maxUnitShare ||
        static_cast<int32_t>(prefix.size()) >= options_.maxCutDepth) {
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
    for (CutCollector::Event& event : found.events) {
      if (event.packing) {
        Item item;
        item.packing = item.done = item.taken = true;
        item.count = 1;
        item.prefix = event.levels;
        if (keep) item.kept.Add(1, event.levels.data(), static_cast<int32_t>(event.levels.size()));
        items.push_back(std::move(item));
      } else {
        self(self, event.levels, share / static_cast<double>(found.cuts));
      }
    }
  };
  refine(refine, {}, 1.0);
  const double probedSize = stopped ? 0 : ProbeSize(search, jobIndex, &stopped);

  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped) return;  // the job stays uncut; Stop writes nothing for it
  Job& job = jobs_[jobIndex];
  job.probedSize = probedSize;
  job.items = std::move(items);
  job.cut = true;
  job.leftShare = 0;
  for (Item& item : job.items) {
    if (item.packing) {
      job.solutions += 1;
    } else {
      job.leftShare += item.share;
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

double WorkPool::ProbeSize(UnitSearch& search, int32_t jobIndex, bool* stopped) {
  // Each descent picks one child at random on every level; the sum over its levels of
  // the product of the degrees seen is an unbiased estimate of the tree's size. The
  // descents are few and only open one level at a time, so they cost little.
  constexpr int32_t kProbes = 64;
  // Deep trees are sized by their top levels only: every job alike, which is what the
  // comparison between jobs needs.
  constexpr size_t kProbeDepth = 48;
  uint64_t random = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(jobIndex + 1);
  double sum = 0;
  for (int32_t probe = 0; probe < kProbes; ++probe) {
    std::vector<PlacementChoice> prefix;
    double product = 1;
    double estimate = 1;
    while (prefix.size() < kProbeDepth) {
      CutCollector found;
      if (search.Begin(WorkUnit{jobIndex, prefix}, static_cast<int32_t>(prefix.size()) + 1,
                       &found) != 1)
        break;
      *stopped = !Drive(search);
      search.End();
      if (*stopped) return 0;
      if (found.cuts == 0) break;
      product *= static_cast<double>(found.cuts);
      estimate += product;
      random = random * 6364136223846793005ull + 1442695040888963407ull;
      int64_t pick = static_cast<int64_t>((random >> 33) % static_cast<uint64_t>(found.cuts));
      for (CutCollector::Event& event : found.events) {
        if (!event.packing && pick-- == 0) {
          prefix = std::move(event.levels);
          break;
        }
      }
    }
    sum += estimate;
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
  double share = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Job& job = jobs_[jobIndex];
    unit.prefix = job.items[itemIndex].prefix;
    share = job.items[itemIndex].share;
    const bool keep = everyN_ > 0 && !job.outputPath.empty();
    const bool baseKnown = job.frontier == itemIndex;
    recorder.rule = {!keep       ? KeepRule::None
                     : baseKnown ? KeepRule::Selected
                                 : KeepRule::All,
                     job.numbered, everyN_};
  }
  bool finished = true;
  uint64_t nodes = 0;
  if (search.Begin(unit, 0, &recorder) == 1) {
    finished = Drive(search);
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
    job.doneNodes += static_cast<double>(nodes);
    job.doneShare += share;
    job.leftShare -= share;
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
