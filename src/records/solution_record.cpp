#include "records/solution_record.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace quaderix {

namespace {

constexpr std::string_view kSolutionPrefix = "Solution : ";
constexpr std::string_view kLegendPrefix = "Stone Legend (Presentation=Stone) : ";
constexpr std::string_view kEndBlock = "__ENDBLOCK;";

// Hands out the lines of a text one at a time, without their "\r\n" or "\n". The writer
// ends every line, so a line without an end can only be the torn tail of a file.
class LineCursor {
 public:
  LineCursor(std::string_view text, int32_t firstLine) : text_(text), line_(firstLine) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  size_t pos() const { return pos_; }
  int32_t line() const { return line_; }  // number of the line Next() returns next

  // The next line; `ended` tells whether it had its line end.
  std::string_view Next(bool& ended) {
    const size_t newline = text_.find('\n', pos_);
    ended = newline != std::string_view::npos;
    const size_t stop = ended ? newline : text_.size();
    std::string_view line = text_.substr(pos_, stop - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = ended ? newline + 1 : text_.size();
    ++line_;
    return line;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int32_t line_;
};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number with nothing after it.
template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string LineError(int32_t line, const std::string& what) {
  return "Line " + std::to_string(line) + " " + what + ".";
}

// "__BEGINBLOCK[n]; __XYZ[x,y,z];" with its numbers.
bool ParseBlockHeader(std::string_view line, uint32_t& solution, int32_t& x, int32_t& y,
                      int32_t& z) {
  const std::string text(TrimRight(line));
  unsigned n = 0;
  int consumed = -1;
  if (std::sscanf(text.c_str(), "__BEGINBLOCK[%u]; __XYZ[%d,%d,%d];%n", &n, &x, &y, &z,
                  &consumed) != 4 ||
      consumed != static_cast<int>(text.size()))
    return false;
  solution = n;
  return true;
}

// The entries " 1= 0;  2= 1; ..." of a legend line after its prefix.
bool ParseLegend(std::string_view text, std::vector<LegendEntry>& legend) {
  legend.clear();
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  auto number = [&](int32_t& value) {
    skipBlanks();
    const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (ec != std::errc()) return false;
    i = static_cast<size_t>(end - text.data());
    return true;
  };
  for (;;) {
    skipBlanks();
    if (i == text.size()) return true;
    LegendEntry entry;
    if (!number(entry.level) || i == text.size() || text[i] != '=') return false;
    ++i;
    if (!number(entry.stone) || i == text.size() || text[i] != ';') return false;
    ++i;
    if (entry.level < 1 || entry.stone < 0) return false;
    legend.push_back(entry);
  }
}

// One four-character cell field: decoration and level text.
bool ParseCell(std::string_view field, int32_t& level, uint8_t& mark) {
  const char open = field[0];
  const char close = field[3];
  if (open == ' ' && close == ' ') {
    mark = MarkNone;
  } else if (open == '[' && close == ']') {
    mark = MarkSymPos0;
  } else if (open == '(' && close == ')') {
    mark = MarkSymPosOther;
  } else {
    return false;
  }
  const std::string_view text = field.substr(1, 2);
  if (text == "  ") {
    level = 0;
  } else if (text == "--") {
    level = kHighLevel;
  } else {
    const std::string_view digits = text[0] == ' ' ? text.substr(1) : text;
    if (!ParseNumber(digits, level) || level < 1 || level > 99) return false;
  }
  return true;
}

// Numbers the pieces: one per level 1..99, then one per face-connected region of "--"
// cells, found by a flood fill.
void BuildPieces(Packing& p) {
  const int32_t cells = p.CellCount();
  p.piece.assign(cells, -1);
  p.pieces.clear();
  int32_t pieceOfLevel[100];
  std::fill(std::begin(pieceOfLevel), std::end(pieceOfLevel), -1);
  bool present[100] = {};
  for (int32_t c = 0; c < cells; ++c)
    if (p.level[c] > 0) present[p.level[c]] = true;
  for (int32_t level = 1; level <= 99; ++level) {
    if (!present[level]) continue;
    pieceOfLevel[level] = static_cast<int32_t>(p.pieces.size());
    p.pieces.push_back(Piece{level, p.StoneOfLevel(level), 0});
  }
  for (int32_t c = 0; c < cells; ++c) {
    if (p.level[c] > 0) {
      p.piece[c] = pieceOfLevel[p.level[c]];
      ++p.pieces[p.piece[c]].cellCount;
    }
  }
  std::vector<int32_t> stack;
  for (int32_t c = 0; c < cells; ++c) {
    if (p.level[c] != kHighLevel || p.piece[c] >= 0) continue;
    const int32_t id = static_cast<int32_t>(p.pieces.size());
    p.pieces.push_back(Piece{kHighLevel, -1, 0});
    p.piece[c] = id;
    stack.push_back(c);
    while (!stack.empty()) {
      const int32_t at = stack.back();
      stack.pop_back();
      ++p.pieces[id].cellCount;
      const int32_t x = at % p.xSize;
      const int32_t y = (at / p.xSize) % p.ySize;
      const int32_t z = at / (p.xSize * p.ySize);
      const int32_t next[6][3] = {{x + 1, y, z}, {x - 1, y, z}, {x, y + 1, z},
                                  {x, y - 1, z}, {x, y, z + 1}, {x, y, z - 1}};
      for (const auto& n : next) {
        if (n[0] < 0 || n[1] < 0 || n[2] < 0 || n[0] >= p.xSize || n[1] >= p.ySize ||
            n[2] >= p.zSize)
          continue;
        const int32_t nc = p.CellIndex(n[0], n[1], n[2]);
        if (p.level[nc] == kHighLevel && p.piece[nc] < 0) {
          p.piece[nc] = id;
          stack.push_back(nc);
        }
      }
    }
  }
}

enum class RecordOutcome { Complete, Cut, Bad };

// Reads one record from `lines`, whose next line is its "Solution : " line.
// Scanning a file only checks the record; `buildPieces` also groups the cells into pieces.
RecordOutcome ReadRecord(LineCursor& lines, Packing& p, std::string& message, bool buildPieces) {
  bool ended = false;
  const int32_t first = lines.line();
  auto cut = [&] {
    message = "The last record (from line " + std::to_string(first) +
              " on) is cut short and is left out.";
    return RecordOutcome::Cut;
  };
  auto bad = [&](int32_t line, const std::string& what) {
    message = LineError(line, what);
    return RecordOutcome::Bad;
  };
  std::string_view line = lines.Next(ended);
  if (!ended) return cut();
  if (!StartsWith(line, kSolutionPrefix) ||
      !ParseNumber(TrimRight(line.substr(kSolutionPrefix.size())), p.solution))
    return bad(first, "is not a \"Solution : <number>\" line");

  if (lines.AtEnd()) return cut();
  int32_t at = lines.line();
  line = lines.Next(ended);
  if (!ended) return cut();
  p.hasLegend = StartsWith(line, kLegendPrefix);
  p.legend.clear();
  if (p.hasLegend) {
    if (!ParseLegend(line.substr(kLegendPrefix.size()), p.legend))
      return bad(at, "is not a stone legend of \"level=stone;\" entries");
    if (lines.AtEnd()) return cut();
    at = lines.line();
    line = lines.Next(ended);
    if (!ended) return cut();
  }

  uint32_t blockNumber = 0;
  if (!ParseBlockHeader(line, blockNumber, p.xSize, p.ySize, p.zSize))
    return bad(at, "is not a \"__BEGINBLOCK[n]; __XYZ[x,y,z];\" line");
  if (blockNumber != p.solution)
    return bad(at, "names block " + std::to_string(blockNumber) + " in solution " +
                       std::to_string(p.solution));
  if (p.xSize < 1 || p.ySize < 1 || p.zSize < 1 || p.xSize > 4096 || p.ySize > 4096 ||
      p.zSize > 4096)
    return bad(at, "gives block sizes outside 1..4096");
  const size_t rowLength = static_cast<size_t>(p.zSize) * (4 * static_cast<size_t>(p.xSize) + 4);
  // All rows are checked for their length before the cells are allocated, so a damaged
  // size cannot make us allocate more than the text in hand describes.
  struct Row {
    std::string_view text;
    int32_t line;
  };
  std::vector<Row> rows;
  for (int32_t y = p.ySize - 1; y >= 0; --y) {
    if (lines.AtEnd()) return cut();
    at = lines.line();
    line = lines.Next(ended);
    if (!ended) return cut();
    const size_t length = TrimRight(line).size();
    if (line.size() < rowLength || length > rowLength)
      return bad(at, "is a block row of " + std::to_string(std::max(line.size(), length)) +
                         " characters where " + std::to_string(rowLength) + " are expected");
    rows.push_back(Row{line, at});
  }
  bool listed[100] = {};
  for (const LegendEntry& e : p.legend)
    if (e.level <= 99) listed[e.level] = true;
  const size_t cells = static_cast<size_t>(p.xSize) * p.ySize * p.zSize;
  p.level.assign(cells, 0);
  p.mark.assign(cells, MarkNone);
  for (int32_t y = p.ySize - 1; y >= 0; --y) {
    const Row& row = rows[p.ySize - 1 - y];
    for (int32_t z = 0; z < p.zSize; ++z) {
      const size_t group = static_cast<size_t>(z) * (4 * p.xSize + 4);
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t c = p.CellIndex(x, y, z);
        if (!ParseCell(row.text.substr(group + 4 * x, 4), p.level[c], p.mark[c]))
          return bad(row.line, "has no cell field at column " + std::to_string(group + 4 * x + 1));
        if (p.level[c] > 0 && p.hasLegend && !listed[p.level[c]])
          return bad(row.line, "shows level " + std::to_string(p.level[c]) +
                                   ", which the legend does not list");
      }
      if (!TrimRight(row.text.substr(group + 4 * p.xSize, 4)).empty())
        return bad(row.line, "has no blanks after layer " + std::to_string(z));
    }
  }

  if (lines.AtEnd()) return cut();
  at = lines.line();
  line = lines.Next(ended);
  if (!ended) return cut();
  if (TrimRight(line) != kEndBlock) return bad(at, "is not the \"__ENDBLOCK;\" line");
  if (buildPieces) BuildPieces(p);
  return RecordOutcome::Complete;
}

}  // namespace

int32_t Packing::StoneOfLevel(int32_t lv) const {
  for (const LegendEntry& e : legend)
    if (e.level == lv) return e.stone;
  return -1;
}

int32_t Packing::HighLevelCount() const {
  return static_cast<int32_t>(std::count_if(legend.begin(), legend.end(),
                                            [](const LegendEntry& e) { return e.level >= 100; }));
}

ScanResult ScanRecords(std::string_view text, uint64_t baseOffset, int32_t baseLine) {
  ScanResult result;
  result.completeEnd = baseOffset;
  result.completeEndLine = baseLine;
  LineCursor lines(text, baseLine);
  Packing scratch;
  for (;;) {
    // Empty lines between records: the writer puts one after each record.
    size_t start = lines.pos();
    int32_t startLine = lines.line();
    while (!lines.AtEnd()) {
      LineCursor probe = lines;
      bool ended = false;
      if (!TrimRight(probe.Next(ended)).empty()) break;
      if (!ended) break;  // blanks without a line end: the torn start of a record
      lines = probe;
      start = lines.pos();
      startLine = lines.line();
    }
    if (lines.AtEnd()) {
      result.completeEnd = baseOffset + start;
      result.completeEndLine = startLine;
      return result;
    }
    std::string message;
    switch (ReadRecord(lines, scratch, message, false)) {
      case RecordOutcome::Complete: {
        // The empty line that closes the record belongs to it.
        LineCursor probe = lines;
        bool ended = false;
        if (!probe.AtEnd() && probe.Next(ended).empty() && ended) lines = probe;
        result.records.push_back(
            RecordRef{scratch.solution, baseOffset + start, lines.pos() - start, startLine});
        result.completeEnd = baseOffset + lines.pos();
        result.completeEndLine = lines.line();
        break;
      }
      case RecordOutcome::Cut:
        result.warning = message;
        return result;
      case RecordOutcome::Bad:
        result.error = message;
        return result;
    }
  }
}

bool ParseRecord(std::string_view text, int32_t firstLine, Packing& out, std::string& error) {
  LineCursor lines(text, firstLine);
  const RecordOutcome outcome = ReadRecord(lines, out, error, true);
  if (outcome == RecordOutcome::Complete) return true;
  if (outcome == RecordOutcome::Cut)
    error = LineError(firstLine, "starts a record that is cut short");
  return false;
}

}  // namespace quaderix
