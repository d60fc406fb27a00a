// The small-page directory: the whole entry array in memory.
#include "index/small_directory.h"

#include <algorithm>
#include <utility>

#include "base/byte_order.h"
#include "index/corruption.h"
#include "index/page_file.h"

namespace logvane {

namespace {
constexpr int kEntryBytes = 8;
}  // namespace

TIndex2V1::TIndex2V1(std::string path) : TSecondIndex(std::move(path)) {}

TIndex2V1::~TIndex2V1() { CloseDirectory(); }

bool TIndex2V1::FitCapacity(int32_t count) {
  const int32_t capacity = Capacity();
  if (count < capacity && count >= capacity / 2 - 10) return false;
  entries_.resize(static_cast<size_t>(static_cast<int64_t>(count) * 12 / 10 + 10), Entry{0, -1});
  return true;
}

void TIndex2V1::WriteEntries(int32_t from, int32_t to) {
  if (to <= from) return;
  const auto n = static_cast<size_t>(to - from);
  raw_.resize(n * kEntryBytes);
  for (size_t i = 0; i < n; ++i) {
    PutInt32(&raw_[i * kEntryBytes], entries_[from + i].page);
    PutInt32(&raw_[i * kEntryBytes + 4], entries_[from + i].record);
  }
  file_.Seek(from);
  if (file_.Write(raw_.data(), n) != n) RaiseIndexCorrupted();
}

void TIndex2V1::CutAfterCount() {
  file_.Seek(count_);
  file_.Truncate();
}

void TIndex2V1::CreateEmpty() {
  FitCapacity(1);
  entries_[0] = Entry{kFirstLeafPage, -1};
  count_ = 1;
  position_ = 0;
  WriteEntries(0, 1);
  CutAfterCount();
}

void TIndex2V1::InsertEntry(int32_t p, int32_t page, const uint8_t* /*prefix*/, int32_t record) {
  if (p < 0) RaiseIndexCorrupted();
  p = std::min(p, count_);
  FitCapacity(count_ + 1);
  std::move_backward(entries_.begin() + p, entries_.begin() + count_,
                     entries_.begin() + count_ + 1);
  entries_[p] = Entry{page, record};
  ++count_;
  WriteEntries(p, count_);
}

void TIndex2V1::DeleteEntry(int32_t p) {
  if (p < 0 || p >= count_) RaiseIndexCorrupted();
  --count_;
  if (p < count_) {
    std::move(entries_.begin() + p + 1, entries_.begin() + count_ + 1, entries_.begin() + p);
    WriteEntries(p, count_);
  }
  CutAfterCount();
  FitCapacity(count_);
}

void TIndex2V1::SetEntry(int32_t p, int32_t page, const uint8_t* /*prefix*/, int32_t record) {
  if (p < 0 || p >= count_) RaiseIndexCorrupted();
  entries_[p] = Entry{page, record};
  WriteEntries(p, p + 1);
  position_ = p;
}

int32_t TIndex2V1::FindPage(int32_t page) {
  for (int32_t p = 0; p < count_; ++p)
    if (entries_[p].page == page) return p;
  RaiseIndexCorrupted();
}

void TIndex2V1::UpdateByPage(int32_t page, int32_t new_page, const uint8_t* prefix,
                             int32_t record) {
  const int32_t p = FindPage(page);
  const Entry e = entries_[p];
  SetEntry(p, new_page >= 0 ? new_page : e.page, prefix, record >= 0 ? record : e.record);
}

int32_t TIndex2V1::RemapPages(std::vector<int32_t>& moved, std::vector<int32_t>& targets) {
  TPageRemap remap(moved);
  int32_t changed = 0;
  for (int32_t p = 0; p < count_; ++p) {
    const int32_t k = remap.Take(entries_[p].page);
    if (k < 0) continue;
    entries_[p].page = targets[k];
    targets[k] = moved[k];
    ++changed;
  }
  WriteEntries(0, count_);
  return changed;
}

void TIndex2V1::LoadDirectory() {
  CloseDirectory();
  file_.OpenPositioned(path_, kEntryBytes);
  opened_ = true;
  if (!platform::DefaultReadOnly()) file_.MapForWriting();
  const int64_t units = file_.SizeInUnits();
  // More entries than an int32 count can name cannot be a directory.
  if (units > INT32_MAX / 2) RaiseIndexCorrupted();
  const auto count = static_cast<int32_t>(units);
  FitCapacity(count);
  std::vector<uint8_t> raw(static_cast<size_t>(count) * kEntryBytes);
  file_.Seek(0);
  if (count > 0 && file_.Read(raw.data(), count) != static_cast<size_t>(count))
    RaiseIndexCorrupted();
  for (int32_t i = 0; i < count; ++i)
    entries_[i] = Entry{GetInt32(&raw[i * kEntryBytes]), GetInt32(&raw[i * kEntryBytes + 4])};
  count_ = count;
  position_ = 0;
}

TDirProbe TIndex2V1::ProbeMiddle(int32_t lo, int32_t hi) {
  const auto probe = static_cast<int32_t>((int64_t{lo} + hi + 1) / 2);
  const TDirEntry e = GetEntry(probe);
  return TDirProbe{probe, e.record, nullptr};
}

TDirEntry TIndex2V1::GetEntry(int32_t p) {
  if (p < 0 || p >= count_) RaiseIndexCorrupted();
  position_ = p;
  return TDirEntry{entries_[p].page, entries_[p].record, nullptr};
}

void TIndex2V1::CloseDirectory() {
  file_.Close();
  opened_ = false;
  count_ = 0;
  position_ = 0;
}

}  // namespace logvane
