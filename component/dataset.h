// The dataset framework: the generic cursor machinery that a table cursor
// extends. TDataSet keeps the dataset state, a ring of cached record
// buffers around the current record, the begin/end-of-data flags, the field
// definition list and the field objects, the before/after events, and the
// public verbs Open, Close, First, Next, Prior, Last, MoveBy, the bookmark
// verbs, searching and the edit cycle (Edit, Insert, Append, Post, Cancel,
// Delete). Everything that knows the table lives in a subclass, which
// overrides the virtual slots below. (Calculated fields do not exist.)
//
// RECORD BUFFERS. The subclass decides the size and layout of a record
// buffer; the framework only allocates them through NewRecordBuffer, hands
// them to FetchRecord to be filled, and keeps them in its ring. The table
// component lays out each buffer as follows (R = engine record size, K =
// calculated-fields size, CalcFieldsSize(), today always 0):
//
//   offset       width  content
//   0            R      the engine's record image: byte k is the null flag of
//                       table field k+1 (0 = no value); the field values lie
//                       at their offsets from the table definition
//   R            1      spare, zero
//   R+1          K      calculated and lookup field values: per field a
//                       presence byte at the field's offset in this area,
//                       then the value
//   R+1+K        4      position of the record in the current order, int32
//   R+1+K+4      1      edit state: 0 none, 1 locked for editing, 2 deleted
//   R+1+K+5      1      bookmark flag (TBookmarkFlag)
//   R+1+K+6      2      spare
//   R+1+K+8      8      bookmark: the record number twice, two int32
//
// The buffer is R + K + 17 bytes, allocated zero-filled. Bookmarks are 8
// bytes (SetBookmarkSize(8) while opening).
//
// THE RING. buffers_ holds BufferCount() + 1 buffers. Slots
// [0, record_count_) hold consecutive records of the current order, the
// active record (the one whose fields are read) among them; the slot at
// index record_count_ receives the next fetch. Moving past the last cached
// record fetches into that slot and, when the window is full, rotates the
// oldest buffer out of the window (pointers move, no copying). The
// subclass's cursor stands on the record of slot current_record_ (-1: not
// known); before fetching the next or prior record the framework puts it
// back on the last or first cached record with SyncToBuffer.
//
// SLOTS TO OVERRIDE (named as the table component's operations):
//   NewRecordBuffer / DropRecordBuffer   allocate a zero-filled buffer of
//                                        the full size / release it
//   RecordBufferSize                     the engine record size R
//   OpenTableCursor                      open, build the field definitions
//                                        (BuildFieldDefs), create default
//                                        fields (DefaultFields/CreateFields),
//                                        BindFields(true), SetBookmarkSize;
//                                        leave the cursor so that the next
//                                        gmNext fetch yields the first record
//   CloseTableCursor                     BindFields(false), DestroyFields
//                                        when DefaultFields, close the table
//   CursorActive                         whether the table is open
//   BuildFieldDefs                       fill FieldDefsForUpdate()
//   GoFirst / GoLast                     place the cursor so that the next
//                                        gmNext / gmPrior fetch yields the
//                                        first / last record
//   FetchRecord                          fetch the current, next or prior
//                                        record into a buffer (there are no
//                                        calculated fields to compute yet)
//   SyncToBuffer                         put the cursor on a buffer's record
//   FetchFieldValue                      a field's value in dataset form
//                                        (fields.h) from the buffer the
//                                        state designates; a date-time via
//                                        StoredDaysToMillis (date_time.h),
//                                        and 0 where that fails, which the
//                                        text form reports as damaged
//   ReadBookmark / WriteBookmark         the buffer's 8 bookmark bytes
//   ReadBookmarkFlag / WriteBookmarkFlag the buffer's bookmark-flag byte
//   ReachBookmark                        put the cursor on a bookmarked record
//   OpenBlobStream                       a stream over a blob field's value
// and, where the defaults do not fit:
//   RecordCountInOrder (default -1), ActivePosition (-1),
//   SetActivePosition (ignored), BookmarkAlive (false), BookmarkOrder (0),
//   CurrentRecordCopy (false), SequencedOrder (true), FindMatching,
//   LocateValues and LookupValues (nothing found).
// The edit cycle's slots (defaults: a dataset that cannot be changed):
//   ModifyAllowed      whether the dataset may be changed (false)
//   BeginRecordEdit    lock the active record for editing; the cursor
//                      stands on it
//   CancelEdit         drop the changes of the record being edited or
//                      inserted
//   InitNewRecord      prepare a new record buffer (defaults)
//   PostBuffer         write the active buffer: rewrite the record while
//                      editing, add it while inserting
//   AddFromBuffer      add the record in a buffer (InsertRecord and
//                      AppendRecord)
//   DeleteCurrent      delete the active record; the cursor stands on it
//   StoreFieldValue    write one field's value in dataset form (nullptr: no
//                      value) into the buffer the state designates, then
//                      call FieldChanged
// The table component must call Close() in its own destructor: the base
// destructor can no longer reach the subclass's slots.
// READING IN PLACE. A subclass whose record buffers start with the stored
// record image may hand each field the place of its value (ReadInPlace);
// while browsing, the field then decodes the active buffer itself instead
// of calling FetchFieldValue or FetchText, which must agree with it.
// Which buffer holds the values a field reads depends on State(): the
// active buffer (ActiveBuffer(), nullptr while no record is cached) when
// browsing; TempBuffer() is the spare slot, free for copies between
// fetches (the old-value buffer).
//
// Every verb runs on the caller's thread; nothing here is shared.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "component/field_defs.h"
#include "component/fields.h"
#include "component/format_settings.h"
#include "component/stream.h"
#include "filter/variant.h"

