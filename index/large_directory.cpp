// The large-page directory: block 0, blocks of 200 entries, one block
// buffer and the block heads.
#include "index/large_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "base/byte_order.h"
#include "base/messages.h"
#include "index/corruption.h"
#include "index/page_file.h"

namespace logvane {

namespace {

// "idx L2 code <n>", appended to the index text of a directory failure.
std::string L2Code(int32_t n) {
  char code[32];
  std::snprintf(code, sizeof code, msg::kIndexL2Code, static_cast<int>(n));
  return code;
}

}  // namespace

THeader::THeader() : data_(40 * kDirEntryBytes, 0), capacity_(40) {}

void THeader::Resize(int32_t size) {
  if (size < 0) size = 0;
  if (size > capacity_) {
    capacity_ = static_cast<int32_t>(static_cast<int64_t>(size) * 12 / 10 + 10);
    data_.resize(static_cast<size_t>(capacity_) * kDirEntryBytes, 0);
  }
  if (size > count_)
    std::fill(data_.begin() + static_cast<ptrdiff_t>(count_) * kDirEntryBytes,
              data_.begin() + static_cast<ptrdiff_t>(size) * kDirEntryBytes, 0);
  count_ = size;
}

void THeader::Store(int32_t i, const uint8_t* entry) {
  if (i < 0 || i >= count_) RaiseBlockHeadRange(i, count_);
  std::memcpy(&data_[static_cast<size_t>(i) * kDirEntryBytes], entry, kDirEntryBytes);
}

const uint8_t* THeader::Fetch(int32_t i) const {
  if (i < 0 || i >= count_) RaiseBlockHeadRange(i, count_);
  return &data_[static_cast<size_t>(i) * kDirEntryBytes];
}

int32_t THeader::Page(int32_t i) const { return GetInt32(Fetch(i)); }

int32_t THeader::Record(int32_t i) const { return GetInt32(Fetch(i) + 4); }

const uint8_t* THeader::Prefix(int32_t i) const {
  if (i < 0 || i >= count_) RaiseBlockHeadPrefix(i);
  return &data_[static_cast<size_t>(i) * kDirEntryBytes + 8];
}

TKeyBufSecondIndex::TKeyBufSecondIndex(std::string path)
    : TSecondIndex(std::move(path)),
      block_(new uint8_t[kDirBlockBytes + 2 * kDirEntryBytes]()),
      block0_(new uint8_t[kDirBlockBytes]()) {
  image_ = block_.get() + kDirEntryBytes;
}

TKeyBufSecondIndex::~TKeyBufSecondIndex() { CloseDirectory(); }

void TKeyBufSecondIndex::ReadBlock(int32_t b) {
  block_no_ = -1;
  if (b < 0 || b >= blocks_) RaiseIndexCorrupted();
  file_.Seek(b);
  if (file_.Read(image_, 1) != 1) RaiseIndexCorrupted();
  block_no_ = b;
}

const uint8_t* TKeyBufSecondIndex::Locate(int32_t p) {
  const int32_t block = p / kDirEntriesPerBlock + 1;
  const int32_t slot = p % kDirEntriesPerBlock;
  if (block != block_no_ && (slot != 0 || p < count_)) ReadBlock(block);
  return image_ + slot * kDirEntryBytes;
}

bool TKeyBufSecondIndex::HeadChecked(int32_t head) const {
  return static_cast<size_t>(head) < head_checked_.size() && head_checked_[head] != 0;
}

void TKeyBufSecondIndex::MarkHeadChecked(int32_t head) {
  if (!writer_) return;
  if (static_cast<size_t>(head) >= head_checked_.size()) head_checked_.resize(head + 1, 0);
  head_checked_[head] = 1;
}

void TKeyBufSecondIndex::LoadDirectory() {
  CloseDirectory();
  file_.OpenPositioned(path_, kDirBlockBytes);
  opened_ = true;
  writer_ = !platform::DefaultReadOnly();
  if (writer_) file_.MapForWriting();
  head_checked_.clear();
  blocks_ = static_cast<int32_t>(std::min<int64_t>(file_.SizeInUnits(), INT32_MAX));
  ReadBlock(0);
  const int32_t count = GetInt32(image_);
  // The block count must agree with the entry count, which also bounds
  // every later position by the file.
  const int64_t data_blocks = (int64_t{count} + kDirEntriesPerBlock - 1) / kDirEntriesPerBlock;
  if (count < 0 || data_blocks + 1 != blocks_) RaiseIndexCorrupted();
  heads_.Resize(static_cast<int32_t>(data_blocks));
  for (int32_t b = 1; b <= data_blocks; ++b) {
    ReadBlock(b);
    heads_.Store(b - 1, image_);
  }
  block_no_ = -1;
  count_ = count;
  position_ = 0;
}

TDirProbe TKeyBufSecondIndex::ProbeMiddle(int32_t lo, int32_t hi) {
  if (lo < 0 || hi >= count_) RaiseIndexCorruptedPlain();
  const auto middle = static_cast<int32_t>((int64_t{lo} + hi + 1) / 2);
  const int32_t round =
      (middle + kDirEntriesPerBlock / 2) / kDirEntriesPerBlock * kDirEntriesPerBlock;
  if (lo < round && round < hi) {
    const int32_t head = round / kDirEntriesPerBlock;
    const int32_t record = heads_.Record(head);
    const uint8_t* prefix = heads_.Prefix(head);
    if (!HeadChecked(head)) {
      if (GetInt32(Locate(round) + 4) != record) RaiseIndexCorruptedPlain();
      MarkHeadChecked(head);
    }
    position_ = round;
    return TDirProbe{round, record, prefix};
  }
  const uint8_t* entry = Locate(middle);
  position_ = middle;
  return TDirProbe{middle, GetInt32(entry + 4), entry + 8};
}

TDirEntry TKeyBufSecondIndex::GetEntry(int32_t p) {
  // Beyond the count a slot carries nothing, and the block may not even
  // have been read: refuse rather than hand out stale bytes.
  if (p < 0 || p >= count_) RaiseIndexCorrupted();
  position_ = p;
  // A checked head serves without a read.
  if (p % kDirEntriesPerBlock == 0 && HeadChecked(p / kDirEntriesPerBlock)) {
    const int32_t head = p / kDirEntriesPerBlock;
    return TDirEntry{heads_.Page(head), heads_.Record(head), heads_.Prefix(head)};
  }
  const uint8_t* entry = Locate(p);
  // Entry 0, where every search begins, checks head 0; the other heads are
  // checked where a search probes them.
  if (p == 0 && std::memcmp(entry, heads_.Fetch(0), kDirEntryBytes) == 0) MarkHeadChecked(0);
  return TDirEntry{GetInt32(entry), GetInt32(entry + 4), entry + 8};
}

namespace {

// Page 0, record -1, a zero key prefix: a slot no entry uses.
void PutFreshEntry(uint8_t* e) {
  PutInt32(e, 0);
  PutInt32(e + 4, -1);
  std::memset(e + 8, 0, kDirEntryBytes - 8);
}

constexpr int32_t kLastSlot = kDirEntriesPerBlock - 1;
// Bytes of a block after its last slot.
constexpr int kBlockTail = kDirBlockBytes - kDirEntriesPerBlock * kDirEntryBytes;

}  // namespace

void TKeyBufSecondIndex::BringBlock(int32_t b) {
  if (b == block_no_) return;
  if (b < blocks_) {
    ReadBlock(b);
    return;
  }
  for (int32_t s = 0; s < kDirEntriesPerBlock; ++s) PutFreshEntry(Slot(s));
  block_no_ = b;
}

void TKeyBufSecondIndex::WriteBlock(int32_t b) {
  // The block's head is checked again at its next use.
  if (b >= 1 && static_cast<size_t>(b - 1) < head_checked_.size()) head_checked_[b - 1] = 0;
  std::memset(Slot(kDirEntriesPerBlock), 0, kBlockTail);
  file_.Seek(b);
  if (file_.Write(image_, 1) != 1) {
    block_no_ = -1;
    RaiseIndexCorrupted();
  }
  block_no_ = b;
  blocks_ = std::max(blocks_, b + 1);
}

void TKeyBufSecondIndex::AdjustCount(int32_t d) {
  count_ += d;
  PutInt32(block0_.get(), count_);
  file_.Seek(0);
  if (file_.Write(block0_.get(), 1) != 1) RaiseIndexCorrupted();
}

void TKeyBufSecondIndex::CreateEmpty() {
  block_no_ = -1;
  count_ = 0;
  AdjustCount(1);
  for (int32_t s = 0; s < kDirEntriesPerBlock; ++s) PutFreshEntry(Slot(s));
  PutInt32(Slot(0), kFirstLeafPage);
  WriteBlock(1);
  file_.Seek(2);
  file_.Truncate();
  blocks_ = 2;
  heads_.Resize(1);
  heads_.Store(0, Slot(0));
  block_no_ = -1;
  position_ = 0;
}

void TKeyBufSecondIndex::InsertEntry(int32_t p, int32_t page, const uint8_t* prefix,
                                     int32_t record) {
  if (p < 0) throw EIndexCorruptedPlain(L2Code(p));
  p = std::min(p, count_);
  const int32_t first = p / kDirEntriesPerBlock + 1;
  const int32_t slot = p % kDirEntriesPerBlock;
  // The entry count after the insertion decides the blocks in use; a count
  // at a multiple of 200 (0 included) means a block is added.
  const int32_t last = (count_ + kDirEntriesPerBlock) / kDirEntriesPerBlock;
  if (count_ % kDirEntriesPerBlock == 0) heads_.Resize(last);
  uint8_t carry[kDirEntryBytes];
  try {
    BringBlock(first);
    std::memmove(Slot(slot + 1), Slot(slot), (kDirEntriesPerBlock - slot) * kDirEntryBytes);
    std::memcpy(carry, Slot(kDirEntriesPerBlock), kDirEntryBytes);
    uint8_t* e = Slot(slot);
    PutInt32(e, page);
    PutInt32(e + 4, record);
    if (prefix != nullptr)
      std::memcpy(e + 8, prefix, kDirEntryBytes - 8);
    else
      std::memset(e + 8, 0, kDirEntryBytes - 8);
    if (slot == 0) heads_.Store(first - 1, Slot(0));
    WriteBlock(first);
    for (int32_t b = first + 1; b <= last; ++b) {
      BringBlock(b);
      std::memmove(Slot(1), Slot(0), kDirEntriesPerBlock * kDirEntryBytes);
      std::memcpy(Slot(0), carry, kDirEntryBytes);
      std::memcpy(carry, Slot(kDirEntriesPerBlock), kDirEntryBytes);
      heads_.Store(b - 1, Slot(0));
      WriteBlock(b);
    }
    block_no_ = -1;
    AdjustCount(1);
  } catch (...) {
    block_no_ = -1;
    throw;
  }
}

void TKeyBufSecondIndex::DeleteEntry(int32_t p) {
  if (p < 0 || p >= count_) throw EIndexCorruptedPlain(L2Code(p));
  const int32_t first = p / kDirEntriesPerBlock + 1;
  const int32_t slot = p % kDirEntriesPerBlock;
  const int32_t last = DataBlocks();
  // The last block holds only the entry that moves out of it: it goes.
  const bool cut = count_ % kDirEntriesPerBlock == 1;
  // Slot 199 of block b takes the head of block b + 1, or a fresh entry.
  auto pull_next_head = [&](int32_t b) {
    if (b < last)
      std::memcpy(Slot(kLastSlot), heads_.Fetch(b), kDirEntryBytes);
    else
      PutFreshEntry(Slot(kLastSlot));
  };
  try {
    if (p < count_ - 1) {
      BringBlock(first);
      std::memmove(Slot(slot), Slot(slot + 1), (kLastSlot - slot) * kDirEntryBytes);
      pull_next_head(first);
      WriteBlock(first);
      if (slot == 0) heads_.Store(first - 1, Slot(0));
      for (int32_t b = first + 1; b <= last && !(cut && b == last); ++b) {
        BringBlock(b);
        std::memmove(Slot(0), Slot(1), kLastSlot * kDirEntryBytes);
        pull_next_head(b);
        heads_.Store(b - 1, Slot(0));
        WriteBlock(b);
      }
    }
    if (cut) {
      heads_.Resize(last - 1);
      file_.Seek(last);
      file_.Truncate();
      blocks_ = last;
    }
    block_no_ = -1;
    AdjustCount(-1);
  } catch (...) {
    block_no_ = -1;
    throw;
  }
}

void TKeyBufSecondIndex::SetEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) {
  if (p < 0 || p >= count_) throw EIndexCorruptedPlain(L2Code(p));
  const int32_t block = p / kDirEntriesPerBlock + 1;
  const int32_t slot = p % kDirEntriesPerBlock;
  BringBlock(block);
  uint8_t* e = Slot(slot);
  if (GetInt32(e) != page) throw EIndexCorruptedPlain(L2Code(page));
  PutInt32(e + 4, record);
  if (prefix != nullptr) std::memcpy(e + 8, prefix, kDirEntryBytes - 8);
  WriteBlock(block);
  if (slot == 0) heads_.Store(block - 1, e);
  position_ = p;
}

