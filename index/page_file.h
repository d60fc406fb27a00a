// The leaf page file of an index and its page buffer.
//
// Every index has two files beside the table definition (index_names.h): the
// leaf page file, whose pages hold record numbers in key order, and the
// directory, which lists the leaf pages in key order (small_directory.h,
// large_directory.h). The table's format level picks one of two formats for
// all of its indexes:
//
//                      small pages (level < 30)   large pages (level >= 30)
//   file access unit   32 bytes                   1024 bytes
//   page size          32 bytes (1 unit)          4096 bytes (4 units)
//   entries a page, M  7                          250
//   key prefix         none                       12 bytes with every entry
//
// Integers are int32 little-endian. Page n starts at byte n * page size; the
// page count is the file size divided by the page size (a trailing partial
// page is never read).
//
//   page 0       free-list head: +0 number of free pages, +4 first free page
//                or -1
//   page 1       index 0: the table counters (+0 free data records, +4 first
//                free data record or -1, +8 next autoincrement value, +12
//                change counter, +16 a value kept unchanged); other indexes:
//                reserved
//   page >= 2    a leaf page named by exactly one directory entry, or a free
//                page (count 0, +4 the next free page or -1)
//
//   leaf page, small:  +0 entry count n (0..7)   +4 record numbers 1..7
//   leaf page, large:  +0 entry count n (0..250) +4 record numbers 1..250
//                      +1004 unused (20)   +1024 key prefixes 1..250, 12 bytes
//                      each (entry k at 1024 + 12(k-1))   +4024 unused (72)
//
// Invariants of a consistent index:
//   (1) pages in the file = directory entries + free pages + 2;
//   (2) a leaf page holds 1..M entries; only the single leaf page of an empty
//       index (directory of one entry: page 2, record -1) holds none;
//   (3) reading the directory in order and each page in order yields every
//       live record number once, in key order;
//   (4) a directory entry's first record (and key prefix) equal the page's
//       entry 1.
//
// The page buffer. The entry unit of a page is read to the "normal image":
// word 0 the count, word k entry k. The buffer also has one spare word before
// the count and room for M + 1 entries after it; the key area likewise has a
// spare 12-byte slot before the prefix of entry 1 and room for M + 1
// prefixes. Maintenance uses the spare room to build a page of M + 1 entries
// and to write either half of it: a shifted access (shift -1 .. M) places or
// takes the image that many words later, and the key area that many 12-byte
// slots later.
//
// The buffered-page rule: a page read or written with shift 0 is the
// buffered page, and reading it again reads nothing; after a shifted access
// or after ReadCounters no page is buffered.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace logvane {

struct TPageFormat {
  int32_t unit_bytes;      // file access unit
  int32_t units_per_page;  // 1 entry unit, plus 3 key units in large pages
  int32_t max_entries;     // M
  bool has_prefixes;

  int32_t PageBytes() const { return unit_bytes * units_per_page; }
  static const TPageFormat& ForLevel(int format_level);
};

inline constexpr int kLargePageLevel = 30;
inline constexpr TPageFormat kSmallPages{32, 1, 7, false};
inline constexpr TPageFormat kLargePages{1024, 4, 250, true};
// Byte offset of the key area in a large page.
inline constexpr int kKeyAreaOffset = 1024;
// The first page that can be a leaf page.
inline constexpr int32_t kFirstLeafPage = 2;

// The five words of the counters page (page 1 of index 0).
struct TTableCounters {
  int32_t free_records = 0;
  int32_t first_free_record = -1;
  int32_t next_autoinc = 0;
  int32_t change_counter = 0;
  int32_t kept_value = 0;
};

class TInd1FOps {
 public:
  TInd1FOps(const TPageFormat& format, std::string path);
  virtual ~TInd1FOps();
  TInd1FOps(const TInd1FOps&) = delete;
  TInd1FOps& operator=(const TInd1FOps&) = delete;

  // Opens the leaf page file with the process-wide default access
  // (platform::SetDefaultReadOnly) and counts its pages. Throws EInOutError
  // when the file cannot be opened.
  void OpenPageFile();
  // Closes the file and empties the free list. Never throws.
  void ClosePageFile();
  bool PageFileOpen() const { return file_.IsOpen(); }
  // Whether the file was opened for writing.
  bool PageFileWritable() const { return writable_; }
  const std::string& PageFilePath() const { return path_; }
  const TPageFormat& Format() const { return format_; }
  // Whole pages in the file, as counted at open and kept by writes.
  int32_t PageCount() const { return pages_; }

  // Brings page `page` into the buffer at `shift` (-1 .. M). Returns true
  // when the file was read, false when the page was already buffered.
  // Throws EDedaZiDBError (index text) for a page outside the file or a
  // short read; the buffer then holds no page.
  bool ReadPage(int32_t page, int shift);
  // Writes the image at `shift` to page `page`. A negative page throws the
  // plain Exception, a short write EDedaZiDBError (both with the index
  // text).
  void WritePage(int32_t page, int shift);
  int32_t BufferedPage() const { return buffered_page_; }
  void ForgetBufferedPage() { buffered_page_ = -1; }
  // Pages read from the file since the object was made.
  int64_t PageReads() const { return page_reads_; }

  // REQUIRES: an open index 0 leaf page file. Reading forgets the buffered
  // page; writing leaves the buffer as it was.
  TTableCounters ReadCounters();
  void WriteCounters(const TTableCounters& counters);

