#pragma once

// What the command-line program prints while a run goes on: the log turned back into
// plain lines, and the one-line status of the run. Used only on the program's main thread.

#include <string>
#include <vector>

#include "run/run_supervisor.h"

namespace quaderix {

// Turns the text appended to a RunLog into complete lines without the prompt. The log
// puts the prompt after every line end, so it is dropped where a line begins.
class LogLineSplitter {
 public:
  // Returns the lines that `added` completes, in order.
  std::vector<std::string> Feed(const std::string& added);
  // Text of a line not yet ended (from AppendLogText).
  const std::string& pending() const { return pending_; }

 private:
  std::string pending_;
};

// Jobs by what they are doing now, as the status line shows them.
struct JobTally {
  int running = 0;   // started, not finished
  int finished = 0;  // every unit searched and every record written
  int waiting = 0;   // no unit taken yet
};
JobTally CountJobs(const RunSupervisor& run);

// "0h 0min   12sec (running) | 1234 solutions | 102.8/s, recent 99.0/s | jobs: 2 running,
// 3 finished, 7 waiting | 2 busy workers | 37 % · about 4 min left", built from the
// supervisor's display texts; "setting up" in place of the jobs until the model is built.
std::string FormatStatusLine(const RunSupervisor& run);

}  // namespace quaderix
