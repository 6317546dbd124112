#include "mpi/rank_worker.h"

#include <mpi.h>

#include <chrono>
#include <cstdio>

namespace quaderix {
namespace {

// Counts a unit's packings and keeps those its rule names, in search order.
class AnswerRecorder : public UnitObserver {
 public:
  AnswerRecorder(KeepRule rule, UnitAnswer* answer) : rule_(rule), answer_(answer) {}
  void OnSolution(const PlacementChoice* levels, int32_t depth) override {
    ++answer_->count;
    if (rule_.Keeps(answer_->count)) answer_->Add(answer_->count, levels, depth);
  }

 private:
  KeepRule rule_;
  UnitAnswer* answer_;
};

}  // namespace

RankWorker::RankWorker(int32_t threads) : threads_(std::max(threads, 1)) {}

RankWorker::~RankWorker() {
  StopSearching();
}

void RankWorker::Run() {
  Outbox outbox;
  const int32_t slots = threads_;
  MPI_Send(&slots, 1, MPI_INT32_T, 0, kHelloTag, MPI_COMM_WORLD);
  bool quit = false;
  while (!quit) {
    bool active = false;
    Incoming message;
    while (!quit && ReceiveIfAny(0, &message)) {
      active = true;
      if (message.tag == kPuzzleTag) {
        SetupError error;
        model_ = BuildModelFromText(message.bytes, false, &error);
        if (!model_) {
          // The first rank built the same bytes; a refusal here is this machine's fault.
          int rank = 0;
          MPI_Comm_rank(MPI_COMM_WORLD, &rank);
          std::fprintf(stderr, "rank %d: the puzzle could not be set up: %s\n", rank,
                       error.message.c_str());
          MPI_Abort(MPI_COMM_WORLD, 65);
        }
        for (int32_t i = 0; i < threads_; ++i) searchers_.emplace_back([this] { SearchMain(); });
      } else if (message.tag == kUnitTag) {
        UnitRequest request;
        if (!Decode(message.bytes, &request)) {
          std::fprintf(stderr, "a damaged unit came from rank 0\n");
          MPI_Abort(MPI_COMM_WORLD, 70);
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          units_.push_back(std::move(request));
        }
        changed_.notify_all();
      } else if (message.tag == kQuitTag) {
        quit = true;
      }
    }
    std::deque<UnitAnswer> answers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answers.swap(answers_);
    }
    for (const UnitAnswer& answer : answers) outbox.Send(0, kAnswerTag, Encode(answer));
    outbox.Progress();
    if (!active && answers.empty()) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::microseconds(100), [this] { return !answers_.empty(); });
    }
  }
  StopSearching();
  // The last message: the first rank knows every answer before it has come.
  outbox.Send(0, kByeTag, {});
  outbox.Flush();
}

void RankWorker::StopSearching() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_.store(true);
  changed_.notify_all();
  for (std::thread& searcher : searchers_) searcher.join();
  searchers_.clear();
}

void RankWorker::SearchMain() {
  std::unique_ptr<UnitSearch> search = model_->NewSearch();
  for (;;) {
    UnitRequest request;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !units_.empty(); });
      if (stop_) return;
      request = std::move(units_.front());
      units_.pop_front();
    }
    UnitAnswer answer;
    answer.id = request.id;
    AnswerRecorder recorder(request.rule, &answer);
    const auto t0 = std::chrono::steady_clock::now();
    if (search->Begin(request.unit, 0, &recorder) == 1) {
      while (!search->Advance()) {
        if (stopping_.load(std::memory_order_relaxed)) {
          search->End();
          return;
        }
      }
      answer.nodes = search->NodeCount();
      search->End();
    }
    answer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answers_.push_back(std::move(answer));
    }
    changed_.notify_all();
  }
}

}  // namespace quaderix
