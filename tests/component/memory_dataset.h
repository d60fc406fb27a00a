// A dataset over rows held in memory, for tests of the framework, the field
// objects and the export. Values are kept in dataset form (raw bytes); a row
// value of nullopt has no value. Record buffers are 16 bytes:
//
//   0  int32 row index     4  bookmark flag     8  bookmark: row index twice
//
// Its cursor is a row index from -1 (before the first row) to the row count
// (after the last), as a table cursor behaves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "component/dataset.h"
#include "component/date_time.h"

namespace logvane::test {

struct MemoryColumn {
  std::string name;
  TFieldType type;
  int size = 0;  // characters of a string column
};

using MemoryValue = std::optional<std::string>;
using MemoryRow = std::vector<MemoryValue>;

template <typename T>
MemoryValue RawValue(const T& v) {
  std::string bytes(sizeof v, '\0');
  std::memcpy(bytes.data(), &v, sizeof v);
  return bytes;
}
inline MemoryValue Str(std::string_view s) { return std::string(s); }
inline MemoryValue Int(int32_t v) { return RawValue(v); }
inline MemoryValue Bool(bool v) { return RawValue(static_cast<int16_t>(v ? 1 : 0)); }
inline MemoryValue Num(double v) { return RawValue(v); }
inline MemoryValue BlobBytes(std::string_view bytes) { return std::string(bytes); }
// A date-time from its stored day count.
inline MemoryValue Days(double stored) {
  double millis = 0;
  if (!StoredDaysToMillis(stored, &millis)) throw std::invalid_argument("stored day count");
  return RawValue(millis);
}
inline double StoredDate(int y, int m, int d) { return DayNumberFromDate(y, m, d) - kDateDelta; }

class MemoryStream : public TStream {
 public:
  explicit MemoryStream(std::string_view data) : data_(data) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - pos_);
    if (n <= 0) return 0;
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0
                   : origin == TSeekOrigin::soCurrent ? pos_
                                                      : static_cast<int64_t>(data_.size());
    return pos_ = base + offset;
  }

 private:
  std::string_view data_;
  int64_t pos_ = 0;
};

class MemoryDataSet : public TDataSet {
 public:
  MemoryDataSet(std::string name, std::vector<MemoryColumn> columns, std::vector<MemoryRow> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {
    SetName(std::move(name));
  }
  ~MemoryDataSet() override {
    try {
      Close();
    } catch (...) {
    }
  }

  std::vector<MemoryRow>& Rows() { return rows_; }
  int LiveBuffers() const { return live_buffers_; }
  bool fail_open = false;   // OpenTableCursor raises after creating fields
  bool fail_close = false;  // CloseTableCursor raises after releasing
  int fetches = 0;

  using TDataSet::ActiveBuffer;  // for tests that look at the ring

  // The row the active buffer holds, -1 when none.
  int ActiveRow() const {
    TRecordBuffer b = ActiveBuffer();
    if (b == nullptr) return -1;
    int32_t row;
    std::memcpy(&row, b, 4);
    return row;
  }

 protected:
  static constexpr int kBufferSize = 16;

  TRecordBuffer NewRecordBuffer() override {
    ++live_buffers_;
    return new uint8_t[kBufferSize]();
  }
  void DropRecordBuffer(TRecordBuffer buffer) override {
    --live_buffers_;
    delete[] buffer;
  }
  int RecordBufferSize() override { return kBufferSize; }

  TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode) override {
    ++fetches;
    const int n = static_cast<int>(rows_.size());
    switch (mode) {
      case gmCurrent:
        if (pos_ < 0 || pos_ >= n) return grError;
        break;
      case gmNext:
        if (pos_ + 1 >= n) {
          pos_ = n;
          return grEOF;
        }
        ++pos_;
        break;
      case gmPrior:
        if (pos_ - 1 < 0) {
          pos_ = -1;
          return grBOF;
        }
        --pos_;
        break;
    }
    int32_t row = pos_;
    std::memcpy(buffer, &row, 4);
    buffer[4] = bfCurrent;
    std::memcpy(buffer + 8, &row, 4);
    std::memcpy(buffer + 12, &row, 4);
    return grOK;
  }