namespace logvane {

enum TDataSetState {
  dsInactive,
  dsOpening,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

using TRecordBuffer = uint8_t*;
// Bookmark bytes; empty means no bookmark.
using TBookmark = std::vector<uint8_t>;
using TDataSetNotifyEvent = std::function<void(class TDataSet&)>;
// The record-filter event: asked about each record while filtering, with
// the record's fields readable; clearing `accept` leaves the record out.
using TFilterRecordEvent = std::function<void(class TDataSet&, bool& accept)>;
// The application's error handler: errors that must not stop the work in
// hand (a record filter that fails on one record) are handed to it.
using TErrorHandler = std::function<void(const std::exception&)>;

// What an error event of the edit cycle decides: raise the error, raise
// EAbort instead (a silent stop), or try the operation again.
enum TDataAction { daFail, daAbort, daRetry };
// An error event: sees the error of Edit, Post or Delete and decides.
using TDataSetErrorEvent =
    std::function<void(class TDataSet&, const EDatabaseError&, TDataAction&)>;

// The silent stop an error event asks for with daAbort.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// Options of Locate and Lookup, a set of bits: letter case ignored; the
// last key field's text matches as a prefix.
enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = uint8_t;

class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // The name messages put first ("LogTabl: Field 'Call' not found").
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // The regional settings of this dataset's text forms.
  const TFormatSettings& FormatSettings() const { return format_settings_; }
  void SetFormatSettings(const TFormatSettings& settings) { format_settings_ = settings; }

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }

  // Opens the cursor and reads the first records. An error leaves the
  // dataset closed, with everything the open acquired released.
  void Open();
  // Closes the cursor; ends closed even when the subclass's close fails
  // (which is then raised).
  void Close();
  void SetActive(bool active) { active ? Open() : Close(); }

  // Cached records kept around the current one (at least 1). Only while
  // closed; raises "Cannot perform this operation on an open dataset".
  void SetBufferCount(int count);
  int BufferCount() const { return buffer_count_; }

  // Navigation. Each raises "Cannot perform this operation on a closed
  // dataset" while closed.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves `distance` records; returns the distance moved. Sets Eof when a
  // forward move runs out of records, Bof likewise backward; the current
  // record then stays.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }

  // Records in the current order (slot RecordCountInOrder); -1 if unknown.
  int RecordCount();
  // Position of the current record, from 1 (slot ActivePosition).
  int RecNo();
  void SetRecNo(int position);

  // Searching. The Find verbs go to the first, last, next or prior record
  // that passes the filter (the filter text and the record-filter event,
  // whether or not Filtered is set) and answer whether they found one;
  // when not, the current record stays.
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  // Goes to the first record whose fields named in `key_fields` (joined by
  // ";") hold `key_values`, one value per field (a null value stands for a
  // field without a value); answers whether one was found, else the current
  // record stays. Raises std::invalid_argument when the counts differ.
  bool Locate(std::string_view key_fields, const std::vector<TVariant>& key_values,
              TLocateOptions options = 0);
  // As Locate without moving: the values of the found record's fields named
  // in `result_fields`, one per field; empty when nothing was found.
  std::vector<TVariant> Lookup(std::string_view key_fields, const std::vector<TVariant>& key_values,
                               std::string_view result_fields);

