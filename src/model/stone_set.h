#pragma once

// The stone types of a puzzle: their shapes, copies and search order, read from the
// "StoneInfo" section or taken from the built-in set of twelve. Read once per set-up on
// the worker's thread; the built-in set is constant data.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "config/setup_error.h"
#include "model/placement_list.h"

namespace quaderix {

// One stone type: where it came from, its copies and its cubes in definition order,
// which is the anchor order and the tie order of its placement rows.
struct StoneDefinition {
  std::string key;  // "Stone_07", or "built-in 3"
  int32_t copies = 0;
  int32_t cubeCount = 0;
  std::array<Cube, kMaxStoneCubes> cubes{};
};

// The twelve built-in stones in their search order, one copy each; their 60 cubes fill
// the built-in 5*4*3 block.
std::vector<StoneDefinition> BuiltInStones();

// "Stone_%02d" of `number`.
std::string StoneKey(int32_t number);

// Reads one stone entry: copies, cube count n, then n triples; 3n + 2 values, 5 to 98.
int ReadStone(const IniReader& ini, const std::string& section, const std::string& key,
              StoneDefinition& out, SetupError* error);

// Reads and checks "StoneOrder" (a permutation of 0..stoneCount-1), then every stone entry
// it names; entry k of `out` is stone type k.
int ReadStones(const IniReader& ini, int32_t stoneCount, std::vector<StoneDefinition>& out,
               SetupError* error);

// The largest difference of one coordinate between two cubes of the stone. The frame
// around the block must be at least this wide so that no placement probes outside the grid.
int64_t StoneExtent(const StoneDefinition& stone);

}  // namespace quaderix
