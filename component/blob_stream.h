// TBlobStream: a stream over one blob field's value in the record that the
// table cursor's state designates (the active record while browsing). The
// value comes from the field's blob holder, loaded for that record: the
// record number is the first int32 of the buffer's bookmark.
//
// Reading only: the write modes are refused, as they belong to editing and
// inserting, which the component does not offer.
//
// A stream made without a record buffer (an empty table) is detached: it
// reads nothing and answers 0 to every seek. A stream also detaches, rather
// than read another record's value or freed memory, once its table closes
// or its field's holder moves to another record (the cursor moved on).
#pragma once

#include <cstdint>

#include "blob/blob.h"
#include "component/stream.h"

namespace logvane {

class TDaroVivuv;
class TField;

class TBlobStream : public TStream {
 public:
  // Raises EDatabaseError "Unable to access blob fields in filter mode"
  // while the cursor filters; "Blob data cannot be accessed" when the field
  // has no holder (no blob file, or not a blob field); for bmWrite and
  // bmReadWrite "Field '<name>' cannot be modified" for a read-only field,
  // else "Dataset not in edit or insert mode". Raises EBlobError ("Internal
  // error in blob access") when the stored value is damaged.
  TBlobStream(TDaroVivuv& owner, const TField& field, TBlobStreamMode mode);

  int64_t Read(void* buffer, int64_t count) override;
  // Writes nothing and answers 0: writing arrives with the edit cycle.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  bool Attached() const;

  TDaroVivuv& owner_;
  int field_ = -1;  // table field number, from 0
  int32_t record_ = -1;
  TBlob* holder_ = nullptr;
  uint64_t serial_ = 0;
  int64_t position_ = 0;
};

}  // namespace logvane
