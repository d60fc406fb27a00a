// Filtered navigation and the cursor's upkeep after writes.
//
// While filtering is on, the filtered record list keeps one status per
// record: 0 not yet decided, 1 passed the expression test, 2 failed it. A
// record is visible when its status is 1 and the record-event test, when in
// use, accepts it at this visit.
#include <cstring>

#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"
#include "table/keys.h"

namespace logvane {

bool TmtbDBEng::Visible(int32_t r) {
  if (filter_list_.Status(r) != 1) return false;
  if (!filter_list_.UseRecordEventTest()) return true;
  const uint8_t* image = PinRecord(r);
  bool accepted;
  try {
    accepted = filter_list_.RecordEventAccepts(r, image);
  } catch (...) {
    UnpinRecord(r);
    throw;
  }
  UnpinRecord(r);
  return accepted;
}

void TmtbDBEng::SetFiltered(bool on) {
  if (on == filtered_) return;
  if (on) {
    if (!filter_list_.HasExpressionTest() && !filter_list_.HasRecordEventTest())
      throw EDedaZiDBError(msg::kFilterOperations);
    filter_list_.Reset(CheckDataFileSize() + 1);
    filtered_ = true;
    RebuildFilteredList(true);
    return;
  }
  filtered_ = false;
  filter_list_.Clear();
  TIndex& idx = Active();
  if (current_ == -1) {
    current_ = idx.RestorePosition();
    if (current_ != -1) ReloadCurrent();
  }
  IsRangeEmpty();
  if (current_ == -1 && !bof_) First();
}

void TmtbDBEng::RebuildFilteredList(bool reevaluate) {
  filter_list_.SetCount(0);
  TIndex& idx = Active();
  const bool bof = bof_, eof = eof_;
  const int32_t saved = current_;
  idx.SavePosition(true);
  if (first_ != -1 && last_ != -1 && !IsRangeEmpty()) {
    const int32_t limit = CheckDataFileSize() + 1;
    int32_t r = idx.FirstEntry();
    for (int32_t steps = 0; r >= 0; ++steps) {
      if (steps > limit) throw EDedaZiDBError(msg::kTableMayBeCorrupted);
      const int status = filter_list_.Status(r);
      if (reevaluate || status == 0) {
        const uint8_t* image = PinRecord(r);
        try {
          filter_list_.Test(r, image, true);
        } catch (...) {
          UnpinRecord(r);
          throw;
        }
        UnpinRecord(r);
      } else if (status == 1 && Visible(r)) {
        filter_list_.SetCount(filter_list_.Count() + 1);
      }
      if (r == last_) break;
      idx.StepForward();
      r = idx.CurrentEntry();
    }
  }
  current_ = saved;
  if (current_ != -1) {
    idx.RestorePosition();
  }
  ReloadCurrent();
  bof_ = bof;
  eof_ = eof;
  if (filter_list_.Count() == 0) NoCurrent();
}

int32_t TmtbDBEng::FilteredStep(bool forward, bool accept_current) {
  TIndex& idx = Active();
  idx.SavePosition(true);
  // The slot count the engine holds bounds the walk; asking the file for
  // its size at every step would cost a system call per record visited.
  const int32_t limit = SlotCount() + 1;
  int32_t candidate = current_;
  bool found = candidate != -1 && accept_current && Visible(candidate);
  for (int32_t steps = 0; !found; ++steps) {
    if (candidate == -1 || candidate == (forward ? last_ : first_)) break;
    if (steps > limit) throw EDedaZiDBError(msg::kTableMayBeCorrupted);
    if (forward)
      idx.StepForward();
    else
      idx.StepBack();
    candidate = idx.CurrentEntry();
    if (filter_list_.Status(candidate) == 0) throw EDedaZiDBError(msg::kTableMayBeCorrupted);
    found = Visible(candidate);
  }
  if (!found) {
    idx.RestorePosition();
    return -1;
  }
  current_ = candidate;
  bof_ = eof_ = false;
  ReloadCurrent();
  current_ordinal_ = idx.OrdinalPosition();
  return candidate;
}

void TmtbDBEng::FilteredFirst() {
  bof_ = false;
  filtered_ = false;  // the plain moves underneath
  try {
    if (!IsRangeEmpty()) First();
  } catch (...) {
    filtered_ = true;
    throw;
  }
  filtered_ = true;
  found_ = current_ != -1 && FilteredStep(true, true) != -1;
  if (!found_) NoCurrent();
  bof_ = true;
}

void TmtbDBEng::FilteredLast() {
  eof_ = false;
  filtered_ = false;
  try {
    if (!IsRangeEmpty()) Last();
  } catch (...) {
    filtered_ = true;
    throw;
  }
  filtered_ = true;
  found_ = current_ != -1 && FilteredStep(false, true) != -1;
  if (!found_) NoCurrent();
  eof_ = true;
}

void TmtbDBEng::FilteredNext() {
  if (eof_) return;
  found_ = FilteredStep(true, false) != -1;
  bof_ = false;
  eof_ = !found_;
}

void TmtbDBEng::FilteredPrior() {
  if (bof_) return;
  found_ = FilteredStep(false, false) != -1;
  eof_ = false;
  bof_ = !found_;
}

void TmtbDBEng::FinalAdjustment() {
  if (current_ != -1 && filtered_) {
    ReloadCurrent();
    if (!Visible(current_)) {
      int32_t found = FilteredStep(true, false);
      if (found == -1) found = FilteredStep(false, false);
      if (found != -1) bof_ = eof_ = false;
    }
  }
  if (current_ != -1)
    ReloadCurrent();
  else
    NoCurrent();
}

}  // namespace logvane
