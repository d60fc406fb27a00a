// The index cursor: opening, page checks, ordered traversal and the binary
// search steps.
#include "index/index.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "index/corruption.h"
#include "index/index_names.h"
#include "index/large_directory.h"
#include "index/small_directory.h"

namespace logvane {

namespace {

[[noreturn]] void Damaged(TInd1FOps& file) {
  // The buffer may hold the bad page: make the next access read it again
  // (and fail again) instead of trusting it.
  file.ForgetBufferedPage();
  RaiseIndexCorrupted();
}

}  // namespace

TIndex::TIndex(int index_number, int format_level, const std::string& table_path,
               TKeySource& source)
    : TInd1FOps(TPageFormat::ForLevel(format_level), LeafPageFileName(table_path, index_number)),
      index_number_(index_number),
      format_level_(format_level),
      source_(source) {
  const std::string directory_path = DirectoryFileName(table_path, index_number);
  if (format_level >= kLargePageLevel)
    directory_ = std::make_unique<TKeyBufSecondIndex>(directory_path);
  else
    directory_ = std::make_unique<TIndex2V1>(directory_path);
}

TIndex::~TIndex() { CloseIndex(); }

void TIndex::OpenIndex() {
  CloseIndex();
  directory_->LoadDirectory();
  OpenPageFile();
  // Pages 0 and 1 and at least one leaf page; every directory entry names
  // its own page.
  if (PageCount() < kFirstLeafPage + 1) RaiseIndexCorrupted();
  if (directory_->Count() > PageCount() - kFirstLeafPage) RaiseIndexCorrupted();
  LoadFreeList();
  // The single page of an empty index also has count 0; it is not free.
  UnlistFreePage(EmptyLeafPage());
  // The whole structure is checked before anything is written to it.
  BuildPageCounts();
  if (PageFileWritable()) CheckForWriting();
  in_page_ = 1;
  saved_position_ = 0;
  saved_in_page_ = -1;
  level_ = 1;
  low_ = 1;
  high_ = 0;
  probe_ = -1;
  open_ = true;
}

void TIndex::CloseIndex() {
  // The free chain on disk already matches the list; writing it whole puts
  // it in ascending order. A list that did not change is not written, so an
  // open that fails, or one that only reads, leaves the file as it was.
  // Should the write fail, the next writable open finds the damage and
  // rebuilds the list by scanning.
  if (open_ && PageFileWritable() && FreeListChanged()) {
    try {
      SaveFreeList();
    } catch (...) {
    }
  }
  open_ = false;
  active_ = false;
  directory_->CloseDirectory();
  ClosePageFile();
  page_counts_.Clear();
  current_position_ = -1;
  current_page_ = -1;
  in_page_ = 1;
}

int32_t TIndex::SlotLimit() { return source_.KeySlotCount(); }

int32_t TIndex::EmptyLeafPage() {
  return directory_->Count() <= 1 ? directory_->EntryOrEmpty(0).page : -1;
}

void TIndex::CheckForWriting() {
  const int64_t named = std::max(directory_->Count(), 1);
  if (PageCount() - static_cast<int64_t>(FreePages().size()) != named + kFirstLeafPage ||
      !FreeChainSound()) {
    ScanFreePages(EmptyLeafPage());
    SaveFreeList();
  }
  if (FreePages().size() >= 6) Compact();
  current_position_ = -1;
}

int32_t TIndex::Compact() {
  current_position_ = -1;
  ScanFreePages(EmptyLeafPage());
  std::vector<int32_t>& free = MutableFreePages();
  const auto free_count = static_cast<int32_t>(free.size());
  if (free_count <= 4) return -1;
  const int32_t pages = PageCount();
  if (pages - free_count != std::max(directory_->Count(), 1) + kFirstLeafPage) return -1;
  const int32_t size = pages - free_count + 4;

  // The pages in use beyond the new end go to the lowest free pages, which
  // all lie below it (at least four free pages stay below it).
  std::vector<int32_t> moved;
  for (int32_t page = size; page < pages; ++page)
    if (!std::binary_search(free.begin(), free.end(), page)) moved.push_back(page);
  std::vector<int32_t> targets(free.begin(), free.begin() + static_cast<ptrdiff_t>(moved.size()));
  for (size_t k = 0; k < moved.size(); ++k) CopyPage(moved[k], targets[k]);
  std::vector<int32_t> remap_moved = moved;
  const int32_t changed = directory_->RemapPages(remap_moved, targets);
  if (changed != static_cast<int32_t>(moved.size())) {
    // Some entry may still name a page beyond the new end: nothing is cut.
    // The copies now hold entries, so page 0 must no longer lead to them.
    ScanFreePages(EmptyLeafPage());
    SaveFreeList();
    RaiseIndexCorrupted();
  }
  // The moved pages are free now, and all of them lie beyond the new end.
  free.erase(free.begin(), free.begin() + static_cast<ptrdiff_t>(moved.size()));
  free.erase(std::remove_if(free.begin(), free.end(), [&](int32_t page) { return page >= size; }),
             free.end());
  CutPages(size);
  // Page 0 still names the old chain, whose pages may now be in use or
  // gone: the chain is written at once, not left until the close.
  SaveFreeList();
  return FreePages().size() == 4 ? 1 : -1;
}

void TIndex::InsertKey(int32_t record, const uint8_t* prefix) {
  try {
    InsertKeyAt(record, prefix);
  } catch (...) {
    current_position_ = -1;
    ForgetBufferedPage();
    RaiseIndexCorrupted();
  }
  current_position_ = -1;
}

void TIndex::InsertKeyAt(int32_t record, const uint8_t* prefix) {
  const int32_t m = Format().max_entries;
  EnsureCurrentPage();
  const int32_t at = directory_->Position();
  const int32_t page = current_page_;
  const int32_t n = PageCountWord();
  const int32_t p = in_page_;
  if (p < 1 || p > n + 1 || n > m) Damaged(*this);
  // Every record number an index holds lies in the data file.
  if (record < 0 || record >= SlotLimit()) Damaged(*this);
  uint8_t key[kPrefixBytes] = {};
  if (Format().has_prefixes && prefix != nullptr) std::memcpy(key, prefix, kPrefixBytes);

  // A new first entry changes what the directory says about the page. A
  // directory without entries counts as naming page 2: it gets its entry.
  if (p == 1) {
    if (directory_->Count() == 0)
      directory_->InsertEntry(0, page, key, record);
    else
      directory_->SetEntry(at, page, key, record);
  }

  // Entries after the place move up one slot, or, when fewer lie before
  // it, the count and the entries before it move down into the spare slot
  // and the image starts one slot earlier.
  int shift = 0;
  if (p >= m / 2 + 1) {
    ShiftEntries(p, n, 1);
  } else {
    ShiftEntries(1, p - 1, -1);
    shift = -1;
  }
  ForgetBufferedPage();
  SetWord(p + shift, record);
  SetPrefix(p + shift, key);
  int32_t count = n + 1;
  SetWord(shift, count);

  if (count == m + 1) {
    // The right page is the image that starts at the slot of entry h; that
    // word holds the right page's count while it is written.
    const int32_t h = (m + 1) / 2;
    const int32_t right = m + 1 - h;
    const int32_t kept = Word(h + shift);
    SetWord(h + shift, right);
    const int32_t new_page = AllocatePage(h + shift);
    SetWord(h + shift, kept);
    if (active_) {
      const bool moved_right = p > h;
      if (moved_right) in_page_ = p - h;
      if (saved_position_ == at && moved_right) {
        saved_position_ = at + 1;
        saved_in_page_ = in_page_;
      } else if (saved_position_ > at) {
        ++saved_position_;
      }
    }
    directory_->InsertEntry(at + 1, new_page,
                            Format().has_prefixes ? Prefix(h + 1 + shift) : nullptr,
                            Word(h + 1 + shift));
    page_counts_.Insert(at + 1, right);
    count = h;
    SetWord(shift, count);
  }
  WritePage(page, shift);
  if (shift != 0) SettleShiftedImage(page);
  page_counts_.Set(at, count);
}

void TIndex::DeleteKey(bool adjust) {
  try {
    DeleteKeyAt(adjust);
  } catch (...) {
    current_position_ = -1;
    ForgetBufferedPage();
    RaiseIndexCorrupted();
  }
  current_position_ = -1;
}

void TIndex::DeleteKeyAt(bool adjust) {
  EnsureCurrentPage();
  const int32_t at = directory_->Position();
  const int32_t page = current_page_;
  const int32_t old_count = PageCountWord();
  const int32_t p = in_page_;
  if (p < 1 || p > old_count) Damaged(*this);
  const int32_t n = old_count - 1;
  const int32_t entries = directory_->Count();
  const bool emptied = n == 0;
  const bool last = at >= entries - 1;

  if (active_ && adjust) {
    if (emptied && entries <= 1) {
      saved_in_page_ = -1;
    } else if (emptied && last) {
      saved_position_ = at - 1;
      saved_in_page_ = page_counts_.At(at - 1);
    } else if (emptied) {
      saved_in_page_ = 1;
    } else if (n < saved_in_page_) {
      if (last) {
        saved_in_page_ = n;
      } else {
        saved_position_ = at + 1;
        saved_in_page_ = 1;
      }
    }
  }

  if (emptied && entries > 1) {
    WriteFreedPage(page, FreePages().empty() ? -1 : FreePages().front());
    ForgetBufferedPage();
    directory_->DeleteEntry(at);
    FreePage(page);
    page_counts_.Erase(at);
    return;
  }
  if (emptied) {
    // The index's last entry: its page stays, as the empty index's page.
    const uint8_t zero[kPrefixBytes] = {};
    SetWord(0, 0);
    SetWord(1, -1);
    WritePage(page, 0);
    directory_->SetEntry(at, page, zero, -1);
    page_counts_.Set(at, 0);
    return;
  }
  ShiftEntries(p + 1, old_count, -1);
  SetWord(0, n);
  WritePage(page, 0);
  if (p == 1) directory_->SetEntry(at, page, Format().has_prefixes ? Prefix(1) : nullptr, Word(1));
  page_counts_.Set(at, n);
}

void TIndex::ReplaceRecordNumber(int32_t record) {
  try {
    EnsureCurrentPage();
    const int32_t at = directory_->Position();
    const int32_t p = in_page_;
    if (p < 1 || p > PageCountWord()) Damaged(*this);
    if (record < 0 || record >= SlotLimit()) Damaged(*this);
    SetWord(p, record);
    WritePage(current_page_, 0);
    if (p == 1) directory_->SetEntry(at, current_page_, nullptr, record);
  } catch (...) {
    current_position_ = -1;
    ForgetBufferedPage();
    RaiseIndexCorrupted();
  }
  current_position_ = -1;
}

void TIndex::MakeEmpty() {
  current_position_ = -1;
  CreateEmptyFile();
  directory_->CreateEmpty();
  BuildPageCounts();
  in_page_ = 1;
}

void TIndex::LoadEntry(int32_t p) {
  current_position_ = -1;
  const TDirEntry e = directory_->EntryOrEmpty(p);
  if (e.page < kFirstLeafPage || e.page >= PageCount()) RaiseIndexCorrupted();
  current_page_ = e.page;
  current_first_ = e.record;
  current_has_prefix_ = Format().has_prefixes && e.prefix != nullptr;
  if (current_has_prefix_) std::memcpy(current_prefix_.data(), e.prefix, current_prefix_.size());
  const bool read = ReadPage(e.page, 0);
  CheckPage(read);
  current_position_ = directory_->Position();
}

void TIndex::EnsureCurrentPage() {
  if (current_position_ < 0 || directory_->Position() != current_position_) {
    LoadEntry(directory_->Position());
    return;
  }
  if (ReadPage(current_page_, 0)) CheckPage(true);
}

void TIndex::CheckPage(bool read) {
  const int32_t n = PageCountWord();
  if (n < 0 || n > Format().max_entries) Damaged(*this);
  if (n == 0 && directory_->Count() > 1) Damaged(*this);
  if ((n > 0 ? Word(1) : -1) != current_first_) Damaged(*this);
  if (n > 0 && current_has_prefix_ &&
      std::memcmp(current_prefix_.data(), Prefix(1), current_prefix_.size()) != 0)
    Damaged(*this);
  if (!read) return;
  const int32_t limit = SlotLimit();
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t r = Word(k);
    if (r < 0 || r >= limit) Damaged(*this);
  }
}

