// The engine's steps over the blob-value holders of an open table. The
// holders live in the table definition (one per blob field, in field order);
// the blob file is the table's, or null when the table has none.
#pragma once

#include <cstdint>
#include <vector>

#include "blob/blob.h"
#include "blob/blob_file.h"
#include "engine/table_definition.h"

namespace logvane {

// The holder of `field`, loaded with that field's value in record `record`
// whose image is `image`. A holder already loaded for `record` is returned
// as it is, unsaved changes included, without reading the file. A field
// whose null flag is not 1 loads as an empty stream. Returns null, loading
// nothing, when `blob_file` is null or closed or `field` has no holder.
// Raises EBlobError when the value's first block names another owner or the
// value is damaged; the holder is then not loaded.
// REQUIRES: `image` is a record image of `def` (RecordLength() bytes).
TBlob* LoadHolder(TBlobFile* blob_file, TmtbTableDef& def, int field, const uint8_t* image,
                  int32_t record);

// Marks every holder not loaded (record -1), dropping unsaved changes.
void ResetHolders(std::vector<TBlob>& holders);

}  // namespace logvane
