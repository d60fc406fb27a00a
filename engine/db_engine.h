// The storage engine of one table: opening and closing (with the share mode
// of the definition file as the table lock), the table counters, the
// cursor over the current index with its range, positions, locate and
// filtered navigation.
//
// Work buffers (from the record manager):
//   0 the current record's image      3 first image of the range
//   1 low bound record of the range   4 last image of the range
//   2 high bound record of the range  5 second image   6 scratch
//
// A range always covers its whole index: its bounds are the index's low and
// high bound records. The range is empty when it has no first or last
// record, or when the last image sorts before the first.
//
// Cursor state between calls: `current` is the record whose image is in
// buffer 0 (-1 none); the current index's own cursor stands on it whenever
// there is one; BOF/EOF tell that a step met the range's first or last
// record; ordinals are 1-based positions in the index.
//
// Writing (a table opened with write access): AppendRecord, PostRecord and
// DeleteRecord change every index, the data file, the blob file and the
// table counters, in that order, record by record; the free chain on disk
// is rewritten only at close, the counters after every change. A failure
// part-way reaches the caller with its message; what it left half done
// stays (nothing is undone) and the table check names it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blob/blob_file.h"
#include "blob/blob_holders.h"
#include "filter/filter_list.h"
#include "index/find_key.h"
#include "index/index_manager.h"
#include "platform/file.h"
#include "table/record_manager.h"
#include "table/table_definition.h"

namespace logvane {

// Result codes of OpenTable (besides a handle >= 0).
enum TOpenResult : int32_t {
  kOpenDefinitionFailed = -1,  // missing, refused, or locked by another process
  kOpenDefinitionDamaged = -2,
  kOpenDataFileFailed = -3,
  kOpenIndexFailed = -4,
  kOpenBlobOrCountersFailed = -5,
  kOpenPositioningFailed = -6,
};

// The cause of a failed OpenTable: its result code, the step that failed,
// the file it worked on and the reason the system or the check gave.
struct TOpenFailure {
  int32_t code = 0;
  std::string step;
  std::string path;
  std::string reason;

  // "<step> <path>: <reason>", or empty when the open did not fail.
  std::string Describe() const;
};

// The message for a failed open of the table `path`: the path followed by
// " cannot be opened for exclusive use.", and for every code but -1 a blank
// and " The table may be corrupted. Suggest rebuild".
std::string OpenFailureText(const std::string& path, int32_t code);

inline constexpr uint32_t kOpenReadShared = 0x20;        // read, others may read
inline constexpr uint32_t kOpenWriteShared = 0x22;       // read and write, others may read
inline constexpr uint32_t kOpenReadBesideWriter = 0x40;  // read, others may read and write

class TmtbDBEng : public TmtbRecMgr, private TKeySource, public TBlobRecordUpdater {
 public:
  TmtbDBEng() = default;
  ~TmtbDBEng() override;

  // Opens the table whose definition file is `path` with `mode`, trying
  // 1 + `retries` times 200 ms apart. Returns the definition handle (>= 0)
  // or a TOpenResult; never raises, and a failure leaves nothing open.
  int32_t OpenTable(const std::string& path, uint32_t mode, int retries);
  // Closes everything the open opened; a writable open first writes the
  // counters and the free chain. Safe on a closed engine. Raises what the
  // writes raise, after releasing every file.
  void CloseTable();
  bool IsOpen() const { return open_; }
  // Why the last OpenTable failed (code 0 after a success).
  const TOpenFailure& LastOpenFailure() const { return failure_; }
  bool ReadOnly() const { return read_only_; }
  const std::string& TablePath() const { return path_; }

  const TmtbTableDef& Definition() const { return def_; }
  TmtbTableDef& Definition() { return def_; }
  TDaroVivuvIndex& Indexes() { return indexes_; }
  // Null when the table has no blob file.
  TBlobFile* BlobFile() { return blob_file_.get(); }
  // One holder per blob field; empty while the table is closed.
  TBlobHolders& BlobHolders() { return holders_; }
  TTableCounters& Counters() { return counters_; }
  TFilterList& FilterList() { return filter_list_; }

