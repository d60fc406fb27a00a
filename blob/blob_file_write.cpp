// Writing the blob file: new values, values rewritten in place, values
// freed, owners changed, the file emptied, and the sorted free list kept in
// step with the free chain on disk.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/messages.h"
#include "blob/blob_file.h"

namespace logvane {

void TBlobFile::CheckWritable() const {
  if (read_only_ || !file_.IsOpen()) Fail();
}

void TBlobFile::WriteValueBlock(int32_t offset, const TBlobBlockHeader& header) {
  header.Encode(buffer_.get());
  std::memset(buffer_.get() + kBlobHeaderSize + header.used, 0,
              static_cast<size_t>(payload_size_ - header.used));
  file_.Seek(offset);
  if (file_.Write(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();
}

// The new block takes its place in the sorted list; its header links to the
// entry after it, and the entry before it (or the head in block 0) links to
// it. Its payload is left as it was.
void TBlobFile::AddFreeBlock(int32_t offset) {
  const size_t at = ListFree(offset);
  const int32_t next = at + 1 == free_list_.size() ? -1 : free_list_[at + 1];
  WriteHeaderAt(offset, TBlobBlockHeader::Free(next));
  if (at == 0)
    WriteFreeHead(offset);
  else
    WriteHeaderAt(free_list_[at - 1], TBlobBlockHeader::Free(offset));
}

const std::vector<int32_t>& TBlobFile::ValueChain(int32_t first_block) {
  const int64_t file_size = FileSize();
  const int64_t block_count = file_size / block_size_ - 1;
  const TBlobBlockHeader first = ReadHeaderAt(first_block, file_size);
  if (first.IsFree() || first.prev != -1 || first.total <= 0 || first.used > payload_size_) Fail();
  chain_.clear();
  chain_owner_.clear();
  chain_field_ = first.field;
  chain_.push_back(first_block);
  chain_owner_.push_back(first.owner);
  for (int32_t next = first.next; next >= 0;) {
    if (static_cast<int64_t>(chain_.size()) >= block_count) Fail();
    const TBlobBlockHeader h = ReadHeaderAt(next, file_size);
    if (h.IsFree() || h.used > payload_size_ || h.prev != chain_.back() || h.field != first.field ||
        h.total != first.total)
      Fail();
    chain_.push_back(next);
    chain_owner_.push_back(h.owner);
    next = h.next;
  }
  return chain_;
}

int32_t TBlobFile::WriteNewValue(int32_t total, int32_t length, int32_t owner, int32_t field,
                                 int32_t previous, const uint8_t* data) {
  CheckWritable();
  if (length < 0 || total < length) Fail();
  if (length == 0) return -1;
  int32_t first = -1;
  int32_t prev = previous;
  for (int64_t start = 0; start < length; start += payload_size_) {
    if (free_list_.size() < static_cast<size_t>(kBlobReserveBlocks)) Reserve();
    const int32_t block = free_list_.front();
    const bool last = length - start <= payload_size_;
    TBlobBlockHeader h;
    h.next = last ? -1 : free_list_[1];
    h.prev = prev;
    h.used = last ? static_cast<int32_t>(length - start) : payload_size_;
    h.owner = first < 0 ? owner : -1;
    h.total = total;
    h.field = field;
    std::memcpy(buffer_.get() + kBlobHeaderSize, data + start, static_cast<size_t>(h.used));
    WriteValueBlock(block, h);
    free_list_.erase(free_list_.begin());
    if (first < 0) first = block;
    prev = block;
  }
  WriteFreeHead(free_list_.empty() ? -1 : free_list_.front());
  return first;
}

// The kept blocks are the first min(old, new) blocks of the chain. Checking
// the whole old chain first means a damaged chain stops the rewrite before
// any block of it changes.
int32_t TBlobFile::RewriteValue(int32_t first_block, int32_t total, const uint8_t* data) {
  CheckWritable();
  if (total <= 0) Fail();
  ValueChain(first_block);
  const size_t old_count = chain_.size();
  const auto new_count = static_cast<size_t>((int64_t{total} + payload_size_ - 1) / payload_size_);
  const size_t kept = std::min(old_count, new_count);

  TBlobBlockHeader h;
  for (size_t k = 0; k < kept; ++k) {
    const int64_t start = static_cast<int64_t>(k) * payload_size_;
    const bool last_piece = k + 1 == new_count;
    h.next = k + 1 < old_count && !last_piece ? chain_[k + 1] : -1;
    h.prev = k == 0 ? -1 : chain_[k - 1];
    h.used = last_piece ? static_cast<int32_t>(total - start) : payload_size_;
    h.owner = chain_owner_[k];
    h.total = total;
    h.field = chain_field_;
    std::memcpy(buffer_.get() + kBlobHeaderSize, data + start, static_cast<size_t>(h.used));
    WriteValueBlock(chain_[k], h);
  }

  const int32_t last_kept = chain_[kept - 1];
  if (new_count > old_count) {
    // The rest of the value becomes a chain of its own behind the last kept
    // block, which is then linked to it.
    const int64_t start = static_cast<int64_t>(kept) * payload_size_;
    h.next = WriteNewValue(total, static_cast<int32_t>(total - start), -1, chain_field_, last_kept,
                           data + start);
    WriteHeaderAt(last_kept, h);
  } else {
    // The surplus blocks go back in chain order; adding free blocks leaves
    // chain_ alone.
    for (size_t k = kept; k < old_count; ++k) AddFreeBlock(chain_[k]);
  }
  return first_block;
}

void TBlobFile::FreeValue(int32_t first_block) {
  CheckWritable();
  ValueChain(first_block);
  for (const int32_t block : chain_) AddFreeBlock(block);
}

void TBlobFile::SetValueOwner(int32_t first_block, int32_t record) {
  CheckWritable();
  TBlobBlockHeader h = ReadHeaderAt(first_block, FileSize());
  if (h.IsFree() || h.prev != -1) Fail();
  h.owner = record;
  WriteHeaderAt(first_block, h);
}

void TBlobFile::EmptyBlobFile() {
  CheckWritable();
  std::memset(buffer_.get(), 0, static_cast<size_t>(block_size_));
  PutInt32(buffer_.get(), block_size_);
  PutInt32(buffer_.get() + kBlobFreeHeadOffset, -1);
  file_.Seek(0);
  if (file_.Write(buffer_.get(), block_size_) != static_cast<size_t>(block_size_)) Fail();
  file_.Seek(block_size_);
  file_.Truncate();
  free_list_.clear();
}

}  // namespace logvane
