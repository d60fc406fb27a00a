// Page access of the leaf page file: reads and writes at a shift, the
// counters page and the free-page chain.
#include "index/page_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "index/corruption.h"

namespace logvane {

const TPageFormat& TPageFormat::ForLevel(int format_level) {
  return format_level >= kLargePageLevel ? kLargePages : kSmallPages;
}

TInd1FOps::TInd1FOps(const TPageFormat& format, std::string path)
    : format_(format), path_(std::move(path)) {
  const int m = format_.max_entries;
  // The spare word, then room for an image at any shift up to M and for
  // words up to 2M + 1 (an image of M + 1 entries shifted by up to M).
  const size_t entry_bytes = 4 + std::max<size_t>(4 * m + format_.unit_bytes, 4 * (2 * m + 2));
  entry_block_.reset(new uint8_t[entry_bytes]());
  entries_ = entry_block_.get() + 4;
  if (format_.has_prefixes) {
    const size_t key_units = format_.units_per_page - 1;
    const size_t key_bytes =
        kPrefixBytes + std::max<size_t>(kPrefixBytes * m + key_units * format_.unit_bytes,
                                        kPrefixBytes * (2 * m + 1));
    key_block_.reset(new uint8_t[key_bytes]());
    key_ = key_block_.get();
  }
  chain_page_.reset(new uint8_t[format_.PageBytes()]());
}

TInd1FOps::~TInd1FOps() = default;

void TInd1FOps::OpenPageFile() {
  ClosePageFile();
  file_.OpenPositioned(path_, format_.unit_bytes);
  writable_ = !platform::DefaultReadOnly();
  // A writer reads and rewrites pages at random many times a second: through
  // a mapping each costs a copy instead of a system call.
  if (writable_) file_.MapForWriting();
  const int64_t pages = file_.SizeInUnits() / format_.units_per_page;
  pages_ = static_cast<int32_t>(std::min<int64_t>(pages, INT32_MAX));
}

void TInd1FOps::ClosePageFile() {
  file_.Close();
  writable_ = false;
  pages_ = 0;
  buffered_page_ = -1;
  free_pages_.clear();
  free_list_changed_ = false;
  free_chain_sound_ = true;
}

void TInd1FOps::CheckShift(int shift) const {
  // Outside this range an image would leave the buffer.
  if (shift < -1 || shift > format_.max_entries) RaiseIndexCorrupted();
}

int32_t TInd1FOps::Word(int k) const { return GetInt32(entries_ + 4 * k); }

void TInd1FOps::SetWord(int k, int32_t value) { PutInt32(entries_ + 4 * k, value); }

bool TInd1FOps::ReadPage(int32_t page, int shift) {
  CheckShift(shift);
  if (shift == 0 && page >= 0 && page == buffered_page_) return false;
  buffered_page_ = -1;
  if (page < 0 || page >= pages_) RaiseIndexCorrupted();
  file_.Seek(int64_t{page} * format_.units_per_page);
  ++page_reads_;
  // A large page's entry unit and key units go to separate buffers: one
  // call reads both.
  if (format_.has_prefixes) {
    const size_t key_units = format_.units_per_page - 1;
    if (file_.ReadTwo(entries_ + 4 * shift, 1, key_ + kPrefixBytes * (shift + 1), key_units) !=
        1 + key_units)
      RaiseIndexCorrupted();
  } else if (file_.Read(entries_ + 4 * shift, 1) != 1) {
    RaiseIndexCorrupted();
  }
  if (shift == 0) buffered_page_ = page;
  return true;
}

void TInd1FOps::WritePage(int32_t page, int shift) {
  CheckShift(shift);
  if (page < 0) RaiseIndexCorruptedPlain();
  buffered_page_ = -1;
  file_.Seek(int64_t{page} * format_.units_per_page);
  if (format_.has_prefixes) {
    const size_t key_units = format_.units_per_page - 1;
    if (file_.WriteTwo(entries_ + 4 * shift, 1, key_ + kPrefixBytes * (shift + 1), key_units) !=
        1 + key_units)
      RaiseIndexCorrupted();
  } else if (file_.Write(entries_ + 4 * shift, 1) != 1) {
    RaiseIndexCorrupted();
  }
  pages_ = std::max(pages_, page + 1);
  if (shift == 0) buffered_page_ = page;
}

TTableCounters TInd1FOps::ReadCounters() {
  buffered_page_ = -1;
  if (pages_ < 2) RaiseIndexCorrupted();
  file_.Seek(format_.units_per_page);
  if (file_.Read(entries_, 1) != 1) RaiseIndexCorrupted();
  return TTableCounters{Word(0), Word(1), Word(2), Word(3), Word(4)};
}

void TInd1FOps::WriteCounters(const TTableCounters& c) {
  int32_t saved[5];
  for (int k = 0; k < 5; ++k) saved[k] = Word(k);
  SetWord(0, c.free_records);
  SetWord(1, c.first_free_record);
  SetWord(2, c.next_autoinc);
  SetWord(3, c.change_counter);
  SetWord(4, c.kept_value);
  file_.Seek(format_.units_per_page);
  size_t written = 0;
  try {
    written = file_.Write(entries_, 1);
  } catch (...) {
    for (int k = 0; k < 5; ++k) SetWord(k, saved[k]);
    throw;
  }
  for (int k = 0; k < 5; ++k) SetWord(k, saved[k]);
  if (written != 1) RaiseIndexCorrupted();
  pages_ = std::max(pages_, int32_t{2});
}

// The chain on disk is untrusted: a page outside 2 .. pages - 1 (pages 0
// and 1 are the head and the counters), a page that holds entries, or a
// page met twice ends the walk, so nothing in use is ever listed as free and
// a cycle cannot keep the walk going.
void TInd1FOps::LoadFreeList() {
  free_pages_.clear();
  free_list_changed_ = false;
  buffered_page_ = -1;
  ReadPage(0, 0);
  const int32_t announced = Word(0);
  int32_t page = Word(1);
  // Sound: page 0 counts exactly the pages of a chain that ends with -1.
  free_chain_sound_ = announced == 0 && page == -1;
  if (announced <= 0) return;
  std::vector<bool> seen(static_cast<size_t>(pages_), false);
  while (page >= kFirstLeafPage && page < pages_ && !seen[page]) {
    seen[page] = true;
    ReadPage(page, 0);
    if (Word(0) != 0) break;
    free_pages_.push_back(page);
    if (static_cast<int64_t>(free_pages_.size()) >= announced) {
      free_chain_sound_ = Word(1) == -1;
      break;
    }
    page = Word(1);
  }
  buffered_page_ = -1;
}

void TInd1FOps::UnlistFreePage(int32_t page) {
  const auto kept = std::remove(free_pages_.begin(), free_pages_.end(), page);
  if (kept == free_pages_.end()) return;
  free_pages_.erase(kept, free_pages_.end());
  free_list_changed_ = true;
}

void TInd1FOps::ShiftEntries(int first, int last, int delta) {
  if (last < first) return;
  const size_t n = static_cast<size_t>(last - first + 1);
  std::memmove(entries_ + 4 * (first + delta), entries_ + 4 * first, 4 * n);
  if (format_.has_prefixes)
    std::memmove(key_ + kPrefixBytes * (first + delta), key_ + kPrefixBytes * first,
                 kPrefixBytes * n);
}

void TInd1FOps::SetPrefix(int k, const uint8_t* prefix) {
  if (!format_.has_prefixes) return;
  if (prefix != nullptr)
    std::memmove(key_ + kPrefixBytes * k, prefix, kPrefixBytes);
  else
    std::memset(key_ + kPrefixBytes * k, 0, kPrefixBytes);
}

void TInd1FOps::WriteChainPage(int32_t page, int32_t count, int32_t link, bool whole,
                               bool dead_slots) {
  if (page < 0) RaiseIndexCorruptedPlain();
  uint8_t* image = chain_page_.get();
  const int last = dead_slots ? format_.max_entries : 1;
  PutInt32(image, count);
  for (int k = 1; k <= last; ++k) PutInt32(image + 4 * k, -1);
  PutInt32(image + 4, link);
  const size_t units = whole ? format_.units_per_page : 1;
  file_.Seek(int64_t{page} * format_.units_per_page);
  size_t written = 0;
  try {
    written = file_.Write(image, units);
  } catch (...) {
    std::memset(image, 0, 4 * (static_cast<size_t>(last) + 1));
    throw;
  }
  std::memset(image, 0, 4 * (static_cast<size_t>(last) + 1));
  if (written != units) RaiseIndexCorrupted();
  if (whole) pages_ = std::max(pages_, page + 1);
}

void TInd1FOps::WriteFreedPage(int32_t page, int32_t link) {
  WriteChainPage(page, 0, link, false, true);
}

void TInd1FOps::WriteFreeHead() {
  WriteChainPage(0, static_cast<int32_t>(free_pages_.size()),
                 free_pages_.empty() ? -1 : free_pages_.front(), false);
}

int32_t TInd1FOps::AllocatePage(int shift) {
  if (free_pages_.empty()) ExtendFile();
  const int32_t page = free_pages_.front();
  try {
    WritePage(page, shift);
  } catch (...) {
    RaiseIndexCorrupted();
  }
  free_pages_.erase(free_pages_.begin());
  free_list_changed_ = true;
  WriteFreeHead();
  return page;
}

void TInd1FOps::FreePage(int32_t page) {
  if (page < kFirstLeafPage || page >= pages_ ||
      std::find(free_pages_.begin(), free_pages_.end(), page) != free_pages_.end())
    RaiseIndexCorrupted();
  free_pages_.insert(free_pages_.begin(), page);
  free_list_changed_ = true;
  buffered_page_ = -1;
  WriteFreeHead();
}

void TInd1FOps::ExtendFile() {
  const int32_t first = pages_;
  for (int32_t k = 0; k < 4; ++k) {
    WriteChainPage(first + k, 0, k < 3 ? first + k + 1 : -1, true);
    free_pages_.push_back(first + k);
    free_list_changed_ = true;
  }
}

void TInd1FOps::SaveFreeList() {
  buffered_page_ = -1;
  std::sort(free_pages_.begin(), free_pages_.end());
  WriteFreeHead();
  for (size_t k = 0; k < free_pages_.size(); ++k)
    WriteChainPage(free_pages_[k], 0, k + 1 < free_pages_.size() ? free_pages_[k + 1] : -1, false);
  free_chain_sound_ = true;
  free_list_changed_ = false;
}

void TInd1FOps::ScanFreePages(int32_t empty_leaf) {
  free_pages_.clear();
  free_list_changed_ = true;
  if (pages_ == kFirstLeafPage + 1) return;
  for (int32_t page = kFirstLeafPage; page < pages_; ++page) {
    ReadPage(page, 0);
    if (Word(0) == 0 && page != empty_leaf) free_pages_.push_back(page);
  }
}

void TInd1FOps::CreateEmptyFile() {
  buffered_page_ = -1;
  free_pages_.clear();
  free_chain_sound_ = true;
  free_list_changed_ = false;
  // Page 1 keeps what it holds: in index 0's file the table counters,
  // which the engine rewrites itself.
  for (int32_t page = 0; page <= kFirstLeafPage; ++page)
    if (page != 1 || pages_ < 2) WriteChainPage(page, 0, -1, true);
  CutPages(kFirstLeafPage + 1);
}

void TInd1FOps::CopyPage(int32_t from, int32_t to) {
  ReadPage(from, 0);
  WritePage(to, 0);
}

void TInd1FOps::SettleShiftedImage(int32_t page) {
  std::memmove(entries_, entries_ - 4, format_.unit_bytes);
  if (format_.has_prefixes)
    std::memmove(key_ + kPrefixBytes, key_,
                 static_cast<size_t>(format_.units_per_page - 1) * format_.unit_bytes);
  buffered_page_ = page;
}

void TInd1FOps::CutPages(int32_t pages) {
  buffered_page_ = -1;
  file_.Seek(int64_t{pages} * format_.units_per_page);
  file_.Truncate();
  pages_ = pages;
}

}  // namespace logvane