  // Positions the index at the first entry not sorting before `search`;
  // returns that record (-1 past the end) and whether it was an exact hit.
  // Raises the plain Exception "Internal error in table - table may be
  // corrupted" for anything failing inside the search.
  int32_t FindKey(const uint8_t* search, int index, bool* exact);

  // Cursor.
  void SetCurrentIndex(int index);
  int CurrentIndex() const { return cur_index_; }
  bool IsRangeEmpty();
  void First();
  void Last();
  void Next();
  void Prior();
  int32_t MoveToPosition(int32_t n);
  int32_t CurrentPosition();
  int32_t RecordCount();
  int32_t CurrentRecordNumber() const { return current_; }
  bool IsBOF() const { return bof_; }
  bool IsEOF() const { return eof_; }
  bool GoToRecord(int32_t r);
  int32_t RecordExists(int32_t r);
  // Reorders `fields` into the chosen index's key order.
  int FindIndexForFields(std::vector<int>& fields, bool case_insensitive) const;
  bool Locate(const std::vector<int>& fields, uint8_t* image, bool case_insensitive,
              int partial_length, bool move, int index);

  // Re-reads the current record; while filtered, moves off it (forward,
  // else backward) when the filter now rejects it.
  void FinalAdjustment();

  // The record write path. Work buffer 0 holds the image to insert or the
  // edited image of the current record. Each operation re-establishes the
  // cursor (the new or changed record becomes current when it lies in the
  // range) and keeps the filtered record list current.
  //
  // On any failure the current record becomes the one the current index's
  // remembered position gives, buffer 0 is reloaded from it (cleared when
  // there is none), the range is read afresh from the index, and the error
  // is passed on; the table counters are then not written. A read-only
  // table refuses every write, before anything changes, with the
  // input/output error a write to a read-only file gives.
  //
  // Inserts the image as a new record in the first free slot (the data
  // file grows by ten slots when none is free). An autoincrement field gets
  // the next value, which is used up only when the append succeeds. Raises
  // EDuplicateKeyError "Key violation due to duplicate record." before any
  // index changes when the primary key is taken. Blob fields take their
  // values from the changed blob holders only: a reference the image
  // carries names another record's value and is dropped.
  void AppendRecord();
  // Replaces the current record with the image. Only the indexes whose key
  // changed are touched. Blob fields change only through the blob holders:
  // their slots are taken from the stored record. Raises "Current range is
  // empty" without a current record and EDuplicateKeyError when another
  // record has the new primary key.
  void PostRecord();
  // Deletes the current record: its index entries, then the free marker,
  // then its blob values, so that a failure never leaves a live record
  // whose values are gone. Deleting the table's only record empties the
  // data file, every index and the blob file. Raises "Current range is
  // empty" without a current record.
  void DeleteRecord();

  // Moves the live records beyond (live records + 10) slots into the
  // lowest free slots, repointing every index entry and blob value owner,
  // and cuts the data file there, keeping ten free slots. Returns 1 when
  // done; -1 when refused (10 free slots or fewer, a live record count that
  // disagrees with index 0, a moved record missing from an index), having
  // kept what it moved so far. Run by a writable open with more than 20
  // free records.
  int32_t CompactDataFile();

  // The table component's blob requests on the holders (load, read, write,
  // truncate, size): see TBlobHolders::Request. Null, doing nothing, for a
  // table without a blob file.
  TBlob* BlobAccess(TBlobRequest request, int field, const uint8_t* image, int32_t record,
                    void* data, TBlob* holder, int64_t count, int64_t position, int64_t* result);

  // Filtered navigation.
  void SetFiltered(bool on);
  bool Filtered() const { return filtered_; }
  bool Found() const { return found_; }
  void RebuildFilteredList(bool reevaluate);

  // The current record's image (work buffer 0).
  const uint8_t* CurrentImage() { return WorkBuffer(0); }

