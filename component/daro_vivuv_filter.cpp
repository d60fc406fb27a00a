// The table cursor's filtering and searching: the filter properties, the
// two record tests the engine asks while it filters, FindFirst/Last/Next/
// Prior, Locate and Lookup.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "base/ascii_text.h"
#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/daro_vivuv.h"
#include "component/date_time.h"
#include "component/date_time_reader.h"
#include "component/text_forms.h"
#include "filter/filter_messages.h"
#include "table/stored_value.h"

namespace logvane {

namespace {

TFilterFieldKind FilterKindOf(TFieldType type) {
  switch (type) {
    case ftString: return TFilterFieldKind::kText;
    case ftMemo:
    case ftFmtMemo: return TFilterFieldKind::kMemo;
    case ftInteger:
    case ftAutoInc: return TFilterFieldKind::kInteger;
    case ftBoolean: return TFilterFieldKind::kBoolean;
    case ftFloat: return TFilterFieldKind::kFloat;
    case ftCurrency: return TFilterFieldKind::kCurrency;
    case ftDateTime: return TFilterFieldKind::kDateTime;
    default: return TFilterFieldKind::kBinary;
  }
}

[[noreturn]] void ConversionFails() { throw EDatabaseError(msg::kInvalidVariantConversion); }

// Search values in the form a field stores; a value that does not convert
// raises "Invalid variant type conversion".
double NumberOf(const TVariant& v, char decimal_separator) {
  switch (v.Type()) {
    case TVarType::kInteger: return v.AsInteger();
    case TVarType::kBoolean: return v.AsBoolean() ? 1 : 0;
    case TVarType::kText: {
      double x = 0;
      if (!TryReadNumber(v.AsText(), decimal_separator, &x)) ConversionFails();
      return x;
    }
    default: return v.AsNumber();
  }
}

int32_t IntegerOf(const TVariant& v, char decimal_separator) {
  if (v.Type() == TVarType::kText) {
    int32_t x = 0;
    if (!TryReadInteger(v.AsText(), &x)) ConversionFails();
    return x;
  }
  const double x = std::nearbyint(NumberOf(v, decimal_separator));
  if (!(x >= -2147483648.0 && x <= 2147483647.0)) ConversionFails();
  return static_cast<int32_t>(x);
}

bool BooleanOf(const TVariant& v, char decimal_separator) {
  if (v.Type() == TVarType::kText) {
    if (SameNoCase(v.AsText(), "True")) return true;
    if (SameNoCase(v.AsText(), "False")) return false;
  }
  return NumberOf(v, decimal_separator) != 0;
}

double DaysOf(const TVariant& v, const TFormatSettings& settings) {
  if (v.Type() != TVarType::kText) return NumberOf(v, settings.DecimalSeparator);
  double days = 0;
  if (!TryReadDateTime(v.AsText(), settings, &days)) ConversionFails();
  return days;
}

void AppendTextOf(const TVariant& v, const TFormatSettings& settings, std::string& out) {
  switch (v.Type()) {
    case TVarType::kText: out.append(v.AsText()); return;
    case TVarType::kInteger: AppendInteger(out, v.AsInteger()); return;
    case TVarType::kBoolean: AppendBoolean(out, v.AsBoolean()); return;
    case TVarType::kDateTime: {
      double millis = 0;
      if (!StoredDaysToMillis(v.AsNumber(), &millis) || !AppendDateTime(out, millis, settings))
        ConversionFails();
      return;
    }
    default: AppendFloat(out, v.AsNumber(), settings.DecimalSeparator); return;
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

// ---- The filter properties ----------------------------------------------------

void TDaroVivuv::SetFilter(const std::string& text) {
  if (Active() && filtered_) CheckBrowseMode();
  if (!Active() || !filtered_) {
    filter_ = text;
    return;
  }
  if (text == filter_) return;
  std::string old = std::move(filter_);
  filter_ = text;
  PrepareOrRestore(std::move(old), filter_options_);
  RefreshEngineFilter();
  First();
}

void TDaroVivuv::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  if (value == filtered_) return;
  if (!Active()) {
    filtered_ = value;
    return;
  }
  // A filter that does not prepare raises here, before anything changed.
  expr_filter_.SetExpressionActive(value);
  filtered_ = value;
  RefreshEngineFilter();
  First();
}

void TDaroVivuv::SetFilterOptions(TFilterOptions options) {
  if (Active() && filtered_) CheckBrowseMode();
  if (!Active() || !filtered_) {
    filter_options_ = options;
    return;
  }
  if (options == filter_options_) return;
  const TFilterOptions old = filter_options_;
  filter_options_ = options;
  PrepareOrRestore(filter_, old);
  RefreshEngineFilter();
  First();
}

void TDaroVivuv::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  on_filter_record_ = std::move(handler);
  event_filter_ = static_cast<bool>(on_filter_record_);
  if (!Active() || !filtered_) return;
  RefreshEngineFilter();
  First();
}

void TDaroVivuv::PrepareOrRestore(std::string old_text, TFilterOptions old_options) {
  try {
    expr_filter_.SetExpressionActive(true);
  } catch (...) {
    filter_ = std::move(old_text);
    filter_options_ = old_options;
    try {
      expr_filter_.SetExpressionActive(true);
    } catch (...) {
      // The new text's error is the one to report.
    }
    throw;
  }
}

void TDaroVivuv::SetEngineFiltering(bool on) {
  if (on == engine_filtering_) return;
  engine_filtering_ = on;
  iface_.SetFilterActive(on);
}

void TDaroVivuv::RefreshEngineFilter() {
  expression_filter_ = expr_filter_.Active() && expr_filter_.HasExpression();
  iface_.SetFilterKinds(event_filter_, expression_filter_);
  SetEngineFiltering(false);
  if (filtered_ && (event_filter_ || expression_filter_)) SetEngineFiltering(true);
}

void TDaroVivuv::ApplyPendingFilter() {
  if (!filtered_) return;
  expr_filter_.SetExpressionActive(true);
  RefreshEngineFilter();
  iface_.StepFirst();
}

// ---- The record tests -----------------------------------------------------------

void TDaroVivuv::LoadFilterBuffer(int32_t record, const uint8_t* image) {
  uint8_t* buffer = filter_buffer_.get();
  std::memset(buffer, 0, static_cast<size_t>(buffer_size_));
  std::memcpy(buffer, image, static_cast<size_t>(record_length_));
  uint8_t bookmark[kBookmarkSize];
  std::memcpy(bookmark, &record, sizeof record);
  std::memcpy(bookmark + sizeof record, &record, sizeof record);
  WriteBookmark(buffer, bookmark);
}

bool TDaroVivuv::ExpressionTest(void* owner, int32_t record, const uint8_t* image) {
  auto& self = *static_cast<TDaroVivuv*>(owner);
  const TDataSetState saved = self.SetTempState(dsFilter);
  bool accepted = true;
  try {
    self.LoadFilterBuffer(record, image);
    if (self.expr_filter_.Active() && self.expr_filter_.HasExpression())
      accepted = self.expr_filter_.Evaluate();
  } catch (const std::exception& e) {
    self.RestoreState(saved);
    self.HandleError(e);
    return false;
  }
  self.RestoreState(saved);
  return accepted;
}

bool TDaroVivuv::RecordEventTest(void* owner, int32_t record, const uint8_t* image) {
  auto& self = *static_cast<TDaroVivuv*>(owner);
  const TDataSetState saved = self.SetTempState(dsFilter);
  bool accept = true;
  try {
    self.LoadFilterBuffer(record, image);
    if (self.event_filter_ && self.on_filter_record_) self.on_filter_record_(self, accept);
  } catch (const std::exception& e) {
    self.RestoreState(saved);
    self.HandleError(e);
    return false;
  }
  self.RestoreState(saved);
  return accept;
}

// ---- The component as the expression filter sees it ------------------------------

TFilterField TDaroVivuv::TFilterAccess::FindFilterField(std::string_view name) {
  const TField& field = owner_.FieldByName(name);
  int handle = 0;
  while (&owner_.Field(handle) != &field) ++handle;
  return {handle, FilterKindOf(field.DataType()), field.FieldNo() >= 1, field.FieldName()};
}

void TDaroVivuv::TFilterAccess::ReadFilterValue(const TFilterField& ref, TVariant& value) {
  const TField& field = owner_.Field(ref.handle);
  const TRecordBuffer buffer = owner_.BufferForState();
  const int n = field.FieldNo() - 1;
  if (buffer == nullptr || n < 0 || n >= static_cast<int>(owner_.slots_.size()) || buffer[n] == 0) {
    value.SetNull();
    return;
  }
  const TFieldSlot& slot = owner_.slots_[static_cast<size_t>(n)];
  switch (ref.kind) {
    case TFilterFieldKind::kText: value.SetText(TableFieldText(slot, buffer, field)); return;
    case TFilterFieldKind::kMemo: {
      // Read from the blob file for the record under test, not through a
      // blob stream: streams are refused while filtering. A holder with an
      // unposted change (the record being edited) is left alone: the value
      // is read into a holder of the component's own.
      const int32_t record = owner_.BufferRecordNumber(buffer);
      const TBlob* shared = owner_.iface_.FindBlobHolder(n);
      const TBlob* holder = nullptr;
      if (shared != nullptr && shared->State() == kBlobChanged) {
        if (owner_.iface_.LoadBlobCopy(n, buffer, record, owner_.filter_blob_))
          holder = &owner_.filter_blob_;
      } else {
        holder = owner_.LoadBlobHolder(n, buffer, record);
      }
      if (holder == nullptr) throw EDatabaseError(msg::kBlobDataInaccessible);
      const std::vector<uint8_t>& data = holder->Data();
      value.SetText(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
      return;
    }
    case TFilterFieldKind::kInteger: {
      int32_t v = 0;
      FetchTableFieldValue(slot, buffer, field, &v);
      value.SetInteger(v);
      return;
    }
    case TFilterFieldKind::kBoolean: {
      int16_t v = 0;
      FetchTableFieldValue(slot, buffer, field, &v);
      value.SetBoolean(v != 0);
      return;
    }
    case TFilterFieldKind::kFloat:
    case TFilterFieldKind::kCurrency: {
      double v = 0;
      FetchTableFieldValue(slot, buffer, field, &v);
      if (ref.kind == TFilterFieldKind::kFloat)
        value.SetFloat(v);
      else
        value.SetCurrency(v);
      return;
    }
    case TFilterFieldKind::kDateTime: {
      double millis = 0;
      int32_t day = 0, msec = 0;
      FetchTableFieldValue(slot, buffer, field, &millis);
      if (!SplitMillis(millis, &day, &msec))
        throw EDatabaseError(FormatMessage(msg::kInvalidDateTimeValue, {field.DisplayName()}));
      value.SetDateTime(MillisToStoredDays(millis));
      return;
    }
    case TFilterFieldKind::kBinary: value.SetNull(); return;
  }
}

bool TDaroVivuv::TFilterAccess::ReadNumber(std::string_view text, double* value) const {
  return TryReadNumber(text, owner_.FormatSettings().DecimalSeparator, value);
}

bool TDaroVivuv::TFilterAccess::ReadDateTime(std::string_view text, double* days) const {
  return TryReadDateTime(text, owner_.FormatSettings(), days);
}

// ---- Finding the next match -----------------------------------------------------------

bool TDaroVivuv::FindMatching(bool restart, bool forward) {
  DoBeforeScroll();
  UpdateCursorPos();
  // Unless the cursor is filtered, the filter applies for this move alone.
  const bool for_this_move = !filtered_;
  if (for_this_move) {
    expr_filter_.SetExpressionActive(true);
    expression_filter_ = expr_filter_.HasExpression();
    iface_.SetFilterKinds(event_filter_, expression_filter_);
  }
  auto finish = [&] {
    CursorPosChanged();
    if (!for_this_move) return;
    SetEngineFiltering(false);
    expr_filter_.SetExpressionActive(false);
    expression_filter_ = false;
  };
  bool found = false;
  try {
    if (for_this_move) SetEngineFiltering(event_filter_ || expression_filter_);
    if (restart)
      forward ? iface_.StepFirst() : iface_.StepLast();
    else
      forward ? iface_.StepNext() : iface_.StepPrior();
    // A move that runs out of records leaves the end flag of its direction
    // set; a filtered move also reports whether it found a record.
    found = !iface_.NoCurrentRecord() &&
            (restart || !(forward ? iface_.AtEof() : iface_.AtBof())) &&
            (!engine_filtering_ || iface_.LastMoveFound());
  } catch (...) {
    finish();
    throw;
  }
  finish();
  if (found) {
    Resync();
    DoAfterScroll();
  }
  return found;
}

// ---- Locate and Lookup --------------------------------------------------------------

bool TDaroVivuv::LocateValues(std::string_view key_fields, const std::vector<TVariant>& key_values,
                              TLocateOptions options) {
  DoBeforeScroll();
  const bool found = SearchRecord(key_fields, key_values, options, true);
  if (found) {
    Resync();
    DoAfterScroll();
  }
  return found;
}

std::vector<TVariant> TDaroVivuv::LookupValues(std::string_view key_fields,
                                               const std::vector<TVariant>& key_values,
                                               std::string_view result_fields) {
  if (!SearchRecord(key_fields, key_values, 0, false)) return {};
  // The filter buffer now holds the found record.
  std::vector<TVariant> values;
  const TDataSetState saved = SetTempState(dsFilter);
  try {
    size_t start = 0;
    for (;;) {
      const size_t end = std::min(result_fields.find(';', start), result_fields.size());
      ReadFieldValue(FieldByName(TrimBlanks(result_fields.substr(start, end - start))),
                     values.emplace_back());
      if (end == result_fields.size()) break;
      start = end + 1;
    }
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return values;
}

bool TDaroVivuv::SearchRecord(std::string_view key_fields, const std::vector<TVariant>& key_values,
                              TLocateOptions options, bool move) {
  CursorPosChanged();
  std::vector<const TField*> fields;
  std::vector<int> numbers;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(key_fields.find(';', start), key_fields.size());
    const TField& field = FieldByName(TrimBlanks(key_fields.substr(start, end - start)));
    if (field.FieldNo() < 1) throw EDatabaseError(field.DisplayName() + msg::kNotValidLocateField);
    fields.push_back(&field);
    numbers.push_back(field.FieldNo() - 1);
    if (end == key_fields.size()) break;
    start = end + 1;
  }
  if (key_values.size() != fields.size())
    throw std::invalid_argument("Locate and Lookup take one value per key field");

  const TDataSetState saved = SetTempState(dsFilter);
  bool found = false;
  try {
    uint8_t* image = filter_buffer_.get();
    std::memset(image, 0, static_cast<size_t>(buffer_size_));  // a new record: no values
    for (size_t i = 0; i < fields.size(); ++i) StoreSearchValue(*fields[i], key_values[i], image);
    const bool partial_key = (options & loPartialKey) != 0;
    const bool case_insensitive = (options & loCaseInsensitive) != 0;
    int partial = 0;
    if (partial_key && fields.back()->DataType() == ftString) {
      partial = static_cast<int>(
          TableFieldText(slots_[static_cast<size_t>(numbers.back())], image, *fields.back())
              .size());
    }
    const std::vector<int> listed = numbers;
    int index = iface_.FindIndexForFields(numbers, case_insensitive);
    // A prefix cannot be searched through a descending index, nor through an
    // index that puts the partial field anywhere but last among the keys
    // used: the records sharing the prefix are not together there. The
    // walk through the current order finds them.
    if (index >= 0 && partial_key &&
        ((index_defs_[static_cast<size_t>(index)].Options & ixDescending) != 0 ||
         (partial != 0 && numbers.back() != listed.back())))
      index = -1;
    if (index < 0) numbers = listed;
    found = iface_.LocateRecord(numbers, image, move, case_insensitive, partial, index);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return found;
}

void TDaroVivuv::StoreSearchValue(const TField& field, const TVariant& value,
                                  uint8_t* image) const {
  const int n = field.FieldNo() - 1;
  const TFieldSlot& slot = slots_[static_cast<size_t>(n)];
  TmtbFieldDesc desc;
  desc.type_code = slot.code;
  desc.size = static_cast<int16_t>(slot.width);
  desc.offset = static_cast<int16_t>(slot.offset);
  if (value.IsNull() || value.IsEmpty()) {
    SetNull(desc, n, image);
    return;
  }
  const TFormatSettings& settings = FormatSettings();
  switch (field.DataType()) {
    case ftString: {
      std::string text;
      AppendTextOf(value, settings, text);
      // An empty text is stored as no value.
      if (text.empty())
        SetNull(desc, n, image);
      else
        EncodeString(desc, n, image, text);
      return;
    }
    case ftInteger:
    case ftAutoInc:
      EncodeInteger(desc, n, image, IntegerOf(value, settings.DecimalSeparator));
      return;
    case ftBoolean:
      EncodeBoolean(desc, n, image, BooleanOf(value, settings.DecimalSeparator));
      return;
    case ftFloat:
    case ftCurrency:
      EncodeFloat(desc, n, image, NumberOf(value, settings.DecimalSeparator));
      return;
    case ftDateTime: EncodeFloat(desc, n, image, DaysOf(value, settings)); return;
    default:
      // Blob fields hold a reference into the blob file, not their value.
      throw EDatabaseError(field.DisplayName() + msg::kNotValidLocateField);
  }
}

void TDaroVivuv::ReadFieldValue(const TField& field, TVariant& value) {
  if (field.IsNull()) {
    value.SetNull();
    return;
  }
  switch (field.DataType()) {
    case ftString: {
      std::vector<char> scratch(static_cast<size_t>(field.DataSize()));
      value.SetText(FetchText(field, scratch.data()));
      return;
    }
    case ftInteger:
    case ftAutoInc: {
      int32_t v = 0;
      field.GetData(&v);
      value.SetInteger(v);
      return;
    }
    case ftBoolean: {
      int16_t v = 0;
      field.GetData(&v);
      value.SetBoolean(v != 0);
      return;
    }
    case ftFloat:
    case ftCurrency: {
      double v = 0;
      field.GetData(&v);
      if (field.DataType() == ftFloat)
        value.SetFloat(v);
      else
        value.SetCurrency(v);
      return;
    }
    case ftDateTime: {
      double millis = 0;
      int32_t day = 0, msec = 0;
      field.GetData(&millis);
      if (!SplitMillis(millis, &day, &msec))
        throw EDatabaseError(FormatMessage(msg::kInvalidDateTimeValue, {field.DisplayName()}));
      value.SetDateTime(MillisToStoredDays(millis));
      return;
    }
    default: {
      std::string bytes;
      AppendBlobValue(field, bytes);
      value.SetText(bytes);
      return;
    }
  }
}

}  // namespace logvane
