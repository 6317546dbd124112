#pragma once

// One solution output file as a viewer sees it: the index of its complete records, kept
// up to date while a job is still appending to it, and any one record read on demand.
// Only the record index stays in memory, so files of millions of records open. Owned by
// one viewer and used on that viewer's thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "records/solution_record.h"

namespace quaderix {

class SolutionFile {
 public:
  enum Status { Ok = 0, Unreadable = 1, BadData = 2 };

  // Reads and indexes the whole file. On BadData the records before the bad line stay.
  Status Open(const std::string& path);
  // Indexes what was appended since the last Open or Refresh. A file that shrank or
  // whose last indexed bytes changed was started again by a new run: it is read anew.
  // `added` tells whether the index changed.
  Status Refresh(bool& added);
  // Reads record `index` of the index.
  Status Load(size_t index, Packing& out);
  // The index of the record of solution `solution`, or -1.
  int64_t Find(uint32_t solution) const;

  const std::string& path() const { return path_; }
  // Counts the times the file was read from its start: a change means that earlier
  // record indexes no longer hold.
  uint32_t generation() const { return generation_; }
  const std::vector<RecordRef>& records() const { return records_; }
  // One sentence on the last failure, and on a cut last record.
  const std::string& error() const { return error_; }
  const std::string& warning() const { return warning_; }

 private:
  Status ReadFrom(uint64_t offset, int32_t line);

  std::string path_;
  uint32_t generation_ = 0;
  std::vector<RecordRef> records_;
  uint64_t completeEnd_ = 0;
  int32_t completeEndLine_ = 1;
  std::string tail_;  // the last record up to completeEnd_, to notice a rewritten file
  std::string error_;
  std::string warning_;
};

}  // namespace quaderix
