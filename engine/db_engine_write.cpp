// The record write path: appending, changing and deleting records with
// every index, the data file, the blob file, the table counters and the
// filtered record list kept in step, and the cursor re-established after
// each of them.
//
// Order of an append: free slot (growing the file by ten), autoincrement
// value, every index (index 0 first, so a duplicate primary key is found
// before anything changes), blob values, the record, the cursor, the free
// list, the counters, the filtered list. An update touches only the indexes
// whose key changed; a delete removes the index entries, writes the free
// marker and only then releases the blob values.
#include <cerrno>
#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"
#include "table/keys.h"

namespace logvane {

void TmtbDBEng::RequireWritable() const {
  if (!open_) throw EDedaZiDBError(msg::kInternalTableOperations);
  if (read_only_) throw EInOutError(EBADF, std::strerror(EBADF));
}

bool TmtbDBEng::SingleLiveRecord() {
  return CheckDataFileSize() - static_cast<int32_t>(FreeList().size()) == 1;
}

void TmtbDBEng::WriteCountersAfterChange() {
  const std::vector<int32_t>& list = FreeList();
  ++counters_.change_counter;
  counters_.free_records = static_cast<int32_t>(list.size());
  counters_.first_free_record = list.empty() ? -1 : list.front();
  indexes_.WriteCounters(counters_);
}

void TmtbDBEng::RecomputeRange() {
  TIndex& idx = Active();
  first_ = idx.FirstEntry();
  last_ = idx.LastEntry();
  CopyOrBound(first_, WorkBuffer(kFirstImage), WorkBuffer(kHighBound));
  CopyOrBound(last_, WorkBuffer(kLastImage), WorkBuffer(kLowBound));
  first_ordinal_ = 1;
  range_count_ = idx.KeyCount();
}

void TmtbDBEng::AdjustAfterInsert(int32_t r, const uint8_t* m) {
  TIndex& idx = Active();
  uint8_t* first_image = WorkBuffer(kFirstImage);
  uint8_t* last_image = WorkBuffer(kLastImage);
  const int length = RecordLength();
  int b = CompareKeys(def_, m, first_image, true, cur_index_);
  int e = CompareKeys(def_, m, last_image, true, cur_index_);
  bof_ = eof_ = false;
  if (b < 0 && CompareKeys(def_, m, WorkBuffer(kLowBound), true, cur_index_) >= 0) {
    first_ = r;
    std::memcpy(first_image, m, length);
    b = 0;
  }
  if (e > 0 && CompareKeys(def_, m, WorkBuffer(kHighBound), true, cur_index_) <= 0) {
    last_ = r;
    std::memcpy(last_image, m, length);
    e = 0;
  }
  if (current_ == -1 && CompareKeys(def_, first_image, last_image, true, cur_index_) > 0) {
    bof_ = eof_ = true;
    return;
  }
  bool exact = false;
  if (b < 0) {
    FindKey(first_image, cur_index_, &exact);
    current_ = idx.CurrentOrNext();
    first_ordinal_ = current_ordinal_ = idx.OrdinalPosition();
  } else if (e <= 0) {
    current_ = r;
    current_ordinal_ = idx.OrdinalPosition();
    if (range_count_ == 0) first_ordinal_ = current_ordinal_;
    ++range_count_;
  } else {
    const int32_t found = FindKey(last_image, cur_index_, &exact);
    current_ = exact ? found : idx.PriorEntry();
    current_ordinal_ = first_ordinal_ + range_count_ - 1;
  }
  idx.SavePosition(true);
}

void TmtbDBEng::AdjustAfterRemove(bool was_first, bool was_last) {
  TIndex& idx = Active();
  const bool both = was_first && was_last;
  bool exact = false;
  if (was_first) {
    first_ = FindKey(WorkBuffer(kLowBound), cur_index_, &exact);
    if (!exact) first_ = idx.CurrentOrNext();
    if (first_ == -1) {
      std::memcpy(WorkBuffer(kFirstImage), WorkBuffer(kHighBound), RecordLength());
    } else {
      CopyRecord(first_, WorkBuffer(kFirstImage));
      first_ordinal_ = current_ordinal_ = idx.OrdinalPosition();
    }
    if (!both) current_ = first_;
  }
  if (was_last) {
    last_ = FindKey(WorkBuffer(kHighBound), cur_index_, &exact);
    if (!exact) last_ = idx.PriorEntry();
    if (last_ == -1) {
      std::memcpy(WorkBuffer(kLastImage), WorkBuffer(kLowBound), RecordLength());
      range_count_ = 0;
    } else {
      CopyRecord(last_, WorkBuffer(kLastImage));
      range_count_ = idx.OrdinalPosition() - first_ordinal_ + 1;
    }
    if (!both) current_ = last_;
  }
  if (both) current_ = -1;
  bof_ = eof_ = both;
  if (!was_last) --range_count_;
  // The index stands on the new current record: on the remembered position
  // after a removal inside the range, else on the range's new end.
  if (current_ != -1) current_ordinal_ = idx.OrdinalPosition();
}

void TmtbDBEng::RetestFiltered(int32_t r) {
  const uint8_t* image = PinRecord(r);
  try {
    filter_list_.Test(r, image, r == current_);
  } catch (...) {
    UnpinRecord(r);
    throw;
  }
  UnpinRecord(r);
  if (filter_list_.Count() == 0) NoCurrent();
}

void TmtbDBEng::RecoverAfterWriteFailure() noexcept {
  try {
    TIndex& idx = Active();
    const int32_t r = idx.RestorePosition();
    // Index changes made before the failure stay: the range is read again
    // rather than trusted.
    RecomputeRange();
    current_ = r;
    if (r != -1) {
      idx.RestorePosition();
      current_ordinal_ = idx.OrdinalPosition();
      bof_ = eof_ = false;
    } else {
      NoCurrent();
    }
    ReloadCurrent();
    return;
  } catch (...) {
  }
  try {
    NoCurrent();
    if (DataFileOpen()) ClearImage(WorkBuffer(kCurrent), 0);
    holders_.Reset();
  } catch (...) {
  }
}

void TmtbDBEng::AppendRecord() {
  RequireWritable();
  uint8_t* image = WorkBuffer(kCurrent);
  std::vector<int32_t>& list = FreeList();
  TIndex& idx = Active();
  try {
    if (list.empty()) GrowFreeChain();
    const int32_t a = list.front();

    const int autoinc = def_.AutoIncField();
    if (autoinc >= 0) {
      image[autoinc] = 1;
      PutInt32(image + def_.Field(autoinc).offset, counters_.next_autoinc);
    }
    // A new record owns no blob value yet: a reference in the image would
    // make two records share one value. The changed holders write its own.
    if (blob_file_) {
      for (size_t h = 0; h < holders_.Count(); ++h) {
        const int field = holders_.At(h).FieldNumber();
        image[field] = 0;
        PutInt32(image + def_.Field(field).offset, 0);
      }
    }

    idx.SavePosition(current_ != -1);
    for (int i = 0; i < def_.IndexCount(); ++i)
      if (!indexes_.InsertKeyOf(i, a, image)) throw EDuplicateKeyError(msg::kDuplicateKey);
    if (blob_file_) holders_.StoreChangedHolders(blob_file_.get(), def_, a, image);
    StoreRecord(a, image);
    UnpinRecord(a);

    current_ = idx.RestorePosition();
    AdjustAfterInsert(a, image);
    list.erase(list.begin());
    if (autoinc >= 0) ++counters_.next_autoinc;
    WriteCountersAfterChange();
    if (filtered_) RetestFiltered(a);
    FinalAdjustment();
    if (current_ == -1) ReloadCurrent();  // no stale image in buffer 0
  } catch (...) {
    RecoverAfterWriteFailure();
    throw;
  }
}

void TmtbDBEng::PostRecord() {
  RequireWritable();
  if (current_ == -1) throw EDedaZiDBError(msg::kCurrentRangeEmpty);
  const int32_t cur = current_;
  uint8_t* image = WorkBuffer(kCurrent);
  uint8_t* old = WorkBuffer(kSecondImage);
  TIndex& idx = Active();
  try {
    idx.SavePosition(true);
    CopyRecord(cur, old);
    // Blob values change only through the holders; the slots stay the
    // stored record's own, so the record never names a value it does not
    // own and never loses one it does.
    for (size_t h = 0; h < holders_.Count(); ++h) {
      const TmtbFieldDesc& f = def_.Field(holders_.At(h).FieldNumber());
      image[holders_.At(h).FieldNumber()] = old[holders_.At(h).FieldNumber()];
      std::memcpy(image + f.offset, old + f.offset, 4);
    }

    if (SingleLiveRecord()) {
      StoreRecord(cur, image);
      UnpinRecord(cur);
      indexes_.MakeAllEmpty();
      for (int i = 0; i < def_.IndexCount(); ++i)
        if (!indexes_.InsertKeyOf(i, cur, image))
          throw EDedaZiDBError(msg::kInternalTableOperations);
      RecomputeRange();
      current_ = idx.FirstEntry();
      current_ordinal_ = 1;
      bof_ = eof_ = false;
      idx.SavePosition(true);
    } else {
      bool exact = false;
      const int32_t found = FindKey(image, 0, &exact);
      if (exact && found != cur) throw EDuplicateKeyError(msg::kDuplicateKey);

      const bool was_first = cur == first_, was_last = cur == last_;
      const bool adjust = !was_first && !was_last;
      bool changed[kMaxIndexes] = {};
      for (int i = 0; i < def_.IndexCount(); ++i) {
        changed[i] = CompareKeys(def_, image, old, true, i) != 0;
        if (changed[i] && !indexes_.DeleteKeyOf(i, old, adjust))
          throw EDedaZiDBError(msg::kInternalTableOperations);
      }
      StoreRecord(cur, image);
      UnpinRecord(cur);
      if (changed[cur_index_]) {
        current_ = idx.RestorePosition();
        AdjustAfterRemove(was_first, was_last);
      }
      for (int i = 0; i < def_.IndexCount(); ++i)
        if (changed[i] && !indexes_.InsertKeyOf(i, cur, image))
          throw EDedaZiDBError(msg::kInternalTableOperations);
      if (idx.RestorePosition() != cur) throw EDedaZiDBError(msg::kTableMayBeCorrupted);
      if (changed[cur_index_]) {
        current_ = cur;
        AdjustAfterInsert(cur, image);
      }
    }

    if (blob_file_) {
      uint8_t* stored = PinRecord(cur);
      try {
        if (holders_.StoreChangedHolders(blob_file_.get(), def_, cur, stored) != 0)
          WriteRecord(stored, cur);
      } catch (...) {
        UnpinRecord(cur);
        throw;
      }
      UnpinRecord(cur);
    }
    WriteCountersAfterChange();
    if (filtered_) {
      filter_list_.MoveStatus(cur, -1);
      RetestFiltered(cur);
    }
    FinalAdjustment();
    if (current_ == -1) ReloadCurrent();  // no stale image in buffer 0
  } catch (...) {
    RecoverAfterWriteFailure();
    throw;
  }
}

void TmtbDBEng::DeleteRecord() {
  RequireWritable();
  if (current_ == -1 || IsRangeEmpty()) throw EDedaZiDBError(msg::kCurrentRangeEmpty);
  const int32_t cur = current_;
  std::vector<int32_t>& list = FreeList();
  TIndex& idx = Active();
  try {
    const bool was_first = cur == first_, was_last = cur == last_;
    idx.SavePosition(true);
    // The stored record, not the caller's buffer, says which index entries
    // and blob values are the record's.
    uint8_t* stored = WorkBuffer(kSecondImage);
    CopyRecord(cur, stored);
    // A record already listed as free would be handed out twice: refuse
    // before anything changes.
    for (int32_t r : list)
      if (r == cur) throw EDedaZiDBError(msg::kInternalTableOperations);

    if (SingleLiveRecord()) {
      TruncateDataFile(-1);
      indexes_.MakeAllEmpty();
      list.clear();
      if (blob_file_) {
        blob_file_->EmptyBlobFile();
        holders_.Reset();
      }
      RecomputeRange();
      NoCurrent();
      if (filtered_) filter_list_.MoveStatus(cur, -1);
    } else {
      if (indexes_.DeleteKeysOf(stored, !was_first && !was_last) >= 0)
        throw EDedaZiDBError(msg::kInternalTableOperations);
      // The free marker links to the list's first entry; the whole chain is
      // written at close. A failed write is passed on: the record is then
      // still live on disk, and not listed as free.
      uint8_t* marker = WorkBuffer(kCurrent);
      ClearImage(marker, 0);
      marker[0] = kFreeRecordMarker;
      PutInt32(marker + 4, list.empty() ? -1 : list.front());
      StoreRecord(cur, marker);
      UnpinRecord(cur);
      DropRecord(cur);
      list.push_back(cur);
      if (blob_file_) holders_.FreeRecordValues(blob_file_.get(), def_, cur, stored);

      current_ = idx.RestorePosition();
      AdjustAfterRemove(was_first, was_last);
      if (filtered_) {
        filter_list_.MoveStatus(cur, -1);
        if (filter_list_.Count() == 0) NoCurrent();
      }
    }
    WriteCountersAfterChange();
    FinalAdjustment();
    if (current_ == -1) ReloadCurrent();  // no stale image in buffer 0
  } catch (...) {
    RecoverAfterWriteFailure();
    throw;
  }
}

TBlob* TmtbDBEng::BlobAccess(TBlobRequest request, int field, const uint8_t* image, int32_t record,
                             void* data, TBlob* holder, int64_t count, int64_t position,
                             int64_t* result) {
  return holders_.Request(request, blob_file_.get(), def_, field, image, record, data, holder,
                          count, position, result);
}

}  // namespace logvane
