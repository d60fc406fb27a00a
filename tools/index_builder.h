// The index builder: writes both files of every index of a table from scratch,
// from its definition and data file, in the table's format (small or large
// pages by format level). With the table writer it makes whole tables of any
// shape for tests. The files themselves are made by index/index_build.h,
// which the table rebuild uses too.
//
// Every index lists the live records (byte 0 not 0xFF) in CompareKeys order
// with the primary-key tie-break. Leaf pages are filled by a policy, the
// directory lists them, page 0 heads a chain of the requested number of free
// pages, and page 1 of index 0 carries the table counters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "index/index_build.h"

namespace logvane::tools {

using TFillPolicy = ::logvane::TLeafFill;

struct IndexBuildOptions {
  TFillPolicy fill = TFillPolicy::kFull;
  uint32_t seed = 1;
  // Free pages in every leaf page file, chained from page 0.
  int free_pages = 0;
  // Give leaf and free pages shuffled page numbers instead of directory order.
  bool scatter_pages = false;

  // The counters page of index 0. Unset values come from the data file: the
  // number of free slots, the free slot no other free slot links to (-1 when
  // there is none), and one more than the largest autoincrement value (1
  // when there is none).
  std::optional<int32_t> free_records;
  std::optional<int32_t> first_free_record;
  std::optional<int32_t> next_autoinc;
  int32_t change_counter = 0;
  int32_t kept_value = 0;
};

// Writes the leaf page file and the directory of every index of the table
// whose definition file is `mti_path`; the data file is the same path with
// the extension .MTD. Throws EDedaZiDBError for an unreadable definition,
// what the key comparison throws, and std::runtime_error when a file cannot
// be read or written or two live records have equal primary keys.
void BuildIndexes(const std::string& mti_path, const IndexBuildOptions& options = {});

}  // namespace logvane::tools
