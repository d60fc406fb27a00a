// The free-record chain: loading it at open, writing it back at close,
// rescanning the file for free records, and growing the file ten slots at a
// time.
#include <algorithm>
#include <memory>
#include <vector>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "table/record_manager.h"

namespace logvane {

namespace {
constexpr int kScratch = 6;
constexpr int kGrowth = 10;

void MakeFreeImage(uint8_t* image, int length, int32_t next) {
  std::fill(image, image + length, 0);
  image[0] = kFreeRecordMarker;
  PutInt32(image + 4, next);
}
}  // namespace

bool TmtbRecMgr::ReadSlot(uint8_t* buffer, int32_t n) {
  SeekFor(n);
  last_position_ = n;
  if (file_.Read(buffer, 1) == 1) return true;
  last_position_ = -2;
  return false;
}

bool TmtbRecMgr::InFreeList(int32_t n) const {
  return std::find(free_list_.begin(), free_list_.end(), n) != free_list_.end();
}

void TmtbRecMgr::LoadFreeChain(int32_t count, int32_t head) {
  last_position_ = -2;
  const int64_t n_slots = file_.SizeInUnits();
  free_list_.clear();
  if (count <= 0 || head == -1) return;
  uint8_t* scratch = work_[kScratch];
  std::vector<bool> taken(static_cast<size_t>(n_slots));
  // Every record taken into the list is read and must be free: an append
  // reuses list entries, so a live record in the list would be overwritten.
  auto take = [&](int32_t p) {
    if (p < 0 || p >= n_slots || taken[p] || !ReadSlot(scratch, p) ||
        scratch[0] != kFreeRecordMarker)
      throw EDedaZiRecMgrError(msg::kMtdIoError);
    taken[p] = true;
    free_list_.push_back(p);
    return GetInt32(scratch + 4);
  };
  int32_t next = take(head);
  for (int32_t i = 1; i < count && next >= 0 && next < n_slots; ++i) next = take(next);
}

void TmtbRecMgr::WriteFreeChain() {
  uint8_t* scratch = work_[kScratch];
  for (size_t k = 0; k < free_list_.size(); ++k) {
    int32_t next = k + 1 < free_list_.size() ? free_list_[k + 1] : -1;
    MakeFreeImage(scratch, record_length_, next);
    StoreRecord(free_list_[k], scratch);
    UnpinRecord(free_list_[k]);
  }
  free_list_.clear();
}

void TmtbRecMgr::RescanFreeRecords() {
  last_position_ = -2;
  free_list_.clear();
  uint8_t* scratch = work_[kScratch];
  const int64_t n_slots = file_.SizeInUnits();
  for (int32_t n = 0; n < n_slots; ++n) {
    if (!ReadSlot(scratch, n)) break;
    if (scratch[0] == kFreeRecordMarker) free_list_.push_back(n);
  }
}

void TmtbRecMgr::GrowFreeChain() {
  uint8_t* scratch = work_[kScratch];
  std::unique_ptr<uint8_t[]> kept(new uint8_t[record_length_]);
  std::copy(scratch, scratch + record_length_, kept.get());
  try {
    last_position_ = -2;
    const int32_t a = slot_count_;
    if (file_.SizeInUnits() != a) throw EDedaZiRecMgrError(msg::kMtdIoError);
    for (int32_t i = 0; i < kGrowth; ++i) {
      MakeFreeImage(scratch, record_length_, i + 1 < kGrowth ? a + i + 1 : -1);
      SeekFor(a + i);
      last_position_ = a + i;
      if (file_.Write(scratch, 1) != 1) {
        last_position_ = -2;
        RaiseIo(a + i);
      }
      ++slot_count_;
      if (InFreeList(a + i)) throw EDedaZiRecMgrError(msg::kMtdIoError);
      free_list_.push_back(a + i);
    }
  } catch (...) {
    std::copy(kept.get(), kept.get() + record_length_, scratch);
    throw;
  }
  std::copy(kept.get(), kept.get() + record_length_, scratch);
  DropReadCaches();
}

}  // namespace logvane
