#pragma once

// A searching rank of an MPI run (every rank but the first): it builds the puzzle's model
// from the bytes the first rank sends, searches the units it is handed on its own
// threads, and sends back per unit the count and the packings the records need.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mpi/rank_messages.h"
#include "run/unit_engine.h"

namespace quaderix {

// Owned by the program's main thread, which alone calls MPI (in Run); the search threads
// share the queues under one lock.
class RankWorker {
 public:
  explicit RankWorker(int32_t threads);
  ~RankWorker();
  RankWorker(const RankWorker&) = delete;
  RankWorker& operator=(const RankWorker&) = delete;

  // Says hello to the first rank, then serves it until it says the run is over.
  void Run();

 private:
  void SearchMain();
  void StopSearching();

  const int32_t threads_;
  std::shared_ptr<const RunModel> model_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<UnitRequest> units_;
  std::deque<UnitAnswer> answers_;
  bool stop_ = false;
  std::atomic<bool> stopping_{false};  // read between two slices of a search
  std::vector<std::thread> searchers_;
};

}  // namespace quaderix
