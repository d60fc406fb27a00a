// The filtered record list's status storage and its record test.
#include "filter/filter_list.h"

#include <climits>
#include <cstring>

namespace logvane {

void TFilterList::Clear() {
  statuses_.reset();
  capacity_ = 0;
  count_ = 0;
}

void TFilterList::Reset(int32_t n) {
  Clear();
  Grow(n / 4 + 1);
}

void TFilterList::Grow(int32_t b) {
  if (b < capacity_) return;
  // trunc(b * 1.2) + 1 in whole numbers; the largest record number needs
  // far less than INT32_MAX bytes, so the cap only guards the arithmetic.
  const int64_t wanted = int64_t{b} * 6 / 5 + 1;
  const auto capacity = static_cast<int32_t>(wanted > INT32_MAX ? INT32_MAX : wanted);
  if (capacity <= capacity_) return;
  auto grown = std::make_unique<uint8_t[]>(capacity);  // zeroed
  if (capacity_ > 0) std::memcpy(grown.get(), statuses_.get(), capacity_);
  statuses_ = std::move(grown);
  capacity_ = capacity;
}

void TFilterList::SetStatus(int32_t n, int status) {
  if (n < 0) return;
  const int32_t byte = n / 4;
  if (byte >= capacity_) Grow(byte);
  const int shift = 2 * (n % 4);
  statuses_[byte] =
      static_cast<uint8_t>((statuses_[byte] & ~(3 << shift)) | ((status & 3) << shift));
}

int TFilterList::Status(int32_t n) const {
  if (n < 0 || n / 4 >= capacity_) return 0;
  return (statuses_[n / 4] >> (2 * (n % 4))) & 3;
}

bool TFilterList::RecordEventAccepts(int32_t n, const uint8_t* image) const {
  if (!use_record_event_test_ || record_event_test_ == nullptr) return true;
  return record_event_test_(record_event_owner_, n, image);
}

bool TFilterList::Test(int32_t n, const uint8_t* image, bool allow) {
  const bool first = use_expression_test_ && expression_test_ != nullptr
                         ? expression_test_(expression_owner_, n, image)
                         : true;
  const bool second = first && allow ? RecordEventAccepts(n, image) : false;
  SetStatus(n, first ? 1 : 2);
  if (first && second) ++count_;
  return first && second && allow;
}

void TFilterList::MoveStatus(int32_t to, int32_t from) {
  if (to == from) return;
  const int moved = Status(from);
  const int lost = Status(to);
  SetStatus(from, 0);
  SetStatus(to, moved);
  if (lost == 1 && count_ > 0) --count_;
}

}  // namespace logvane
