// The large-page directory: block 0, blocks of 200 entries, one block
// buffer and the block heads.
#include "index/large_directory.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "index/corruption.h"

namespace logvane {

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
    : TSecondIndex(std::move(path)), block_(new uint8_t[kDirBlockBytes + 2 * kDirEntryBytes]()) {
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

void TKeyBufSecondIndex::LoadDirectory() {
  CloseDirectory();
  file_.OpenPositioned(path_, kDirBlockBytes);
  opened_ = true;
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
    const uint8_t* entry = Locate(round);
    if (GetInt32(entry + 4) != record) RaiseIndexCorruptedPlain();
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
  const uint8_t* entry = Locate(p);
  position_ = p;
  return TDirEntry{GetInt32(entry), GetInt32(entry + 4), entry + 8};
}

void TKeyBufSecondIndex::CloseDirectory() {
  file_.Close();
  opened_ = false;
  block_no_ = -1;
  blocks_ = 0;
  count_ = 0;
  position_ = 0;
  heads_.Resize(0);
}

}  // namespace logvane
