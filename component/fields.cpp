#include "component/fields.h"

#include <cstring>

#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/dataset.h"
#include "component/field_mapping.h"
#include "component/text_forms.h"

namespace logvane {

TField::TField(std::string name, TFieldType type, int size)
    : name_(std::move(name)), type_(type), size_(size) {}

bool TField::GetData(void* destination) const {
  if (const uint8_t* record = InPlaceRecord())
    return FetchTableFieldValue(slot_, record, *this, destination);
  if (dataset_ == nullptr) {
    throw EDatabaseError(FormatMessage(msg::kFieldHasNoDataSet, {DisplayName()}));
  }
  return dataset_->FetchFieldValue(*this, destination);
}

void TField::AppendText(std::string& out) const {
  if (dataset_ == nullptr) {
    throw EDatabaseError(FormatMessage(msg::kFieldHasNoDataSet, {DisplayName()}));
  }
  AppendText(out, dataset_->FormatSettings());
}

std::string_view TField::TextView(std::string& scratch, const TFormatSettings& settings) const {
  scratch.clear();
  AppendText(scratch, settings);
  return scratch;
}

std::string TField::ReadText(const TFormatSettings& settings) const {
  std::string text;
  AppendText(text, settings);
  return text;
}

std::string TField::AsString() const {
  std::string text;
  AppendText(text);
  return text;
}

bool TField::ReadBoolean() const {
  throw EDatabaseError(
      FormatMessage(msg::kCannotAccessFieldAsType, {DisplayName(), FieldTypeName(ftBoolean)}));
}

// ---- Strings ------------------------------------------------------------------

TStringField::TStringField(std::string name, int size) : TField(std::move(name), ftString, size) {
  if (size < 1 || size > kMaxSize) throw EDatabaseError(msg::kInvalidFieldSize);
  scratch_.resize(static_cast<size_t>(size) + 1);
}

std::string_view TStringField::Fetch() const {
  if (const uint8_t* record = InPlaceRecord()) return TableFieldText(InPlaceSlot(), record, *this);
  if (DataSet() == nullptr) {
    throw EDatabaseError(FormatMessage(msg::kFieldHasNoDataSet, {DisplayName()}));
  }
  return DataSet()->FetchText(*this, scratch_.data());
}

void TStringField::AppendText(std::string& out, const TFormatSettings& /*settings*/) const {
  out.append(Fetch());
}

std::string_view TStringField::TextView(std::string& /*scratch*/,
                                        const TFormatSettings& /*settings*/) const {
  return Fetch();
}

bool TStringField::ReadBoolean() const {
  std::string_view text = Fetch();
  if (text.empty()) return false;
  char c = text.front();
  return c == 'T' || c == 'Y' || c == 't' || c == 'y';
}

// ---- Numbers and booleans ---------------------------------------------------------

void TIntegerField::AppendText(std::string& out, const TFormatSettings& /*settings*/) const {
  int32_t value = 0;
  if (GetData(&value)) AppendInteger(out, value);
}

std::string_view TIntegerField::TextView(std::string& /*scratch*/,
                                         const TFormatSettings& /*settings*/) const {
  int32_t value = 0;
  if (!GetData(&value)) return {};
  return {text_, FormatInteger(text_, value)};
}

TAutoIncField::TAutoIncField(std::string name) : TIntegerField(std::move(name), ftAutoInc) {
  SetReadOnly(true);
}

void TBooleanField::AppendText(std::string& out, const TFormatSettings& /*settings*/) const {
  int16_t value = 0;
  if (GetData(&value)) AppendBoolean(out, value != 0);
}

std::string_view TBooleanField::TextView(std::string& /*scratch*/,
                                         const TFormatSettings& /*settings*/) const {
  int16_t value = 0;
  if (!GetData(&value)) return {};
  return value != 0 ? "True" : "False";
}

bool TBooleanField::ReadBoolean() const {
  int16_t value = 0;
  return GetData(&value) && value != 0;
}

void TFloatField::AppendText(std::string& out, const TFormatSettings& settings) const {
  double value = 0;
  if (GetData(&value)) AppendFloat(out, value, settings.DecimalSeparator);
}

std::string_view TFloatField::TextView(std::string& /*scratch*/,
                                       const TFormatSettings& settings) const {
  double value = 0;
  if (!GetData(&value)) return {};
  return {text_, FormatFloat(text_, value, settings.DecimalSeparator)};
}

void TDateTimeField::AppendText(std::string& out, const TFormatSettings& settings) const {
  double millis = 0;
  if (!GetData(&millis)) return;
  if (!AppendDateTime(out, millis, settings)) {
    throw EDatabaseError(FormatMessage(msg::kInvalidDateTimeValue, {DisplayName()}));
  }
}

// ---- Blobs ---------------------------------------------------------------------

void TBlobField::AppendText(std::string& out, const TFormatSettings& /*settings*/) const {
  if (GetData(nullptr)) DataSet()->AppendBlobValue(*this, out);
}

}  // namespace logvane
