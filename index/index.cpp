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
  if (directory_->Count() <= 1) UnlistFreePage(directory_->EntryOrEmpty(0).page);
  BuildPageCounts();
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
