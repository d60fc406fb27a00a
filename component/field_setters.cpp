// Setting field values: SetData, the setters of each kind, and the range
// checks a record passes before it is posted. Every setter ends in SetData
// with the field's dataset form (fields.h), or, for blob fields, in a
// write-mode blob stream.
#include <cmath>
#include <cstring>

#include "base/ascii_text.h"
#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/dataset.h"
#include "component/date_time.h"
#include "component/date_time_reader.h"
#include "component/fields.h"
#include "component/text_forms.h"

namespace logvane {

namespace {

[[noreturn]] void CannotAccess(const TField& field, TFieldType as) {
  throw EDatabaseError(
      FormatMessage(msg::kCannotAccessFieldAsType, {field.DisplayName(), FieldTypeName(as)}));
}

[[noreturn]] void NotReadable(const char* text, std::string_view value, const TField& field) {
  throw EDatabaseError(FormatMessage(text, {value, field.DisplayName()}));
}

char DecimalSeparatorOf(const TField& field) {
  return field.DataSet() ? field.DataSet()->FormatSettings().DecimalSeparator : '.';
}

std::string FloatText(double value, char separator) {
  std::string text;
  AppendFloat(text, value, separator);
  return text;
}

std::string IntegerText(int64_t value) {
  std::string text;
  AppendInteger(text, value);
  return text;
}

// The range message for `value` outside [min, max] (either bound may be
// missing).
[[noreturn]] void OutOfRange(const TField& field, const std::string& value, bool has_min,
                             const std::string& min, bool has_max, const std::string& max) {
  if (has_min && has_max)
    throw EDatabaseError(
        FormatMessage(msg::kValueOutOfRange, {value, field.DisplayName(), min, max}));
  if (has_min)
    throw EDatabaseError(FormatMessage(msg::kValueBelowMinimum, {value, field.DisplayName(), min}));
  throw EDatabaseError(FormatMessage(msg::kValueAboveMaximum, {value, field.DisplayName(), max}));
}

}  // namespace

// ---- Every kind -----------------------------------------------------------------

void TField::SetData(const void* source) {
  if (dataset_ == nullptr) {
    throw EDatabaseError(FormatMessage(msg::kFieldHasNoDataSet, {DisplayName()}));
  }
  dataset_->SetFieldData(*this, source);
}

void TField::SetAsString(std::string_view /*text*/) { CannotAccess(*this, ftString); }
void TField::SetAsInteger(int32_t /*value*/) { CannotAccess(*this, ftInteger); }
void TField::SetAsFloat(double /*value*/) { CannotAccess(*this, ftFloat); }
void TField::SetAsBoolean(bool /*value*/) { CannotAccess(*this, ftBoolean); }
void TField::SetAsDateTime(double /*days*/) { CannotAccess(*this, ftDateTime); }

void TField::SetAsVariant(const TVariant& value) {
  switch (value.Type()) {
    case TVarType::kEmpty:
    case TVarType::kNull: Clear(); return;
    case TVarType::kInteger: SetAsInteger(value.AsInteger()); return;
    case TVarType::kFloat:
    case TVarType::kCurrency: SetAsFloat(value.AsNumber()); return;
    case TVarType::kText: SetAsString(value.AsText()); return;
    case TVarType::kBoolean: SetAsBoolean(value.AsBoolean()); return;
    case TVarType::kDateTime: SetAsDateTime(value.AsNumber()); return;
  }
}

// ---- Strings -------------------------------------------------------------------------

void TStringField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  const size_t n = std::min(text.size(), static_cast<size_t>(Size()));
  std::memcpy(scratch_.data(), text.data(), n);
  std::memset(scratch_.data() + n, 0, scratch_.size() - n);
  SetData(scratch_.data());
}

void TStringField::SetAsInteger(int32_t value) { SetAsString(IntegerText(value)); }

void TStringField::SetAsFloat(double value) {
  SetAsString(FloatText(value, DecimalSeparatorOf(*this)));
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "True" : "False"); }

