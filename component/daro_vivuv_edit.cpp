// The table cursor's edit cycle: the slots through which the dataset
// framework edits, inserts, posts, cancels and deletes records, stores field
// values and sets up new records, and the care that keeps a blob value
// written for a record until that record is posted or cancelled.
#include <cstring>
#include <exception>

#include "base/errors.h"
#include "component/blob_stream.h"
#include "component/component_messages.h"
#include "component/daro_vivuv.h"
#include "component/field_mapping.h"
#include "table/table_definition.h"

namespace logvane {

namespace {

bool Editing(TDataSetState state) { return state == dsEdit || state == dsInsert; }

}  // namespace

bool TDaroVivuv::ModifyAllowed() {
  const int position = ActivePosition();
  if (position > 0) remembered_position_ = position;
  return writable_ && !read_only_;
}

void TDaroVivuv::BeginRecordEdit() {
  uint8_t* info = Info(ActiveBuffer());
  if (info[kEditStateAt] != 0) throw EDatabaseError(msg::kRecordLocked);
  // The edit starts from the record as stored, blob values included.
  iface_.DropBlobChanges();
  info[kEditStateAt] = 1;
}

void TDaroVivuv::CancelEdit() {
  iface_.GotoPosition(remembered_position_);
  iface_.RefreshCurrent();
  // A new record has no current image to re-read; its holders' changes go
  // here.
  iface_.DropBlobChanges();
  if (TRecordBuffer active = ActiveBuffer()) Info(active)[kEditStateAt] = 0;
}

// ---- Writing records ------------------------------------------------------------

// An engine write whose errors reach the program as dataset errors with the
// engine's message, the engine's error nested in it. Blob values written for the record survive a
// refused write (the engine drops its holders' changes when it re-reads its current record), so the
// record can be posted again.
void TDaroVivuv::RunEngineWrite(const std::function<void()>& write) {
  SavePendingBlobs();
  try {
    write();
  } catch (const EDatabaseError&) {
    RestorePendingBlobs();
    throw;
  } catch (const Exception& e) {
    RestorePendingBlobs();
    std::throw_with_nested(EDatabaseError(e.what()));
  }
}

void TDaroVivuv::PostBuffer() {
  TRecordBuffer active = ActiveBuffer();
  iface_.CopyRecordIn(active);
  if (State() == dsEdit)
    RunEngineWrite([this] { iface_.RewriteRecord(); });
  else
    RunEngineWrite([this] { iface_.AddRecordImage(); });
  Info(active)[kEditStateAt] = 0;
}

void TDaroVivuv::AddFromBuffer(TRecordBuffer buffer, bool /*append*/) {
  iface_.CopyRecordIn(buffer);
  RunEngineWrite([this] { iface_.AddRecordImage(); });
}

void TDaroVivuv::DeleteCurrent() {
  RunEngineWrite([this] { iface_.RemoveRecord(); });
  if (TRecordBuffer active = ActiveBuffer()) Info(active)[kEditStateAt] = 2;
}

void TDaroVivuv::InitNewRecord(TRecordBuffer buffer) {
  iface_.ClearRecord(buffer);
  std::memset(buffer + record_length_, 0, static_cast<size_t>(buffer_size_ - record_length_));
  uint8_t* info = Info(buffer);
  PutNative32(info + kPositionAt, -1);
  // No record number yet: blob values written for the new record are held
  // for record -1, never for a record that exists.
  PutNative32(info + kBookmarkAt, -1);
  PutNative32(info + kBookmarkAt + 4, -1);
  for (int i = 0; i < FieldCount(); ++i) {
    const TField& field = Field(i);
    if (field.FieldNo() < 1 || field.FieldNo() > static_cast<int>(slots_.size()) ||
        field.DefaultExpression().empty())
      continue;
    StoreDefaultText(slots_[static_cast<size_t>(field.FieldNo() - 1)], buffer, field,
                     field.DefaultExpression(), FormatSettings());
  }
}

// ---- Field values --------------------------------------------------------------

void TDaroVivuv::StoreFieldValue(const TField& field, const void* source) {
  TRecordBuffer buffer = BufferForState();
  if (buffer == nullptr) throw EDatabaseError(msg::kNotEditing);
  const int n = field.FieldNo() - 1;
  // Calculated and lookup fields do not exist.
  if (n < 0 || n >= static_cast<int>(slots_.size())) return;
  if (State() == dsCalcFields) throw EDatabaseError(msg::kNotEditing);
  const TFieldSlot& slot = slots_[static_cast<size_t>(n)];

  if (IsBlobType(slot.code)) {
    // The slot holds the reference to the value in the blob file; zeroing
    // it would lose the value without freeing it. An emptied holder makes
    // the post free the value and clear the slot.
    if (source == nullptr) {
      TBlobStream clear(*this, field, bmWrite);
    }
    return;
  }

  uint8_t* stored = buffer + slot.offset;
  const auto width = static_cast<size_t>(slot.width);
  if (field.OnValidate) {
    validate_scratch_.resize(width + 1);
    validate_scratch_[0] = buffer[n];
    std::memcpy(validate_scratch_.data() + 1, stored, width);
  }
  StoreTableFieldValue(slot, buffer, field, source);
  if (field.OnValidate) {
    try {
      field.OnValidate(const_cast<TField&>(field));
    } catch (...) {
      buffer[n] = validate_scratch_[0];
      std::memcpy(stored, validate_scratch_.data() + 1, width);
      throw;
    }
  }
  FieldChanged(field);
}

bool TDaroVivuv::BlobFieldHasValue(int field, TRecordBuffer buffer) {
  if (Editing(State())) {
    const TBlob* holder = iface_.FindBlobHolder(field);
    if (holder != nullptr && holder->State() == kBlobChanged &&
        holder->RecordNumber() == BufferRecordNumber(buffer))
      return holder->Size() > 0;
  }
  return buffer[field] != 0;
}

// ---- Blob values kept across engine calls ----------------------------------------

void TDaroVivuv::SavePendingBlobs() {
  if (pending_blobs_.size() != slots_.size()) pending_blobs_.resize(slots_.size());
  for (size_t n = 0; n < slots_.size(); ++n) {
    TPendingBlob& pending = pending_blobs_[n];
    pending.saved = false;
    if (!IsBlobType(slots_[n].code)) continue;
    const TBlob* holder = iface_.FindBlobHolder(static_cast<int>(n));
    if (holder == nullptr || holder->State() != kBlobChanged) continue;
    pending.saved = true;
    pending.field = static_cast<int>(n);
    pending.record = holder->RecordNumber();
    pending.bytes.assign(holder->Data().begin(), holder->Data().end());
  }
}

void TDaroVivuv::RestorePendingBlobs() {
  TRecordBuffer active = ActiveBuffer();
  for (TPendingBlob& pending : pending_blobs_) {
    if (!pending.saved) continue;
    pending.saved = false;
    if (active == nullptr) continue;
    TBlob* holder = LoadBlobHolder(pending.field, active, pending.record);
    if (holder == nullptr) continue;
    int64_t written = 0;
    iface_.BlobAccess(TBlobOperation::kTruncate, pending.field, nullptr, -1, nullptr, holder, 0, 0,
                      nullptr);
    iface_.BlobAccess(TBlobOperation::kWrite, pending.field, nullptr, -1, pending.bytes.data(),
                      holder, static_cast<int64_t>(pending.bytes.size()), 0, &written);
  }
}

}  // namespace logvane
