// The blob-value holder: one per blob field of a table (type codes E, G, L,
// M), created when the definition is read and freed at close. It caches the
// value of its field for one record at a time as an in-memory byte stream,
// so that a field read many times for the same record reads the blob file
// once (TBlobHolders::Load, blob_holders.h).
//
// State: 0 not loaded (record -1, stream empty); 1 loaded and unchanged;
// 2 changed since loading (written or truncated through the stream). The
// stream's storage is kept across records, so loading a value no larger than
// an earlier one allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace logvane {

class TBlobFile;

enum TBlobState : int { kBlobNotLoaded = 0, kBlobLoaded = 1, kBlobChanged = 2 };

class TBlob {
 public:
  explicit TBlob(int field_number) : field_number_(field_number) {}

  int FieldNumber() const { return field_number_; }
  int32_t RecordNumber() const { return record_; }
  int State() const { return state_; }
  bool IsLoaded() const { return state_ != kBlobNotLoaded; }

  // The stream: byte positions from the start of the value.
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  const std::vector<uint8_t>& Data() const { return data_; }
  // Copies up to `count` bytes from `position` into `dest`; returns how many
  // (0 at or past the end, and for a negative position).
  size_t ReadAt(int64_t position, void* dest, size_t count) const;
  // Writes `count` bytes at `position`, growing the stream (a gap reads as
  // zeros); the state becomes changed. Returns the bytes written: 0 for a
  // negative position, fewer than `count` where the value would grow past
  // the largest size a block header can record.
  size_t WriteAt(int64_t position, const void* src, size_t count);
  // Empties the stream; the state becomes changed.
  void Truncate();

  // Replaces the stream with the value whose first block is at
  // `first_block`, which must be owned by `record`, and marks the holder
  // loaded for `record`. Raises EBlobError ("Internal error in blob access")
  // for another owner or a damaged value, leaving the holder not loaded.
  void LoadValue(TBlobFile& file, int32_t first_block, int32_t record);
  // An empty stream, loaded for `record` (the record has no value).
  void LoadEmpty(int32_t record);
  // Not loaded, record -1, stream emptied; an unsaved change is dropped.
  void Reset();
  // The stream has been written to the blob file: loaded and unchanged.
  void MarkStored() { state_ = kBlobLoaded; }

 private:
  int field_number_;
  int32_t record_ = -1;
  int state_ = kBlobNotLoaded;
  std::vector<uint8_t> data_;
};

}  // namespace logvane
