#pragma once

// The --check command: reads a puzzle file the way every job's solver reads it and
// describes what it found, or names the key that makes the set-up fail. Runs on the
// calling thread; builds its own solver and touches no output file.

#include <ostream>
#include <string>

namespace quaderix {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitSetupFailed = 65;
inline constexpr int kExitInterrupted = 130;

// Writes the description to `out` and returns kExitOk, or writes one sentence naming the
// broken key to `err` and returns kExitSetupFailed.
int CheckPuzzle(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace quaderix
