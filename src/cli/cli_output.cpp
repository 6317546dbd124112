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
  for (const auto& job : run.jobs) {
    if (!job) continue;
    if (job->retired || (job->started && job->GetState() == StateFinished)) {
      ++tally.finished;
    } else if (job->started) {
      ++tally.running;
    } else {
      ++tally.waiting;
    }
  }
  return tally;
}

std::string FormatStatusLine(const RunSupervisor& run) {
  const JobTally tally = CountJobs(run);
  const std::string recent = TrimRight(run.lastRateText);
  char jobs[96];
  std::snprintf(jobs, sizeof jobs, "jobs: %d running, %d finished, %d waiting", tally.running,
                tally.finished, tally.waiting);
  return TrimRight(run.pastTimeText) + " | " + TrimRight(run.solutionsText) + " solutions | " +
         TrimRight(run.completeRateText) + "/s, recent " + (recent.empty() ? "-" : recent) +
         "/s | " + jobs;
}

}  // namespace quaderix
