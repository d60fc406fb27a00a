// TDaroVivuv, the table cursor: names a table by the path of its definition
// file, opens it through the façade (TmtbIFace), and presents its records in
// the order of a chosen index, one current record at a time, through the
// field objects of the dataset framework (dataset.h): properties, opening
// and closing, fetching, positions and bookmarks, read-mode blob streams
// (blob_stream.h), filtering and searching (daro_vivuv_filter.cpp) and the
// edit cycle (daro_vivuv_edit.cpp).
//
// Typical use, as the log export does it:
//   TDaroVivuv table;
//   table.SetTableName("/logs/Contest/LogTabl.mti");
//   table.SetIndexName("NumSentIndx");      // empty: index 0, the primary
//   table.SetReadOnly(true);
//   table.Open();                           // on the first record
//   for (table.First(); !table.Eof(); table.Next())
//     ... table.FieldByName("Call").AsString() ...
//   table.Close();
//
// RECORD BUFFERS (layout in dataset.h): the engine record image (R bytes),
// a spare byte, the calculated-fields area (K bytes), then at R + 1 + K the
// position (int32), edit state (byte), bookmark flag (byte), two spare bytes
// and the 8-byte bookmark, which holds the record number twice (int32,
// host order). A bookmark names the record, not its place, so it survives
// a change of index.
//
// THE PENDING EDGE. Going to the first (last) record puts the engine on it
// and remembers that; the next forward (backward) fetch then reads that
// record instead of stepping past it.
//
// FILTERING. While Filtered is set, the records are those that pass the
// Filter expression (filter/expr_filter.h, with FilterOptions) and the
// OnFilterRecord event. The engine decides which records pass through the
// two record tests the component installs in its filtered record list; each
// test copies the record under test into the filter buffer and reads it in
// the filtering state. An error inside a test goes to the application's
// error handler (TDataSet::ErrorHandler) and the record counts as rejected.
// Filter and Filtered set before the open take effect at the first fetch.
// A memo or formatted-text field compares as its whole text, read from the
// blob file for the record under test.
//
// EDITING. With ReadOnly false the table is opened for reading and writing
// (others may only read); the dataset framework's Edit, Insert, Append,
// Post, Cancel and Delete then change it through the façade. A record being
// edited is locked in its buffer (edit state 1); posting copies the buffer
// into the engine's current image and rewrites or adds the record; the
// engine's errors come back as EDatabaseError with the same message (the
// engine's error nested inside, std::rethrow_if_nested). Blob values are
// written through write-mode blob streams into the field's blob holder,
// which the engine stores when the record is posted; a new record's holders
// belong to record number -1 until then.
//
// All messages are raised as EDatabaseError unless noted.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component/dataset.h"
#include "component/field_mapping.h"
#include "component/mtb_iface.h"
#include "filter/expr_filter.h"
#include "filter/filter_options.h"

namespace logvane {

class TBlobStream;

// Options of an index definition, a set of bits. (Value 2, a unique index,
// never occurs: only the primary key is unique.)
enum TIndexDefOption : uint8_t { ixPrimary = 1, ixDescending = 4, ixCaseInsensitive = 8 };

struct TIndexDef {
  std::string Name;
  std::string Fields;   // key field names in key order, joined by ";"
  uint8_t Options = 0;  // TIndexDefOption bits
};

class TDaroVivuv : public TDataSet {
 public:
  TDaroVivuv();
  ~TDaroVivuv() override;

  // ---- Published properties ---------------------------------------------
  // Full path of the definition file. Only while closed, else "Cannot
  // perform this operation on an open dataset". A path different from the
  // old one (exact comparison) clears IndexName.
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& path);

  // The index that orders the records; empty means index 0. While open,
  // reading answers the engine's current index name (and keeps it), and
  // setting selects the index (exact, case-sensitive name; else "<name> is
  // not a valid index name", the old order staying) and goes to the first
  // record.
  std::string IndexName() const;
  void SetIndexName(const std::string& name);

  // Open for reading only (mode 0x20) instead of reading and writing
  // (0x22). Only while closed.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);

  // Open for reading while letting other processes write (mode 0x40),
  // whatever ReadOnly says. Only while closed.
  bool ReadBesideWriter() const { return read_beside_writer_; }
  void SetReadBesideWriter(bool value);

  // Retries of the open, 200 ms apart, while the table is locked; applies
  // to the next open.
  int OpenRetryCount() const { return open_retry_count_; }
  void SetOpenRetryCount(int count) { open_retry_count_ = count; }

