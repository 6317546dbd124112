#pragma once

// The first rank's side of an MPI run: a RunModel whose units are searched on the other
// ranks, so that the work pool, the checkpoint, the records and the summary of the
// command-line program serve the whole cluster unchanged.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mpi/rank_messages.h"
#include "run/unit_engine.h"

namespace quaderix {

// The one thread of the first rank that calls MPI: it sends the puzzle to every other
// rank, hands each unit the pool submits to a rank with a free search thread, and hands
// the answers back. Owned by the program's main thread, which calls GatherSlots, Start
// and Finish; the pool's workers call Submit and wait on what it returns.
class UnitDispatcher {
 public:
  // A unit on its way: filled and marked done by the dispatcher's thread.
  struct Pending {
    UnitRequest request;
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    UnitAnswer answer;
  };

  explicit UnitDispatcher(int32_t ranks);
  ~UnitDispatcher();
  UnitDispatcher(const UnitDispatcher&) = delete;
  UnitDispatcher& operator=(const UnitDispatcher&) = delete;

  // Waits for every other rank to say how many search threads it has; their sum.
  // Called before Start, on the thread that initialised MPI.
  int32_t GatherSlots();
  void Start();
  void SendPuzzle(std::string text);
  std::shared_ptr<Pending> Submit(const WorkUnit& unit, KeepRule rule);
  // Tells every rank to stop, waits until each has said goodbye and ends the thread.
  void Finish();

  int32_t ranks() const { return ranks_; }
  int64_t InFlight() const;
  // Measurements, from the pool's workers: what this rank spent between an answer and the
  // next unit of the same worker (numbering, records), and per unit its search time on
  // its rank and the rest of its round trip.
  void NoteBookkeeping(double seconds);
  void NoteUnit(double searchSeconds, double waySeconds);
  // What the units cost this rank and the simulated speed-up of larger clusters from the
  // measured units; "" when no unit was searched elsewhere.
  std::string OverheadReport() const;

 private:
  void Main();

  const int32_t ranks_;
  std::vector<int32_t> freeSlots_;  // per rank; only the dispatcher's thread after Start
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Pending>> submitted_;
  std::string puzzle_;
  bool puzzleWaiting_ = false;
  bool quit_ = false;
  int64_t nextId_ = 1;
  int64_t inFlight_ = 0;
  // Measurements, under mutex_.
  std::vector<double> unitSeconds_;  // each unit's search time on its rank
  double bookkeeping_ = 0;
  int64_t bookkept_ = 0;
  double messaging_ = 0;  // this thread's busy time
  double waySeconds_ = 0;
  std::thread thread_;
};

// Builds the model on this rank (for cutting the jobs and writing the records) from the
// puzzle file's bytes, sends the same bytes to the other ranks, and returns a model whose
// unit searches run there.
ModelBuilder RemoteModelBuilder(UnitDispatcher& dispatcher);

// The wall time `workers` search threads would need for units of `seconds` (in the order
// handed out) when each unit also spends `way` seconds going there and back and one rank
// spends `overhead` seconds on each, one unit after the other, before its thread gets the
// next.
double SimulatedClusterTime(const std::vector<double>& seconds, int32_t workers, double overhead,
                            double way);

}  // namespace quaderix
