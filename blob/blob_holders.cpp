// Loading and resetting the blob-value holders.
#include "blob/blob_holders.h"

#include "engine/byte_order.h"

namespace logvane {

TBlob* LoadHolder(TBlobFile* blob_file, TmtbTableDef& def, int field, const uint8_t* image,
                  int32_t record) {
  if (blob_file == nullptr || !blob_file->IsOpen()) return nullptr;
  TBlob* holder = nullptr;
  for (TBlob& h : def.BlobHolders()) {
    if (h.FieldNumber() == field) {
      holder = &h;
      break;
    }
  }
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

void ResetHolders(std::vector<TBlob>& holders) {
  for (TBlob& h : holders) h.Reset();
}

}  // namespace logvane