int32_t TIndex::EntryAt(int32_t k) const {
  // Positions come from callers and searches; only 1 .. count name entries.
  return k >= 1 && k <= PageCountWord() ? Word(k) : -1;
}

int32_t TIndex::EntryAhead(int32_t k) const {
  // Only from the cursor's own page, which was checked when it came in.
  if (current_page_ < 0 || BufferedPage() != current_page_ ||
      directory_->Position() != current_position_)
    return -1;
  return EntryAt(in_page_ + k);
}

void TIndex::BuildPageCounts() {
  const int32_t saved = directory_->Position();
  const int32_t entries = std::max(directory_->Count(), 1);
  auto back = [&] { LoadEntry(std::clamp(saved, 0, entries - 1)); };
  page_counts_.Clear();
  page_counts_.Reserve(entries);
  try {
    std::vector<bool> page_seen(static_cast<size_t>(PageCount()), false);
    std::vector<bool> record_seen(static_cast<size_t>(std::max(SlotLimit(), 0)), false);
    for (int32_t p = 0; p < entries; ++p) {
      LoadEntry(p);
      if (page_seen[current_page_]) Damaged(*this);
      page_seen[current_page_] = true;
      const int32_t n = PageCountWord();
      for (int32_t k = 1; k <= n; ++k) {
        const int32_t r = Word(k);
        if (r < 0 || static_cast<size_t>(r) >= record_seen.size() || record_seen[r]) Damaged(*this);
        record_seen[r] = true;
      }
      page_counts_.Append(n);
    }
  } catch (...) {
    try {
      back();
    } catch (...) {
    }
    throw;
  }
  back();
}

