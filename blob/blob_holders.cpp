// The blob-value holders of an open table.
#include "blob/blob_holders.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"

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

namespace {

// The value a record's slot names must be the record's own and whole
// before anything changes it.
void CheckOwnValue(TBlobFile& file, int32_t first_block, int32_t record) {
  if (file.ReadValueHeader(first_block).owner != record) throw EBlobError(msg::kBlobError);
  file.ValueChain(first_block);
}

}  // namespace

int TBlobHolders::StoreChangedHolders(TBlobFile* blob_file, const TmtbTableDef& def, int32_t record,
                                      uint8_t* image) {
  if (blob_file == nullptr || !blob_file->IsOpen()) return 0;
  for (const TBlob& h : holders_)
    if (h.State() == kBlobChanged && image[h.FieldNumber()] == 1)
      CheckOwnValue(*blob_file, GetInt32(image + def.Field(h.FieldNumber()).offset), record);

  int changed = 0;
  for (TBlob& h : holders_) {
    if (h.State() != kBlobChanged) continue;
    const int field = h.FieldNumber();
    uint8_t* slot = image + def.Field(field).offset;
    const auto size = static_cast<int32_t>(h.Size());
    if (image[field] == 1) {
      const int32_t first = GetInt32(slot);
      if (size == 0) {
        blob_file->FreeValue(first);
        PutInt32(slot, 0);
        image[field] = 0;
        ++changed;
      } else if (blob_file->RewriteValue(first, size, h.Data().data()) != first) {
        throw EBlobError(msg::kBlobError);
      }
    } else if (size > 0) {
      PutInt32(slot, blob_file->WriteNewValue(size, size, record, field, -1, h.Data().data()));
      image[field] = 1;
      ++changed;
    }
    h.MarkStored();
  }
  return changed;
}

void TBlobHolders::FreeRecordValues(TBlobFile* blob_file, const TmtbTableDef& def, int32_t record,
                                    const uint8_t* image) {
  if (blob_file == nullptr || !blob_file->IsOpen()) return;
  for (const TBlob& h : holders_)
    if (image[h.FieldNumber()] == 1)
      CheckOwnValue(*blob_file, GetInt32(image + def.Field(h.FieldNumber()).offset), record);
  for (const TBlob& h : holders_)
    if (image[h.FieldNumber()] == 1)
      blob_file->FreeValue(GetInt32(image + def.Field(h.FieldNumber()).offset));
}

TBlob* TBlobHolders::Request(TBlobRequest request, TBlobFile* blob_file, const TmtbTableDef& def,
                             int field, const uint8_t* image, int32_t record, void* data,
                             TBlob* holder, int64_t count, int64_t position, int64_t* result) {
  if (blob_file == nullptr || !blob_file->IsOpen()) return nullptr;
  if (request == TBlobRequest::kLoad) return Load(blob_file, def, field, image, record);
  const bool ours = std::any_of(holders_.begin(), holders_.end(),
                                [holder](const TBlob& h) { return &h == holder; });
  if (!ours) return nullptr;
  const size_t n = count > 0 && data != nullptr ? static_cast<size_t>(count) : 0;
  int64_t r = 0;
  switch (request) {
    case TBlobRequest::kRead: r = static_cast<int64_t>(holder->ReadAt(position, data, n)); break;
    case TBlobRequest::kWrite: r = static_cast<int64_t>(holder->WriteAt(position, data, n)); break;
    case TBlobRequest::kTruncate: holder->Truncate(); break;
    case TBlobRequest::kSize: r = holder->Size(); break;
    case TBlobRequest::kLoad: break;
  }
  if (result != nullptr) *result = r;
  return holder;
}

}  // namespace logvane
