#pragma once

// What a run has finished, kept on disk so that a run cut off by a crash, a kill or a
// Stop can go on later and end exactly as one uninterrupted run. The run layer fills a
// Checkpoint on its own thread and writes it whole (never in place); a resume reads it
// back, checks that it belongs to the same puzzle and options, and skips what it lists.

#include <cstdint>
#include <string>
#include <vector>

#include "solver/work_unit.h"

namespace quaderix {

// One unit of a job as the checkpoint keeps it: its prefix (for a packing found while the
// job was cut, the packing's whole choices), its solutions once it is finished and
// recorded (-1 before), and what the progress estimate needs of it.
struct UnitCheckpoint {
  std::vector<PlacementChoice> prefix;
  bool packing = false;
  int64_t solutions = -1;
  uint64_t nodes = 0;  // search nodes a finished unit took
  double share = 0;    // estimated part of its job
  bool operator==(const UnitCheckpoint&) const = default;
};

// One job: whether it was cut yet, its units in search order, and the length of the
// job's output file once the records of the finished units stand in it. A job that
// writes records lists only a leading run of units as finished, so the file never holds
// records of a unit that will run again.
struct JobCheckpoint {
  bool cut = false;
  double probedSize = 0;  // the job's size as random descents estimated it
  std::vector<UnitCheckpoint> units;
  uint64_t committedLength = 0;

  uint64_t FinishedSolutions() const;
  int32_t FinishedUnits() const;
};

struct Checkpoint {
  uint64_t puzzleFingerprint = 0;  // of the puzzle file's bytes, see Fingerprint
  uint64_t puzzleSize = 0;
  std::string outputBase;  // empty when the run writes no files
  int32_t writeEveryNSolution = 0;
  uint64_t elapsedMs = 0;  // run time already spent, so that rates stay honest
  std::vector<JobCheckpoint> jobs;
};

// FNV-1a over the bytes: cheap, and any edit of the puzzle changes it.
uint64_t Fingerprint(const std::string& bytes);

// The text form: one header line, one line per field, one line per unit, and a last line
// holding the fingerprint of everything before it, so that a cut or altered file is
// recognised as damaged instead of being half believed.
std::string SerializeCheckpoint(const Checkpoint& checkpoint);
// False with one sentence in *error when the text is not a whole, valid checkpoint.
bool ParseCheckpoint(const std::string& text, Checkpoint* checkpoint, std::string* error);

// The empty string when `checkpoint` was written by a run of the same puzzle with the
// same output options, else one sentence that says what differs.
std::string CheckpointMismatch(const Checkpoint& checkpoint, uint64_t puzzleFingerprint,
                               uint64_t puzzleSize, const std::string& outputBase,
                               int32_t writeEveryNSolution);

// Writes `bytes` to a new file beside `path`, flushes it to the disk and renames it over
// `path`, then flushes the directory: a crash at any moment leaves the old or the new
// file whole.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* error);
// False with one sentence when the file cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

// One sentence when an output file is shorter than its job's committed length (records
// the checkpoint counts would be missing), else "". `paths[i]` belongs to job i; an empty
// path means the job writes no file.
std::string OutputFilesProblem(const Checkpoint& checkpoint, const std::vector<std::string>& paths);
// Cuts each job's output file back to its committed length before a resume, so that no
// record is doubled or cut, and makes the files that do not exist yet. Refuses, changing
// nothing, where OutputFilesProblem finds one.
bool CutOutputFilesBack(const Checkpoint& checkpoint, const std::vector<std::string>& paths,
                        std::string* error);

// What makes two runs the same run: the puzzle's bytes and the options that shape the
// result. Read by the front end's thread at Start.
struct RunIdentity {
  uint64_t puzzleFingerprint = 0;
  uint64_t puzzleSize = 0;
  std::string outputBase;
  int32_t writeEveryNSolution = 0;
  bool builtIn = false;  // the file is not used: the built-in puzzle is solved
};
// Reads the puzzle file once. A file the solver would not use (it solves the built-in
// puzzle instead) has the fixed fingerprint of the built-in puzzle, so that the same
// command finds its checkpoint again whatever stands in such a file.
RunIdentity ReadRunIdentity(const std::string& puzzlePath, const std::string& outputBase);

// Where a run keeps its checkpoint: "<output base>.checkpoint" beside the output files
// when it writes files, else "<puzzle file's stem>.checkpoint" in `directory`
// ("builtin-puzzle.checkpoint" for the built-in puzzle).
std::string CheckpointPathFor(const RunIdentity& identity, const std::string& puzzlePath,
                              const std::string& directory);

// What a front end finds at a checkpoint path before Start.
struct CheckpointLookup {
  enum State { None, Matching, Refused } state = None;
  Checkpoint checkpoint;
  std::string reason;  // one sentence, when refused
};
// Reads and checks the checkpoint at `path` against `identity`, and the output files of
// its jobs against their committed lengths.
CheckpointLookup LookUpCheckpoint(const std::string& path, const RunIdentity& identity);

}  // namespace quaderix
