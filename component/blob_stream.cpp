#include "component/blob_stream.h"

#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/daro_vivuv.h"

namespace logvane {

TBlobStream::TBlobStream(TDaroVivuv& owner, const TField& field, TBlobStreamMode mode)
    : owner_(owner), field_object_(field), mode_(mode), field_(field.FieldNo() - 1) {
  if (owner.State() == dsFilter) throw EDatabaseError(msg::kBlobInFilterMode);
  if (mode != bmRead) {
    if (field.ReadOnly()) {
      throw EDatabaseError(FormatMessage(msg::kFieldCannotBeModified, {field.DisplayName()}));
    }
    if (owner.State() != dsEdit && owner.State() != dsInsert) {
      throw EDatabaseError(msg::kNotEditing);
    }
  }
  TRecordBuffer buffer = owner.BufferForState();
  if (buffer == nullptr || field_ < 0) return;  // detached
  record_ = owner.BufferRecordNumber(buffer);
  holder_ = owner.LoadBlobHolder(field_, buffer, record_);
  if (holder_ == nullptr) throw EDatabaseError(msg::kBlobDataInaccessible);
  serial_ = owner.open_serial_;
  if (mode == bmWrite) {
    owner_.iface_.BlobAccess(TBlobOperation::kTruncate, field_, nullptr, -1, nullptr, holder_, 0, 0,
                             nullptr);
    written_ = true;
  }
}

TBlobStream::~TBlobStream() {
  if (!written_ || serial_ != owner_.open_serial_) return;
  try {
    owner_.FieldChanged(field_object_);
  } catch (const std::exception& e) {
    owner_.HandleError(e);
  }
}

bool TBlobStream::Attached() const {
  // The serial is checked first: once the table closed, the holder is gone.
  return holder_ != nullptr && serial_ == owner_.open_serial_ && holder_->IsLoaded() &&
         holder_->RecordNumber() == record_;
}

int64_t TBlobStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || !Attached()) return 0;
  int64_t got = 0;
  owner_.iface_.BlobAccess(TBlobOperation::kRead, field_, nullptr, -1, buffer, holder_, count,
                           position_, &got);
  if (got > 0) position_ += got;
  return got > 0 ? got : 0;
}

int64_t TBlobStream::Write(const void* buffer, int64_t count) {
  if (mode_ == bmRead || count <= 0 || !Attached()) return 0;
  int64_t put = 0;
  owner_.iface_.BlobAccess(TBlobOperation::kWrite, field_, nullptr, -1, const_cast<void*>(buffer),
                           holder_, count, position_, &put);
  if (put > 0) position_ += put;
  written_ = true;
  return put > 0 ? put : 0;
}

int64_t TBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (!Attached()) return 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent:
      if (__builtin_add_overflow(position_, offset, &position_)) position_ = INT64_MAX;
      break;
    case TSeekOrigin::soEnd: {
      int64_t size = 0;
      owner_.iface_.BlobAccess(TBlobOperation::kSize, field_, nullptr, -1, nullptr, holder_, 0, 0,
                               &size);
      if (__builtin_add_overflow(size, offset, &position_)) position_ = INT64_MAX;
      break;
    }
  }
  return position_;
}

}  // namespace logvane
