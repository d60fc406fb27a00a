// One index of an open table (TIndex): its leaf page file and page buffer
// (TInd1FOps), its directory (TSecondIndex), a cursor over its entries, the
// leaf page counts and the state of a binary search.
//
// The cursor is the directory Position (the current leaf page) and
// InPagePosition, the 1-based entry inside that page. After a search
// InPagePosition may be one past the page's last entry: the place found is
// then the first entry of the next page, which CurrentOrNext reaches.
// Record numbers are data-file slots; -1 means none.
//
// Every page brought in through the cursor is checked before its entries are
// used: the directory must name a page in 2 .. pages - 1, the page's count
// must lie in 1 .. M (0 only for the single page of an empty index), its
// record numbers below the data file's slot count, and its entry 1 (and key
// prefix) must be what the directory says. Opening also requires every page
// to be named once and every record number to appear once. A failed check
// raises EDedaZiDBError "Index structure may be corrupted. Suggest rebuild".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "index/key_source.h"
#include "index/page_counts.h"
#include "index/page_file.h"
#include "index/second_index.h"

namespace logvane {

struct TSearchProbe {
  int32_t record = -1;
  const uint8_t* prefix = nullptr;  // the probe's stored key prefix, or none
};

struct TSettle {
  int edge = 0;  // 1: past the last entry (clamped), -1: at the first, 0 else
  int32_t record = -1;
};

class TIndex : public TInd1FOps {
 public:
  // Index `index_number` of the table `table_path`; large pages when
  // format_level >= 30. `source` must outlive the index.
  TIndex(int index_number, int format_level, const std::string& table_path, TKeySource& source);
  ~TIndex() override;

  // Loads the directory, opens the leaf page file with the process-wide
  // default access, loads the free-page list and builds the page counts,
  // checking the whole structure. Throws EInOutError for a missing or
  // unreadable file and the index text for a damaged one.
  void OpenIndex();
  // Closes both files. Never throws.
  void CloseIndex();
  bool IsOpen() const { return open_; }

  int IndexNumber() const { return index_number_; }
  int FormatLevel() const { return format_level_; }
  TSecondIndex& Directory() { return *directory_; }
  const TSecondIndex& Directory() const { return *directory_; }
  void SetActive(bool active) { active_ = active; }
  bool IsActive() const { return active_; }

  // Cursor. REQUIRES: IsOpen(). Each may throw the index text when a page it
  // brings in is damaged.
  //
  // The first entry (-1 for an empty index); InPagePosition 1.
  int32_t FirstEntry();
  // The last entry (-1 for an empty index, InPagePosition then 1).
  int32_t LastEntry();
  // One entry on. At the very last entry the cursor moves past it (and
  // CurrentEntry gives -1) instead of leaving the index.
  void StepForward();
  // One entry back. At the very first entry the cursor moves before it (and
  // CurrentEntry gives -1).
  void StepBack();
  // The entry at the cursor, or the next page's first when the cursor is
  // past its page's end; -1 past the last entry.
  int32_t CurrentOrNext();
  // Moves to the entry before the cursor; -1 (not moving) at the first.
  int32_t PriorEntry();
  // Settles a cursor left past its page's end: onto the next page's first
  // entry, or clamped to the last entry (edge 1). Edge -1 at the first.
  TSettle SettleForward();
  // The entry at the cursor; -1 when the cursor is not on an entry.
  int32_t CurrentEntry();
  // The entry `k` places after the cursor when it lies on the cursor's page
  // and that page is in the buffer; -1 otherwise. Reads nothing: a walk
  // uses it to announce the records it will want.
  int32_t EntryAhead(int32_t k) const;

  // Remembers the directory position, and the in-page position when
  // `keep_in_page` (else none).
  void SavePosition(bool keep_in_page);
  // Returns to the remembered position and gives its entry; with no
  // remembered in-page position: InPagePosition 1 and -1.
  int32_t RestorePosition();

  // The 1-based ordinal of the cursor's entry in the index.
  int32_t OrdinalPosition() const;
  // The number of entries in the index.
  int32_t KeyCount() const { return static_cast<int32_t>(page_counts_.Total()); }
  // Reads every leaf page and rebuilds the page counts, checking the whole
  // structure; the cursor's page is brought back afterwards, also on
  // failure.
  void BuildPageCounts();
  const TPageCounts& PageCounts() const { return page_counts_; }

  int32_t InPagePosition() const { return in_page_; }
  int32_t DirectoryPosition() const { return directory_->Position(); }

