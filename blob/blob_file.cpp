// Opening the blob file, reading values along their chains, and keeping the
// free list stocked on a writable open.
#include "blob/blob_file.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/errors.h"
#include "base/messages.h"

namespace logvane {

void TBlobFile::Fail() { throw EBlobError(msg::kBlobError); }

// While the file is mapped no other process may write it, so the size this
// process keeps track of is the file's, without a system call per value.
int64_t TBlobFile::FileSize() const {
  return file_.Mapped() ? file_.OwnSizeInUnits() : file_.SizeInUnits();
}

void TBlobFile::CheckOffset(int64_t offset, int64_t file_size) const {
  if (offset < block_size_ || offset > file_size - block_size_ || offset % block_size_ != 0) Fail();
}

TBlobBlockHeader TBlobFile::ReadHeaderAt(int32_t offset, int64_t file_size) {
  CheckOffset(offset, file_size);
  file_.Seek(offset);
  if (file_.Read(buffer_.get(), kBlobHeaderSize) != kBlobHeaderSize) Fail();
  TBlobBlockHeader h;
  h.Decode(buffer_.get());
  return h;
}

TBlobBlockHeader TBlobFile::ReadBlockAt(int32_t offset, int64_t file_size) {
  CheckOffset(offset, file_size);
  file_.Seek(offset);
  if (file_.Read(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();
  TBlobBlockHeader h;
  h.Decode(buffer_.get());
  return h;
}

// The first block of a value: in use, with a total size the file can hold
// (so a damaged header never makes a reader allocate beyond the file).
TBlobBlockHeader TBlobFile::ReadFirstHeader(int32_t first_block, int64_t file_size,
                                            bool whole_block) {
  TBlobBlockHeader h =
      whole_block ? ReadBlockAt(first_block, file_size) : ReadHeaderAt(first_block, file_size);
  const int64_t capacity = (file_size / block_size_ - 1) * payload_size_;
  if (h.IsFree() || h.total < 0 || h.total > capacity) Fail();
  return h;
}

void TBlobFile::WriteHeaderAt(int32_t offset, const TBlobBlockHeader& header) {
  uint8_t image[kBlobHeaderSize];
  header.Encode(image);
  file_.Seek(offset);
  if (file_.Write(image, kBlobHeaderSize) != kBlobHeaderSize) Fail();
}

void TBlobFile::WriteFreeHead(int32_t offset) {
  uint8_t image[4];
  PutInt32(image, offset);
  file_.Seek(kBlobFreeHeadOffset);
  if (file_.Write(image, sizeof image) != sizeof image) Fail();
}

size_t TBlobFile::ListFree(int32_t offset) {
  const auto at = std::lower_bound(free_list_.begin(), free_list_.end(), offset);
  if (at != free_list_.end() && *at == offset) Fail();
  const auto index = static_cast<size_t>(at - free_list_.begin());
  free_list_.insert(at, offset);
  return index;
}

void TBlobFile::OpenBlobFile(const std::string& path, bool read_only, TBlobRecordUpdater* engine) {
  CloseBlobFile();
  const uint32_t mode =
      (read_only ? platform::kAccessRead : platform::kAccessReadWrite) | platform::kShareDenyNone;
  if (int err = file_.Open(path, mode))
    throw EInOutError(err, std::string(platform::ErrorText(err)) + ": " + path);
  try {
    read_only_ = read_only;
    engine_ = engine;
    uint8_t head[4];
    if (file_.Read(head, sizeof head) != sizeof head) Fail();
    const int32_t block_size = GetInt32(head);
    const int64_t file_size = FileSize();
    // A block must have room for a payload, and block 0 must be whole.
    if (block_size <= kBlobHeaderSize || block_size > file_size) Fail();
    block_size_ = block_size;
    payload_size_ = block_size - kBlobHeaderSize;
    buffer_ = std::make_unique<uint8_t[]>(block_size_);
    file_.Seek(0);
    if (file_.Read(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();
    LoadFreeList(GetInt32(buffer_.get() + kBlobFreeHeadOffset), file_size);
    if (!read_only_ && free_list_.size() < static_cast<size_t>(kBlobReserveBlocks)) Reserve();
  } catch (...) {
    CloseBlobFile();
    throw;
  }
}

// Follows the free chain from block 0's head until an offset outside
// (0, file size), or a block in use, ends it. The chain on disk is ascending;
// the list is kept sorted whatever the disk says, so a later writer can rely
// on its order.
void TBlobFile::LoadFreeList(int32_t head, int64_t file_size) {
  free_list_.clear();
  free_list_.reserve(2 * kBlobReserveBlocks + 1);
  int32_t offset = head;
  while (offset > 0 && offset < file_size) {
    const TBlobBlockHeader h = ReadHeaderAt(offset, file_size);
    if (!h.IsFree()) break;
    // Also ends a chain that loops back on itself.
    if (free_list_.size() == static_cast<size_t>(kBlobMaxFreeAtOpen)) Fail();
    ListFree(offset);
    offset = h.NextFree();
  }
}

// Appends five free blocks after the last whole block of the file, each
// linking to the next, then links them behind the last listed free block
// (or makes the first of them the head when the list was empty). The blocks
// are written before anything points at them. A partial block at the end of
// the file is no block (no offset can name it) and is overwritten.
void TBlobFile::Reserve() {
  const int64_t base = FileSize() / block_size_ * block_size_;
  if (base + int64_t{kBlobReserveBlocks} * block_size_ > INT32_MAX) Fail();
  const auto first = static_cast<int32_t>(base);
  for (int i = 0; i < kBlobReserveBlocks; ++i)
    if (std::binary_search(free_list_.begin(), free_list_.end(), first + i * block_size_)) Fail();

  std::memset(buffer_.get(), 0, block_size_);
  for (int i = 0; i < kBlobReserveBlocks; ++i) {
    const int32_t offset = first + i * block_size_;
    const bool last = i == kBlobReserveBlocks - 1;
    TBlobBlockHeader::Free(last ? -1 : offset + block_size_).Encode(buffer_.get());
    file_.Seek(offset);
    if (file_.Write(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();
  }

  if (free_list_.empty())
    WriteFreeHead(first);
  else
    WriteHeaderAt(free_list_.back(), TBlobBlockHeader::Free(first));
  for (int i = 0; i < kBlobReserveBlocks; ++i) free_list_.push_back(first + i * block_size_);
}

void TBlobFile::CloseBlobFile() noexcept {
  const size_t most = kBlobMaxFreeAtOpen;
  if (file_.IsOpen() && !read_only_ && free_list_.size() > most) {
    bool compacted = false;
    try {
      Compact();
      compacted = engine_ != nullptr;
    } catch (...) {
      // The close still releases everything.
    }
    // Without a compaction the chain on disk must still suit an open: it
    // starts at the list's first block (a failed compaction may have filled
    // the old head) and ends after its tenth, which an open accepts; the
    // blocks behind it are lost blocks that the next compaction recovers.
    if (!compacted) {
      try {
        if (free_list_.size() > most)
          WriteHeaderAt(free_list_[most - 1], TBlobBlockHeader::Free(-1));
        WriteFreeHead(free_list_.empty() ? -1 : free_list_.front());
      } catch (...) {
      }
    }
  }
  file_.Close();
  buffer_.reset();
  free_list_.clear();
  free_list_.shrink_to_fit();
  chain_.clear();
  chain_owner_.clear();
  engine_ = nullptr;
  block_size_ = 0;
  payload_size_ = 0;
  read_only_ = true;
}

TBlobValueHeader TBlobFile::ReadValueHeader(int32_t first_block) {
  const TBlobBlockHeader h = ReadFirstHeader(first_block, FileSize(), false);
  return TBlobValueHeader{h.owner, h.total, h.field};
}

// Walks the chain from the first block, appending each block's used bytes.
// A well-formed chain has exactly ceil(total / P) blocks; the walk is bounded
// by the file's block count so that any loop ends, and every block may add
// at most what is still missing, so the value never grows past its size.
void TBlobFile::ReadValue(int32_t first_block, std::vector<uint8_t>& dest,
                          TBlobValueHeader* header) {
  dest.clear();
  try {
    const int64_t file_size = FileSize();
    const int64_t block_count = file_size / block_size_ - 1;
    TBlobBlockHeader h = ReadFirstHeader(first_block, file_size, true);
    if (header != nullptr) *header = TBlobValueHeader{h.owner, h.total, h.field};
    const int32_t total = h.total;
    dest.resize(static_cast<size_t>(total));
    int32_t filled = 0;
    for (int64_t visited = 1;; ++visited) {
      if (visited > block_count) Fail();
      if (h.used < 0 || h.used > payload_size_ || h.used > total - filled) Fail();
      if (h.used > 0)
        std::memcpy(dest.data() + filled, buffer_.get() + kBlobHeaderSize,
                    static_cast<size_t>(h.used));
      filled += h.used;
      if (h.next < 0) break;
      h = ReadBlockAt(h.next, file_size);
    }
    if (filled != total) Fail();
  } catch (...) {
    dest.clear();
    throw;
  }
}

}  // namespace logvane
