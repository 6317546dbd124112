#pragma once

// Reads the records of a solution output file back into packings: which level covers
// which cell, which stone type each level is, and the symmetry marks. Plain functions on
// plain data; no toolkit, safe to call from any thread on data that thread owns.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quaderix {

// The level of a "--" cell: some level of 100 or more, which the picture cannot name.
inline constexpr int32_t kHighLevel = -1;

enum SymMark : uint8_t { MarkNone = 0, MarkSymPos0 = 1, MarkSymPosOther = 2 };

// What the viewers draw as one stone: the cells of one level 1..99, or one face-connected
// region of "--" cells. Such a region may hold several stones of levels 100 and more; the
// picture does not say where one ends and the next begins, so it is never split.
struct Piece {
  int32_t level = 0;   // 1..99, or kHighLevel
  int32_t stone = -1;  // stone type from the legend, -1 when unknown
  int32_t cellCount = 0;
};

struct LegendEntry {
  int32_t level = 0;
  int32_t stone = 0;
};

// One record of an output file. A value type; each reader fills its own.
struct Packing {
  uint32_t solution = 0;
  int32_t xSize = 0;
  int32_t ySize = 0;
  int32_t zSize = 0;
  bool hasLegend = false;
  std::vector<LegendEntry> legend;  // in file order
  // Per cell, indexed by CellIndex: the level (0 for a hole, kHighLevel for "--"), the
  // symmetry mark, and the piece (-1 for a hole).
  std::vector<int32_t> level;
  std::vector<uint8_t> mark;
  std::vector<int32_t> piece;
  std::vector<Piece> pieces;  // levels 1..99 ascending, then the "--" regions

  int32_t CellIndex(int32_t x, int32_t y, int32_t z) const { return x + xSize * (y + ySize * z); }
  int32_t CellCount() const { return xSize * ySize * zSize; }
  // The stone type of `level` from the legend, or -1.
  int32_t StoneOfLevel(int32_t level) const;
  // How many legend levels are 100 or more (their cells show as "--").
  int32_t HighLevelCount() const;
};

// Where one complete record stands in its file.
struct RecordRef {
  uint32_t solution = 0;
  uint64_t offset = 0;  // of its "Solution : " line
  uint64_t length = 0;  // up to and including the empty line after "__ENDBLOCK;"
  int32_t line = 0;     // 1-based line number of its first line
};

// The outcome of reading a stretch of an output file.
struct ScanResult {
  std::vector<RecordRef> records;
  uint64_t completeEnd = 0;     // offset just past the last complete record
  int32_t completeEndLine = 1;  // line number of the line that starts there
  std::string warning;          // a last record cut short; it is not in `records`
  std::string error;            // one sentence naming the line; records before it are kept
};

// Reads `text`, which starts at byte `baseOffset` and line `baseLine` of its file. A
// record that runs into the end of the text without its line end is cut short (a crash
// or a write still going on) and only warned about; anything else that is not a record
// stops the reading with an error.
ScanResult ScanRecords(std::string_view text, uint64_t baseOffset = 0, int32_t baseLine = 1);

// Reads the one record `text` (as located by ScanRecords) into `out`. Returns true, or
// false with one sentence in `error`.
bool ParseRecord(std::string_view text, int32_t firstLine, Packing& out, std::string& error);

}  // namespace quaderix
