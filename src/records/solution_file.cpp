#include "records/solution_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quaderix {

namespace {

// Reads bytes [offset, end of file) into `out`; false when the file cannot be read.
bool ReadBytes(const std::string& path, uint64_t offset, std::string& out, std::string& error) {
  out.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = path + " cannot be read: " + std::strerror(errno) + ".";
    return false;
  }
  bool ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
  char buffer[1 << 16];
  while (ok) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    out.append(buffer, n);
    if (n < sizeof buffer) {
      ok = std::ferror(f) == 0;
      break;
    }
  }
  std::fclose(f);
  if (!ok) error = path + " cannot be read.";
  return ok;
}

}  // namespace

SolutionFile::Status SolutionFile::Open(const std::string& path) {
  path_ = path;
  ++generation_;
  records_.clear();
  completeEnd_ = 0;
  completeEndLine_ = 1;
  tail_.clear();
  return ReadFrom(0, 1);
}

SolutionFile::Status SolutionFile::Refresh(bool& added) {
  const size_t before = records_.size();
  const uint64_t tailStart = completeEnd_ - tail_.size();
  std::string text;
  Status status = Ok;
  if (!ReadBytes(path_, tailStart, text, error_)) {
    status = Unreadable;
  } else if (text.size() < tail_.size() || text.compare(0, tail_.size(), tail_) != 0) {
    // Emptied and written again by a new run.
    status = Open(path_);
    added = true;
    return status;
  } else if (text.size() > tail_.size()) {
    status = ReadFrom(completeEnd_, completeEndLine_);
  }
  added = records_.size() != before;
  return status;
}

SolutionFile::Status SolutionFile::ReadFrom(uint64_t offset, int32_t line) {
  error_.clear();
  warning_.clear();
  std::string text;
  if (!ReadBytes(path_, offset, text, error_)) return Unreadable;
  ScanResult scan = ScanRecords(text, offset, line);
  records_.insert(records_.end(), scan.records.begin(), scan.records.end());
  // The whole last record: a new run that wrote the very same record at the very same
  // place has, as far as anyone can see, written the same file.
  if (!scan.records.empty()) {
    const uint64_t from = scan.records.back().offset;
    tail_ = text.substr(from - offset, scan.completeEnd - from);
  }
  completeEnd_ = scan.completeEnd;
  completeEndLine_ = scan.completeEndLine;
  warning_ = scan.warning;
  if (!scan.error.empty()) {
    error_ = path_ + ": " + scan.error;
    return BadData;
  }
  return Ok;
}

SolutionFile::Status SolutionFile::Load(size_t index, Packing& out) {
  if (index >= records_.size()) {
    error_ = "There is no record " + std::to_string(index) + " in " + path_ + ".";
    return BadData;
  }
  const RecordRef& ref = records_[index];
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  if (f == nullptr) {
    error_ = path_ + " cannot be read: " + std::strerror(errno) + ".";
    return Unreadable;
  }
  std::string text(ref.length, '\0');
  const bool ok = std::fseek(f, static_cast<long>(ref.offset), SEEK_SET) == 0 &&
                  std::fread(text.data(), 1, text.size(), f) == text.size();
  std::fclose(f);
  std::string error;
  if (!ok || !ParseRecord(text, ref.line, out, error)) {
    error_ = path_ + " changed while it was read: the record from line " +
             std::to_string(ref.line) + " is no longer there.";
    return BadData;
  }
  return Ok;
}

int64_t SolutionFile::Find(uint32_t solution) const {
  for (size_t i = 0; i < records_.size(); ++i)
    if (records_[i].solution == solution) return static_cast<int64_t>(i);
  return -1;
}

}  // namespace quaderix
