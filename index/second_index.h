// The directory of an index: the second level, which lists the leaf pages in
// key order with the first record number of each page and, in the large-page
// format, that record's key prefix. Two kinds share this interface:
// TIndex2V1 (small pages, small_directory.h) and TKeyBufSecondIndex (large
// pages, large_directory.h).
//
// Every read of an entry sets Position. Count is the number of entries. An
// empty directory (Count 0) counts as naming page 2 with no first record.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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

// The directory kinds' operations, in the order of the virtual slots the
// maintenance code adds to (creation, updates, insertion and removal of
// entries and page remapping belong with the write path).
class TSecondIndex {
 public:
  explicit TSecondIndex(std::string path) : path_(std::move(path)) {}
  virtual ~TSecondIndex() = default;
  TSecondIndex(const TSecondIndex&) = delete;
  TSecondIndex& operator=(const TSecondIndex&) = delete;

  // Opens the file with the process-wide default access and brings the
  // in-memory image up: the whole directory, or the block heads. Throws
  // EInOutError when the file cannot be opened and EDedaZiDBError (index
  // text) when it is not a well-formed directory.
  virtual void LoadDirectory() = 0;
  // A probe strictly inside (lo, hi] for a binary search over the entries.
  // REQUIRES: lo < hi. Throws the index text when lo or hi lies outside the
  // directory or the probe's data disagree.
  virtual TDirProbe ProbeMiddle(int32_t lo, int32_t hi) = 0;
  // Entry p. Throws EDedaZiDBError (index text) for p outside 0 .. Count-1.
  // The prefix pointer stays valid until the next directory call.
  virtual TDirEntry GetEntry(int32_t p) = 0;
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
  std::string path_;
  int32_t position_ = 0;
  int32_t count_ = 0;
  bool opened_ = false;
};

}  // namespace logvane