  // Bookmarks.
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // Field objects and definitions.
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  // Rebuilds the field definition list (slot BuildFieldDefs).
  void UpdateFieldDefs();
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Field(int index) const { return *fields_[static_cast<size_t>(index)]; }
  // The field named `name`, compared without regard to letter case; nullptr
  // when there is none.
  TField* FindField(std::string_view name) const;
  // As FindField; a missing field raises EDatabaseError "%s: Field '%s' not
  // found" with Name() and `name`.
  TField& FieldByName(std::string_view name) const;
  // Declares a field ahead of opening; the dataset owns it. Declared fields
  // are bound to the table's fields by name when the dataset opens, and no
  // default fields are created then. Only while closed.
  TField& AddField(std::unique_ptr<TField> field);

  // A stream over a blob field's value in the current record (slot
  // OpenBlobStream); nullptr when the dataset gives none.
  std::unique_ptr<TStream> CreateBlobStream(const TField& field, TBlobStreamMode mode);
  // Appends a blob field's whole value, read through a read-mode stream.
  // The default reads a stream from CreateBlobStream; a subclass may read
  // through a stream it keeps, so that reading allocates nothing.
  virtual void AppendBlobValue(const TField& field, std::string& out);
  // Replaces a blob field's value with `bytes` through a write-mode stream
  // (empty bytes leave it empty); false when the stream took fewer bytes.
  // The default writes a stream from CreateBlobStream; a subclass may write
  // through a stream of its own, so that storing allocates nothing.
  virtual bool StoreBlobValue(const TField& field, std::string_view bytes);
  // A string field's text, valid until the cursor moves. The default
  // fetches the value into `scratch` (field.DataSize() bytes) and cuts it at
  // its zero byte; a subclass may answer from its record buffer directly.
  virtual std::string_view FetchText(const TField& field, char* scratch);

  // ---- The edit cycle ------------------------------------------------------
  // States: browsing (dsBrowse) -> Edit -> dsEdit, Insert/Append ->
  // dsInsert; Post and Cancel return to browsing. A verb that would leave a
  // record being edited or inserted first applies the browse-mode rule
  // (CheckBrowseMode): the record is posted when a field was changed,
  // otherwise cancelled. Moving the cursor (First, Last, MoveBy, bookmarks,
  // the Find verbs, Locate, Lookup) does so; closing drops the changes.
  //
  // Each raises "Cannot perform this operation on a closed dataset" while
  // closed, and Edit, Insert, Append and Delete raise "Cannot modify a
  // read-only dataset" when the dataset may not be changed.

  // Edits the current record (on an empty dataset: Insert). Nothing while
  // already editing or inserting.
  void Edit();
  // A new record before the current one, with its defaults; OnNewRecord may
  // set more values.
  void Insert();
  // A new record after the last one, with its defaults.
  void Append();
  // Writes the record being edited or inserted, after BeforePost and the
  // checks of every field: a required field without a value raises "Field
  // '<name>' must have a value", a number outside its minimum and maximum
  // names the value, the field and the range. A failure leaves the record
  // being edited or inserted, its values kept. Afterwards the written record
  // is current (or, when it left the order's range or filter, its
  // neighbour). Nothing while browsing.
  void Post();
  // Drops the changes of the record being edited or inserted; the cursor
  // returns to the record it stood on. Nothing while browsing.
  void Cancel();
  // Deletes the current record (while inserting: cancels the insert); the
  // next record becomes current, or the prior one when it was the last.
  // Raises "Cannot perform this operation on an empty dataset" when there
  // is none.
  void Delete();
  // Inserts (appends) a record whose fields take `values` in field order
  // (an empty TVariant, or fewer values, leave fields at their defaults; a
  // null value clears the field) and posts it at once. A failure cancels
  // the new record.
  void InsertRecord(const std::vector<TVariant>& values);
  void AppendRecord(const std::vector<TVariant>& values);
  // The browse-mode rule: a record being edited or inserted is posted when
  // modified, else cancelled.
  void CheckBrowseMode();
  // Whether a field of the record being edited or inserted was set.
  bool Modified() const { return modified_; }
  // Whether the dataset may be changed (slot ModifyAllowed).
  bool CanModify() { return Active() && ModifyAllowed(); }

