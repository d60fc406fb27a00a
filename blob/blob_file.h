// The blob file of an open table: one object per table with a blob file,
// opened and closed with the table. Block layout and invariants: blob_block.h.
//
// In memory it keeps the block size B and payload size P, one work buffer
// of B bytes (the first 24 bytes a block header image, the rest a payload
// image), and the free blocks' offsets in ascending order. Every block
// offset the file is handed or meets in a chain is checked against the file
// before use; every inconsistency raises EBlobError "Internal error in blob
// access".
//
// Writing keeps the free chain on disk equal to the list after every
// operation: the head in block 0 is the list's first entry and each free
// block links to the next entry. While the file is open for writing the
// list holds at least 5 blocks before a block is taken (Reserve), and a
// close with more than 10 free blocks compacts the file back to its used
// blocks plus 5 free ones. A chain is checked whole before an operation
// that changes it writes anything, so a damaged chain is reported and never
// followed into blocks of other values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blob/blob_block.h"
#include "platform/file.h"

namespace logvane {

// What the blob file needs from the table engine: when a value's first
// block moves, the record that owns it must point at the new place.
class TBlobRecordUpdater {
 public:
  virtual ~TBlobRecordUpdater() = default;
  // Sets the field's slot in `record` to `reference` with null flag 1 (for
  // a negative reference: flag 0 and slot 0) and writes the record back.
  virtual void SetBlobReference(int32_t record, int field, int32_t reference) = 0;
  // The reference held by `field` of `record`: its slot while its null flag
  // is 1; -1 when the flag is not 1, the record is free or outside the
  // data file, or the field is no blob field. Raises when the record cannot
  // be read.
  virtual int32_t BlobReference(int32_t record, int field) = 0;
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

  // Compacts the file when it is open for writing, has a record updater and
  // holds more than 10 free blocks; then closes the file and releases the
  // buffer and the list. A file still holding more than 10 free blocks
  // (no updater, or a failed compaction) keeps only the first 10 on its
  // chain, so that it opens again. Never raises (a failed compaction leaves
  // the file as far as it got); safe on a closed object.
  void CloseBlobFile() noexcept;

  // Reads blocks through a mapping of the file (platform/file.h); only
  // while no other process can write the table. Without it, or when the
  // file cannot be mapped, blocks are read with system calls.
  void MapForReading() { file_.MapForReading(); }

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
  // With `header`, it also receives the first block's owner, total size
  // and field, read with the same block.
  void ReadValue(int32_t first_block, std::vector<uint8_t>& dest,
                 TBlobValueHeader* header = nullptr);

  // The write side. REQUIRES: IsOpen(). Each raises EBlobError on a
  // read-only file, and for the damage named; input/output failures raise
  // EInOutError.

  // Writes the first `length` bytes of `data` as a new chain whose blocks
  // record `total` as the value's size, `field` as its field, `owner` in the
  // first block (-1 in the others) and `previous` as the first block's
  // previous block. Returns the first block's offset; -1, writing nothing,
  // for a length of 0. Raises for a negative length or a total below it.
  int32_t WriteNewValue(int32_t total, int32_t length, int32_t owner, int32_t field,
                        int32_t previous, const uint8_t* data);
  // Replaces the value at `first_block` with `total` bytes of `data` in
  // place: the first block keeps its offset, owner and field; the chain
  // grows with new blocks or gives its surplus back to the free list.
  // Returns `first_block`. Raises for a total of 0 or less and for a
  // damaged chain (before writing anything).
  int32_t RewriteValue(int32_t first_block, int32_t total, const uint8_t* data);
  // Returns every block of the value at `first_block` to the free list.
  // Raises for a damaged chain, freeing nothing.
  void FreeValue(int32_t first_block);
  // Records `record` as the owner of the value at `first_block`.
  void SetValueOwner(int32_t first_block, int32_t record);
  // Drops every value: block 0 alone remains, with an empty free chain.
  void EmptyBlobFile();

  // The blocks of the value at `first_block`, first block first, after the
  // checks the write side makes: every block in the file and in use,
  // linked back to its predecessor, with the first block's field and total
  // size; the first block with no predecessor and a total above 0; at most
  // as many blocks as the file has. Raises EBlobError otherwise.
  const std::vector<int32_t>& ValueChain(int32_t first_block);

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
  // Inserts `offset` into the sorted list and returns its index; a block
  // listed twice is damage.
  size_t ListFree(int32_t offset);
  void Reserve();
  void CheckWritable() const;
  // Puts the block at `offset` into the free list and links it into the
  // chain on disk between its neighbours in the list.
  void AddFreeBlock(int32_t offset);
  // Writes block `offset` from the work buffer, whose payload image already
  // holds `used` bytes, padding the rest of the payload with zeros.
  void WriteValueBlock(int32_t offset, const TBlobBlockHeader& header);
  // Moves used blocks from the end of the file into free blocks near its
  // start and cuts the file to its used blocks plus 5 free ones.
  void Compact();
  // Moves the block at `from` into the free block `to`, relinking its
  // neighbours and, for a first block, its owning record.
  void MoveBlock(int32_t from, int32_t to, int64_t file_size);

  platform::File file_;
  bool read_only_ = true;
  TBlobRecordUpdater* engine_ = nullptr;
  int32_t block_size_ = 0;
  int32_t payload_size_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  std::vector<int32_t> free_list_;
  // The chain of the value last checked by ValueChain; kept to avoid an
  // allocation per operation.
  std::vector<int32_t> chain_;
  std::vector<int32_t> chain_owner_;
  int32_t chain_field_ = -1;
};

}  // namespace logvane
