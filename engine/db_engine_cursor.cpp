// The cursor: the current index, its range, stepping, positions, going to a
// record and locating by field values.
#include <algorithm>
#include <array>
#include <cstring>

#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"
#include "table/keys.h"

namespace logvane {

const uint8_t* TmtbDBEng::LoadKeyRecord(int32_t record) {
  uint8_t* scratch = WorkBuffer(kScratch);
  CopyRecord(record, scratch);
  return scratch;
}

int32_t TmtbDBEng::FindKey(const uint8_t* search, int index, bool* exact) {
  TKeyHit hit = logvane::FindKey(indexes_.IndexAt(index), *this, search);
  *exact = hit.exact;
  return hit.record;
}

void TmtbDBEng::ReloadCurrent() {
  uint8_t* image = WorkBuffer(kCurrent);
  if (current_ == -1)
    ClearImage(image, 0);
  else
    CopyRecord(current_, image);
  if (blob_file_) holders_.Reset();
}

void TmtbDBEng::NoCurrent() {
  current_ = -1;
  bof_ = eof_ = true;
  current_ordinal_ = first_ordinal_ - 1;
}

void TmtbDBEng::CopyOrBound(int32_t record, uint8_t* dest, const uint8_t* bound) {
  if (record >= 0)
    CopyRecord(record, dest);
  else
    std::memcpy(dest, bound, RecordLength());
}

void TmtbDBEng::SetCurrentIndex(int index) {
  indexes_.ActivateIndex(index);
  cur_index_ = index;
  TIndex& idx = Active();
  first_ = idx.FirstEntry();
  last_ = idx.LastEntry();
  if (CheckDataFileSize() > 0) {
    eof_ = false;
    current_ = first_;
  } else {
    eof_ = true;
    current_ = -1;
  }
  bof_ = true;

  MakeBoundRecord(def_, WorkBuffer(kLowBound), index, true);
  MakeBoundRecord(def_, WorkBuffer(kHighBound), index, false);
  CopyOrBound(first_, WorkBuffer(kFirstImage), WorkBuffer(kHighBound));
  CopyOrBound(last_, WorkBuffer(kLastImage), WorkBuffer(kLowBound));

  ReloadCurrent();
  first_ordinal_ = current_ordinal_ = 1;
  range_count_ = idx.KeyCount();

  bof_ = false;
  IsRangeEmpty();
  First();
  if (filtered_) RebuildFilteredList(false);
}

bool TmtbDBEng::IsRangeEmpty() {
  bool empty =
      first_ == -1 || last_ == -1 ||
      CompareKeys(def_, WorkBuffer(kLastImage), WorkBuffer(kFirstImage), true, cur_index_) < 0;
  bof_ = eof_ = empty;
  if (empty) {
    if (DataFileOpen()) ClearImage(WorkBuffer(kCurrent), 0);  // no buffers while closed
    current_ = -1;
    range_count_ = 0;
  }
  return empty;
}

// First and Last always search their image, so that the index's own cursor
// stands on the record they make current even when that record was current
// already (after selecting an index the index cursor rests on the last
// entry, and a step from there would leave the range).
void TmtbDBEng::First() {
  if (filtered_) return FilteredFirst();
  if (bof_ || first_ == -1) return;
  bool exact = false;
  TIndex& idx = Active();
  FindKey(WorkBuffer(kFirstImage), cur_index_, &exact);
  current_ = idx.CurrentOrNext();
  ReloadCurrent();
  eof_ = false;
  bof_ = true;
  current_ordinal_ = idx.OrdinalPosition();
}

void TmtbDBEng::Last() {
  if (filtered_) return FilteredLast();
  if (eof_ || last_ == -1) return;
  bool exact = false;
  TIndex& idx = Active();
  int32_t found = FindKey(WorkBuffer(kLastImage), cur_index_, &exact);
  current_ = exact ? found : idx.PriorEntry();
  ReloadCurrent();
  bof_ = false;
  eof_ = true;
  current_ordinal_ = idx.OrdinalPosition();
}

// A walk in an order other than the file's meets its records at random
// places, each a wait for memory. Every kPrefetchBatch steps the records of
// the batch after the next start on their way together, so that their
// waits overlap and are over before the walk gets there.
void TmtbDBEng::AnnounceAhead(const TIndex& idx, int direction) {
  if (idx.InPagePosition() % kPrefetchBatch != 0) return;
  for (int k = kPrefetchBatch; k < 2 * kPrefetchBatch; ++k)
    PrefetchRecord(idx.EntryAhead(direction * k));
}

void TmtbDBEng::Next() {
  if (filtered_) return FilteredNext();
  if (eof_) return;
  bof_ = false;
  if (current_ == last_ || current_ == -1) {
    eof_ = true;
    return;
  }
  TIndex& idx = Active();
  idx.StepForward();
  current_ = idx.CurrentEntry();
  AnnounceAhead(idx, 1);
  ReloadCurrent();
  ++current_ordinal_;
}

void TmtbDBEng::Prior() {
  if (filtered_) return FilteredPrior();
  if (bof_) return;
  eof_ = false;
  if (current_ == first_ || current_ == -1) {
    bof_ = true;
    return;
  }
  TIndex& idx = Active();
  idx.StepBack();
  current_ = idx.CurrentEntry();
  AnnounceAhead(idx, -1);
  ReloadCurrent();
  --current_ordinal_;
}

int32_t TmtbDBEng::MoveToPosition(int32_t n) {
  if (n == -1) return 0;
  const int32_t a = CurrentPosition();
  int32_t d = n - a;
  for (; d > 0 && !eof_; --d) {
    Next();
    if (eof_) break;
  }
  for (; d < 0 && !bof_; ++d) {
    Prior();
    if (bof_) break;
  }
  FinalAdjustment();
  return CurrentPosition() - a;
}

int32_t TmtbDBEng::CurrentPosition() {
  if (current_ == -1) return 0;
  current_ordinal_ = Active().OrdinalPosition();
  return current_ordinal_ - first_ordinal_ + 1;
}

int32_t TmtbDBEng::RecordCount() {
  if (!filtered_) return range_count_;
  RebuildFilteredList(false);
  return filter_list_.Count();
}

int32_t TmtbDBEng::RecordExists(int32_t r) {
  try {
    CopyRecord(r, WorkBuffer(kScratch));
    return r;
  } catch (const Exception&) {
    return -1;
  }
}

bool TmtbDBEng::GoToRecord(int32_t r) {
  // The index's remembered position is shared with every other operation
  // that saves one: restore it only when this call saved it, or a refused
  // record number (a deleted record's bookmark) would move the index cursor
  // away from the current record.
  bool saved = false;
  try {
    TIndex& idx = Active();
    uint8_t* image = WorkBuffer(kScratch);
    CopyRecord(r, image);
    // Compare on the index's own key fields only (no tie-break).
    if (CompareKeys(def_, image, WorkBuffer(kLowBound), false, cur_index_) < 0 ||
        CompareKeys(def_, image, WorkBuffer(kLastImage), false, cur_index_) > 0)
      return false;
    // Searching reads stored records into the scratch buffer: search with
    // a copy of the image.
    std::memcpy(WorkBuffer(kSecondImage), image, RecordLength());
    image = WorkBuffer(kSecondImage);
    idx.SavePosition(true);
    saved = true;
    bool exact = false;
    int32_t found = FindKey(image, cur_index_, &exact);
    if (!exact) found = idx.CurrentOrNext();
    bool ok = found >= 0;
    if (ok) {
      const uint8_t* stored = PinRecord(found);
      ok = CompareKeys(def_, stored, image, false, cur_index_) == 0;
      UnpinRecord(found);
    }
    if (ok && filtered_) ok = Visible(found);
    if (!ok || found != r) {
      idx.RestorePosition();
      return false;
    }
    current_ = found;
    bof_ = eof_ = false;
    ReloadCurrent();
    current_ordinal_ = idx.OrdinalPosition();
    return true;
  } catch (...) {
    if (saved) {
      try {
        Active().RestorePosition();
      } catch (...) {
      }
    }
    return false;
  }
}

int TmtbDBEng::FindIndexForFields(std::vector<int>& fields, bool case_insensitive) const {
  for (int j = def_.IndexCount() - 1; j >= 0; --j) {
    const TmtbIndexDesc& x = def_.Index(j);
    if (IsCaseInsensitive(def_, j) != case_insensitive) continue;
    const size_t n = fields.size();
    if (x.key_field_count < static_cast<int>(n) || n == 0) continue;
    std::vector<int> leading(x.key_fields.begin(), x.key_fields.begin() + n);
    if (!std::is_permutation(leading.begin(), leading.end(), fields.begin())) continue;
    fields = leading;
    return j;
  }
  return -1;
}

bool TmtbDBEng::FieldsMatch(const std::vector<int>& fields, const uint8_t* record,
                            const uint8_t* image, bool case_insensitive, int partial_length) {
  for (size_t k = 0; k < fields.size(); ++k) {
    int limit = k + 1 == fields.size() ? partial_length : 0;
    // Compare in ascending sense whatever the index's direction: equality
    // is all that matters here.
    if (CompareField(def_, record, image, case_insensitive, 0, limit, fields[k]) != 0) return false;
  }
  return true;
}

// Makes `record` current again after a walk. The walk may have moved the
// index's cursor and, when filtered, its remembered position too (every
// filtered step saves its own), so the index is searched for the record.
void TmtbDBEng::ReturnTo(int32_t record, bool bof, bool eof, int32_t ordinal) {
  TIndex& idx = Active();
  current_ = record;
  ReloadCurrent();
  bool exact = false;
  if (record != -1) FindKey(WorkBuffer(kCurrent), cur_index_, &exact);
  if (!exact) idx.RestorePosition();
  bof_ = bof;
  eof_ = eof;
  current_ordinal_ = ordinal;
}

bool TmtbDBEng::Locate(const std::vector<int>& fields, uint8_t* image, bool case_insensitive,
                       int partial_length, bool move, int index) {
  if (index >= 0 && current_ == -1) throw EDedaZiDBError(msg::kCurrentRangeEmpty);
  bool saved_position = false;
  try {
    TIndex& idx = Active();
    if (index >= def_.IndexCount()) return false;
    for (int f : fields)
      if (f < 0 || f >= def_.FieldCount()) return false;
    if (index >= 0) {
      // The search record must sort before every record that agrees on the
      // listed fields, in the search index's direction and in the primary
      // key's (the tie-break), whichever way each runs: the key fields the
      // caller left unset get the before-all marker. The listed fields keep
      // what the caller set, a null included.
      std::array<uint8_t, kMaxFields> listed{};
      for (int f : fields) listed[f] = image[f];
      FillMissingBounds(def_, image, index, true);
      for (int f : fields) image[f] = listed[f];
      idx.SavePosition(true);
      saved_position = true;
      bool exact = false;
      int32_t found = FindKey(image, index, &exact);
      if (!exact) found = indexes_.IndexAt(index).CurrentOrNext();
      bool ok = found >= 0;
      uint8_t* record = WorkBuffer(kSecondImage);
      if (ok) {
        CopyRecord(found, record);
        ok = CompareKeys(def_, record, WorkBuffer(kFirstImage), true, cur_index_) >= 0 &&
             CompareKeys(def_, record, WorkBuffer(kLastImage), true, cur_index_) <= 0 &&
             FieldsMatch(fields, record, image, case_insensitive, partial_length) &&
             (!filtered_ || Visible(found));
      }
      if (ok && index != cur_index_) {
        bool hit = false;
        FindKey(record, cur_index_, &hit);
        ok = hit;
      }
      if (ok) {
        std::memcpy(image, record, RecordLength());
        if (move) {
          current_ = found;
          bof_ = eof_ = false;
          ReloadCurrent();
          current_ordinal_ = idx.OrdinalPosition();
          return true;
        }
      }
      idx.RestorePosition();
      return ok;
    }

    const bool bof = bof_, eof = eof_;
    const int32_t ordinal = current_ordinal_, saved = current_;
    idx.SavePosition(true);
    bool found = false;
    try {
      bof_ = false;
      First();
      while (current_ != -1 && !eof_) {
        if (FieldsMatch(fields, WorkBuffer(kCurrent), image, case_insensitive, partial_length)) {
          std::memcpy(image, WorkBuffer(kCurrent), RecordLength());
          found = true;
          break;
        }
        Next();
      }
    } catch (...) {
      ReturnTo(saved, bof, eof, ordinal);
      throw;
    }
    if (found && move) return true;
    ReturnTo(saved, bof, eof, ordinal);
    return found;
  } catch (...) {
    if (saved_position) {
      try {
        Active().RestorePosition();
      } catch (...) {
      }
    }
    return false;
  }
}

}  // namespace logvane
