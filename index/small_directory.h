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
// trunc(count * 1.2) + 10 entries, keeping the entries in use (they are the
// file's).
//
// Every change writes only the entries it changed, or the tail of the file
// from the first changed entry on, and the file is cut after the last entry
// in use. Page numbers and record numbers are not kept in a key prefix.
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

  void CreateEmpty() override;
  void LoadDirectory() override;
  void UpdateByPage(int32_t page, int32_t new_page, const uint8_t* prefix, int32_t record) override;
  // The upper middle (lo + hi + 1) / 2; no key prefix.
  TDirProbe ProbeMiddle(int32_t lo, int32_t hi) override;
  void DeleteEntry(int32_t p) override;
  void InsertEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) override;
  TDirEntry GetEntry(int32_t p) override;
  void SetEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) override;
  // Writes the whole array back.
  int32_t RemapPages(std::vector<int32_t>& moved, std::vector<int32_t>& targets) override;
  // The first entry naming `page`; throws EDedaZiDBError (index text) when
  // none does.
  int32_t FindPage(int32_t page) override;
  void CloseDirectory() override;

  int32_t Capacity() const { return static_cast<int32_t>(entries_.size()); }

 private:
  struct Entry {
    int32_t page;
    int32_t record;
  };
  // Applies the capacity rule for `count` entries; true when it changed.
  bool FitCapacity(int32_t count);
  // Writes entries from .. to - 1 at their places in the file.
  void WriteEntries(int32_t from, int32_t to);
  // Cuts the file after entry Count() - 1.
  void CutAfterCount();

  platform::File file_;
  std::vector<Entry> entries_;  // Capacity() elements, the first Count() in use
  std::vector<uint8_t> raw_;    // file bytes of the entries being written
};

}  // namespace logvane
