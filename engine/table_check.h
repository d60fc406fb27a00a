// The consistency check of a whole table: the definition, the data file and
// its free chain, every index and the blob file, each inconsistency one line
// of text. It opens every file for reading beside any writer (others may
// read and write) and never writes.
//
// A consistent table:
//   - definition: at least one index; field slots that do not share bytes;
//     at most one autoincrement field; no blob field as a key field; a blob
//     file whenever there are blob fields;
//   - data file: whole records only; in every live record null flags of 0
//     or 1 and strings that end inside their slot;
//   - free chain: from the counters' head it passes exactly as many free
//     records as the counters give, each carrying the free marker, none
//     twice, the last ending the chain; every free slot lies on it;
//   - every index: see index/index_check.h (order, each live record once,
//     pages, directory, free pages, the counters on index 0);
//   - blob file: see blob/blob_check.h (chains, owners, sizes, free list,
//     blocks neither free nor owned).
// While another open holds the table for writing, the free chain on disk is
// the writer's to rewrite at its close (it keeps the list in memory): the
// chain is then not judged, and a table that does not open beside the
// writer is not reported as such.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace logvane {

class TmtbDBEng;

struct TTableCheckOptions {
  // The engine that holds this table open for writing in this process: its
  // free list and index state in memory are compared with the files.
  TmtbDBEng* writer = nullptr;
  // Lines listed per part (definition, data file, free chain, each index,
  // blob file); further problems are counted in one more line.
  int max_lines = 100;
};

struct TTableCheckReport {
  // False when the table cannot be read at all: the definition file cannot
  // be opened or read, or the data file is missing or cannot be opened.
  bool readable = false;
  std::string cause;  // why it cannot be read
  // Another open holds the table for writing.
  bool writer_present = false;
  std::vector<std::string> problems;
  int64_t problem_count = 0;  // listed or not

  // 0 consistent, 1 inconsistent, 2 unreadable.
  int ExitCode() const { return !readable ? 2 : problem_count == 0 ? 0 : 1; }
};

// Checks the table whose definition file is `mti_path`. Never raises.
TTableCheckReport CheckTable(const std::string& mti_path, const TTableCheckOptions& options = {});

}  // namespace logvane
