#pragma once

// Everything about a puzzle file that can be checked before any table is built: the
// scalar keys, the stone order and stones, the frame width, the copies, an estimate of
// the memory one job's set-up needs, then the block rows and the symmetry positions.
// The command line runs it before it starts any job, so a puzzle that the jobs would
// refuse is refused once, up front, and a huge one before it is allocated. Plain
// functions; the model it fills belongs to the caller's thread.

#include <cstdint>
#include <string>
#include <vector>

#include "config/puzzle_definition.h"
#include "config/setup_error.h"
#include "model/puzzle_model.h"
#include "model/stone_set.h"

namespace quaderix {

// What PlanSetup found out; a plain value owned by the caller.
struct SetupPlan {
  PuzzleParameters params;
  std::vector<StoneDefinition> stones;  // stone type k, as the jobs will read them
  int64_t jobBytes = 0;                 // EstimateSetupBytes for one job
};

// The bytes one job's set-up allocates, estimated from the sizes alone: the grid, the
// fill order, the list headers of the 64 neighbour patterns for every cell and stone type,
// and the rows of the unfiltered lists, one row of n offsets for each anchor of each
// orientation of a stone at each place where it fits into the box (holes ignored). The 63
// filtered copies of the rows are left out, so a block without holes needs this much or
// more. This is the one place that knows the tables' sizes: a set-up that changes its
// tables changes this function. Saturates at INT64_MAX instead of overflowing.
int64_t EstimateSetupBytes(const PuzzleParameters& p, const std::vector<StoneDefinition>& stones);

// Memory the system can still hand out now (MemAvailable of /proc/meminfo, else the free
// physical pages); -1 when neither can be read.
int64_t AvailableMemoryBytes();

// 1 when `jobs` set-ups of `jobBytes` each fit into `available` bytes (a negative
// `available` means unknown and always fits); otherwise 0 and a sentence in `error`
// saying how much they would need.
int CheckMemoryFits(int64_t jobBytes, int64_t jobs, int64_t available, SetupError* error);

// Reads and checks the puzzle at `path` in this order, stopping at the first fault with
// the reason in `error`: scalar keys and their ranges, StoneOrder and every stone, the
// copies' sum, the frame width against every stone, the memory of `jobsAtOnce` set-ups,
// then (in `model`) the block rows, the fill order and the symmetry positions, with the
// cells left free. Nothing larger than the estimate is allocated before it is compared
// with the memory available. Returns 1 when a job's set-up can only fail for lack of
// memory.
int PlanSetup(const std::string& path, int64_t jobsAtOnce, PuzzleModel& model, SetupPlan& plan,
              SetupError* error);

// The frame must be at least as wide as the largest difference of one coordinate
// between two cubes of a stone (a bar of five cubes needs EdgeZone 4), or a placement
// anchored on the block's edge would reach past the grid.
int CheckEdgeZone(int32_t edgeZone, const std::vector<StoneDefinition>& stones, SetupError* error);

}  // namespace quaderix
