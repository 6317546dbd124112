#include "mpi/unit_dispatcher.h"

#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <queue>
#include <unordered_map>

#include "run/checkpoint.h"

namespace quaderix {
namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point t0) {
  return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

// A unit search of a pool worker on the first rank: the cutting and the size probes of
// a job run here on the real search, a unit searched whole goes to another rank. Owned
// and used by its pool worker's thread alone.
class RemoteUnitSearch : public UnitSearch {
 public:
  RemoteUnitSearch(std::unique_ptr<UnitSearch> local, UnitDispatcher& dispatcher)
      : local_(std::move(local)), dispatcher_(dispatcher) {}

  int Begin(const WorkUnit& unit, int32_t cutDepth, UnitObserver* observer) override {
    remote_ = cutDepth == 0;
    if (!remote_) return local_->Begin(unit, cutDepth, observer);
    // What this rank did between the last answer and this unit: numbering, records.
    const double bookkeeping = answered_ ? SecondsSince(answeredAt_) : -1;
    answered_ = false;
    observer_ = observer;
    nodes_ = 0;
    submittedAt_ = SteadyClock::now();
    pending_ = dispatcher_.Submit(unit, observer->Keeps());
    if (bookkeeping >= 0) dispatcher_.NoteBookkeeping(bookkeeping);
    return 1;
  }
  // Waits a millisecond at most, so that a Pause or Stop of the pool is taken at once.
  bool Advance() override {
    if (!remote_) return local_->Advance();
    std::unique_lock<std::mutex> lock(pending_->mutex);
    if (!pending_->doneChanged.wait_for(lock, std::chrono::milliseconds(1),
                                        [this] { return pending_->done; }))
      return false;
    lock.unlock();
    answeredAt_ = SteadyClock::now();
    answered_ = true;
    const double roundTrip = std::chrono::duration<double>(answeredAt_ - submittedAt_).count();
    dispatcher_.NoteUnit(pending_->answer.seconds, roundTrip - pending_->answer.seconds);
    pending_->answer.Replay(*observer_);
    nodes_ = pending_->answer.nodes;
    return true;
  }
  uint64_t NodeCount() const override { return remote_ ? nodes_ : local_->NodeCount(); }
  // A unit stopped before its answer came is dropped; its rank finishes or abandons it.
  void End() override {
    if (!remote_) return local_->End();
    pending_.reset();
  }

 private:
  std::unique_ptr<UnitSearch> local_;
  UnitDispatcher& dispatcher_;
  bool remote_ = false;
  UnitObserver* observer_ = nullptr;
  std::shared_ptr<UnitDispatcher::Pending> pending_;
  uint64_t nodes_ = 0;
  bool answered_ = false;
  SteadyClock::time_point submittedAt_;
  SteadyClock::time_point answeredAt_;
};

// The model of an MPI run: this rank's own model for cutting and records, and unit
// searches that send the units away.
class RemoteRunModel : public RunModel {
 public:
  RemoteRunModel(std::shared_ptr<const RunModel> local, UnitDispatcher& dispatcher)
      : local_(std::move(local)), dispatcher_(dispatcher) {}

  int32_t JobCount() const override { return local_->JobCount(); }
  int32_t WriteEveryNSolution() const override { return local_->WriteEveryNSolution(); }
  std::string FormatRecord(uint64_t number, const PlacementChoice* levels,
                           int32_t depth) const override {
    return local_->FormatRecord(number, levels, depth);
  }
  std::unique_ptr<UnitSearch> NewSearch() const override {
    return std::make_unique<RemoteUnitSearch>(local_->NewSearch(), dispatcher_);
  }

 private:
  std::shared_ptr<const RunModel> local_;
  UnitDispatcher& dispatcher_;
};

}  // namespace

UnitDispatcher::UnitDispatcher(int32_t ranks) : ranks_(ranks), freeSlots_(ranks, 0) {}

UnitDispatcher::~UnitDispatcher() {
  Finish();
}

int32_t UnitDispatcher::GatherSlots() {
  int32_t total = 0;
  for (int32_t rank = 1; rank < ranks_; ++rank) {
    int32_t slots = 0;
    MPI_Recv(&slots, 1, MPI_INT32_T, rank, kHelloTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    freeSlots_[rank] = std::max(slots, 1);
    total += freeSlots_[rank];
  }
  return total;
}

void UnitDispatcher::Start() {
  thread_ = std::thread([this] { Main(); });
}

void UnitDispatcher::SendPuzzle(std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    puzzle_ = std::move(text);
    puzzleWaiting_ = true;
  }
  wake_.notify_all();
}

std::shared_ptr<UnitDispatcher::Pending> UnitDispatcher::Submit(const WorkUnit& unit,
                                                                KeepRule rule) {
  auto pending = std::make_shared<Pending>();
  pending->request.unit = unit;
  pending->request.rule = rule;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending->request.id = nextId_++;
    ++inFlight_;
    submitted_.push_back(pending);
  }
  wake_.notify_all();
  return pending;
}

void UnitDispatcher::Finish() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

int64_t UnitDispatcher::InFlight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inFlight_;
}

void UnitDispatcher::NoteBookkeeping(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  bookkeeping_ += seconds;
  ++bookkept_;
}

void UnitDispatcher::NoteUnit(double searchSeconds, double waySeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  unitSeconds_.push_back(searchSeconds);
  waySeconds_ += waySeconds;
}

