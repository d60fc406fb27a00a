// The blob-value holders of an open table: one TBlob per blob field of its
// definition (type codes E, G, L, M), in field order, built when the table
// is opened and dropped when it is closed. The blob file is the table's, or
// null when the table has none.
//
// Besides loading, the holders carry a record's blob values to and from the
// file for the record write path: the changed holders are stored before a
// record is written, and a deleted record's values are freed. Both check
// that every value they are about to change belongs to the record (owner)
// and is a whole chain before they change any of them, so a record whose
// slot names another record's value, or a damaged value, is refused with
// EBlobError instead of rewriting or freeing what is not the record's.
#pragma once

#include <cstdint>
#include <vector>

#include "blob/blob.h"
#include "blob/blob_file.h"
#include "table/table_definition.h"

namespace logvane {

// The requests the table component makes on a holder.
enum class TBlobRequest : int { kLoad = 0, kRead = 1, kWrite = 2, kTruncate = 3, kSize = 4 };

class TBlobHolders {
 public:
  // One holder, not loaded, per blob field of `def`; holders exist whether
  // or not the table has a blob file.
  void Build(const TmtbTableDef& def);
  void Clear() { holders_.clear(); }

  size_t Count() const { return holders_.size(); }
  // REQUIRES: i < Count().
  TBlob& At(size_t i) { return holders_[i]; }
  const TBlob& At(size_t i) const { return holders_[i]; }
  // The holder of `field`, or null when the field has none.
  TBlob* Find(int field);

  // The holder of `field`, loaded with that field's value in record `record`
  // whose image is `image`. A holder already loaded for `record` is returned
  // as it is, unsaved changes included, without reading the file. A field
  // whose null flag is not 1 loads as an empty stream. Returns null, loading
  // nothing, when `blob_file` is null or closed or `field` has no holder.
  // Raises EBlobError when the value's first block names another owner or
  // the value is damaged; the holder is then not loaded.
  // REQUIRES: `image` is a record image of `def` (RecordLength() bytes) and
  // `def` is the definition the holders were built from.
  TBlob* Load(TBlobFile* blob_file, const TmtbTableDef& def, int field, const uint8_t* image,
              int32_t record);

  // Marks every holder not loaded (record -1), dropping unsaved changes.
  void Reset();

  // Writes every changed holder's stream into the blob file for record
  // `record` about to be written from `image`, and makes each unchanged:
  // - the field has a value (null flag 1): an empty stream frees it and
  //   clears the slot and the flag; otherwise the value is rewritten in
  //   place, so the slot stays valid;
  // - it has none: a stream that is not empty becomes a new value owned by
  //   `record`, whose first block goes into the slot with null flag 1.
  // Returns the number of slots changed in `image`; the caller writes the
  // record again when it is not 0. Does nothing without an open blob file.
  // REQUIRES: `image` is a record image of the definition the holders were
  // built from.
  int StoreChangedHolders(TBlobFile* blob_file, const TmtbTableDef& def, int32_t record,
                          uint8_t* image);
  // Frees the values of the deleted record `record`, whose image is `image`:
  // those of the blob fields whose null flag is 1.
  void FreeRecordValues(TBlobFile* blob_file, const TmtbTableDef& def, int32_t record,
                        const uint8_t* image);

  // The table component's requests. kLoad loads and returns the holder of
  // `field` for `record` whose image is `image` (see Load). The others act
  // on `holder`, which must be one of these holders, at `position`: kRead
  // copies up to `count` bytes of the stream into `data`, kWrite writes
  // `count` bytes from `data` (the holder becomes changed), kTruncate
  // empties the stream (changed), kSize measures it; `*result` (when not
  // null) receives the byte count or the size, and a negative count (or no
  // data) moves nothing. Returns the holder; null, doing nothing, without an open blob
  // file or for a holder that is not one of these.
  TBlob* Request(TBlobRequest request, TBlobFile* blob_file, const TmtbTableDef& def, int field,
                 const uint8_t* image, int32_t record, void* data, TBlob* holder, int64_t count,
                 int64_t position, int64_t* result);

 private:
  std::vector<TBlob> holders_;
};

}  // namespace logvane
