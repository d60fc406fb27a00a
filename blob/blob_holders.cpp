// The blob-value holders of an open table.
#include "blob/blob_holders.h"

#include "base/byte_order.h"

namespace logvane {

void TBlobHolders::Build(const TmtbTableDef& def) {
  holders_.clear();
  for (int i = 0; i < def.FieldCount(); ++i)
    if (IsBlobType(def.Field(i).type_code)) holders_.emplace_back(i);
}

TBlob* TBlobHolders::Find(int field) {
  for (TBlob& h : holders_)
    if (h.FieldNumber() == field) return &h;
  return nullptr;
}

TBlob* TBlobHolders::Load(TBlobFile* blob_file, const TmtbTableDef& def, int field,
                          const uint8_t* image, int32_t record) {
  if (blob_file == nullptr || !blob_file->IsOpen()) return nullptr;
  TBlob* holder = Find(field);
  if (holder == nullptr) return nullptr;
  if (holder->IsLoaded() && holder->RecordNumber() == record) return holder;

  // Holders exist only for fields of the definition, whose slots the
  // definition reader has checked to lie inside the record.
  if (image[field] == 1)
    holder->LoadValue(*blob_file, GetInt32(image + def.Field(field).offset), record);
  else
    holder->LoadEmpty(record);
  return holder;
}

void TBlobHolders::Reset() {
  for (TBlob& h : holders_) h.Reset();
}

}  // namespace logvane
