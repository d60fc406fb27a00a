// The directory interface's shared part.
#include "index/second_index.h"

#include "index/page_file.h"

namespace logvane {

TDirEntry TSecondIndex::EntryOrEmpty(int32_t p) {
  if (count_ > 0) return GetEntry(p);
  position_ = 0;
  return TDirEntry{kFirstLeafPage, -1, nullptr};
}

}  // namespace logvane
