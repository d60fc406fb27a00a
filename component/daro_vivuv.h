// TDaroVivuv, the table cursor: names a table by the path of its definition
// file, opens it through the façade (TmtbIFace), and presents its records in
// the order of a chosen index, one current record at a time, through the
// field objects of the dataset framework (dataset.h). This file holds the
// reading side: properties, opening and closing, fetching, positions and
// bookmarks, and read-mode blob streams (blob_stream.h).
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
// All messages are raised as EDatabaseError unless noted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "component/dataset.h"
#include "component/field_mapping.h"
#include "component/mtb_iface.h"

namespace logvane {

class TBlobStream;

// Options of the filter expression, a set of bits.
enum TFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = uint8_t;

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

  // The filter properties are kept with the component; the table is walked
  // unfiltered.
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string text) { filter_ = std::move(text); }
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value) { filtered_ = value; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptions(TFilterOptions options) { filter_options_ = options; }

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
  bool CurrentRecordCopy(TRecordBuffer buffer) override;

  void ReadBookmark(TRecordBuffer buffer, uint8_t* data) override;
  void WriteBookmark(TRecordBuffer buffer, const uint8_t* data) override;
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override;
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void ReachBookmark(const uint8_t* bookmark) override;
  bool BookmarkAlive(const uint8_t* bookmark) override;
  int BookmarkOrder(const uint8_t* a, const uint8_t* b) override;

 private:
  friend class TBlobStream;

  enum TPendingEdge { kEdgeNone = 0, kEdgeFirst = 1, kEdgeLast = 2 };
  static constexpr int kBookmarkSize = 8;

  // The record buffer whose values the current state reads; null when none
  // (browsing an empty table, or a state whose buffer arrives with the edit
  // cycle, searching or filtering).
  TRecordBuffer BufferForState() const;
  // The blob holder of table field `field` (from 0) loaded for `record`,
  // whose image starts `image`; null when the table has no blob file or the
  // field no holder.
  TBlob* LoadBlobHolder(int field, const uint8_t* image, int32_t record);
  // The table fields' slots in the record image, taken at open.
  std::vector<TFieldSlot> slots_;
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

  std::vector<TIndexDef> index_defs_;

  // Cursor state.
  bool writable_ = false;
  bool cursor_open_ = false;
  TPendingEdge pending_edge_ = kEdgeNone;
  int32_t remembered_position_ = -1;
  // Counts opens and closes, so that a blob stream can tell that the table
  // it was made for is gone.
  uint64_t open_serial_ = 0;

  // Record layout of the open table.
  int record_length_ = 0;  // R
  int info_offset_ = 0;    // R + 1 + K
  int buffer_size_ = 0;    // R + K + 17
};

}  // namespace logvane