  void SyncToBuffer(TRecordBuffer buffer) override {
    int32_t row;
    std::memcpy(&row, buffer, 4);
    pos_ = row;
  }

  void OpenTableCursor() override {
    BuildFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(8);
    if (fail_open) throw EDatabaseError("open failed");
    open_ = true;
    pos_ = -1;
  }
  void CloseTableCursor() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    open_ = false;
    if (fail_close) throw EDatabaseError("close failed");
  }
  bool CursorActive() override { return open_; }
  void BuildFieldDefs() override {
    FieldDefsForUpdate().Clear();
    for (size_t i = 0; i < columns_.size(); ++i) {
      const MemoryColumn& c = columns_[i];
      FieldDefsForUpdate().Add({static_cast<int>(i) + 1, c.name, c.type, c.size, false});
    }
  }
  void GoFirst() override { pos_ = -1; }
  void GoLast() override { pos_ = static_cast<int>(rows_.size()); }
  int RecordCountInOrder() override { return static_cast<int>(rows_.size()); }
  int ActivePosition() override { return Bof() && Eof() ? -1 : ActiveRow() + 1; }
  void SetActivePosition(int position) override { MoveBy(position - ActivePosition()); }

  bool FetchFieldValue(const TField& field, void* destination) override {
    const MemoryValue* value = ValueOf(field);
    if (value == nullptr || !value->has_value()) return false;
    if (destination != nullptr) {
      auto size = static_cast<size_t>(field.DataSize());
      std::memset(destination, 0, size);
      std::memcpy(destination, (*value)->data(), std::min(size, (*value)->size()));
    }
    return true;
  }

  std::unique_ptr<TStream> OpenBlobStream(const TField& field, TBlobStreamMode) override {
    const MemoryValue* value = ValueOf(field);
    if (value == nullptr || !value->has_value()) return nullptr;
    return std::make_unique<MemoryStream>(**value);
  }

  void ReadBookmark(TRecordBuffer buffer, uint8_t* data) override {
    std::memcpy(data, buffer + 8, 8);
  }
  void WriteBookmark(TRecordBuffer buffer, const uint8_t* data) override {
    std::memcpy(buffer + 8, data, 8);
  }
  TBookmarkFlag ReadBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[4]);
  }
  void WriteBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override { buffer[4] = flag; }
  void ReachBookmark(const uint8_t* bookmark) override {
    int32_t row;
    std::memcpy(&row, bookmark + 4, 4);
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
      throw EDatabaseError("The bookmarked record is unavailable or deleted");
    }
    pos_ = row;
  }
  bool BookmarkAlive(const uint8_t* bookmark) override {
    if (bookmark == nullptr) return false;
    int32_t row;
    std::memcpy(&row, bookmark + 4, 4);
    return row >= 0 && row < static_cast<int>(rows_.size());
  }
  int BookmarkOrder(const uint8_t* a, const uint8_t* b) override {
    if (a == b) return 0;
    if (a == nullptr || b == nullptr) return 1;
    return std::memcmp(a, b, 4) == 0 ? 0 : 1;
  }

 private:
  const MemoryValue* ValueOf(const TField& field) {
    TRecordBuffer buffer = State() == dsBrowse ? ActiveBuffer() : nullptr;
    if (buffer == nullptr || field.FieldNo() < 1) return nullptr;
    int32_t row;
    std::memcpy(&row, buffer, 4);
    const MemoryRow& values = rows_[static_cast<size_t>(row)];
    auto column = static_cast<size_t>(field.FieldNo() - 1);
    return column < values.size() ? &values[column] : nullptr;
  }

  std::vector<MemoryColumn> columns_;
  std::vector<MemoryRow> rows_;
  int live_buffers_ = 0;
  bool open_ = false;
  int pos_ = -1;
};

}  // namespace logvane::test
