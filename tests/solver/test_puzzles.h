#pragma once

// Small puzzles shared by the solver tests: shapes and whole puzzle specs chosen so that
// every job runs in a few thousand steps. Test-only constant data.

#include <string>
#include <vector>

#include "solver/puzzle_spec.h"

namespace quaderix::testing {

// Polycubes, as a puzzle file would define them.
extern const std::vector<Coord> kMonocube;
extern const std::vector<Coord> kDominoShape;
extern const std::vector<Coord> kTriLine;  // three in a row
extern const std::vector<Coord> kTriBend;  // three in an L
extern const std::vector<Coord> kTetraL;
extern const std::vector<Coord> kTetraT;
extern const std::vector<Coord> kTetraS;
extern const std::vector<Coord> kTetraSquare;
extern const std::vector<Coord> kScrewRight;
extern const std::vector<Coord> kScrewLeft;
extern const std::vector<Coord> kTripod;

struct NamedPuzzle {
  std::string name;
  PuzzleSpec spec;
};

// The 3x3x3 cube of the seven pieces of the Soma puzzle (one bend of three and six
// tetracubes), with the four corners that the half turns of the cube carry into each other.
PuzzleSpec SomaCube();

// The 3x2x2 block of three tetracubes whose first packing in job 0 is the one drawn in
// the output format's example, with the symmetry positions (0,0,0) and (2,0,1).
PuzzleSpec ExampleBlock();

// Puzzles for the cross-check against the reference enumeration. Together they cover
// holes, order keys that change the fill order, several copies of a type (with 0 or 1
// symmetry positions), 0, 1, 2 and 4 symmetry positions, and the isolated-cell check on
// and off.
std::vector<NamedPuzzle> CrossCheckPuzzles();

}  // namespace quaderix::testing
