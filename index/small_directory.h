// The directory of a small-page index (TIndex2V1).
//
// File: a flat sequence of 8-byte entries, one per leaf page, in key order;
// the entry count is the file size divided by 8 (a trailing partial entry is
// never read).
//
//   +0  leaf page number
//   +4  record number of the page's first entry (-1 when the page is empty)
//
// The whole array lives in memory, mirrored entry for entry by the file. Its
// capacity follows the count: it is kept while count < capacity and
// count >= capacity / 2 - 10 (integer halving); otherwise it becomes
// trunc(count * 1.2) + 10 entries and the whole file is read again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/second_index.h"
#include "platform/file.h"

namespace logvane {

class TIndex2V1 : public TSecondIndex {
 public:
  explicit TIndex2V1(std::string path);
  ~TIndex2V1() override;

  void LoadDirectory() override;
  // The upper middle (lo + hi + 1) / 2; no key prefix.
  TDirProbe ProbeMiddle(int32_t lo, int32_t hi) override;
  TDirEntry GetEntry(int32_t p) override;
  void CloseDirectory() override;

  int32_t Capacity() const { return static_cast<int32_t>(entries_.size()); }

 private:
  struct Entry {
    int32_t page;
    int32_t record;
  };
  // Applies the capacity rule for `count` entries; true when it changed.
  bool FitCapacity(int32_t count);

  platform::File file_;
  std::vector<Entry> entries_;  // Capacity() elements, the first Count() in use
};

}  // namespace logvane