void TStringField::SetAsDateTime(double days) {
  double millis = 0;
  std::string text;
  if (DataSet() == nullptr || !StoredDaysToMillis(days, &millis) ||
      !AppendDateTime(text, millis, DataSet()->FormatSettings())) {
    NotReadable(msg::kNotDateTimeText, FloatText(days, '.'), *this);
  }
  SetAsString(text);
}

// ---- Integers -------------------------------------------------------------------------

void TIntegerField::SetAsInteger(int32_t value) { SetData(&value); }

void TIntegerField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  int32_t value = 0;
  if (!TryReadInteger(text, &value)) NotReadable(msg::kNotIntegerText, text, *this);
  SetAsInteger(value);
}

void TIntegerField::SetAsFloat(double value) {
  if (!(value >= -2147483648.0 && value <= 2147483647.0) || std::trunc(value) != value) {
    NotReadable(msg::kNotIntegerText, FloatText(value, DecimalSeparatorOf(*this)), *this);
  }
  SetAsInteger(static_cast<int32_t>(value));
}

void TIntegerField::CheckRange() const {
  if (!has_min_ && !has_max_) return;
  int32_t value = 0;
  if (!GetData(&value)) return;
  if ((has_min_ && value < min_value_) || (has_max_ && value > max_value_)) {
    OutOfRange(*this, IntegerText(value), has_min_, IntegerText(min_value_), has_max_,
               IntegerText(max_value_));
  }
}

// ---- Booleans ---------------------------------------------------------------------------

void TBooleanField::SetAsBoolean(bool value) {
  const int16_t stored = value ? 1 : 0;
  SetData(&stored);
}

void TBooleanField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
  } else if (SameNoCase(text, "True")) {
    SetAsBoolean(true);
  } else if (SameNoCase(text, "False")) {
    SetAsBoolean(false);
  } else {
    NotReadable(msg::kNotBooleanText, text, *this);
  }
}

// ---- Numbers ---------------------------------------------------------------------------------

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value)) NotReadable(msg::kNotNumberText, FloatText(value, '.'), *this);
  SetData(&value);
}

void TFloatField::SetAsInteger(int32_t value) { SetAsFloat(value); }

void TFloatField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  double value = 0;
  if (!TryReadNumber(text, DecimalSeparatorOf(*this), &value)) {
    NotReadable(msg::kNotNumberText, text, *this);
  }
  SetAsFloat(value);
}

void TFloatField::CheckRange() const {
  if (!has_min_ && !has_max_) return;
  double value = 0;
  if (!GetData(&value)) return;
  if ((has_min_ && value < min_value_) || (has_max_ && value > max_value_)) {
    const char separator = DecimalSeparatorOf(*this);
    OutOfRange(*this, FloatText(value, separator), has_min_, FloatText(min_value_, separator),
               has_max_, FloatText(max_value_, separator));
  }
}

// ---- Dates and times ------------------------------------------------------------------------

void TDateTimeField::SetAsDateTime(double days) {
  double millis = 0;
  if (!StoredDaysToMillis(days, &millis)) {
    NotReadable(msg::kNotDateTimeText, FloatText(days, '.'), *this);
  }
  SetData(&millis);
}

void TDateTimeField::SetAsString(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  double days = 0;
  if (DataSet() == nullptr || !TryReadDateTime(text, DataSet()->FormatSettings(), &days)) {
    NotReadable(msg::kNotDateTimeText, text, *this);
  }
  SetAsDateTime(days);
}

// ---- Blobs -----------------------------------------------------------------------------------

void TBlobField::SetAsString(std::string_view bytes) {
  if (DataSet() == nullptr) {
    throw EDatabaseError(FormatMessage(msg::kFieldHasNoDataSet, {DisplayName()}));
  }
  // A write-mode stream starts empty; closing it tells the dataset that the
  // field changed.
  if (!DataSet()->StoreBlobValue(*this, bytes)) {
    throw EDatabaseError(FormatMessage(msg::kBlobTooLarge, {DisplayName()}));
  }
}

}  // namespace logvane
