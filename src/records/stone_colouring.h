#pragma once

// Colours for the pieces of a packing, shared by the window's viewer and the terminal:
// a fixed palette, and a greedy colouring of the pieces' contact graph so that two
// pieces that share a face never get the same colour while the palette lasts. Plain
// functions; no state.

#include <cstdint>
#include <vector>

#include "records/solution_record.h"

namespace quaderix {

// A palette entry: the colour for the window, and the nearest of the 256 terminal colours.
struct PaletteColour {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t terminal;
};

inline constexpr PaletteColour kStonePalette[] = {
    {230, 80, 70, 203},   {70, 140, 230, 75},   {90, 190, 90, 77},   {245, 195, 60, 221},
    {160, 100, 210, 141}, {60, 200, 200, 80},   {240, 140, 50, 215}, {225, 120, 180, 211},
    {150, 150, 150, 248}, {140, 90, 50, 137},   {190, 225, 90, 149}, {30, 90, 150, 25},
    {120, 40, 60, 88},    {250, 240, 170, 229}, {20, 120, 90, 29},   {200, 170, 230, 183},
};
inline constexpr int32_t kStonePaletteSize =
    static_cast<int32_t>(sizeof kStonePalette / sizeof kStonePalette[0]);

// For each piece the sorted pieces it shares at least one face with.
std::vector<std::vector<int32_t>> PieceContacts(const Packing& packing);

// A palette index per piece. Pieces are coloured by falling number of contacts (ties by
// piece number), each with a colour none of its coloured neighbours has, preferring the
// colour used least so far: with no more pieces than colours every piece has its own.
// When every colour is taken by a neighbour, the one fewest neighbours share.
std::vector<int32_t> ColourPieces(const Packing& packing, int32_t paletteSize = kStonePaletteSize);

}  // namespace quaderix