  // TBlobRecordUpdater: how the blob file points a record at a value it
  // moved. SetBlobReference pins the record, sets the field's null flag and
  // slot, writes the record and unpins it; it raises EBlobError for a field
  // that is no blob field and the data file's errors for a record that
  // cannot be read or written (a free one included). BlobReference reads
  // the record into the scratch buffer.
  void SetBlobReference(int32_t record, int field, int32_t reference) override;
  int32_t BlobReference(int32_t record, int field) override;

 private:
  // TKeySource: the definition, the slot count, and a stored record for key
  // comparisons, read into buffer 6.
  const TmtbTableDef& KeyTableDef() const override { return def_; }
  int32_t KeySlotCount() override { return SlotCount(); }
  const uint8_t* LoadKeyRecord(int32_t record) override;

  // The roles of the record manager's work buffers.
  static constexpr int kCurrent = 0;
  static constexpr int kLowBound = 1;
  static constexpr int kHighBound = 2;
  static constexpr int kFirstImage = 3;
  static constexpr int kLastImage = 4;
  static constexpr int kSecondImage = 5;
  static constexpr int kScratch = 6;
  // How many records a walk announces at a time (AnnounceAhead).
  static constexpr int kPrefetchBatch = 8;

  int32_t OpenSteps(uint32_t mode);
  // Compaction at a writable open: -6 when refused or failed, else 0.
  int32_t CompactAtOpen();

  // Write path steps.
  void RequireWritable() const;
  // Whether the table holds exactly one live record (slot count less the
  // free list).
  bool SingleLiveRecord();
  void WriteCountersAfterChange();
  // The cursor after a key was inserted for record `r` with image `m`, the
  // current index standing on it.
  void AdjustAfterInsert(int32_t r, const uint8_t* m);
  // The cursor after the current record's key was removed from the current
  // index; `current_` is what the index's remembered position gave.
  void AdjustAfterRemove(bool was_first, bool was_last);
  // Reads the range's first and last records, their images and the count
  // from the current index afresh. Moves the index's cursor.
  void RecomputeRange();
  // The state rule after a failed write (never raises).
  void RecoverAfterWriteFailure() noexcept;
  // Offers record `r` to the filtered record list again (filter active).
  void RetestFiltered(int32_t r);
  bool IsBlobField(int field) const;
  // Records the failure of an open step and returns its code.
  int32_t Fail(int32_t code, const char* step, const std::string& path, const std::string& reason);
  void ReloadCurrent();
  // Announces the records a walk in `direction` (1 or -1) is about to read.
  void AnnounceAhead(const TIndex& idx, int direction);
  void NoCurrent();
  void CopyOrBound(int32_t record, uint8_t* dest, const uint8_t* bound);
  TIndex& Active() { return indexes_.IndexAt(cur_index_); }
  bool Visible(int32_t r);
  int32_t FilteredStep(bool forward, bool accept_current);
  void FilteredFirst();
  void FilteredLast();
  void FilteredNext();
  void FilteredPrior();
  void ReturnTo(int32_t record, bool bof, bool eof, int32_t ordinal);
  bool FieldsMatch(const std::vector<int>& fields, const uint8_t* record, const uint8_t* image,
                   bool case_insensitive, int partial_length);

  // Opening.
  bool open_ = false;
  platform::File definition_;
  int32_t handle_ = -1;
  std::string path_;
  uint32_t mode_ = 0;
  TOpenFailure failure_;
  bool read_only_ = true;
  TmtbTableDef def_;
  TDaroVivuvIndex indexes_{*this};
  std::unique_ptr<TBlobFile> blob_file_;
  TBlobHolders holders_;
  TTableCounters counters_;
  TFilterList filter_list_;

  // Cursor.
  int cur_index_ = 0;
  int32_t current_ = -1;
  int32_t first_ = -1;
  int32_t last_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  int32_t first_ordinal_ = 1;
  int32_t current_ordinal_ = 0;
  int32_t range_count_ = 0;
  bool filtered_ = false;
  bool found_ = false;
};

}  // namespace logvane