void UnitDispatcher::Main() {
  Outbox outbox;
  std::unordered_map<int64_t, std::shared_ptr<Pending>> flying;
  std::deque<std::shared_ptr<Pending>> waiting;
  bool quitSent = false;
  int32_t byes = 0;
  for (;;) {
    bool active = false;
    std::string puzzle;
    bool sendPuzzle = false;
    bool quit = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (!submitted_.empty()) {
        waiting.push_back(std::move(submitted_.front()));
        submitted_.pop_front();
      }
      sendPuzzle = puzzleWaiting_;
      puzzleWaiting_ = false;
      if (sendPuzzle) puzzle.swap(puzzle_);
      quit = quit_;
    }
    const SteadyClock::time_point t0 = SteadyClock::now();
    // The puzzle goes out before any unit: messages between two ranks keep their order.
    if (sendPuzzle) {
      for (int32_t rank = 1; rank < ranks_; ++rank) outbox.Send(rank, kPuzzleTag, puzzle);
    }
    // The pool has as many workers as the ranks have search threads, so a free thread
    // waits for every unit; the least busy rank takes it.
    while (!waiting.empty() && !quitSent) {
      const auto best = std::max_element(freeSlots_.begin(), freeSlots_.end());
      if (*best <= 0) break;
      const int32_t rank = static_cast<int32_t>(best - freeSlots_.begin());
      --*best;
      std::shared_ptr<Pending> pending = std::move(waiting.front());
      waiting.pop_front();
      outbox.Send(rank, kUnitTag, Encode(pending->request));
      flying.emplace(pending->request.id, std::move(pending));
      active = true;
    }
    if (quit && !quitSent) {
      for (int32_t rank = 1; rank < ranks_; ++rank) outbox.Send(rank, kQuitTag, {});
      quitSent = true;
    }
    Incoming message;
    while (ReceiveIfAny(MPI_ANY_SOURCE, &message)) {
      active = true;
      if (message.tag == kByeTag) {
        ++byes;
        continue;
      }
      if (message.tag != kAnswerTag) continue;
      ++freeSlots_[message.source];
      UnitAnswer answer;
      if (!Decode(message.bytes, &answer)) {
        std::fprintf(stderr, "rank 0: a damaged answer came from rank %d\n", message.source);
        MPI_Abort(MPI_COMM_WORLD, 70);
      }
      const auto it = flying.find(answer.id);
      if (it == flying.end()) continue;
      std::shared_ptr<Pending> pending = std::move(it->second);
      flying.erase(it);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        --inFlight_;
      }
      {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->answer = std::move(answer);
        pending->done = true;
      }
      pending->doneChanged.notify_all();
    }
    const bool sent = outbox.Progress();
    if (active) {
      std::lock_guard<std::mutex> lock(mutex_);
      messaging_ += SecondsSince(t0);
    }
    if (quitSent && sent && byes == ranks_ - 1) break;
    if (!active) {
      // Nothing came or went: wait a little for the pool, then look at the wire again.
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, std::chrono::microseconds(100), [this, quitSent] {
        return !submitted_.empty() || puzzleWaiting_ || (quit_ && !quitSent);
      });
    }
  }
}

std::string UnitDispatcher::OverheadReport() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (unitSeconds_.empty()) return {};
  const double units = static_cast<double>(unitSeconds_.size());
  const double own =
      (bookkept_ > 0 ? bookkeeping_ / static_cast<double>(bookkept_) : 0) + messaging_ / units;
  const double way = waySeconds_ / units;
  double searched = 0;
  for (double s : unitSeconds_) searched += s;
  char text[256];
  std::snprintf(text, sizeof text,
                "rank 0: %zu units searched in %.1f s on the other ranks; per unit %.3f ms of "
                "rank 0's own time and %.3f ms on the way. Simulated speed-up, one search "
                "thread per rank:",
                unitSeconds_.size(), searched, own * 1000, way * 1000);
  std::string report = text;
  for (int32_t ranks : {4, 8, 16, 32, 64, 128, 256}) {
    const double wall = SimulatedClusterTime(unitSeconds_, ranks - 1, own, way);
    std::snprintf(text, sizeof text, " %d ranks %.1fx", ranks, wall > 0 ? searched / wall : 0);
    report += text;
  }
  return report;
}

double SimulatedClusterTime(const std::vector<double>& seconds, int32_t workers, double overhead,
                            double way) {
  // Events are the ends of units' searches (with their way there and back), taken in time
  // order. The first rank deals with each in turn, `overhead` seconds each, and only then
  // does that thread get the next unit.
  std::priority_queue<double, std::vector<double>, std::greater<double>> ends;
  size_t next = 0;
  for (int32_t i = 0; i < std::max(workers, 1) && next < seconds.size(); ++i)
    ends.push(way + seconds[next++]);
  double firstRankFree = 0;
  while (!ends.empty()) {
    const double end = ends.top();
    ends.pop();
    firstRankFree = std::max(firstRankFree, end) + overhead;
    if (next < seconds.size()) ends.push(firstRankFree + way + seconds[next++]);
  }
  return firstRankFree;
}

ModelBuilder RemoteModelBuilder(UnitDispatcher& dispatcher) {
  return [&dispatcher](const std::string& puzzlePath, bool withOutput,
                       SetupError* error) -> std::shared_ptr<const RunModel> {
    // Read once: this rank and the others solve these bytes, whatever happens to the file.
    std::string text;
    std::string unreadable;
    if (!ReadWholeFile(puzzlePath, &text, &unreadable)) text.clear();
    std::shared_ptr<const RunModel> local = BuildModelFromText(text, withOutput, error);
    if (!local) return nullptr;
    dispatcher.SendPuzzle(std::move(text));
    return std::make_shared<RemoteRunModel>(std::move(local), dispatcher);
  };
}

}  // namespace quaderix