  // Binary search, one comparison at a time: SearchBegin, then while not
  // SearchDone: SearchProbe, compare the search record with the probe (the
  // prefix first when there is one), SearchNarrow(result); finally
  // SearchResult. The search moves the cursor. FindKey (find_key.h) runs
  // these steps with the table's key comparisons.
  void SearchBegin();
  // The probe's record number, checked against the data file's slot count,
  // and its key prefix in the large-page format.
  TSearchProbe SearchProbe();
  // c < 0: the search record sorts before the probe; 0 equal; > 0 after.
  void SearchNarrow(int c);
  bool SearchDone() const { return level_ == 1 && high_ < low_; }
  // Puts the cursor on the place found and gives its entry, or -1 when the
  // place is one past the page's last entry.
  int32_t SearchResult();
  // 2 while the search runs over the directory, 1 inside a leaf page.
  int SearchLevel() const { return level_; }
  // The last probe's position (directory position or in-page position).
  int32_t SearchProbePosition() const { return probe_; }

  // Maintenance, at the place a search (FindKey) or the cursor left: the
  // directory Position names the page, InPagePosition the entry. REQUIRES:
  // an index open for writing. Leaf pages are never merged: a page goes back
  // to the free list only when its last entry goes.
  //
  // Inserts `record` with its key prefix (12 bytes in the large-page
  // format, else ignored) at InPagePosition (1 .. count + 1). A page that
  // reaches M + 1 entries splits: the left keeps (M + 1) / 2, the right
  // gets the rest on a newly allocated page listed right after it. On the
  // active index the remembered position keeps following the same entry,
  // and when the new entry went to the right page InPagePosition is its
  // place there. Any failure throws EDedaZiDBError (index text).
  void InsertKey(int32_t record, const uint8_t* prefix);
  // Removes the entry at InPagePosition. A page left empty becomes free and
  // leaves the directory, except the index's only page, which stays as the
  // empty index's leaf page. With `adjust` on the active index the
  // remembered position moves to the entry after the removed one (the new
  // last entry when it was the last). Any failure throws EDedaZiDBError
  // (index text).
  void DeleteKey(bool adjust);
  // Stores `record` in the entry at InPagePosition (the record moved to
  // another slot; its key is unchanged). Any failure throws EDedaZiDBError
  // (index text).
  void ReplaceRecordNumber(int32_t record);
  // Makes the index empty: three pages and one directory entry.
  void MakeEmpty();
  // Moves the leaf pages in use beyond the first (pages - free + 4) pages
  // into the lowest free pages, cuts the file there and writes the free
  // chain: afterwards exactly four pages are free. Returns 1 when done, -1
  // when refused (four or fewer free pages, or free pages and directory
  // entries that do not add up to the file). Throws EDedaZiDBError (index
  // text), cutting nothing, when the directory could not be remapped.
  int32_t Compact();
  // After maintenance the cursor must be re-established (RestorePosition,
  // a search, FirstEntry ...) before it is read.

 private:
  // GetEntry(p) and its page into the buffer, checked.
  void LoadEntry(int32_t p);
  // Brings the cursor's page back when something else used the buffer.
  void EnsureCurrentPage();
  // Checks the page in the buffer; `read` when it came from the file.
  void CheckPage(bool read);
  // The entry k of the page in the buffer, -1 outside 1 .. count.
  int32_t EntryAt(int32_t k) const;
  bool AtLast() const { return directory_->Position() >= directory_->Count() - 1; }
  bool AtFirst() const { return directory_->Position() < 1; }
  void EnterLeafLevel(int32_t p);
  int32_t SlotLimit();
  // The single page of an empty index (directory of at most one entry
  // whose page holds nothing), else -1: it has count 0 but is not free.
  int32_t EmptyLeafPage();
  // The writable-open check: a free list that does not add up to the file
  // is rebuilt by scanning, and six or more free pages are compacted.
  void CheckForWriting();
  void InsertKeyAt(int32_t record, const uint8_t* prefix);
  void DeleteKeyAt(bool adjust);

  int index_number_;
  int format_level_;
  TKeySource& source_;
  std::unique_ptr<TSecondIndex> directory_;
  bool open_ = false;
  bool active_ = false;

  // The page of directory entry current_position_ and what the directory
  // says about its first entry.
  int32_t current_position_ = -1;
  int32_t current_page_ = -1;
  int32_t current_first_ = -1;
  bool current_has_prefix_ = false;
  std::array<uint8_t, 12> current_prefix_{};

  int32_t in_page_ = 1;
  TPageCounts page_counts_;
  int32_t saved_position_ = 0;
  int32_t saved_in_page_ = -1;

  int level_ = 1;
  int32_t low_ = 1;
  int32_t high_ = 0;
  int32_t probe_ = -1;
};

}  // namespace logvane