int32_t TIndex::FirstEntry() {
  LoadEntry(0);
  in_page_ = 1;
  return EntryAt(1);
}

int32_t TIndex::LastEntry() {
  LoadEntry(std::max(directory_->Count() - 1, 0));
  const int32_t n = PageCountWord();
  in_page_ = n > 0 ? n : 1;
  return EntryAt(n);
}

void TIndex::StepForward() {
  EnsureCurrentPage();
  if (in_page_ == PageCountWord()) {
    if (AtLast()) {
      in_page_ = PageCountWord() + 1;
      return;
    }
    LoadEntry(directory_->Position() + 1);
    in_page_ = 0;
  }
  ++in_page_;
}

void TIndex::StepBack() {
  EnsureCurrentPage();
  if (in_page_ == 1) {
    if (AtFirst()) {
      in_page_ = 0;
      return;
    }
    LoadEntry(directory_->Position() - 1);
    in_page_ = PageCountWord() + 1;
  }
  --in_page_;
}

int32_t TIndex::CurrentOrNext() {
  EnsureCurrentPage();
  if (in_page_ < 1) in_page_ = 1;
  if (in_page_ <= PageCountWord()) return Word(in_page_);
  if (AtLast()) return -1;
  LoadEntry(directory_->Position() + 1);
  in_page_ = 1;
  return EntryAt(1);
}

