// The entry counts of an index's leaf pages in directory order, with their
// running total, so that an entry's ordinal and the index's key count need no
// file access.
#pragma once

#include <cstdint>
#include <vector>

namespace logvane {

class TPageCounts {
 public:
  void Clear() {
    counts_.clear();
    total_ = 0;
  }
  void Reserve(int32_t n) { counts_.reserve(n > 0 ? static_cast<size_t>(n) : 0); }
  void Append(int32_t count) {
    counts_.push_back(count);
    total_ += count;
  }
  // REQUIRES: 0 <= at <= Size() (Insert), 0 <= at < Size() (Erase, Set).
  void Insert(int32_t at, int32_t count) {
    counts_.insert(counts_.begin() + at, count);
    total_ += count;
  }
  void Erase(int32_t at) {
    total_ -= counts_[at];
    counts_.erase(counts_.begin() + at);
  }
  void Set(int32_t at, int32_t count) {
    total_ += int64_t{count} - counts_[at];
    counts_[at] = count;
  }

  int32_t Size() const { return static_cast<int32_t>(counts_.size()); }
  int32_t At(int32_t i) const { return counts_[i]; }
  int64_t Total() const { return total_; }
  // The sum of the counts of pages 0 .. i - 1 (all pages when i >= Size()).
  int64_t SumBefore(int32_t i) const {
    int64_t sum = 0;
    const int32_t end = i < Size() ? i : Size();
    for (int32_t k = 0; k < end; ++k) sum += counts_[k];
    return sum;
  }

 private:
  std::vector<int32_t> counts_;
  int64_t total_ = 0;
};

}  // namespace logvane
