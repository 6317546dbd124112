#pragma once

// Appending one output record to a job's file, shared by the search (a serial job writes
// its own records) and the work pool (which writes a job's records in search order). Any
// thread may call it; the file lock keeps two writers of one file apart.

#include <string>

namespace quaderix {

// Appends `record` with one open, one write call (repeated only for a short write) and
// one close, under an exclusive lock on the file, so another writer waits until the record
// stands in the file whole and a kill cannot leave half of it behind a finished write.
// False when the file cannot be opened or written.
bool AppendRecord(const std::string& path, const std::string& record);

}  // namespace quaderix
