#pragma once

// What the tests of the run supervision, the window and the command line share: tiny
// puzzles whose counts and output records are known by hand or from the search engine's
// own tests, one that never ends within a test, and a wait helper. Test-only.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/puzzle_description.h"

namespace quaderix::testing {

// The [BlockInfo] section of an x*y*z block with every cell present.
inline std::string FullBlock(int x, int y, int z, int edgeZone) {
  return BlockInfoText({.xSize = x, .ySize = y, .zSize = z, .edgeZone = edgeZone});
}

inline constexpr const char* kNoSymmetry =
    "[SymetryInfo]\nSymetryPosCount=0\nEnhancedSymetryCheck=0\n";

// A row of four cells filled with two single cubes (type 0) and one domino (type 1), every
// solution written with its legend. Job 0 puts a cube on the first cell; the rest is cube
// + domino or domino + cube: 2 packings. Job 1 puts the domino there; two cubes fill the
// rest: 1 packing.
inline std::string LinePuzzle() {
  return FullBlock(4, 1, 1, 1) +
         "[StoneInfo]\nStoneCount=2\nStoneOrder=0,1\nStone_00=2,1,0,0,0\n"
         "Stone_01=1,2,0,0,0,1,0,0\nShowLegend=1\n" +
         kNoSymmetry + "[OutputInfo]\nWriteEveryNSolution=1\n";
}

// The records of the line puzzle's jobs. Level numbers mark the cells; the cube (type 0)
// is tried before the domino (type 1) on every cell.
inline constexpr const char* kLineJob0Records =
    "Solution : 1\r\n"
    "Stone Legend (Presentation=Stone) :  1= 0;  2= 0;  3= 1; \r\n"
    "__BEGINBLOCK[1]; __XYZ[4,1,1];\r\n"
    "  1   2   3   3     \r\n"
    "__ENDBLOCK;\r\n\r\n"
    "Solution : 2\r\n"
    "Stone Legend (Presentation=Stone) :  1= 0;  2= 1;  3= 0; \r\n"
    "__BEGINBLOCK[2]; __XYZ[4,1,1];\r\n"
    "  1   2   2   3     \r\n"
    "__ENDBLOCK;\r\n\r\n";
inline constexpr const char* kLineJob1Records =
    "Solution : 1\r\n"
    "Stone Legend (Presentation=Stone) :  1= 1;  2= 0;  3= 0; \r\n"
    "__BEGINBLOCK[1]; __XYZ[4,1,1];\r\n"
    "  1   1   2   3     \r\n"
    "__ENDBLOCK;\r\n\r\n";

// The 2x2x2 cube of one marked domino (type 0) and three plain ones (type 1): of its 9
// domino tilings the marked one covers the first cell in 9 packings and a plain one in
// 27, the counts of the search engine's own tests.
inline std::string DominoCube() {
  return FullBlock(2, 2, 2, 3) +
         "[StoneInfo]\nStoneCount=2\nStoneOrder=0,1\nStone_00=1,2,0,0,0,1,0,0\n"
         "Stone_01=3,2,0,0,0,1,0,0\n" +
         kNoSymmetry;
}

// The Soma cube's file (see SomaPuzzle), every `writeEveryN`-th packing written: 2880 of
// its 11520 packings counted, and jobs 4..6 have nothing to search.
inline std::string SomaCube(int writeEveryN = 0) {
  PuzzleDescription soma = SomaPuzzle();
  soma.writeEveryNSolution = writeEveryN;
  return ToIni(soma);
}

// A 4x4x4 block of 30 dominoes (type 0) and one 2x2 square (type 1): packings come fast
// and the whole search lasts far longer than any test. Every 1000th is written.
inline std::string EndlessPuzzle() {
  return FullBlock(4, 4, 4, 2) +
         "[StoneInfo]\nStoneCount=2\nStoneOrder=0,1\nStone_00=30,2,0,0,0,1,0,0\n"
         "Stone_01=1,4,0,0,0,1,0,0,0,1,0,1,1,0\nShowLegend=1\n" +
         kNoSymmetry + "[OutputInfo]\nWriteEveryNSolution=1000\n";
}

// A set-up that fails: the row at y = 1, z = 0 (YZLine_01_00) is missing.
inline std::string MissingRowPuzzle() {
  std::string text = FullBlock(2, 2, 1, 1) +
                     "[StoneInfo]\nStoneCount=1\nStoneOrder=0\nStone_00=2,2,0,0,0,1,0,0\n" +
                     kNoSymmetry;
  return text.erase(text.find("YZLine_01_00"), 17);
}

// Polls `done` every few milliseconds; false when it still fails after `timeoutMs`.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The whole file, byte for byte; "" when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace quaderix::testing
