// The free-record chain: loading it at open, writing it back at close,
// rescanning the file for free records, and growing the file ten slots at a
// time.
#include <algorithm>
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
  last_position_ = -2;
  const int32_t a = slot_count_;
  if (file_.SizeInUnits() != a) throw EDedaZiRecMgrError(msg::kMtdIoError);
  for (int32_t i = 0; i < kGrowth; ++i)
    if (InFreeList(a + i)) throw EDedaZiRecMgrError(msg::kMtdIoError);
  // The ten records a -> a+1 -> ... -> a+9 -> -1 go out in as few writes as
  // the growth buffer allows.
  const size_t length = static_cast<size_t>(record_length_);
  int32_t done = 0;
  try {
    while (done < kGrowth) {
      const int32_t batch = std::min(kGrowth - done, growth_records_);
      for (int32_t k = 0; k < batch; ++k) {
        const int32_t slot = a + done + k;
        MakeFreeImage(growth_.get() + static_cast<size_t>(k) * length, record_length_,
                      slot + 1 < a + kGrowth ? slot + 1 : -1);
      }
      file_.Seek(a + done);
      if (file_.Write(growth_.get(), static_cast<size_t>(batch)) != static_cast<size_t>(batch))
        RaiseIo(a + done);
      done += batch;
    }
  } catch (...) {
    // The whole free records that reached the file belong to the table.
    int64_t grown = done;
    try {
      grown = file_.SizeInUnits() - a;
    } catch (...) {
    }
    grown = std::clamp<int64_t>(grown, 0, kGrowth);
    for (int32_t i = 0; i < grown; ++i) free_list_.push_back(a + i);
    slot_count_ = a + static_cast<int32_t>(grown);
    throw;
  }
  for (int32_t i = 0; i < kGrowth; ++i) free_list_.push_back(a + i);
  slot_count_ = a + kGrowth;
}

}  // namespace logvane
