// Compacting the data file at a writable open.
//
// The file keeps its live records and ten free slots: every live record at
// or beyond that size moves, in ascending order, into the lowest free slot;
// its entry in every index and the owner of each of its blob values follow
// it, and its old slot gets the free marker before the file is cut. The free
// list then holds the ten free slots below the new end.
#include <algorithm>

#include "base/byte_order.h"
#include "engine/db_engine.h"

namespace logvane {

namespace {
constexpr int32_t kKeptFreeSlots = 10;
}  // namespace

int32_t TmtbDBEng::CompactDataFile() {
  RescanFreeRecords();
  std::vector<int32_t>& list = FreeList();
  if (static_cast<int32_t>(list.size()) <= kKeptFreeSlots) return -1;
  const int32_t slots = CheckDataFileSize();
  const auto free_count = static_cast<int32_t>(list.size());
  TIndex& primary = indexes_.IndexAt(0);
  primary.BuildPageCounts();
  if (slots - free_count != primary.KeyCount()) return -1;
  const int32_t target = slots - free_count + kKeptFreeSlots;

  // The list is ascending: the free slots at or beyond the target are found
  // by walking it alongside the slots, and the slots moved into are taken
  // from its front. Those are removed from the list when the walk ends,
  // also when it stops early.
  uint8_t* image = WorkBuffer(kSecondImage);
  size_t beyond =
      static_cast<size_t>(std::lower_bound(list.begin(), list.end(), target) - list.begin());
  size_t used = 0;
  auto finish = [&](int32_t result) {
    list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(used));
    return result;
  };
  try {
    for (int32_t r = target; r < slots; ++r) {
      if (beyond < list.size() && list[beyond] == r) {
        ++beyond;
        continue;
      }
      CopyRecord(r, image);
      const int32_t d = list[used];
      if (d >= target) return finish(-1);
      if (indexes_.ReplaceRecordNumbers(image, d) >= 0) return finish(-1);
      if (blob_file_) {
        for (size_t h = 0; h < holders_.Count(); ++h) {
          const int field = holders_.At(h).FieldNumber();
          if (image[field] != 0)
            blob_file_->SetValueOwner(GetInt32(image + def_.Field(field).offset), d);
        }
      }
      StoreRecord(d, image);
      UnpinRecord(d);
      image[0] = kFreeRecordMarker;
      StoreRecord(r, image);
      UnpinRecord(r);
      DropRecord(r);
      ++used;
    }
  } catch (...) {
    finish(0);
    throw;
  }
  finish(0);
  list.resize(kKeptFreeSlots);
  TruncateDataFile(slots - target);
  return 1;
}

}  // namespace logvane
