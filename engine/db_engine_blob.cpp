// The engine's side of the blob file: pointing a record at a value the
// blob file moved, and telling it where a record's value is.
#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"

namespace logvane {

bool TmtbDBEng::IsBlobField(int field) const {
  return field >= 0 && field < def_.FieldCount() && IsBlobType(def_.Field(field).type_code);
}

void TmtbDBEng::SetBlobReference(int32_t record, int field, int32_t reference) {
  if (!IsBlobField(field)) throw EBlobError(msg::kBlobError);
  uint8_t* image = PinRecord(record);
  try {
    image[field] = reference < 0 ? 0 : 1;
    PutInt32(image + def_.Field(field).offset, reference < 0 ? 0 : reference);
    WriteRecord(image, record);
  } catch (...) {
    UnpinRecord(record);
    throw;
  }
  UnpinRecord(record);
}

// A free record refers to nothing; any other failure to read the record is
// raised, so that the caller never takes an unreadable record for one
// without a value.
int32_t TmtbDBEng::BlobReference(int32_t record, int field) {
  if (!IsBlobField(field) || record < 0 || record >= CheckDataFileSize()) return -1;
  uint8_t* image = WorkBuffer(kScratch);
  image[0] = 0;
  try {
    ReadRecord(image, record);
  } catch (const EDedaZiRecMgrError&) {
    if (image[0] == kFreeRecordMarker) return -1;
    throw;
  }
  return image[field] == 1 ? GetInt32(image + def_.Field(field).offset) : -1;
}

}  // namespace logvane
