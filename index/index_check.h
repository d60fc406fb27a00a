// The consistency check of one index: reads both of its files (read-only,
// sharing them with any writer) and reports every inconsistency it finds as
// one line of text. It never writes and never throws on damage: what it
// cannot read it reports.
//
// What a consistent index is (the formats are in page_file.h,
// small_directory.h and large_directory.h):
//   - the leaf page file holds whole pages, at least three; the directory
//     file whole entries (small pages) or ceil(C / 200) + 1 whole blocks
//     with C >= 1 (large pages);
//   - every directory entry names its own page in 2 .. pages - 1; the page
//     holds 1 .. M entries (only the single page of an empty index holds
//     none), and the entry's first record (and key prefix) are the page's
//     entry 1;
//   - walking the directory and the pages in order gives every live record
//     exactly once, no other record number, in strictly ascending order
//     under the index's key comparison with the primary-key tie-break, and
//     (large pages) each entry's key prefix agrees with its record;
//   - page 0 counts the free pages and starts their chain; each free page
//     has count 0 and links to the next, the last to -1; every page from 2
//     on is a leaf page or a free page, never both;
//   - index 0's page 1 holds table counters that fit the data file.
// Given the open index of a running table, the check also compares its
// in-memory state with the files: directory count, page counts, free list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/key_source.h"

namespace logvane {

class TIndex;

struct TIndexCheckInput {
  std::string table_path;  // the definition file; the index files lie beside it
  int index = 0;
  // live[r]: slot r of the data file holds a live record. Its size is the
  // data file's slot count.
  const std::vector<bool>* live = nullptr;
  // The open index of a table being written, to compare with the files; or
  // null.
  const TIndex* open_index = nullptr;
  // Lines reported in detail; further problems are counted in one last
  // line.
  int max_lines = 100;
  // When not null, receives the number of problems found, listed or not.
  int64_t* problem_count = nullptr;
};

// Checks index `input.index` of the table, reading its records through
// `source` (definition and record reads). Returns the problems found, one a
// line, each starting with "index <n>: "; empty when the index is
// consistent.
std::vector<std::string> CheckIndex(const TIndexCheckInput& input, TKeySource& source);

}  // namespace logvane