  // The filter expression (8-bit text in the table's code page). While open
  // and filtered a new text is prepared at once and the cursor goes to the
  // first record that passes; a text that fails to prepare raises its
  // message and the previous text stays in force. Otherwise it is stored.
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& text);
  // Whether the filter applies. While open, a change prepares or drops the
  // expression, switches the engine's filtering and goes to the first
  // record; a filter that fails to prepare raises and Filtered stays false.
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);
  // foCaseInsensitive, foNoPartialCompare; while open and filtered a change
  // prepares the expression again and goes to the first record.
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptions(TFilterOptions options);
  // The record-filter event; while open and filtered a change takes effect
  // at once, from the first record.
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  void SetOnFilterRecord(TFilterRecordEvent handler);

  // Version label, informational.
  const std::string& About() const { return about_; }
  void SetAbout(std::string text) { about_ = std::move(text); }

  // ---- Public, not stored ---------------------------------------------------
  // The live records of the data file (records minus free ones), whatever
  // the index. REQUIRES: open, else "Cannot perform this operation on a
  // closed dataset". Raises EDedaZiRecMgrError "I/O error on mtd file" when
  // the data file changed size behind the engine's back.
  int TableRecordCount();

  // One entry per index of the table, rebuilt at every open.
  const std::vector<TIndexDef>& IndexDefs() const { return index_defs_; }

  // True while the table is open for reading and writing.
  bool Writable() const { return writable_; }

 protected:
  // ---- Slots of the dataset framework -----------------------------------
  TRecordBuffer NewRecordBuffer() override;
  void DropRecordBuffer(TRecordBuffer buffer) override;
  int RecordBufferSize() override { return record_length_; }
  TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode) override;
  void SyncToBuffer(TRecordBuffer buffer) override;

  void OpenTableCursor() override;
  void CloseTableCursor() override;
  bool CursorActive() override { return cursor_open_; }
  // Fills the field definition list; while closed the table is opened for
  // this alone and closed again, and a failed open leaves the list empty.
  void BuildFieldDefs() override;
  void GoFirst() override;
  void GoLast() override;
  int RecordCountInOrder() override;
  int ActivePosition() override;
  void SetActivePosition(int position) override;
  bool SequencedOrder() override { return !filtered_; }

  bool FetchFieldValue(const TField& field, void* destination) override;
  std::unique_ptr<TStream> OpenBlobStream(const TField& field, TBlobStreamMode mode) override;
  // A string field's text straight from the record buffer, without a copy.
  std::string_view FetchText(const TField& field, char* scratch) override;
  // Reads through a stream on the stack: no allocation per value.
  void AppendBlobValue(const TField& field, std::string& out) override;
  bool StoreBlobValue(const TField& field, std::string_view bytes) override;
  bool CurrentRecordCopy(TRecordBuffer buffer) override;

  // The edit cycle: ModifyAllowed is true while the table is open writable
  // and ReadOnly is false. BeginRecordEdit raises "That record is already
  // locked" for a buffer locked already. Posting, adding and deleting raise
  // the engine's errors again as EDatabaseError; a failed post leaves the
  // buffer and the blob values written for it as they were.
  bool ModifyAllowed() override;
  void BeginRecordEdit() override;
  void CancelEdit() override;
  void PostBuffer() override;
  void AddFromBuffer(TRecordBuffer buffer, bool append) override;
  void DeleteCurrent() override;
  // Clears the image, marks the buffer as a new record (position -1, record
  // number -1) and stores the fields' default texts (field_mapping.h).
  void InitNewRecord(TRecordBuffer buffer) override;
  // Writes one table field into the buffer of the state, after the field's
  // OnValidate has accepted it; clearing a blob field empties its value
  // through the holder, so that the post frees it.
  void StoreFieldValue(const TField& field, const void* source) override;

  void ReadBookmark(TRecordBuffer buffer, uint8_t* data) override;
  void WriteBookmark(TRecordBuffer buffer, const uint8_t* data) override;
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override;
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void ReachBookmark(const uint8_t* bookmark) override;
  bool BookmarkAlive(const uint8_t* bookmark) override;
  int BookmarkOrder(const uint8_t* a, const uint8_t* b) override;

  // Searching: Locate and Lookup raise "<name> is not a valid locate field."
  // for a calculated or lookup field; a partial key on a descending index is
  // searched without the index.
  bool FindMatching(bool restart, bool forward) override;
  bool LocateValues(std::string_view key_fields, const std::vector<TVariant>& key_values,
                    TLocateOptions options) override;
  std::vector<TVariant> LookupValues(std::string_view key_fields,
                                     const std::vector<TVariant>& key_values,
                                     std::string_view result_fields) override;

 private:
  friend class TBlobStream;

  // The component as its expression filter sees it.
  class TFilterAccess : public TFilterCursor {
   public:
    explicit TFilterAccess(TDaroVivuv& owner) : owner_(owner) {}
    std::string FilterText() const override { return owner_.filter_; }
    TFilterOptions FilterOptionSet() const override { return owner_.filter_options_; }
    TFilterField FindFilterField(std::string_view name) override;
    void ReadFilterValue(const TFilterField& field, TVariant& value) override;
    bool ReadNumber(std::string_view text, double* value) const override;
    bool ReadDateTime(std::string_view text, double* days) const override;

   private:
    TDaroVivuv& owner_;
  };

  // The two record tests installed in the engine's filtered record list.
  static bool ExpressionTest(void* owner, int32_t record, const uint8_t* image);
  static bool RecordEventTest(void* owner, int32_t record, const uint8_t* image);
  // Puts the record under test into the filter buffer.
  void LoadFilterBuffer(int32_t record, const uint8_t* image);
  // Prepares the filter text while Filtered was set before the open.
  void ApplyPendingFilter();
  // Prepares the expression anew; when that fails, `old_text` and
  // `old_options` come back into force and the error is raised.
  void PrepareOrRestore(std::string old_text, TFilterOptions old_options);
  // Hands the filter kinds to the engine and switches its filtering off,
  // then on again when a test is in use.
  void RefreshEngineFilter();
  void SetEngineFiltering(bool on);
  // The search of Locate and Lookup, in the filter buffer.
  bool SearchRecord(std::string_view key_fields, const std::vector<TVariant>& key_values,
                    TLocateOptions options, bool move);
  // Stores a search value into table field `field` of the record image.
  void StoreSearchValue(const TField& field, const TVariant& value, uint8_t* image) const;
  // A field's value in the buffer of the current state.
  void ReadFieldValue(const TField& field, TVariant& value);

  enum TPendingEdge { kEdgeNone = 0, kEdgeFirst = 1, kEdgeLast = 2 };
  static constexpr int kBookmarkSize = 8;
  // Offsets inside the record-info area at R + 1 + K.
  static constexpr int kPositionAt = 0;      // int32
  static constexpr int kEditStateAt = 4;     // byte: 0 none, 1 locked, 2 deleted
  static constexpr int kBookmarkFlagAt = 5;  // byte
  static constexpr int kBookmarkAt = 8;      // two int32
  static int32_t GetNative32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void PutNative32(uint8_t* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

  // The record buffer whose values the current state reads; null when none
  // (browsing an empty table, or a state whose buffer arrives with the edit
  // cycle or calculated fields).
  TRecordBuffer BufferForState() const;
  // The blob holder of table field `field` (from 0) loaded for `record`,
  // whose image starts `image`; null when the table has no blob file or the
  // field no holder.
  TBlob* LoadBlobHolder(int field, const uint8_t* image, int32_t record);
  // The table fields' slots in the record image, taken at open.
  std::vector<TFieldSlot> slots_;

  // Blob values written for the record being edited or inserted live in
  // the field's holder, and the engine drops a holder's change whenever it
  // re-reads its current record. Around engine calls that may do so while a
  // record is being edited (a post that fails, counting a filtered order)
  // the changed values are kept here and written back.
  struct TPendingBlob {
    int field = -1;
    int32_t record = -1;
    bool saved = false;
    std::vector<uint8_t> bytes;
  };
  std::vector<TPendingBlob> pending_blobs_;
  void SavePendingBlobs();
  void RestorePendingBlobs();
  // Whether a blob field (from 0) has a value in `buffer`, its holder's
  // unposted change counted.
  bool BlobFieldHasValue(int field, TRecordBuffer buffer);
  // The old bytes of a field while its OnValidate runs: null flag, slot.
  std::vector<uint8_t> validate_scratch_;
  // Memo values the filter reads while a holder holds an unposted change.
  TBlob filter_blob_{-1};
  void SelectIndexNamed();
  void RebuildIndexDefs();
  uint8_t* Info(TRecordBuffer buffer) const { return buffer + info_offset_; }
  // The record number in a buffer's bookmark.
  int32_t BufferRecordNumber(TRecordBuffer buffer) const;

  TmtbIFace iface_;

  // Properties.
  std::string table_name_;
  mutable std::string index_name_;
  bool read_only_ = false;
  bool read_beside_writer_ = false;
  int open_retry_count_ = 0;
  std::string filter_;
  bool filtered_ = false;
  TFilterOptions filter_options_ = 0;
  std::string about_ = "V5.2";
  TFilterRecordEvent on_filter_record_;

  std::vector<TIndexDef> index_defs_;

  // Cursor state.
  bool writable_ = false;
  bool cursor_open_ = false;
  TPendingEdge pending_edge_ = kEdgeNone;
  int32_t remembered_position_ = -1;
  // Counts opens and closes, so that a blob stream can tell that the table
  // it was made for is gone.
  uint64_t open_serial_ = 0;

  // Filtering: the expression filter, whether each record test is in use,
  // whether the filter still waits for the first fetch, and whether the
  // engine filters.
  TFilterAccess filter_access_{*this};
  TExprFilter expr_filter_{filter_access_};
  bool event_filter_ = false;
  bool expression_filter_ = false;
  bool filter_pending_ = false;
  bool engine_filtering_ = false;
  // The record under test while filtering or searching (a whole record
  // buffer), allocated at open.
  std::unique_ptr<uint8_t[]> filter_buffer_;

  // Record layout of the open table.
  int record_length_ = 0;  // R
  int info_offset_ = 0;    // R + 1 + K
  int buffer_size_ = 0;    // R + K + 17
};

}  // namespace logvane
