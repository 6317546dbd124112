#include "cli/show_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

#include "cli/puzzle_check.h"
#include "records/solution_file.h"
#include "records/stone_colouring.h"

namespace quaderix {

namespace {

constexpr const char* kReset = "\x1b[0m";

// Black or white text, whichever reads better on the palette colour.
std::string CellColour(int32_t colourIndex) {
  const PaletteColour& c = kStonePalette[colourIndex % kStonePaletteSize];
  const bool light = c.red * 299 + c.green * 587 + c.blue * 114 > 140000;
  return "\x1b[48;5;" + std::to_string(c.terminal) + (light ? ";30m" : ";97m");
}

std::string LevelText(int32_t level) {
  char text[8];
  if (level == kHighLevel) return "--";
  if (level == 0) return " .";
  std::snprintf(text, sizeof text, "%2d", level);
  return text;
}

}  // namespace

CLI::App* AddShowCommand(CLI::App& app, ShowOptions& options) {
  CLI::App* show = app.add_subcommand("show", "print a packing of a solution output file");
  show->add_option("FILE", options.file, "solution output file, e.g. solution_00.txt")->required();
  auto* solution = show->add_option("--solution", options.solution, "the solution number to print");
  show->add_flag("--list", options.list, "list the solution numbers in the file")
      ->excludes(solution);
  show->callback([&options, solution] { options.solutionGiven = !solution->empty(); });
  return show;
}

std::string FormatPackingForTerminal(const Packing& p, bool colour) {
  const std::vector<int32_t> colours = ColourPieces(p);
  std::string out;
  // Three characters per cell, three blanks between layers.
  const std::string gap = "   ";
  std::string header = "    ";
  for (int32_t z = 0; z < p.zSize; ++z) {
    std::string label = "z=" + std::to_string(z);
    label.resize(static_cast<size_t>(3 * p.xSize), ' ');
    header += (z > 0 ? gap : "") + label;
  }
  out += header.substr(0, header.find_last_not_of(' ') + 1) + "\n";
  for (int32_t y = p.ySize - 1; y >= 0; --y) {
    char rowLabel[16];
    std::snprintf(rowLabel, sizeof rowLabel, "y=%-2d", y);
    out += rowLabel;
    for (int32_t z = 0; z < p.zSize; ++z) {
      if (z > 0) out += gap;
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t c = p.CellIndex(x, y, z);
        const std::string text = " " + LevelText(p.level[c]);
        if (colour && p.piece[c] >= 0) {
          out += CellColour(colours[p.piece[c]]) + text + kReset;
        } else {
          out += text;
        }
      }
    }
    out += "\n";
  }
  out += "legend (level=stone):";
  for (size_t i = 0; i < p.pieces.size(); ++i) {
    const Piece& piece = p.pieces[i];
    const std::string level = piece.level == kHighLevel ? "--" : std::to_string(piece.level);
    const std::string stone = piece.stone >= 0 ? std::to_string(piece.stone) : "?";
    out += " ";
    if (colour)
      out += CellColour(colours[i]) + " " + level + " " + kReset + "=" + stone;
    else
      out += level + "=" + stone;
  }
  out += "\n";
  if (p.HighLevelCount() > 0 ||
      std::any_of(p.level.begin(), p.level.end(), [](int32_t v) { return v == kHighLevel; })) {
    out += "-- marks levels of 100 and more, whose stones the file does not tell apart";
    if (p.HighLevelCount() > 0) out += " (" + std::to_string(p.HighLevelCount()) + " stones)";
    out += ".\n";
  }
  return out;
}

int RunShow(const ShowOptions& options, bool colour, std::ostream& out, std::ostream& err) {
  SolutionFile file;
  const SolutionFile::Status status = file.Open(options.file);
  if (status == SolutionFile::Unreadable) {
    err << file.error() << "\n";
    return kExitUnreadable;
  }
  if (status == SolutionFile::BadData && file.records().empty()) {
    err << options.file
        << " is not a solution output file: " << file.error().substr(options.file.size() + 2)
        << "\n";
    return kExitSetupFailed;
  }
  // Records before a damaged one are still shown; the damage is named.
  if (status == SolutionFile::BadData) err << "Warning: " << file.error() << "\n";
  if (!file.warning().empty()) err << "Warning: " << file.warning() << "\n";
  if (file.records().empty()) {
    err << options.file << " holds no solution records.\n";
    return kExitSetupFailed;
  }
  if (options.list) {
    for (const RecordRef& r : file.records()) out << r.solution << "\n";
    return kExitOk;
  }
  int64_t index = 0;
  if (options.solutionGiven) {
    index = file.Find(options.solution);
    if (index < 0) {
      err << "Solution " << options.solution << " is not in " << options.file << ".\n";
      return kExitSetupFailed;
    }
  }
  Packing packing;
  if (file.Load(static_cast<size_t>(index), packing) != SolutionFile::Ok) {
    err << file.error() << "\n";
    return kExitSetupFailed;
  }
  out << "Solution " << packing.solution << " of " << options.file << ": " << packing.xSize << " x "
      << packing.ySize << " x " << packing.zSize << " cells\n";
  out << FormatPackingForTerminal(packing, colour);
  return kExitOk;
}

bool ShowInColour() {
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || noColour[0] == '\0');
}

}  // namespace quaderix
