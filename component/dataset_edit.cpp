// The dataset framework's edit cycle: Edit, Insert, Append, Post, Cancel,
// Delete, the browse-mode rule, field values set through the field objects,
// and the checks every field passes before a record is written.
//
// THE NEW RECORD'S BUFFER. Insert takes the spare slot of the ring into the
// active slot (the records from there on shift one slot on; when the window
// is full its last record leaves it). Append empties the ring, goes to the
// last record, fetches up to BufferCount() - 1 records before it and puts
// the new record after them. Either way the subclass prepares the buffer
// (InitNewRecord) before the ring changes, so a failure there leaves the
// ring as it was.
//
// AFTER A CHANGE. Post, Cancel and Delete refill the ring around the record
// the subclass's cursor then stands on: the written record, the record the
// cursor returned to, or the record that took the deleted one's place. When
// that record is gone from the order (a filter rejects it) its next or prior
// neighbour is taken; with none the dataset is empty.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/dataset.h"

namespace logvane {

namespace {

bool Editing(TDataSetState state) { return state == dsEdit || state == dsInsert; }

}  // namespace

void TDataSet::CheckCanModify() {
  if (!ModifyAllowed()) throw EDatabaseError(msg::kReadOnlyDataSet);
}

void TDataSet::CheckOperation(const std::function<void()>& operation,
                              const TDataSetErrorEvent& on_error) {
  for (;;) {
    try {
      operation();
      return;
    } catch (const EDatabaseError& error) {
      TDataAction action = daFail;
      if (on_error) on_error(*this, error, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (!Editing(state_)) return;
  if (modified_)
    Post();
  else
    Cancel();
}

// ---- Edit ---------------------------------------------------------------------

void TDataSet::Edit() {
  if (Editing(state_)) return;
  CheckActive();
  if (IsEmpty()) {
    Insert();
    return;
  }
  CheckCanModify();
  Notify(BeforeEdit);
  CheckOperation(
      [this] {
        UpdateCursorPos();
        BeginRecordEdit();
      },
      OnEditError);
  state_ = dsEdit;
  modified_ = false;
  Notify(AfterEdit);
}

// ---- Insert and Append ----------------------------------------------------------

void TDataSet::BeginInsertAppend() {
  CheckActive();
  CheckBrowseMode();
  CheckCanModify();
  Notify(BeforeInsert);
  Notify(BeforeScroll);
}

void TDataSet::StartInsert() {
  TRecordBuffer fresh = buffers_[static_cast<size_t>(record_count_)];
  InitNewRecord(fresh);
  WriteBookmarkFlag(fresh, bfInserted);
  MoveBuffer(record_count_, active_record_);
  if (record_count_ < buffer_count_) ++record_count_;
  // The slots moved: where the subclass's cursor stands is no longer known
  // by slot.
  current_record_ = -1;
  bof_ = eof_ = false;
}

void TDataSet::StartAppend() {
  ClearBuffers();
  GoLast();
  while (record_count_ < buffer_count_ - 1 && GetPriorRecord()) {
  }
  TRecordBuffer fresh = buffers_[static_cast<size_t>(record_count_)];
  try {
    InitNewRecord(fresh);
  } catch (...) {
    ResyncAfterChange();
    throw;
  }
  WriteBookmarkFlag(fresh, bfEOF);
  active_record_ = record_count_++;
  current_record_ = -1;
  bof_ = eof_ = false;
}

void TDataSet::EndInsertAppend() {
  state_ = dsInsert;
  modified_ = false;
  try {
    Notify(OnNewRecord);
  } catch (...) {
    try {
      Cancel();
    } catch (...) {
      // The event's error is the one to report.
    }
    throw;
  }
  modified_ = false;
  Notify(AfterInsert);
  Notify(AfterScroll);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  StartInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  StartAppend();
  EndInsertAppend();
}

// ---- Post and Cancel --------------------------------------------------------------

void TDataSet::CheckFieldValues() {
  for (const auto& field : fields_) {
    if (field->FieldNo() < 1) continue;
    if (field->Required() && !field->ReadOnly() && field->IsNull()) {
      throw EDatabaseError(FormatMessage(msg::kFieldRequired, {field->DisplayName()}));
    }
    field->CheckRange();
  }
}

void TDataSet::Post() {
  CheckActive();
  if (!Editing(state_)) return;
  Notify(BeforePost);
  CheckOperation(
      [this] {
        CheckFieldValues();
        PostBuffer();
      },
      OnPostError);
  state_ = dsBrowse;
  modified_ = false;
  ResyncAfterChange();
  Notify(AfterPost);
}

void TDataSet::Cancel() {
  if (!Editing(state_)) return;
  Notify(BeforeCancel);
  try {
    CancelEdit();
  } catch (...) {
    state_ = dsBrowse;
    modified_ = false;
    try {
      ResyncAfterChange();
    } catch (...) {
      // The cancel's own error is the one to report.
    }
    throw;
  }
  state_ = dsBrowse;
  modified_ = false;
  ResyncAfterChange();
  Notify(AfterCancel);
}

// ---- Delete --------------------------------------------------------------------------

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) throw EDatabaseError(msg::kDataSetEmpty);
  CheckCanModify();
  Notify(BeforeDelete);
  Notify(BeforeScroll);
  CheckOperation(
      [this] {
        UpdateCursorPos();
        DeleteCurrent();
      },
      OnDeleteError);
  state_ = dsBrowse;
  modified_ = false;
  ResyncAfterChange();
  Notify(AfterDelete);
  Notify(AfterScroll);
}

// ---- Records added whole ---------------------------------------------------------------

void TDataSet::AddRecord(const std::vector<TVariant>& values, bool append) {
  append ? Append() : Insert();
  try {
    const size_t n = std::min(values.size(), fields_.size());
    for (size_t i = 0; i < n; ++i) {
      if (!values[i].IsEmpty()) fields_[i]->SetAsVariant(values[i]);
    }
    Notify(BeforePost);
    CheckOperation(
        [&] {
          CheckFieldValues();
          AddFromBuffer(ActiveBuffer(), append);
        },
        OnPostError);
  } catch (...) {
    try {
      Cancel();
    } catch (...) {
      // The add's own error is the one to report.
    }
    throw;
  }
  state_ = dsBrowse;
  modified_ = false;
  ResyncAfterChange();
  Notify(AfterPost);
}

void TDataSet::InsertRecord(const std::vector<TVariant>& values) { AddRecord(values, false); }

void TDataSet::AppendRecord(const std::vector<TVariant>& values) { AddRecord(values, true); }

// ---- Field values ------------------------------------------------------------------------

void TDataSet::SetFieldData(TField& field, const void* source) {
  switch (state_) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue: break;
    default: throw EDatabaseError(msg::kNotEditing);
  }
  if (field.ReadOnly() && state_ != dsSetKey && state_ != dsFilter) {
    throw EDatabaseError(FormatMessage(msg::kFieldCannotBeModified, {field.DisplayName()}));
  }
  StoreFieldValue(field, source);
}

void TDataSet::PostBuffer() { throw EDatabaseError(msg::kReadOnlyDataSet); }

void TDataSet::AddFromBuffer(TRecordBuffer /*buffer*/, bool /*append*/) {
  throw EDatabaseError(msg::kReadOnlyDataSet);
}

void TDataSet::DeleteCurrent() { throw EDatabaseError(msg::kReadOnlyDataSet); }

void TDataSet::StoreFieldValue(const TField& /*field*/, const void* /*source*/) {
  throw EDatabaseError(msg::kNotEditing);
}

void TDataSet::FieldChanged(const TField& field) {
  if (Editing(state_)) modified_ = true;
  // The dataset owns its fields; handlers receive them as they were made.
  if (field.OnChange) field.OnChange(const_cast<TField&>(field));
}

}  // namespace logvane
