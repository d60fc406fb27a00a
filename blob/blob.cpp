// The blob-value holder's stream and its loading from the blob file.
#include "blob/blob.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/errors.h"
#include "base/messages.h"
#include "blob/blob_file.h"

namespace logvane {

namespace {
// Block headers record a value's size as an int32.
constexpr int64_t kMaxValueSize = INT32_MAX;
}  // namespace

size_t TBlob::ReadAt(int64_t position, void* dest, size_t count) const {
  if (position < 0 || position >= Size()) return 0;
  const size_t n = std::min(count, static_cast<size_t>(Size() - position));
  std::memcpy(dest, data_.data() + position, n);
  return n;
}

size_t TBlob::WriteAt(int64_t position, const void* src, size_t count) {
  if (position < 0 || position >= kMaxValueSize) return 0;
  const size_t n = std::min(count, static_cast<size_t>(kMaxValueSize - position));
  if (n == 0) return 0;
  state_ = kBlobChanged;
  const size_t end = static_cast<size_t>(position) + n;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position, src, n);
  return n;
}

void TBlob::Truncate() {
  data_.clear();
  state_ = kBlobChanged;
}

void TBlob::LoadValue(TBlobFile& file, int32_t first_block, int32_t record) {
  Reset();
  TBlobValueHeader header;
  file.ReadValue(first_block, data_, &header);
  if (header.owner != record) {
    data_.clear();
    throw EBlobError(msg::kBlobError);
  }
  record_ = record;
  state_ = kBlobLoaded;
}

void TBlob::LoadEmpty(int32_t record) {
  data_.clear();
  record_ = record;
  state_ = kBlobLoaded;
}

void TBlob::Reset() {
  data_.clear();
  record_ = -1;
  state_ = kBlobNotLoaded;
}

}  // namespace logvane