  // Word k and the prefix of entry k, counted from the normal image: word 0
  // is the count, word -1 and prefix 0 the spare slots. A shifted image's
  // entry k is word (and prefix) k + shift. REQUIRES: -1 <= k <= 2M + 1 for
  // Word, 0 <= k <= 2M + 1 and large pages for Prefix.
  int32_t PageCountWord() const { return Word(0); }
  int32_t PageLinkWord() const { return Word(1); }
  int32_t Word(int k) const;
  void SetWord(int k, int32_t value);
  const uint8_t* Prefix(int k) const { return key_ + kPrefixBytes * k; }

  // Free pages. The free list lives in memory while the file is open, its
  // first element the page that page 0 names; on disk the free pages form a
  // chain through their link words in list order. Page 0 is rewritten at
  // every allocation and release, a released page is linked to the previous
  // first free page, so the chain on disk always matches the list; the
  // whole chain is rewritten only by SaveFreeList.
  //
  // Reads the on-disk chain of free pages into the free list. Only pages
  // that really are free are listed: each lies in 2 .. pages - 1, has entry
  // count 0 and appears once; the walk stops at the first page that breaks
  // this or after the number of pages page 0 announces. Forgets the
  // buffered page.
  void LoadFreeList();
  const std::vector<int32_t>& FreePages() const { return free_pages_; }
  // Whether the last LoadFreeList found page 0 counting exactly the pages
  // of a chain that ends with -1 (true after SaveFreeList).
  bool FreeChainSound() const { return free_chain_sound_; }
  // Whether the list changed since it was loaded or saved.
  bool FreeListChanged() const { return free_list_changed_; }
  // Drops `page` from the free list (a page the directory names).
  void UnlistFreePage(int32_t page);
  // Writes the image at `shift` to the first free page (adding four pages
  // first when none is free), takes that page off the list, rewrites page 0
  // and returns the page. The page buffer is left as it was. A failed write
  // throws EDedaZiDBError (index text) and keeps the page on the list.
  int32_t AllocatePage(int shift);
  // Puts `page`, already written as a free page linked to the previous
  // first free page, first on the list and rewrites page 0; forgets the
  // buffered page. Throws EDedaZiDBError (index text) when the page is on
  // the list already or cannot be a leaf page.
  void FreePage(int32_t page);
  // Appends four free pages (s .. s + 3 for a file of s pages) chained in
  // order, the last linking to -1, and adds them to the end of the list.
  void ExtendFile();
  // Writes the list, sorted ascending, as the chain: page 0 with the count
  // and the first page, every listed page with count 0 and a link to the
  // next (-1 for the last). Forgets the buffered page.
  void SaveFreeList();
  // Lists every page from 2 on whose entry count is 0, ascending, except
  // `empty_leaf` (the single leaf page of an empty index, or -1). A file of
  // exactly three pages is not scanned: its list is empty.
  void ScanFreePages(int32_t empty_leaf);
  // Makes the file of an empty index: three pages, nothing after them;
  // pages 0 and 2 get count 0 and link -1 (all their units), page 1 is
  // kept (in index 0's file it holds the table counters). Empties the free
  // list and forgets the buffered page.
  void CreateEmptyFile();

 protected:
  static constexpr int kPrefixBytes = 12;

  // Moves entries first .. last (their words and key prefixes) by `delta`
  // slots (-1 or 1) within the buffer. Nothing moves when last < first.
  void ShiftEntries(int first, int last, int delta);
  // Stores the key prefix of word k (zeros when `prefix` is null). Nothing
  // happens in the small-page format.
  void SetPrefix(int k, const uint8_t* prefix);
  // Writes page `page` as a page of the free chain: count `count`, link
  // `link`, zeros after them (or, with `dead_slots`, -1 in every other
  // entry slot); the entry unit only, or with `whole` every unit (a zero
  // key area) so that the file grows to hold it. Does not touch the page
  // buffer.
  void WriteChainPage(int32_t page, int32_t count, int32_t link, bool whole,
                      bool dead_slots = false);
  // A leaf page given up: count 0, link `link`, -1 in every other slot.
  void WriteFreedPage(int32_t page, int32_t link);
  // Page 0 from the free list: its length and its first page or -1.
  void WriteFreeHead();
  // Copies every unit of page `from` onto page `to` through the page
  // buffer.
  void CopyPage(int32_t from, int32_t to);
  // After WritePage(page, -1): moves the image back to its normal place,
  // so the buffer holds the page as written and need not be read again.
  void SettleShiftedImage(int32_t page);
  // Cuts the file after `pages` pages.
  void CutPages(int32_t pages);
  std::vector<int32_t>& MutableFreePages() { return free_pages_; }

 private:
  void CheckShift(int shift) const;

  TPageFormat format_;
  std::string path_;
  platform::File file_;
  bool writable_ = false;
  int32_t pages_ = 0;
  int32_t buffered_page_ = -1;
  int64_t page_reads_ = 0;
  // entries_ points at word 0 (the count) of the normal image inside
  // entry_block_; key_ points at the spare prefix slot before entry 1, so
  // the prefix of entry k is key_ + 12k.
  std::unique_ptr<uint8_t[]> entry_block_;
  std::unique_ptr<uint8_t[]> key_block_;
  uint8_t* entries_ = nullptr;
  uint8_t* key_ = nullptr;
  std::vector<int32_t> free_pages_;
  // A whole page of zeros; WriteChainPage fills and clears its first words.
  std::unique_ptr<uint8_t[]> chain_page_;
  bool free_chain_sound_ = true;
  bool free_list_changed_ = false;
};

}  // namespace logvane
