// The entry counts of an index's leaf pages in directory order, with their
// running total, so that an entry's ordinal and the index's key count need no
// file access. Sums before a page come from prefix sums that are extended
// on demand and cut back by a change, so asking for the ordinal at every
// step of a walk costs O(1) on average.
#pragma once

#include <cstdint>
#include <vector>

namespace logvane {

class TPageCounts {
 public:
  void Clear() {
    counts_.clear();
    total_ = 0;
    prefix_.clear();
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
    Invalidate(at);
  }
  void Erase(int32_t at) {
    total_ -= counts_[at];
    counts_.erase(counts_.begin() + at);
    Invalidate(at);
  }
  void Set(int32_t at, int32_t count) {
    total_ += int64_t{count} - counts_[at];
    counts_[at] = count;
    Invalidate(at);
  }

  int32_t Size() const { return static_cast<int32_t>(counts_.size()); }
  int32_t At(int32_t i) const { return counts_[i]; }
  int64_t Total() const { return total_; }
  // The sum of the counts of pages 0 .. i - 1 (all pages when i >= Size()).
  int64_t SumBefore(int32_t i) const {
    const size_t end = i <= 0 ? 0 : (i < Size() ? static_cast<size_t>(i) : counts_.size());
    if (prefix_.empty()) prefix_.push_back(0);
    while (prefix_.size() <= end) prefix_.push_back(prefix_.back() + counts_[prefix_.size() - 1]);
    return prefix_[end];
  }

 private:
  // Drops the prefix sums that include page `at` or later.
  void Invalidate(int32_t at) {
    if (prefix_.size() > static_cast<size_t>(at) + 1)
      prefix_.erase(prefix_.begin() + at + 1, prefix_.end());
  }

  std::vector<int32_t> counts_;
  int64_t total_ = 0;
  // prefix_[k] = sum of counts_[0 .. k-1], valid for every stored k.
  mutable std::vector<int64_t> prefix_;
};

}  // namespace logvane
