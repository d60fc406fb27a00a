// The directory of a large-page index (TKeyBufSecondIndex) and its
// block-head array (THeader).
//
// File: 4096-byte blocks.
//   block 0      +0 entry count C; the other 4092 bytes carry nothing
//   block b >= 1 entries (b-1)*200 .. (b-1)*200+199, 20 bytes each at
//                +0, +20, .. +3980; +4000..4095 carry nothing (an insertion
//                may leave a copy of the next block's first entry there;
//                readers ignore it). Entries at positions >= C carry nothing;
//                writers fill fresh ones with page 0, record -1.
//   entry        +0 leaf page number   +4 record number of the page's first
//                entry (-1 when the page is empty)   +8 key prefix of that
//                record (12 bytes, the same as in the leaf page)
//
// Invariant: the file has exactly ceil(C / 200) + 1 whole blocks. A
// directory whose block count disagrees with C is refused at load.
//
// Position p lies in block p div 200 + 1 at slot p mod 200. One block is
// buffered (remembered by number, -1 for none); a block is read only when it
// is not the buffered one, and only when its slot is nonzero or p < C, so
// positioning at slot 0 of the block after the last reads nothing (the
// maintenance code appends there). The buffer has a spare 20-byte slot before
// the block's first entry and one after its last, so that maintenance can
// write a block image starting one entry earlier or later.
//
// Maintenance. An insertion or removal rewrites every block from the changed
// one to the end, carrying one entry across each block boundary (the entry
// pushed out of slot 199, or the next block's head pulled into it); a block
// is added when the 201st, 401st, ... entry arrives and cut when its last
// entry goes; block 0 is rewritten with the new count after every insertion
// and removal. Fresh slots get page 0, record -1 and a zero prefix; bytes
// 4000 .. 4095 are written as zeros.
//
// THeader keeps a copy of the first entry of every block in memory,
// ceil(C / 200) elements, so that a search can probe block boundaries
// without reading blocks. Its capacity starts at 40 and becomes
// trunc(size * 1.2) + 10 whenever a larger size is needed; it never shrinks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "index/second_index.h"
#include "platform/file.h"

namespace logvane {

inline constexpr int kDirBlockBytes = 4096;
inline constexpr int kDirEntriesPerBlock = 200;
inline constexpr int kDirEntryBytes = 20;

class THeader {
 public:
  THeader();
  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  // Sets the element count; new elements are zero.
  void Resize(int32_t size);
  // Element i as 20 entry bytes. An index outside 0 .. Count-1 throws the
  // plain Exception with "idx L2 code <i> <count>" appended.
  void Store(int32_t i, const uint8_t* entry);
  const uint8_t* Fetch(int32_t i) const;
  int32_t Page(int32_t i) const;
  int32_t Record(int32_t i) const;
  // Throws with "idx L2 code <i>" appended when i is out of range.
  const uint8_t* Prefix(int32_t i) const;

 private:
  std::vector<uint8_t> data_;  // capacity_ * 20 bytes
  int32_t capacity_ = 0;
  int32_t count_ = 0;
};

class TKeyBufSecondIndex : public TSecondIndex {
 public:
  explicit TKeyBufSecondIndex(std::string path);
  ~TKeyBufSecondIndex() override;

  void CreateEmpty() override;
  // Reads block 0 and every block's first entry; afterwards no block is
  // buffered and Position is 0.
  void LoadDirectory() override;
  // Nothing happens when no entry names `page`.
  void UpdateByPage(int32_t page, int32_t new_page, const uint8_t* prefix, int32_t record) override;
  // Probes the multiple of 200 nearest the upper middle when one lies
  // strictly inside (lo, hi), from the block heads (its block is then read
  // and must start with the same record, unless a writer checked that
  // head already); otherwise the upper middle, through the block buffer. The plain Exception (index
  // text) for lo < 0, hi >= Count or a head that disagrees with its block.
  TDirProbe ProbeMiddle(int32_t lo, int32_t hi) override;
  // The plain Exception with "idx L2 code <p>" appended for p outside
  // 0 .. Count-1. Afterwards, and after a failure, no block is buffered.
  void DeleteEntry(int32_t p) override;
  // The plain Exception with "idx L2 code <p>" appended for p < 0.
  // Afterwards, and after a failure, no block is buffered.
  void InsertEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) override;
  TDirEntry GetEntry(int32_t p) override;
  // The plain Exception with "idx L2 code <p>" appended for p outside
  // 0 .. Count-1, or "idx L2 code <page>" when entry p names another page.
  void SetEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) override;
  // Sets moved[k] to -1 for every page it remapped.
  int32_t RemapPages(std::vector<int32_t>& moved, std::vector<int32_t>& targets) override;
  // Scans the blocks from the first, each from its last entry in use down;
  // the block found stays buffered.
  int32_t FindPage(int32_t page) override;
  void CloseDirectory() override;

  // Count += d, and block 0 rewritten with it.
  void AdjustCount(int32_t d);

  int32_t BufferedBlock() const { return block_no_; }
  const THeader& Heads() const { return heads_; }

 private:
  // The entry bytes of position p (p >= 0), reading its block when the
  // positioning rule says so.
  const uint8_t* Locate(int32_t p);
  void ReadBlock(int32_t b);
  // Block b into the buffer for a change: read when the file has it (and it
  // is not buffered), else a block of fresh entries.
  void BringBlock(int32_t b);
  // Writes the buffer as block b (bytes 4000 .. 4095 zeroed first).
  void WriteBlock(int32_t b);
  uint8_t* Slot(int32_t s) { return image_ + s * kDirEntryBytes; }
  // The number of blocks that hold entries.
  int32_t DataBlocks() const { return (count_ + kDirEntriesPerBlock - 1) / kDirEntriesPerBlock; }

  platform::File file_;
  std::unique_ptr<uint8_t[]> block_;
  uint8_t* image_ = nullptr;  // block_ + one spare entry
  int32_t block_no_ = -1;
  int32_t blocks_ = 0;  // whole blocks in the file
  // Opened for writing: the table lock keeps other writers out, so a head
  // once found equal to its block's first entry stays equal until this
  // object writes the block. Such heads are marked checked and used without
  // reading their block again; a reader beside a writer reads every time.
  bool writer_ = false;
  std::vector<uint8_t> head_checked_;
  bool HeadChecked(int32_t head) const;
  void MarkHeadChecked(int32_t head);
  THeader heads_;
  std::unique_ptr<uint8_t[]> block0_;  // block 0 as written: the count, then zeros
};

}  // namespace logvane
