#pragma once

// What the run layer needs of the search, in two parts: the model of a puzzle, built once
// per run and shared read-only by every worker, and one unit search per worker that runs
// one work unit at a time. The run layer calls these per unit and per slice of search, so
// the virtual calls cost nothing next to the steps; the search itself stays inside the
// solver. Tests put small models of their own behind the same two classes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/setup_error.h"
#include "solver/work_unit.h"

namespace quaderix {

// One worker's search of one unit at a time; owned and used by that worker's thread alone.
class UnitSearch {
 public:
  virtual ~UnitSearch() = default;
  // Prepares the subtree below unit.prefix. With cutDepth 0 every packing of the subtree
  // is reported through OnSolution; with cutDepth d above the prefix's length, nodes
  // opened at level d are reported through OnCut and not searched further. Returns 1 when
  // ready, 0 when the unit cannot be searched.
  virtual int Begin(const WorkUnit& unit, int32_t cutDepth, UnitObserver* observer) = 0;
  // Runs one slice of the search, short enough (about a millisecond at most) that the
  // pool's commands are taken at once between two slices; true once the unit is exhausted.
  virtual bool Advance() = 0;
  // Placements tried since Begin.
  virtual uint64_t NodeCount() const = 0;
  virtual void End() = 0;
};

// The puzzle of a run; immutable once built, so any thread may use it.
class RunModel {
 public:
  virtual ~RunModel() = default;
  // The jobs of the run: one per stone type of the puzzle actually solved.
  virtual int32_t JobCount() const = 0;
  // 0 writes no records; otherwise packing 1 and every N-th of a job are written.
  virtual int32_t WriteEveryNSolution() const = 0;
  // The output record of packing `number` with the given choices, CR LF line ends.
  virtual std::string FormatRecord(uint64_t number, const PlacementChoice* levels,
                                   int32_t depth) const = 0;
  virtual std::unique_ptr<UnitSearch> NewSearch() const = 0;
};

// Reads the puzzle file and builds its model; nullptr with the reason in `error` when the
// puzzle is refused. Called once per run, on a thread of the run layer's choosing.
using ModelBuilder = std::function<std::shared_ptr<const RunModel>(
    const std::string& puzzlePath, bool withOutput, SetupError* error)>;

}  // namespace quaderix