int32_t TKeyBufSecondIndex::FindPage(int32_t page) {
  if (count_ == 0) return -1;
  const int32_t last = DataBlocks();
  for (int32_t b = 1; b <= last; ++b) {
    BringBlock(b);
    const int32_t used = b < last ? kDirEntriesPerBlock : (count_ - 1) % kDirEntriesPerBlock + 1;
    for (int32_t s = used - 1; s >= 0; --s)
      if (GetInt32(Slot(s)) == page) return (b - 1) * kDirEntriesPerBlock + s;
  }
  return -2;
}

void TKeyBufSecondIndex::UpdateByPage(int32_t page, int32_t new_page, const uint8_t* prefix,
                                      int32_t record) {
  const int32_t p = FindPage(page);
  if (p < 0) return;
  const int32_t block = p / kDirEntriesPerBlock + 1;
  const int32_t slot = p % kDirEntriesPerBlock;
  uint8_t* e = Slot(slot);
  if (new_page >= 0) PutInt32(e, new_page);
  if (record >= 0) PutInt32(e + 4, record);
  if (prefix != nullptr) std::memcpy(e + 8, prefix, kDirEntryBytes - 8);
  WriteBlock(block);
  if (slot == 0) heads_.Store(block - 1, e);
}

int32_t TKeyBufSecondIndex::RemapPages(std::vector<int32_t>& moved, std::vector<int32_t>& targets) {
  TPageRemap remap(moved);
  int32_t changed = 0;
  try {
    const int32_t last = DataBlocks();
    for (int32_t b = 1; b <= last; ++b) {
      BringBlock(b);
      const int32_t used = b < last ? kDirEntriesPerBlock : (count_ - 1) % kDirEntriesPerBlock + 1;
      bool block_changed = false;
      for (int32_t s = 0; s < used; ++s) {
        const int32_t k = remap.Take(GetInt32(Slot(s)));
        if (k < 0) continue;
        PutInt32(Slot(s), targets[k]);
        targets[k] = moved[k];
        moved[k] = -1;
        ++changed;
        block_changed = true;
        if (s == 0) heads_.Store(b - 1, Slot(0));
      }
      if (block_changed) WriteBlock(b);
    }
  } catch (const std::exception&) {
    block_no_ = -1;
    return -1;
  }
  return changed;
}

void TKeyBufSecondIndex::CloseDirectory() {
  file_.Close();
  opened_ = false;
  block_no_ = -1;
  blocks_ = 0;
  count_ = 0;
  position_ = 0;
  heads_.Resize(0);
  head_checked_.clear();
}

}  // namespace logvane
