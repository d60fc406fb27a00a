// Finding the place of a key in an index. The storage engine calls this for
// every positioning by key (ranges, locate, bookmarks) and, in the write
// path, before every insertion and removal of an index entry.
#pragma once

#include <cstdint>

#include "index/index.h"
#include "index/key_source.h"

namespace logvane {

struct TKeyHit {
  bool exact = false;   // an entry equal to the search record was met
  int32_t record = -1;  // the entry at the place found, or -1
};

// Positions `index` at the first entry that does not sort before `search`
// under CompareKeys with the tie-break (or one past the end of a page whose
// last entry sorts before it; CurrentOrNext then reaches the next page).
// Each probe is decided by its stored key prefix when the prefix can decide,
// else by reading the stored record through `source` and comparing in full.
//
// REQUIRES: `index` open; `search` a record image of the table that stays
// valid and is not the buffer LoadKeyRecord returns.
// Throws: index damage met on the way is reported unchanged (the index
// text); any other failure (a record read, a comparison) becomes the plain
// Exception "Internal error in table - table may be corrupted".
TKeyHit FindKey(TIndex& index, TKeySource& source, const uint8_t* search);

}  // namespace logvane
