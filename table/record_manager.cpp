// Record access by number and the pinned-record table.
#include "table/record_manager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "base/messages.h"

namespace logvane {

namespace {

// The read-ahead window's size.
constexpr int kReadAheadBytes = 64 * 1024;
// Forward reads at most this many slots apart continue a run.
constexpr int32_t kRunGap = 64;
// The most that growing the free chain writes at once.
constexpr int kGrowthBytes = 64 * 1024;
// Copies of the records written lately: an appending writer reads them back
// (the record it just wrote, the neighbours its keys are compared with).
constexpr int kWrittenBytes = 512 * 1024;
constexpr int kWrittenRecords = 4096;

// A buffer of L bytes inside a block of L + 7 bytes, on a 4-byte boundary.
uint8_t* Aligned4(uint8_t* p) {
  auto v = reinterpret_cast<uintptr_t>(p);
  return p + ((4 - (v & 3)) & 3);
}

}  // namespace

void TmtbRecMgr::RaiseIo(int32_t n) {
  long long size = -1;
  try {
    size = file_.IsOpen() ? file_.SizeInUnits() : 0;
  } catch (const EInOutError&) {
  }
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%d/%lld", n, size);
  throw EDedaZiRecMgrError(std::string(msg::kMtdIoError) + numbers);
}

void TmtbRecMgr::RaiseCacheInvalid() { throw EDedaZiRecMgrError(msg::kRecordCacheInvalid); }

void TmtbRecMgr::OpenDataFile(const std::string& path, int record_length) {
  CloseDataFile();
  const size_t stride = static_cast<size_t>(record_length) + 7;

  // The pinned-record table: 32 slots, halved until it stays below 65535
  // bytes, and again while the allocation fails.
  int mask = kMaxPinSlots - 1;
  for (;;) {
    size_t size = stride * (mask + 1);
    while (size >= 65535) {
      size >>= 1;
      mask >>= 1;
    }
    if (stride * (mask + 1) > size) RaiseCacheInvalid();  // a slot smaller than a record
    pin_block_.reset(new (std::nothrow) uint8_t[size]);
    if (pin_block_) break;
    if (mask == 0) RaiseCacheInvalid();
    mask >>= 1;
  }
  pin_mask_ = mask;
  for (int s = 0; s <= mask; ++s)
    pins_[s] = PinSlot{0, -1, Aligned4(pin_block_.get() + s * stride)};

  work_block_.reset(new uint8_t[kWorkBufferCount * stride]());
  for (int i = 0; i < kWorkBufferCount; ++i) work_[i] = Aligned4(work_block_.get() + i * stride);
  growth_records_ = std::clamp(kGrowthBytes / record_length, 1, 10);
  growth_.reset(new uint8_t[static_cast<size_t>(growth_records_) * record_length]);

  record_length_ = record_length;
  path_ = path;
  try {
    file_.OpenPositioned(path, record_length);
    writable_ = !platform::DefaultReadOnly();
    slot_count_ = static_cast<int32_t>(std::min<int64_t>(file_.SizeInUnits(), INT32_MAX));
  } catch (...) {
    CloseDataFile();
    throw;
  }
  last_position_ = -2;
}

void TmtbRecMgr::SetReadAhead(bool allowed) {
  read_ahead_ = allowed;
  DropReadCaches();
}

void TmtbRecMgr::DropReadCaches() {
  DropWindow();
  DropWritten();
  run_length_ = 0;
  if (!read_ahead_) {
    file_.Unmap();
    return;
  }
  // A writer does not map: the file grows ten records at a time, and each
  // growth would map it afresh. Where there is no mapping (a writer, an
  // empty file) runs are read in windows instead, and a writer reads back
  // the records it wrote lately from copies.
  if (writable_) {
    file_.Unmap();
  } else if (file_.MapForReading()) {
    return;
  }
  if (record_length_ <= 0) return;
  if (writable_ && !written_) {
    const int written = std::clamp(kWrittenBytes / record_length_, 1, kWrittenRecords);
    written_.reset(new uint8_t[static_cast<size_t>(written) * record_length_]);
    written_record_.assign(static_cast<size_t>(written), -1);
  }
  if (window_) return;
  window_capacity_ = std::max(1, kReadAheadBytes / record_length_);
  window_.reset(new uint8_t[static_cast<size_t>(window_capacity_) * record_length_]);
}

bool TmtbRecMgr::ReadThroughWindow(uint8_t* buffer, int32_t n) {
  const size_t length = static_cast<size_t>(record_length_);
  if (n >= window_first_ && n < window_first_ + window_count_) {
    std::memcpy(buffer, window_.get() + (n - window_first_) * length, length);
    return true;
  }
  // Only a run of forward reads close together is worth a window: records
  // read in file order, or every few records of it (a filtered walk). A
  // scattered read (a walk in another index's order) reads just its record.
  const bool runs_on = n > last_position_ && n - last_position_ <= kRunGap;
  run_length_ = runs_on ? run_length_ + 1 : 0;
  if (run_length_ < 2) return false;
  const int32_t want = std::min(window_capacity_, slot_count_ - n);
  file_.Seek(n);
  const size_t got = file_.Read(window_.get(), static_cast<size_t>(want));
  window_first_ = n;
  window_count_ = static_cast<int32_t>(got);
  if (got == 0) return false;
  std::memcpy(buffer, window_.get(), length);
  return true;
}

void TmtbRecMgr::DropWritten() { std::fill(written_record_.begin(), written_record_.end(), -1); }

void TmtbRecMgr::CloseDataFile() {
  read_ahead_ = false;
  window_.reset();
  window_capacity_ = window_count_ = run_length_ = 0;
  file_.Close();
  work_block_.reset();
  std::fill(std::begin(work_), std::end(work_), nullptr);
  written_.reset();
  written_record_.clear();
  writable_ = false;
  growth_.reset();
  growth_records_ = 0;
  pin_block_.reset();
  for (PinSlot& s : pins_) s = PinSlot{};
  pin_mask_ = 0;
  free_list_.clear();
  slot_count_ = 0;
  last_position_ = -2;
}

void TmtbRecMgr::SeekFor(int32_t n) {
  if (n != last_position_ + 1) file_.Seek(n);
}

void TmtbRecMgr::ReadRecord(uint8_t* buffer, int32_t n) {
  if (n < 0 || n >= slot_count_ || buffer == nullptr || !file_.IsOpen()) RaiseIo(n);
  if (read_ahead_ && !file_.Mapped() && !written_record_.empty()) {
    const size_t entry = static_cast<size_t>(n) % written_record_.size();
    if (written_record_[entry] == n) {
      std::memcpy(buffer, written_.get() + entry * static_cast<size_t>(record_length_),
                  static_cast<size_t>(record_length_));
      last_position_ = n;
      file_.Seek(n + 1);
      if (buffer[0] == kFreeRecordMarker) RaiseIo(n);
      return;
    }
  }
  if (read_ahead_ && !file_.Mapped() && ReadThroughWindow(buffer, n)) {
    last_position_ = n;
    file_.Seek(n + 1);
    if (buffer[0] == kFreeRecordMarker) RaiseIo(n);
    return;
  }
  SeekFor(n);
  last_position_ = n;
  if (file_.Read(buffer, 1) != 1) {
    // The file position did not advance past n: make the next access seek.
    last_position_ = -2;
    RaiseIo(n);
  }
  if (buffer[0] == kFreeRecordMarker) RaiseIo(n);
}

void TmtbRecMgr::WriteRecord(const uint8_t* buffer, int32_t n) {
  if (n < 0 || n >= slot_count_ || buffer == nullptr || !file_.IsOpen()) RaiseIo(n);
  SeekFor(n);
  last_position_ = n;
  try {
    // A live record last page first, a free marker in one write: a kill
    // part-way leaves a slot being filled still free (see the header).
    const size_t written = buffer[0] == kFreeRecordMarker ? file_.Write(buffer, 1)
                                                          : file_.WriteLastPageFirst(buffer, 1);
    if (written != 1) RaiseIo(n);
  } catch (...) {
    // What the file now holds at n is unknown: neither the window nor the
    // copy may answer for it.
    last_position_ = -2;
    DropWindow();
    DropWritten();
    throw;
  }
  if (read_ahead_ && !file_.Mapped() && !written_record_.empty()) {
    const size_t entry = static_cast<size_t>(n) % written_record_.size();
    std::memcpy(written_.get() + entry * static_cast<size_t>(record_length_), buffer,
                static_cast<size_t>(record_length_));
    written_record_[entry] = n;
  }
  // The window shows the file: a record written inside it is copied in.
  if (n >= window_first_ && n < window_first_ + window_count_)
    std::memcpy(window_.get() + static_cast<size_t>(n - window_first_) * record_length_, buffer,
                record_length_);
}

uint8_t* TmtbRecMgr::PinRecord(int32_t n) {
  if (!pin_block_) RaiseCacheInvalid();
  PinSlot& s = pins_[n & pin_mask_];
  if (s.record == n) {
    // A hit still rereads: the buffer always shows the file's content.
    ReadRecord(s.buffer, n);
    ++s.pins;
    return s.buffer;
  }
  if (s.pins != 0) RaiseCacheInvalid();
  // The buffer is about to be overwritten: the slot holds nothing until the
  // read succeeds, so a failed read leaves no stale pin behind.
  s.record = -1;
  ReadRecord(s.buffer, n);
  s.record = n;
  s.pins = 1;
  return s.buffer;
}

void TmtbRecMgr::UnpinRecord(int32_t n) {
  PinSlot& s = pins_[n & pin_mask_];
  if (!pin_block_ || s.record != n) RaiseCacheInvalid();
  --s.pins;
}

void TmtbRecMgr::StoreRecord(int32_t n, const uint8_t* image) {
  if (!pin_block_) RaiseCacheInvalid();
  PinSlot& s = pins_[n & pin_mask_];
  if (s.record != n && s.pins > 0) RaiseCacheInvalid();
  if (s.record != n) s.pins = 0;
  s.record = n;
  ++s.pins;
  std::memcpy(s.buffer, image, record_length_);
  try {
    WriteRecord(image, n);
  } catch (...) {
    // The caller unpins only after a successful store.
    if (--s.pins == 0) s.record = -1;
    throw;
  }
}

void TmtbRecMgr::DropRecord(int32_t n) {
  PinSlot& s = pins_[n & pin_mask_];
  if (!pin_block_ || s.record != n || s.pins != 0) RaiseCacheInvalid();
  s.record = -1;
}

void TmtbRecMgr::CopyRecord(int32_t n, uint8_t* dest) {
  const uint8_t* buffer = PinRecord(n);
  std::memcpy(dest, buffer, record_length_);
  UnpinRecord(n);
}

void TmtbRecMgr::ClearImage(uint8_t* image, uint8_t value) const {
  std::memset(image, value, record_length_);
}

int32_t TmtbRecMgr::TruncateDataFile(int32_t k) {
  if (k < 0 || k > slot_count_) k = slot_count_;
  DropWindow();
  DropWritten();
  file_.Seek(slot_count_ - k);
  file_.Truncate();
  slot_count_ = static_cast<int32_t>(std::min<int64_t>(file_.SizeInUnits(), INT32_MAX));
  last_position_ = -2;
  DropReadCaches();
  return slot_count_;
}

int32_t TmtbRecMgr::CheckDataFileSize() {
  if (file_.SizeInUnits() != slot_count_) throw EDedaZiRecMgrError(msg::kMtdIoError);
  return slot_count_;
}

}  // namespace logvane
