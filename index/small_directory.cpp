// The small-page directory: the whole entry array in memory.
#include "index/small_directory.h"

#include <utility>

#include "base/byte_order.h"
#include "index/corruption.h"

namespace logvane {

namespace {
constexpr int kEntryBytes = 8;
}  // namespace

TIndex2V1::TIndex2V1(std::string path) : TSecondIndex(std::move(path)) {}

TIndex2V1::~TIndex2V1() { CloseDirectory(); }

bool TIndex2V1::FitCapacity(int32_t count) {
  const int32_t capacity = Capacity();
  if (count < capacity && count >= capacity / 2 - 10) return false;
  entries_.assign(static_cast<size_t>(static_cast<int64_t>(count) * 12 / 10 + 10), Entry{0, -1});
  return true;
}

void TIndex2V1::LoadDirectory() {
  CloseDirectory();
  file_.OpenPositioned(path_, kEntryBytes);
  opened_ = true;
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
