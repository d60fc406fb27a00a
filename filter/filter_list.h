// The filtered record list: which record numbers passed the filter while
// filtering is on, and how many records passed.
//
// Storage: two bits per record number, record n in byte n / 4 at bits
// 2*(n % 4) and 2*(n % 4) + 1. Status values:
//   0  not yet decided
//   1  passed the expression test (the record-event test is asked again at
//      each visit, by the engine)
//   2  failed the expression test
// The storage grows by 20 % plus one byte at a time; new bytes are zero.
//
// The two tests that decide whether a record passes are callbacks with
// their owners, installed by the table component, so the engine can ask
// them without knowing either: the expression test (the filter text) and
// the record-event test (the cursor's record-filter event). A test is asked
// only while its use flag is set and it is installed.
#pragma once

#include <cstdint>
#include <memory>

namespace logvane {

// Answers whether record `record`, whose image is `image`, passes; `owner`
// is the installer's object.
using TRecordTest = bool (*)(void* owner, int32_t record, const uint8_t* image);

class TFilterList {
 public:
  TFilterList() = default;
  TFilterList(const TFilterList&) = delete;
  TFilterList& operator=(const TFilterList&) = delete;

  // Frees the storage; capacity 0, count 0.
  void Clear();
  // Clear, then room for records 0..n (Grow(n / 4 + 1)).
  void Reset(int32_t n);
  // Nothing while b is below the capacity; else the capacity becomes
  // trunc(b * 1.2) + 1 bytes, the statuses kept and the new bytes zero.
  void Grow(int32_t b);

  // Ignored for a negative n; grows the storage to reach n.
  void SetStatus(int32_t n, int status);
  // 0 for a negative n or one beyond the storage.
  int Status(int32_t n) const;

  // Offers record n with image `image`. first = the expression test's answer
  // (true when not in use); second = the record-event test's answer (true
  // when not in use), asked only when first and allow. Stores status 1 when
  // first, else 2; counts the record when first and second. Returns first
  // and second and allow.
  bool Test(int32_t n, const uint8_t* image, bool allow);

  // Gives record `to` the status of record `from` and clears `from`'s. With
  // from = -1 it clears the status of `to`. When `to` loses a passed status
  // (1), the count drops by one, never below 0.
  void MoveStatus(int32_t to, int32_t from);

  // The record-event test's answer for passed record `n` with image
  // `image`; true when that test is not in use.
  bool RecordEventAccepts(int32_t n, const uint8_t* image) const;

  int32_t Count() const { return count_; }
  void SetCount(int32_t count) { count_ = count; }
  int32_t Capacity() const { return capacity_; }

  void SetExpressionTest(TRecordTest test, void* owner) {
    expression_test_ = test;
    expression_owner_ = owner;
  }
  void SetRecordEventTest(TRecordTest test, void* owner) {
    record_event_test_ = test;
    record_event_owner_ = owner;
  }
  bool HasExpressionTest() const { return expression_test_ != nullptr; }
  bool HasRecordEventTest() const { return record_event_test_ != nullptr; }
  void SetUseExpressionTest(bool use) { use_expression_test_ = use; }
  void SetUseRecordEventTest(bool use) { use_record_event_test_ = use; }
  bool UseExpressionTest() const { return use_expression_test_; }
  bool UseRecordEventTest() const { return use_record_event_test_; }

 private:
  int32_t capacity_ = 0;
  std::unique_ptr<uint8_t[]> statuses_;
  int32_t count_ = 0;
  TRecordTest record_event_test_ = nullptr;
  void* record_event_owner_ = nullptr;
  TRecordTest expression_test_ = nullptr;
  void* expression_owner_ = nullptr;
  bool use_record_event_test_ = false;
  bool use_expression_test_ = false;
};

}  // namespace logvane
