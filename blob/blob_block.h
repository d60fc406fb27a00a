// The blob file (.blb): the on-disk layout of its blocks.
//
// The file is a sequence of blocks of B bytes; block k starts at byte k * B.
// B is read from the file. Blocks are always named by their byte offset.
// All integers are int32 little-endian.
//
// Block 0, the file header:
//   0   B, the block size in bytes
//   4   offset of the first free block; any value <= 0 means none
//   8   B - 8 bytes not interpreted (zero in an emptied file)
//
// Every other block: a 24-byte header, then P = B - 24 payload bytes.
//
//   offset  block of a value chain                    free block
//   0       next block of the chain, -1 in the last   -1
//   4       previous block, -1 in the first            -1
//   8       payload bytes used, 0..P                   -1 (marks the block free)
//   12      owner record number in the first block,   -1
//           -1 in the others
//   16      total size of the value (every block)      next free block, -1 last
//   20      owning field number, 0-based (every block) -1
//   24      payload; after the used bytes of the       not meaningful
//           last block, zeros
//
// Invariants of a well-formed file:
//  (1) A value is the concatenation of the used payload bytes along the next
//      links; its length is the total size. Every block but the last is full.
//      A value of length 0 is never stored.
//  (2) A record refers to a value by the offset of its first block, held in
//      the field's slot while the field's null flag is 1.
//  (3) Free blocks form a singly linked chain through the field at 16,
//      starting at the head in block 0, in ascending offset order.
//  (4) Every block offset is a multiple of B, at least B, and leaves a whole
//      block before the end of the file.
#pragma once

#include <cstdint>

#include "base/byte_order.h"

namespace logvane {

inline constexpr int kBlobHeaderSize = 24;
inline constexpr int kBlobFreeHeadOffset = 4;
// The free list holds at least this many blocks before a writer takes one.
inline constexpr int kBlobReserveBlocks = 5;
// A free chain longer than this at open means a damaged file.
inline constexpr int kBlobMaxFreeAtOpen = 10;

// The 24-byte header of a block other than block 0.
struct TBlobBlockHeader {
  int32_t next = -1;
  int32_t prev = -1;
  int32_t used = -1;
  int32_t owner = -1;
  int32_t total = -1;  // in a free block: the next free block
  int32_t field = -1;

  bool IsFree() const { return used < 0; }
  int32_t NextFree() const { return total; }

  // A free block's header: everything -1 except the link to `next_free`.
  static TBlobBlockHeader Free(int32_t next_free) {
    TBlobBlockHeader h;
    h.total = next_free;
    return h;
  }

  void Decode(const uint8_t* p) {
    next = GetInt32(p);
    prev = GetInt32(p + 4);
    used = GetInt32(p + 8);
    owner = GetInt32(p + 12);
    total = GetInt32(p + 16);
    field = GetInt32(p + 20);
  }

  void Encode(uint8_t* p) const {
    PutInt32(p, next);
    PutInt32(p + 4, prev);
    PutInt32(p + 8, used);
    PutInt32(p + 12, owner);
    PutInt32(p + 16, total);
    PutInt32(p + 20, field);
  }
};

}  // namespace logvane
