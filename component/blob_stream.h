// TBlobStream: a stream over one blob field's value in the record that the
// table cursor's state designates (the active record while browsing,
// editing or inserting). The value lives in the field's blob holder, loaded
// for that record: the record number is the first int32 of the buffer's
// bookmark (-1 for a record being inserted).
//
// Modes: bmRead reads the value; bmWrite starts from an empty value;
// bmReadWrite starts from the value as it is. Writing changes the holder
// only: the engine stores the value in the blob file when the record is
// posted, and a cancel drops it. Closing (destroying) a stream that wrote
// tells the dataset that the field changed, which marks the record
// modified; close it before the cursor moves.
//
// A stream made without a record buffer (browsing an empty table) is
// detached: it reads and writes nothing and answers 0 to every seek. A
// stream also detaches, rather than touch another record's value or freed
// memory, once its table closes or its field's holder moves to another
// record (the cursor moved on).
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
  // while the cursor filters; for bmWrite and bmReadWrite "Field '<name>'
  // cannot be modified" for a read-only field, else "Dataset not in edit or
  // insert mode" unless the cursor edits or inserts a record; "Blob data
  // cannot be accessed" when the field has no holder (no blob file, or not
  // a blob field). Raises EBlobError ("Internal error in blob access") when
  // the stored value is damaged.
  TBlobStream(TDaroVivuv& owner, const TField& field, TBlobStreamMode mode);
  ~TBlobStream() override;
  TBlobStream(const TBlobStream&) = delete;
  TBlobStream& operator=(const TBlobStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  // Writes at the position, growing the value; nothing in bmRead.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  bool Attached() const;

  TDaroVivuv& owner_;
  const TField& field_object_;
  TBlobStreamMode mode_;
  int field_ = -1;  // table field number, from 0
  int32_t record_ = -1;
  TBlob* holder_ = nullptr;
  uint64_t serial_ = 0;
  int64_t position_ = 0;
  bool written_ = false;
};

}  // namespace logvane
