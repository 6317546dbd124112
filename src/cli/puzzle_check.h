#pragma once

// What the command line checks about a puzzle before anything runs: that a file named on
// the command line can be read, that the jobs' set-up would accept it (the same checks,
// the same sentence), whether its symmetry positions keep the counts exact, and values
// that carry a comment. Also the --check command, which describes the puzzle. Runs on the
// calling thread; builds its own model and solver and touches no output file.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quaderix {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitSetupFailed = 65;
inline constexpr int kExitNoInput = 66;
inline constexpr int kExitWriteFailed = 74;
inline constexpr int kExitInterrupted = 130;

// kExitOk when `path` names a regular file that can be read and is not empty; otherwise
// one sentence saying why on `err` and kExitNoInput.
int CheckReadable(const std::string& path, std::ostream& err);

// The warnings a user should see before a run of `path`: values that carry a comment (the
// symmetry analysis is part of the run's start lines). Returns kExitOk, or
// kExitSetupFailed after writing "The puzzle file P is refused: reason." to `err` when the
// set-up would refuse the puzzle or its tables would not fit into memory.
int PrecheckRun(const std::string& path, std::vector<std::string>& warnings, std::ostream& err);

// "Warning: ..." for every value in `path` that holds a semicolon.
std::vector<std::string> CommentWarnings(const std::string& path);

// --check: a named file that cannot be read gives kExitNoInput; a refused puzzle
// kExitSetupFailed with one sentence on `err`; otherwise the description on `out`, the
// warnings on `err`, and kExitOk.
int CheckPuzzle(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace quaderix