  // Before/after events; each receives this dataset.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforeInsert, AfterInsert, BeforePost, AfterPost,
      BeforeCancel, AfterCancel, BeforeDelete, AfterDelete;
  // A new record was set up (defaults stored); it may set more values.
  TDataSetNotifyEvent OnNewRecord;
  // Errors of Edit, Post and Delete (EDatabaseError) pass these first.
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  // The application's error handler; without one such errors are dropped.
  TErrorHandler ErrorHandler;

 protected:
  // ---- Slots: record buffers --------------------------------------------
  virtual TRecordBuffer NewRecordBuffer() = 0;
  virtual void DropRecordBuffer(TRecordBuffer buffer) = 0;
  virtual int RecordBufferSize() = 0;
  // Fills `buffer` with the current, next or prior record and answers grOK,
  // grBOF (no prior record), grEOF (no next record) or grError (no current
  // record).
  virtual TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode) = 0;
  // Puts the cursor on the record held in `buffer`.
  virtual void SyncToBuffer(TRecordBuffer buffer) = 0;

  // ---- Slots: opening and positioning ------------------------------------
  virtual void OpenTableCursor() = 0;
  virtual void CloseTableCursor() = 0;
  virtual bool CursorActive() = 0;
  virtual void BuildFieldDefs() = 0;
  virtual void GoFirst() = 0;
  virtual void GoLast() = 0;
  virtual int RecordCountInOrder() { return -1; }
  virtual int ActivePosition() { return -1; }
  virtual void SetActivePosition(int /*position*/) {}
  virtual bool SequencedOrder() { return true; }

  // ---- Slots: field values ---------------------------------------------
  // Copies `field`'s value in dataset form into `destination`, filling all
  // field.DataSize() bytes (zeros after a shorter value), or with nullptr
  // only answers whether it has a value.
  virtual bool FetchFieldValue(const TField& field, void* destination) = 0;
  virtual std::unique_ptr<TStream> OpenBlobStream(const TField& field, TBlobStreamMode mode) = 0;
  // Copies the active record buffer into `buffer`; false when empty.
  virtual bool CurrentRecordCopy(TRecordBuffer /*buffer*/) { return false; }

  // ---- Slots: searching --------------------------------------------------
  // The work of FindFirst (restart, forward), FindLast (restart),
  // FindNext (forward) and FindPrior (neither).
  virtual bool FindMatching(bool /*restart*/, bool /*forward*/) { return false; }
  virtual bool LocateValues(std::string_view /*key_fields*/,
                            const std::vector<TVariant>& /*key_values*/,
                            TLocateOptions /*options*/) {
    return false;
  }
  virtual std::vector<TVariant> LookupValues(std::string_view /*key_fields*/,
                                             const std::vector<TVariant>& /*key_values*/,
                                             std::string_view /*result_fields*/) {
    return {};
  }

  // ---- Slots: the edit cycle ---------------------------------------------
  virtual bool ModifyAllowed() { return false; }
  virtual void BeginRecordEdit() {}
  virtual void CancelEdit() {}
  virtual void InitNewRecord(TRecordBuffer /*buffer*/) {}
  // The defaults of these three raise "Cannot modify a read-only dataset".
  virtual void PostBuffer();
  virtual void AddFromBuffer(TRecordBuffer buffer, bool append);
  virtual void DeleteCurrent();
  // The framework has already checked the state and the field's read-only
  // flag.
  virtual void StoreFieldValue(const TField& field, const void* source);

  // ---- Slots: bookmarks ------------------------------------------------
  virtual void ReadBookmark(TRecordBuffer buffer, uint8_t* data) = 0;
  virtual void WriteBookmark(TRecordBuffer buffer, const uint8_t* data) = 0;
  virtual TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  // Puts the cursor on the bookmarked record (BookmarkSize() bytes).
  virtual void ReachBookmark(const uint8_t* bookmark) = 0;
  // Whether the bookmark (nullptr: none) still names a record.
  virtual bool BookmarkAlive(const uint8_t* /*bookmark*/) { return false; }
  // 0 when both (nullptr: none) name the same record.
  virtual int BookmarkOrder(const uint8_t* /*a*/, const uint8_t* /*b*/) { return 0; }

  // ---- Services for subclasses -----------------------------------------
  TRecordBuffer ActiveBuffer() const {
    return active_record_ < record_count_ ? buffers_[static_cast<size_t>(active_record_)] : nullptr;
  }
  // The spare slot of the ring; valid while open, overwritten by the next
  // fetch.
  TRecordBuffer TempBuffer() const {
    return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(record_count_)];
  }
  // Size of the calculated-fields area. No calculated fields exist yet, so
  // it is 0; the record buffer layout above reserves the area all the same.
  int CalcFieldsSize() const { return 0; }
  int BookmarkSize() const { return bookmark_size_; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }

  // Switches to a temporary state (filtering) and back.
  TDataSetState SetTempState(TDataSetState state) {
    const TDataSetState saved = state_;
    state_ = state;
    return saved;
  }
  void RestoreState(TDataSetState saved) { state_ = saved; }
  // Hands an error to the application's error handler.
  void HandleError(const std::exception& error) {
    if (ErrorHandler) ErrorHandler(error);
  }
  void DoBeforeScroll() { Notify(BeforeScroll); }
  void DoAfterScroll() { Notify(AfterScroll); }
  // Puts the subclass's cursor on the active record.
  void UpdateCursorPos();
  // Tells the framework that `field` changed in the record being edited or
  // inserted: the record is marked modified and the field's OnChange runs.
  void FieldChanged(const TField& field);
  // Forgets where the subclass's cursor stands, after it moved on its own:
  // the next fetch puts it back on a cached record first.
  void CursorPosChanged() { current_record_ = -1; }
  // Refills the ring around the record the subclass's cursor stands on;
  // raises "Record not found" when it has none.
  void Resync() { ResyncExactCentered(); }

  TFieldDefs& FieldDefsForUpdate() { return field_defs_; }
  // True while the fields in use were created from the definitions.
  bool DefaultFields() const { return default_fields_; }
  // Lets `field` read its value in place while the dataset browses: every
  // record buffer holds the engine record image at its start, with the
  // field's stored value at `slot` and its null flag at byte FieldNo() - 1,
  // so that reading the active record needs no call of FetchFieldValue,
  // which must give the same answers. Unbinding the field ends it.
  static void ReadInPlace(TField& field, const TFieldSlot& slot) {
    field.slot_ = slot;
    field.in_place_ = true;
  }

  // Creates one field object per definition; an ftUnknown entry is
  // skipped, a string size outside 1..8192 raises "Invalid field size", a
  // kind without a field class raises "Field '%s' is of an unknown type".
  void CreateFields();
  void DestroyFields();
  // Binding sets each field's dataset form source: declared fields are
  // matched to a definition by name (a missing one raises "%s: Field '%s'
  // not found", a different kind "Type mismatch for field ..."); unbinding
  // sets FieldNo back to 0.
  void BindFields(bool binding);

 private:
  friend class TField;

  void CheckActive() const;
  void CheckInactive() const;
  void OpenCursor();
  void CloseCursor();
  void ClearBuffers();
  void ActivateBuffers();
  void SetCurrentRecord(int index);
  void MoveBuffer(int from, int to);
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  // Refills the ring around the cursor's record after the cursor moved on
  // its own; raises "Record not found" when it has no record.
  void ResyncExactCentered();
  void FillAroundFetched();
  // The active record buffer while browsing (null when empty).
  TRecordBuffer BrowsedRecord() const { return state_ == dsBrowse ? ActiveBuffer() : nullptr; }
  void Notify(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }
  // Edit cycle helpers (dataset_edit.cpp).
  void CheckCanModify();
  // Runs `operation`, passing an EDatabaseError to `on_error` until it
  // decides not to retry.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& on_error);
  // Sets up the new record's buffer: at the active slot (Insert) or after
  // the last record (Append).
  void BeginInsertAppend();
  void StartInsert();
  void StartAppend();
  void EndInsertAppend();
  // The required and range checks of every bound field.
  void CheckFieldValues();
  // Refills the ring around the subclass's current record after a change;
  // an empty order leaves the ring empty.
  void ResyncAfterChange();
  void SetFieldData(TField& field, const void* source);
  void AddRecord(const std::vector<TVariant>& values, bool append);

  std::string name_;
  TFormatSettings format_settings_;
  TDataSetState state_ = dsInactive;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  bool default_fields_ = false;
  int bookmark_size_ = 0;

  int buffer_count_ = 1;
  std::vector<TRecordBuffer> buffers_;
  int record_count_ = 0;     // filled slots of the window
  int active_record_ = 0;    // slot of the current record
  int current_record_ = -1;  // slot the subclass's cursor stands on
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
};

inline const uint8_t* TField::InPlaceRecord() const {
  return in_place_ ? dataset_->BrowsedRecord() : nullptr;
}

}  // namespace logvane
