#pragma once

// A packing as an ASCII STL file for a slicer or 3D printer: one solid per piece, made of
// the piece's outer faces (those not shared with another cell of the same piece), one
// unit cube per cell. A plain function; no state.

#include <string>

#include "records/solution_record.h"

namespace quaderix {

// `cellSize` is the edge of one cube in the file's units (millimetres for most slicers).
// Solids are named "level_<n>_stone_<k>" ("levels_100_up_<i>" for "--" regions, "stone_x"
// for an unknown stone type).
std::string FormatStl(const Packing& packing, double cellSize = 10.0);

}  // namespace quaderix
