// The directory interface's shared part.
#include "index/second_index.h"

#include <algorithm>

#include "index/page_file.h"

namespace logvane {

TDirEntry TSecondIndex::EntryOrEmpty(int32_t p) {
  if (count_ > 0) return GetEntry(p);
  position_ = 0;
  return TDirEntry{kFirstLeafPage, -1, nullptr};
}

TSecondIndex::TPageRemap::TPageRemap(const std::vector<int32_t>& moved) : taken_(moved.size()) {
  by_page_.reserve(moved.size());
  for (size_t k = 0; k < moved.size(); ++k)
    by_page_.emplace_back(moved[k], static_cast<int32_t>(k));
  std::sort(by_page_.begin(), by_page_.end());
}

int32_t TSecondIndex::TPageRemap::Take(int32_t page) {
  auto it = std::lower_bound(by_page_.begin(), by_page_.end(), std::make_pair(page, INT32_MIN));
  for (; it != by_page_.end() && it->first == page; ++it) {
    if (taken_[it->second]) continue;
    taken_[it->second] = true;
    return it->second;
  }
  return -1;
}

}  // namespace logvane
