#include "cli/cli_output.h"

#include <cstdio>

namespace quaderix {
namespace {

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

std::vector<std::string> LogLineSplitter::Feed(const std::string& added) {
  std::vector<std::string> lines;
  pending_ += added;
  for (;;) {
    const size_t end = pending_.find("\r\n");
    if (end == std::string::npos) break;
    lines.push_back(pending_.substr(0, end));
    size_t next = end + 2;
    if (pending_.compare(next, std::char_traits<char>::length(kPrompt), kPrompt) == 0)
      next += std::char_traits<char>::length(kPrompt);
    pending_.erase(0, next);
  }
  return lines;
}

JobTally CountJobs(const RunSupervisor& run) {
  JobTally tally;
  for (const JobRow& job : run.jobs) {
    if (job.retired) {
      ++tally.finished;
    } else if (job.started) {
      ++tally.running;
    } else {
      ++tally.waiting;
    }
  }
  return tally;
}

std::string FormatStatusLine(const RunSupervisor& run) {
  const std::string recent = TrimRight(run.lastRateText);
  std::string line = TrimRight(run.pastTimeText) + (run.resumed ? " | resumed" : "") + " | " +
                     TrimRight(run.solutionsText) + " solutions | " +
                     TrimRight(run.completeRateText) + "/s, recent " +
                     (recent.empty() ? "-" : recent) + "/s | ";
  if (run.jobs.empty()) return line + "setting up";
  const JobTally tally = CountJobs(run);
  char jobs[128];
  std::snprintf(jobs, sizeof jobs, "jobs: %d running, %d finished, %d waiting | %d busy workers | ",
                tally.running, tally.finished, tally.waiting, static_cast<int>(run.BusyWorkers()));
  return line + jobs + run.progressText;
}

}  // namespace quaderix