int32_t TIndex::PriorEntry() {
  EnsureCurrentPage();
  if (in_page_ <= 1) {
    if (AtFirst()) return -1;
    LoadEntry(directory_->Position() - 1);
    in_page_ = PageCountWord();
    return EntryAt(in_page_);
  }
  --in_page_;
  return EntryAt(in_page_);
}

TSettle TIndex::SettleForward() {
  EnsureCurrentPage();
  TSettle result;
  if (in_page_ > PageCountWord()) {
    if (AtLast()) {
      in_page_ = PageCountWord();
      result.edge = 1;
    } else {
      LoadEntry(directory_->Position() + 1);
      in_page_ = 1;
    }
  } else if (in_page_ == 1 && AtFirst()) {
    result.edge = -1;
  }
  result.record = EntryAt(in_page_);
  return result;
}

int32_t TIndex::CurrentEntry() {
  EnsureCurrentPage();
  return EntryAt(in_page_);
}

void TIndex::SavePosition(bool keep_in_page) {
  saved_position_ = directory_->Position();
  saved_in_page_ = keep_in_page ? in_page_ : -1;
}

int32_t TIndex::RestorePosition() {
  if (saved_in_page_ < 1) {
    in_page_ = 1;
    return -1;
  }
  LoadEntry(std::max(std::min(saved_position_, directory_->Count() - 1), 0));
  in_page_ = saved_in_page_;
  return EntryAt(in_page_);
}

int32_t TIndex::OrdinalPosition() const {
  return static_cast<int32_t>(in_page_ + page_counts_.SumBefore(directory_->Position()));
}

void TIndex::EnterLeafLevel(int32_t p) {
  LoadEntry(p);
  level_ = 1;
  low_ = 1;
  high_ = PageCountWord();
}

void TIndex::SearchBegin() {
  level_ = 2;
  low_ = 0;
  const TDirEntry first = directory_->EntryOrEmpty(0);
  high_ = directory_->Count() - 1;
  probe_ = -1;
  if (low_ < high_ && first.record >= 0) return;
  EnterLeafLevel(0);
}

TSearchProbe TIndex::SearchProbe() {
  if (level_ == 2) {
    const TDirProbe probe = directory_->ProbeMiddle(low_, high_);
    probe_ = probe.position;
    // The caller reads this record: it must lie in the data file.
    if (probe.record < 0 || probe.record >= SlotLimit()) RaiseIndexCorrupted();
    return TSearchProbe{probe.record, probe.prefix};
  }
  EnsureCurrentPage();
  probe_ = (low_ + high_) / 2;
  if (probe_ < 1 || probe_ > PageCountWord()) Damaged(*this);
  return TSearchProbe{Word(probe_), Format().has_prefixes ? Prefix(probe_) : nullptr};
}

void TIndex::SearchNarrow(int c) {
  if (level_ == 2) {
    if (c == 0) {
      high_ = -1;
      low_ = probe_;
    } else if (c > 0) {
      low_ = probe_;
    } else {
      high_ = probe_ - 1;
    }
    if (high_ > low_) return;
    EnterLeafLevel(low_);
    return;
  }
  if (c == 0) {
    high_ = -1;
    low_ = probe_;
  } else if (c > 0) {
    low_ = probe_ + 1;
  } else {
    high_ = probe_ - 1;
  }
}

int32_t TIndex::SearchResult() {
  EnsureCurrentPage();
  in_page_ = low_;
  return EntryAt(low_);
}

}  // namespace logvane
