// The index manager of an open table (TDaroVivuvIndex): one TIndex per index
// definition, and the active index.
//
// How the storage engine drives the index layer
// ---------------------------------------------
// The engine owns one TDaroVivuvIndex, made with the engine itself as its
// TKeySource (key_source.h): the definition for comparisons, the data file's
// slot count and a record read (into a scratch buffer that is never the
// search record).
//
//  1. Open: after the definition and the data file are open, and with the
//     process-wide file mode set (platform::SetDefaultReadOnly), call
//     OpenAll(table path, index count, format level). It opens both files of
//     every index, checks their structure and makes index 0 active; a
//     result of -1 means the table cannot be opened (LastError() says why).
//  2. Counters: ReadCounters() reads page 1 of index 0's leaf page file (free
//     record count, free-chain head, next autoincrement, change counter,
//     kept value). A writable close writes them back with WriteCounters()
//     before CloseAll().
//  3. Selecting an index: the engine finds the number by name with
//     TmtbTableDef::IndexNumber (exact and case-sensitive, -1 when none),
//     then ActivateIndex(number); IndexAt(number) is the TIndex to walk.
//  4. Walking: FirstEntry / LastEntry, then StepForward or StepBack and
//     CurrentEntry per record; OrdinalPosition and KeyCount need no file
//     access. Every record number handed out lies below the slot count.
//  5. Searching: FindKey(IndexAt(j), engine, search record) (find_key.h)
//     positions index j at the first entry not sorting before the record;
//     CurrentOrNext / PriorEntry then give the range's ends for bound
//     records. SavePosition / RestorePosition bracket anything that moves
//     the active index's cursor (searches, writes).
//  6. Writing (a table opened with write access): the record write path
//     changes every index through the calls below, each of which searches
//     the index for the record's image first (FindKey) and changes it at
//     the place found. On the active index the position found is
//     remembered (SavePosition) before an insertion, and an insertion or a
//     removal with `adjust` keeps that remembered position on the right
//     entry: RestorePosition afterwards gives the current record again. The
//     engine raises its own errors for an exact hit where none may be (a
//     duplicate key) or a missing key; these calls only report them.
//     MakeAllEmpty empties every index (the table's last record went).
//  7. Close: CloseAll() (also after a failed open; safe when closed).
//
// A writable open also checks every leaf page file: a free-page list that
// does not add up to the file is rebuilt by scanning, and six or more free
// pages are compacted down to four; the close writes each free chain back
// in ascending order. A read-only open writes nothing.
//
// Errors: damage found in an index file raises "Index structure may be
// corrupted. Suggest rebuild" where it is found; file failures surface as
// EInOutError, except inside InsertKey, DeleteKey and ReplaceRecordNumber,
// which report every failure as index damage.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "index/index.h"
#include "index/key_source.h"
#include "index/page_file.h"

namespace logvane {

class TDaroVivuvIndex {
 public:
  // `source` must outlive the manager.
  explicit TDaroVivuvIndex(TKeySource& source);
  ~TDaroVivuvIndex();
  TDaroVivuvIndex(const TDaroVivuvIndex&) = delete;
  TDaroVivuvIndex& operator=(const TDaroVivuvIndex&) = delete;

  // Closes what is open, then opens indexes 0 .. index_count - 1 of the
  // table `table_path` in the format that `format_level` chooses and makes
  // index 0 active. Returns 1, or -1 after closing everything again (a
  // missing, unreadable or damaged file; an index count outside 1 .. 26).
  // Never throws.
  int OpenAll(const std::string& table_path, int index_count, int format_level);
  // Closes every index and forgets them. Never throws.
  void CloseAll();

  // REQUIRES: 0 <= index < IndexCount(); otherwise throws EDedaZiDBError
  // "Internal error in table operations".
  void ActivateIndex(int index);
  TIndex& IndexAt(int index);
  int IndexCount() const { return static_cast<int>(indexes_.size()); }
  // The active index; nullptr when nothing is open.
  TIndex* Current() { return current_; }
  int ActiveIndexNumber() const { return current_ != nullptr ? current_->IndexNumber() : -1; }

  // The write path's index changes. `image` is the record's image (not the
  // key source's record buffer); REQUIRES: open for writing.
  //
  // Inserts record `record` into index `index` at its key's place; false,
  // changing nothing, when the index already holds a record with an equal
  // key (an exact hit).
  bool InsertKeyOf(int index, int32_t record, const uint8_t* image);
  // InsertKeyOf on every index in order; stops at the first exact hit and
  // returns that index number, or -1 when every index took the record.
  // Index 0 is searched first and every key ends with the primary key, so
  // a duplicate stops the insertion before any index changed.
  int InsertKeysOf(int32_t record, const uint8_t* image);
  // Removes the entry of the record with image `image` from index `index`;
  // false, changing nothing, when the search does not meet it exactly.
  bool DeleteKeyOf(int index, const uint8_t* image, bool adjust);
  // DeleteKeyOf on every index in order; returns the first index that
  // lacks the record (having changed the ones before it), or -1.
  int DeleteKeysOf(const uint8_t* image, bool adjust);
  // The record with image `image` moved to slot `record`: every index's
  // entry for it names the new slot. Returns the first index that lacks the
  // record (having changed the ones before it), or -1.
  int ReplaceRecordNumbers(const uint8_t* image, int32_t record);
  // Empties every index.
  void MakeAllEmpty();

  // Page 1 of index 0's leaf page file. REQUIRES: open.
  TTableCounters ReadCounters();
  void WriteCounters(const TTableCounters& counters);

  // Why the last OpenAll failed (empty after a success).
  const std::string& LastError() const { return last_error_; }

 private:
  TKeySource& source_;
  std::vector<std::unique_ptr<TIndex>> indexes_;
  TIndex* current_ = nullptr;
  std::string last_error_;
};

}  // namespace logvane
