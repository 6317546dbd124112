#pragma once

// quaderix-cli show: a packing of an output file printed in the terminal, the z layers
// side by side with a background colour per piece, or the solution numbers of the file.
// Runs on the program's main thread; keeps nothing between calls.

#include <cstdint>
#include <ostream>
#include <string>

#include "records/solution_record.h"

namespace CLI {
class App;
}

namespace quaderix {

inline constexpr int kExitUnreadable = 66;

struct ShowOptions {
  std::string file;
  uint32_t solution = 0;
  bool solutionGiven = false;
  bool list = false;
};

// Adds the "show" subcommand to `app`; its options land in `options`.
CLI::App* AddShowCommand(CLI::App& app, ShowOptions& options);

// The packing as text: one line per y from the top row down, the z layers side by side,
// then the legend. `colour` gives every piece an ANSI background colour; without it each
// cell shows its level number ("--" for 100 and more, "." for a hole).
std::string FormatPackingForTerminal(const Packing& packing, bool colour);

// Prints the chosen packing (the first when none is chosen) or the list. Returns 0,
// kExitSetupFailed (65) for a file that is not an output file or a solution not in it,
// or kExitUnreadable (66), with one sentence on `err`.
int RunShow(const ShowOptions& options, bool colour, std::ostream& out, std::ostream& err);

// Colour unless stdout is no terminal or NO_COLOR is set to something.
bool ShowInColour();

}  // namespace quaderix
