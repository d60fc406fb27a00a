// The directory of an index: the second level, which lists the leaf pages in
// key order with the first record number of each page and, in the large-page
// format, that record's key prefix. Two kinds share this interface:
// TIndex2V1 (small pages, small_directory.h) and TKeyBufSecondIndex (large
// pages, large_directory.h).
//
// Every read of an entry sets Position. Count is the number of entries. An
// empty directory (Count 0) counts as naming page 2 with no first record.
//
// The write operations keep the file and the in-memory image in step after
// every call; nothing is undone when a call fails part-way.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace logvane {

struct TDirEntry {
  int32_t page = 0;
  int32_t record = -1;              // -1: the page is empty
  const uint8_t* prefix = nullptr;  // 12 bytes (large pages), else nullptr
};

struct TDirProbe {
  int32_t position = 0;
  int32_t record = -1;
  const uint8_t* prefix = nullptr;  // 12 bytes (large pages), else nullptr
};

// The directory kinds' operations, in the order of their virtual slots,
// then FindPage and CloseDirectory.
class TSecondIndex {
 public:
  explicit TSecondIndex(std::string path) : path_(std::move(path)) {}
  virtual ~TSecondIndex() = default;
  TSecondIndex(const TSecondIndex&) = delete;
  TSecondIndex& operator=(const TSecondIndex&) = delete;

  // Makes the directory of an empty index: one entry (page 2, record -1, a
  // zero key prefix); Position 0. REQUIRES: the directory is open.
  virtual void CreateEmpty() = 0;
  // Opens the file with the process-wide default access and brings the
  // in-memory image up: the whole directory, or the block heads. Throws
  // EInOutError when the file cannot be opened and EDedaZiDBError (index
  // text) when it is not a well-formed directory.
  virtual void LoadDirectory() = 0;
  // Finds the entry naming `page` and replaces its page by `new_page` when
  // that is >= 0, its record by `record` when that is >= 0 and its key
  // prefix by `prefix` when given (12 bytes; the small-page kind keeps
  // none). Each kind reports a missing page as its FindPage does.
  virtual void UpdateByPage(int32_t page, int32_t new_page, const uint8_t* prefix,
                            int32_t record) = 0;
  // A probe strictly inside (lo, hi] for a binary search over the entries.
  // REQUIRES: lo < hi. Throws the index text when lo or hi lies outside the
  // directory or the probe's data disagree.
  virtual TDirProbe ProbeMiddle(int32_t lo, int32_t hi) = 0;
  // Removes entry p; the entries after it move down one position. Throws
  // the index text for p outside 0 .. Count-1.
  virtual void DeleteEntry(int32_t p) = 0;
  // Inserts the entry (page, record, prefix) at position p (the end when p
  // is beyond it); the entries from p on move up one position. `prefix` is
  // 12 bytes or null (a zero prefix); the small-page kind keeps none.
  virtual void InsertEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) = 0;
  // Entry p. Throws EDedaZiDBError (index text) for p outside 0 .. Count-1.
  // The prefix pointer stays valid until the next directory call.
  virtual TDirEntry GetEntry(int32_t p) = 0;
  // Stores `record` and, when given, `prefix` in entry p; Position becomes
  // p. The large-page kind requires entry p to name `page`, the small-page
  // kind stores `page` in it. Throws the index text for p outside
  // 0 .. Count-1 or (large pages) an entry naming another page.
  virtual void SetEntry(int32_t p, int32_t page, const uint8_t* prefix, int32_t record) = 0;
  // Compaction of the leaf page file moved page moved[k] to targets[k]: each
  // entry naming moved[k] names targets[k] afterwards, and targets[k] takes
  // the value moved[k] (the page that is now free). A page is remapped once
  // however many entries name it. Returns the number of entries changed;
  // the large-page kind returns -1 when a block read or write fails.
  // REQUIRES: moved and targets of the same length.
  virtual int32_t RemapPages(std::vector<int32_t>& moved, std::vector<int32_t>& targets) = 0;
  // The position of the entry naming `page`. The large-page kind gives -1
  // for an empty directory and -2 when no entry names it; the small-page
  // kind throws the index text (EDedaZiDBError) instead.
  virtual int32_t FindPage(int32_t page) = 0;
  // Closes the file. Never throws.
  virtual void CloseDirectory() = 0;

  // GetEntry, except that an empty directory gives page 2 with record -1
  // and no prefix, at Position 0.
  TDirEntry EntryOrEmpty(int32_t p);

  int32_t Position() const { return position_; }
  int32_t Count() const { return count_; }
  bool IsOpen() const { return opened_; }
  const std::string& Path() const { return path_; }

 protected:
  // The moved pages of a RemapPages call, looked up by page number; each
  // one is handed out once.
  class TPageRemap {
   public:
    explicit TPageRemap(const std::vector<int32_t>& moved);
    // The k with moved[k] == page the first time `page` is asked for, else
    // -1.
    int32_t Take(int32_t page);

   private:
    std::vector<std::pair<int32_t, int32_t>> by_page_;  // (page, k), sorted
    std::vector<bool> taken_;
  };

  std::string path_;
  int32_t position_ = 0;
  int32_t count_ = 0;
  bool opened_ = false;
};

}  // namespace logvane
