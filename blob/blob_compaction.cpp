// Compacting the blob file when a writable table closes with more than 10
// free blocks.
//
// With N blocks in the file (block 0 included) and U of them in use, the
// file keeps L = U + 6 blocks: block 0, the used blocks and 5 free ones.
// Every used block at index L or above moves, in ascending order, into the
// lowest free block; there are always enough, since the free blocks below L
// outnumber the used blocks above it by 5. The file is then cut at L.
//
// A moved block's neighbours in its chain, and for a first block the record
// that owns it, are pointed at the new place, but only where they pointed at
// the old one: a damaged link or a value its record no longer refers to is
// carried along, never allowed to rewrite another chain or record.
#include <algorithm>

#include "blob/blob_file.h"

namespace logvane {

namespace {

bool IsBlock(int64_t offset, int64_t file_size, int32_t block_size) {
  return offset >= block_size && offset <= file_size - block_size && offset % block_size == 0;
}

}  // namespace

void TBlobFile::MoveBlock(int32_t from, int32_t to, int64_t file_size) {
  const TBlobBlockHeader h = ReadBlockAt(from, file_size);
  file_.Seek(to);
  if (file_.Write(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();

  if (h.next > 0 && IsBlock(h.next, file_size, block_size_)) {
    TBlobBlockHeader next = ReadHeaderAt(h.next, file_size);
    if (!next.IsFree() && next.prev == from) {
      next.prev = to;
      WriteHeaderAt(h.next, next);
    }
  }
  if (h.prev > 0 && IsBlock(h.prev, file_size, block_size_)) {
    TBlobBlockHeader prev = ReadHeaderAt(h.prev, file_size);
    if (!prev.IsFree() && prev.next == from) {
      prev.next = to;
      WriteHeaderAt(h.prev, prev);
    }
  }
  if (h.owner != -1 && !h.IsFree() && engine_->BlobReference(h.owner, h.field) == from)
    engine_->SetBlobReference(h.owner, h.field, to);
}

void TBlobFile::Compact() {
  // Without a way back into the records no first block may move.
  if (engine_ == nullptr || free_list_.size() <= static_cast<size_t>(kBlobReserveBlocks)) return;
  const int64_t file_size = FileSize();
  if (file_size % block_size_ != 0) Fail();
  const int64_t block_count = file_size / block_size_;

  // Lost blocks: not on the free chain, yet linked to nothing and owned by
  // no record (what a free block's header says too). The last block of the
  // file is examined like any other, so that a lost block there is
  // recovered rather than moved.
  for (int64_t k = 1; k < block_count; ++k) {
    const auto offset = static_cast<int32_t>(k * block_size_);
    if (std::binary_search(free_list_.begin(), free_list_.end(), offset)) continue;
    const TBlobBlockHeader h = ReadHeaderAt(offset, file_size);
    if (h.next == -1 && h.prev == -1 && h.owner == -1) AddFreeBlock(offset);
  }

  const int64_t used = block_count - 1 - static_cast<int64_t>(free_list_.size());
  const int64_t keep = used + 1 + kBlobReserveBlocks;
  const int64_t cut = keep * block_size_;
  for (int64_t k = keep; k < block_count; ++k) {
    const auto offset = static_cast<int32_t>(k * block_size_);
    if (std::binary_search(free_list_.begin(), free_list_.end(), offset)) continue;
    if (free_list_.empty() || free_list_.front() >= cut) Fail();
    // Once it is written to, the block is no longer free, even when the
    // move fails part-way.
    const int32_t to = free_list_.front();
    free_list_.erase(free_list_.begin());
    MoveBlock(offset, to, file_size);
  }

  file_.Seek(cut);
  file_.Truncate();
  free_list_.erase(std::lower_bound(free_list_.begin(), free_list_.end(), cut), free_list_.end());
  // The chain of the blocks that remain free, ending at the last of them.
  for (size_t i = 0; i < free_list_.size(); ++i)
    WriteHeaderAt(free_list_[i],
                  TBlobBlockHeader::Free(i + 1 < free_list_.size() ? free_list_[i + 1] : -1));
  WriteFreeHead(free_list_.empty() ? -1 : free_list_.front());
  if (free_list_.size() != static_cast<size_t>(kBlobReserveBlocks)) Fail();
}

}  // namespace logvane
