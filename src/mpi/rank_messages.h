#pragma once

// What the first rank of an MPI run and the searching ranks tell each other, and the few
// MPI calls they make for it. Every message is a string of bytes sent without blocking;
// a rank's one communication thread alone calls these. The ranks of one run are assumed
// to share the byte order and word sizes (one cluster, one build).

#include <mpi.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "config/setup_error.h"
#include "run/unit_engine.h"
#include "solver/work_unit.h"

namespace quaderix {

enum MessageTag : int {
  kHelloTag = 1,  // a searching rank's number of search threads
  kPuzzleTag,     // the puzzle file's bytes
  kUnitTag,       // a unit to search
  kAnswerTag,     // a unit's result
  kQuitTag,       // the run is over: stop searching
  kByeTag,        // a searching rank's last message
};

struct UnitRequest {
  int64_t id = 0;
  WorkUnit unit;
  KeepRule rule;
};

// A searched unit: its count, its search nodes and the packings its rule keeps (their
// numbers within the unit, from 1, and their choices, flat).
struct UnitAnswer {
  int64_t id = 0;
  uint64_t count = 0;
  uint64_t nodes = 0;
  double seconds = 0;  // the search's time on its rank
  std::vector<uint64_t> local;
  std::vector<uint32_t> ends;
  std::vector<PlacementChoice> levels;

  void Add(uint64_t number, const PlacementChoice* choices, int32_t depth);
  // Tells `observer` the unit's packings in order, as the search would have: the kept
  // ones through OnSolution, the others through OnSkipped.
  void Replay(UnitObserver& observer) const;
};

std::string Encode(const UnitRequest& request);
bool Decode(const std::string& bytes, UnitRequest* request);
std::string Encode(const UnitAnswer& answer);
bool Decode(const std::string& bytes, UnitAnswer* answer);

// Builds a run's model from the bytes of a puzzle file, through a private temporary file
// that is removed at once, so that every rank solves the bytes the first rank read.
std::shared_ptr<const RunModel> BuildModelFromText(const std::string& text, bool withOutput,
                                                   SetupError* error);

// A message taken off the wire.
struct Incoming {
  int source = -1;
  int tag = 0;
  std::string bytes;
};
// Takes the next message from `source` (MPI_ANY_SOURCE for any) if one has come.
bool ReceiveIfAny(int source, Incoming* message);

// Sends without blocking and keeps each message's bytes alive until MPI is done with
// them. Owned by one communication thread.
class Outbox {
 public:
  Outbox() = default;
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;
  ~Outbox();

  void Send(int rank, int tag, std::string bytes);
  // Forgets the sends that are done; true when none is left.
  bool Progress();
  // Waits for every send.
  void Flush();

 private:
  struct Sending {
    std::string bytes;
    MPI_Request request = MPI_REQUEST_NULL;
  };
  // A list: the bytes of a send in progress must not move.
  std::list<Sending> sending_;
};

}  // namespace quaderix
