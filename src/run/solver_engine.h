#pragma once

// The run layer's road to the real search: a RunModel over the solver's SearchModel and a
// UnitSearch over one PuzzleSolver per worker.

#include "run/unit_engine.h"

namespace quaderix {

// Builds the SearchModel of a puzzle file once; what the window and the command line pass
// to their RunSupervisor.
ModelBuilder SolverModelBuilder();

}  // namespace quaderix
