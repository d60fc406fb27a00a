// The blob file of an open table: one object per table with a blob file,
// opened and closed with the table. Block layout and invariants: blob_block.h.
//
// In memory it keeps the block size B and payload size P, one work buffer
// of B bytes (the first 24 bytes a block header image, the rest a payload
// image), and the free blocks' offsets in ascending order. Every block
// offset the file is handed or meets in a chain is checked against the file
// before use; every inconsistency raises EBlobError "Internal error in blob
// access".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blob/blob_block.h"
#include "platform/file.h"

namespace logvane {

// What the blob file needs from the table engine: when a value's first
// block moves, the record that owns it must point at the new place. The
// engine implements it by setting the field's slot to `reference` with
// null flag 1 and writing the record back.
class TBlobRecordUpdater {
 public:
  virtual ~TBlobRecordUpdater() = default;
  virtual void SetBlobReference(int32_t record, int field, int32_t reference) = 0;
};

// The header of a value's first block, as a reader needs it.
struct TBlobValueHeader {
  int32_t owner = -1;  // record number
  int32_t total = 0;   // value length in bytes
  int32_t field = -1;  // 0-based field number
};

class TBlobFile {
 public:
  TBlobFile() = default;
  ~TBlobFile() { CloseBlobFile(); }
  TBlobFile(const TBlobFile&) = delete;
  TBlobFile& operator=(const TBlobFile&) = delete;

  // Opens the existing file at `path` (others may read and write it),
  // read-only or for reading and writing, reads B and block 0, and loads the
  // free list. A writable open then tops the free list up to 5 blocks by
  // appending blocks to the file. `engine` is kept for moving blocks; it may
  // be null while nothing moves blocks. On failure everything is released
  // and the error is raised again: EInOutError when the file cannot be
  // opened, EBlobError for a damaged file (also a free chain longer than 10
  // blocks).
  void OpenBlobFile(const std::string& path, bool read_only, TBlobRecordUpdater* engine);

  // Closes the file and releases the buffer and the list. Never raises;
  // safe on a closed object.
  void CloseBlobFile() noexcept;

  bool IsOpen() const { return file_.IsOpen(); }
  bool ReadOnly() const { return read_only_; }
  int32_t BlockSize() const { return block_size_; }
  int32_t PayloadSize() const { return payload_size_; }
  // The free blocks' offsets, ascending.
  const std::vector<int32_t>& FreeList() const { return free_list_; }

  // REQUIRES: IsOpen(). The owner, total size and field of the value whose
  // first block is at `first_block`. Raises EBlobError for a bad offset, a
  // short read, a free block or a negative total size.
  TBlobValueHeader ReadValueHeader(int32_t first_block);

  // REQUIRES: IsOpen(). Replaces `dest` with the value whose first block is
  // at `first_block`: sized to the total size, then filled along the chain.
  // Nothing is ever written past the total size. Raises EBlobError, leaving
  // `dest` empty, for a bad offset, a short read, a used length below 0,
  // above P or beyond the total, a chain that ends short of the total, or a
  // chain longer than the file has blocks (a loop).
  void ReadValue(int32_t first_block, std::vector<uint8_t>& dest);

 private:
  [[noreturn]] static void Fail();
  int64_t FileSize() const;
  // Raises unless `offset` names a whole block after block 0 of a file of
  // `file_size` bytes.
  void CheckOffset(int64_t offset, int64_t file_size) const;
  // Read the header, or the whole block, at `offset` into the work buffer.
  TBlobBlockHeader ReadHeaderAt(int32_t offset, int64_t file_size);
  TBlobBlockHeader ReadBlockAt(int32_t offset, int64_t file_size);
  TBlobBlockHeader ReadFirstHeader(int32_t first_block, int64_t file_size, bool whole_block);
  void WriteHeaderAt(int32_t offset, const TBlobBlockHeader& header);
  void WriteFreeHead(int32_t offset);
  void LoadFreeList(int32_t head, int64_t file_size);
  // Inserts `offset` into the sorted list; a block listed twice is damage.
  void ListFree(int32_t offset);
  void Reserve();

  platform::File file_;
  bool read_only_ = true;
  TBlobRecordUpdater* engine_ = nullptr;
  int32_t block_size_ = 0;
  int32_t payload_size_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  std::vector<int32_t> free_list_;
};

}  // namespace logvane
