#pragma once

// The vocabulary shared by the search and the run layer for cutting a job into units.
// A job is the search below one first stone; a unit is the subtree below a fixed prefix
// of placement choices, and the units of a job, taken in order, are exactly that job's
// search. Plain values: copied freely between threads (and, later, machines).

#include <cstdint>
#include <vector>

namespace quaderix {

// The choice made at one level of the search: the stone type, and the row of that stone's
// candidate list for the level's cell and neighbour pattern. The levels of a packing in
// order, as these pairs, identify it and are all that its output record needs.
struct PlacementChoice {
  int32_t stone = 0;
  int32_t placement = 0;
  bool operator==(const PlacementChoice&) const = default;
};

// The subtree of job `job` below the choices of its first prefix.size() levels. An empty
// prefix is the whole job.
struct WorkUnit {
  int32_t job = 0;
  std::vector<PlacementChoice> prefix;
  bool operator==(const WorkUnit&) const = default;
};

// Packing 1 of a job and every N-th are written.
inline bool SelectedForOutput(uint64_t number, int32_t everyN) {
  return everyN > 0 && (number == 1 || number % static_cast<uint64_t>(everyN) == 0);
}

// Which packings of a unit its records need: none, all (the unit's first number in its
// job is not known yet, so any of them may be selected), or those whose number in the
// job, base + their number within the unit (from 1), is selected for output. A search
// that runs on another machine sends back only these.
struct KeepRule {
  enum Mode : int32_t { None = 0, All = 1, Selected = 2 } mode = All;
  uint64_t base = 0;
  int32_t everyN = 0;
  bool Keeps(uint64_t local) const {
    return mode == All || (mode == Selected && SelectedForOutput(base + local, everyN));
  }
};

// Told by a solver, on the solver's thread and in search order, what it finds. A packing
// is reported as the choices of its levels 1..depth; the pointer is valid only during the
// call. A cut (see the solver's cut depth) is a node at the cut depth that was not
// searched further: a unit of its own. Calls are rare next to the search's steps, so a
// virtual call per event costs nothing measurable.
class UnitObserver {
 public:
  virtual ~UnitObserver() = default;
  virtual void OnSolution(const PlacementChoice* levels, int32_t depth) = 0;
  virtual void OnCut(const PlacementChoice* levels, int32_t depth) {
    (void)levels;
    (void)depth;
  }
  // Which packings the observer keeps. A search that runs elsewhere reports only those
  // through OnSolution and the packings between them, in order, through OnSkipped.
  virtual KeepRule Keeps() const { return {}; }
  virtual void OnSkipped(uint64_t count) { (void)count; }
};

}  // namespace quaderix
