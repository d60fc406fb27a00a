// Building both files of an index from scratch, from record images held in
// memory: the leaf page file and the directory, in the table's format (small
// or large pages by format level; layouts in page_file.h, small_directory.h
// and large_directory.h). The table writer's tools and the table rebuild
// both make their indexes here.
//
// The result is a consistent index: leaf pages filled by a policy, in key
// order, the directory listing them with each page's first record (and key
// prefix), page 0 heading a chain of the requested free pages (ascending unless
// scattered),
// page 1 of index 0 carrying the table counters and page 1 of any other
// index reserved (count 0, link -1).
#pragma once

#include <cstdint>
#include <vector>

#include "index/page_file.h"
#include "table/table_definition.h"

namespace logvane {

// The record images of a table in memory: slot n at bytes + n * length.
struct TRecordImages {
  const uint8_t* bytes = nullptr;
  int length = 0;
  int32_t slots = 0;

  const uint8_t* Record(int32_t n) const {
    return bytes + static_cast<size_t>(n) * static_cast<size_t>(length);
  }
};

// How many entries each leaf page gets.
enum class TLeafFill {
  kFull,        // M entries a page (7 or 250), the last page the rest
  kHalf,        // (M + 1) / 2 entries a page (4 or 125)
  kRandom,      // 1 .. M entries a page, drawn from the seed
  kOnePerPage,  // one entry a page: many pages and a long directory
};

struct TIndexBuildLayout {
  TLeafFill fill = TLeafFill::kFull;
  uint32_t seed = 1;
  // Free pages in the leaf page file, chained from page 0.
  int free_pages = 0;
  // Give leaf and free pages shuffled page numbers instead of directory order.
  bool scatter_pages = false;
};

struct TIndexFiles {
  std::vector<uint8_t> leaf;       // the leaf page file
  std::vector<uint8_t> directory;  // the directory file
};

// Sorts the record numbers `records` into index `index`'s order (CompareKeys
// with the primary-key tie-break). The sort is stable: records with equal
// primary keys keep their order. Throws what the key comparison throws.
void SortForIndex(const TmtbTableDef& def, const TRecordImages& images, int index,
                  std::vector<int32_t>& records);

// The first position k > 0 of `order` (sorted by SortForIndex) whose record
// has the same primary key as the record before it; order.size() when none.
size_t FindEqualKeys(const TmtbTableDef& def, const TRecordImages& images,
                     const std::vector<int32_t>& order, size_t from = 1);

// Both files of index `index` listing the records `order`, which is in the
// index's order with no two equal primary keys. `counters` go to page 1 of
// index 0. Throws what the key prefix encoding throws.
TIndexFiles BuildIndexFiles(const TmtbTableDef& def, const TRecordImages& images, int index,
                            const std::vector<int32_t>& order, const TTableCounters& counters,
                            const TIndexBuildLayout& layout = {});

}  // namespace logvane
