// The blob-value holders of an open table: one TBlob per blob field of its
// definition (type codes E, G, L, M), in field order, built when the table
// is opened and dropped when it is closed. The blob file is the table's, or
// null when the table has none.
#pragma once

#include <cstdint>
#include <vector>

#include "blob/blob.h"
#include "blob/blob_file.h"
#include "table/table_definition.h"

namespace logvane {

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

 private:
  std::vector<TBlob> holders_;
};

}  // namespace logvane
