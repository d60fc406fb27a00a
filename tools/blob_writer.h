// The blob file writer: makes a .blb file from a list of values, for tests
// and tools that need tables with memo, formatted-text, graphic or binary
// fields. Block layout: blob/blob_block.h.
//
// Block 0 comes first; then the free blocks when `free_blocks_first`; then
// the values' blocks (one value after another, or dealt out one block per
// value in turn with `interleave`, so that chains jump about the file); then
// the free blocks otherwise. The free chain links the free blocks in
// ascending order from block 0's head. Every value's chain is well formed;
// damage is made afterwards with the patch helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace logvane::tools {

struct BlobValue {
  std::string bytes;  // not empty: a value of length 0 is never stored
  int32_t owner = 0;  // record number
  int32_t field = 0;  // 0-based field number
};

struct BlobFileContents {
  int32_t block_size = 512;
  std::vector<BlobValue> values;
  int free_blocks = 0;
  bool free_blocks_first = false;
  bool interleave = false;
};

// Where the writer put everything: byte offsets of blocks.
struct BlobFileLayout {
  std::vector<std::vector<int32_t>> chains;  // per value, first block first
  std::vector<int32_t> free_blocks;          // ascending, in chain order
  int32_t block_size = 0;
  int32_t block_count = 0;  // block 0 included

  int32_t First(size_t value) const { return chains.at(value).front(); }
};

// Writes the file (replacing any) and returns its layout. Throws
// std::invalid_argument for a block size of 24 or less or an empty value.
BlobFileLayout WriteBlobFile(const std::string& path, const BlobFileContents& desc);

// Header fields of a block by their byte offset in the header.
enum class BlobHeaderField : int {
  kNext = 0,
  kPrev = 4,
  kUsed = 8,
  kOwner = 12,
  kTotal = 16,
  kField = 20
};

// Overwrites one int32 of an existing file at `byte_offset`.
void PatchInt32(const std::string& path, int64_t byte_offset, int32_t value);
// Overwrites one header field of the block at `block_offset`.
void PatchBlobHeader(const std::string& path, int32_t block_offset, BlobHeaderField field,
                     int32_t value);
// Sets the free head in block 0.
void PatchFreeHead(const std::string& path, int32_t offset);

}  // namespace logvane::tools
