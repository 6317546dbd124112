#pragma once

// Puzzle files for the tests of the workers, the run supervision and the command line:
// tiny puzzles whose counts and output records are known by hand or from the search
// engine's own tests, one that never ends within a test, and helpers to wait for a
// worker. Test-only constant data.

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace quaderix::testing {

// A row of four cells filled with two single cubes (type 0) and one domino (type 1), no
// symmetry positions, every solution written with its legend. Job 0 puts a cube on the
// first cell; the rest is cube + domino or domino + cube: 2 packings. Job 1 puts the
// domino there; two cubes fill the rest: 1 packing.
inline constexpr const char* kLinePuzzle =
    "[BlockInfo]\n"
    "XSize=4\nYSize=1\nZSize=1\nEdgeZone=1\n"
    "YZLine_00_00=1,1,1,1\n"
    "[StoneInfo]\n"
    "StoneCount=2\nStoneOrder=0,1\n"
    "Stone_00=2,1,0,0,0\n"
    "Stone_01=1,2,0,0,0,1,0,0\n"
    "ShowLegend=1\n"
    "[SymetryInfo]\n"
    "SymetryPosCount=0\nEnhancedSymetryCheck=0\n"
    "[OutputInfo]\n"
    "WriteEveryNSolution=1\n";

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
inline constexpr const char* kDominoCube =
    "[BlockInfo]\n"
    "XSize=2\nYSize=2\nZSize=2\nEdgeZone=3\n"
    "YZLine_00_00=1,1\nYZLine_01_00=1,1\nYZLine_00_01=1,1\nYZLine_01_01=1,1\n"
    "[StoneInfo]\n"
    "StoneCount=2\nStoneOrder=0,1\n"
    "Stone_00=1,2,0,0,0,1,0,0\n"
    "Stone_01=3,2,0,0,0,1,0,0\n"
    "[SymetryInfo]\n"
    "SymetryPosCount=0\nEnhancedSymetryCheck=0\n"
    "[OutputInfo]\n";

// The Soma cube: seven pieces in a 3x3x3 block with the four corners as symmetry
// positions. All 11520 packings, a quarter of them (2880) counted; jobs 4..6 have
// nothing to search.
inline constexpr const char* kSomaCube =
    "[BlockInfo]\n"
    "XSize=3\nYSize=3\nZSize=3\nEdgeZone=3\n"
    "YZLine_00_00=1,1,1\nYZLine_01_00=1,1,1\nYZLine_02_00=1,1,1\n"
    "YZLine_00_01=1,1,1\nYZLine_01_01=1,1,1\nYZLine_02_01=1,1,1\n"
    "YZLine_00_02=1,1,1\nYZLine_01_02=1,1,1\nYZLine_02_02=1,1,1\n"
    "[StoneInfo]\n"
    "StoneCount=7\nStoneOrder=0,1,2,3,4,5,6\n"
    "Stone_00=1,3,0,0,0,1,0,0,0,1,0\n"
    "Stone_01=1,4,0,0,0,1,0,0,2,0,0,0,1,0\n"
    "Stone_02=1,4,0,0,0,1,0,0,2,0,0,1,1,0\n"
    "Stone_03=1,4,0,0,0,1,0,0,1,1,0,2,1,0\n"
    "Stone_04=1,4,0,0,0,1,0,0,1,1,0,1,1,1\n"
    "Stone_05=1,4,0,0,0,1,0,0,1,1,0,1,1,-1\n"
    "Stone_06=1,4,0,0,0,1,0,0,0,1,0,0,0,1\n"
    "[SymetryInfo]\n"
    "SymetryPosCount=4\nEnhancedSymetryCheck=0\n"
    "SymPos0=0,0,0\nSymPos1=0,2,2\nSymPos2=2,0,2\nSymPos3=2,2,0\n"
    "[OutputInfo]\n";

// A 4x4x4 block of 30 dominoes (type 0) and one 2x2 square (type 1): packings come fast
// and the whole search lasts far longer than any test. Every 1000th is written.
inline constexpr const char* kEndlessPuzzle =
    "[BlockInfo]\n"
    "XSize=4\nYSize=4\nZSize=4\nEdgeZone=2\n"
    "YZLine_00_00=1,1,1,1\nYZLine_01_00=1,1,1,1\nYZLine_02_00=1,1,1,1\nYZLine_03_00=1,1,1,1\n"
    "YZLine_00_01=1,1,1,1\nYZLine_01_01=1,1,1,1\nYZLine_02_01=1,1,1,1\nYZLine_03_01=1,1,1,1\n"
    "YZLine_00_02=1,1,1,1\nYZLine_01_02=1,1,1,1\nYZLine_02_02=1,1,1,1\nYZLine_03_02=1,1,1,1\n"
    "YZLine_00_03=1,1,1,1\nYZLine_01_03=1,1,1,1\nYZLine_02_03=1,1,1,1\nYZLine_03_03=1,1,1,1\n"
    "[StoneInfo]\n"
    "StoneCount=2\nStoneOrder=0,1\n"
    "Stone_00=30,2,0,0,0,1,0,0\n"
    "Stone_01=1,4,0,0,0,1,0,0,0,1,0,1,1,0\n"
    "ShowLegend=1\n"
    "[SymetryInfo]\n"
    "SymetryPosCount=0\nEnhancedSymetryCheck=0\n"
    "[OutputInfo]\n"
    "WriteEveryNSolution=1000\n";

// A set-up that fails: the row at y = 1, z = 0 is missing.
inline constexpr const char* kMissingRowPuzzle =
    "[BlockInfo]\n"
    "XSize=2\nYSize=2\nZSize=1\nEdgeZone=1\n"
    "YZLine_00_00=1,1\n"
    "[StoneInfo]\n"
    "StoneCount=1\nStoneOrder=0\n"
    "Stone_00=2,2,0,0,0,1,0,0\n"
    "[SymetryInfo]\n"
    "SymetryPosCount=0\nEnhancedSymetryCheck=0\n";

// Polls `done` every few milliseconds; false when it still fails after `timeoutMs`.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace quaderix::testing
