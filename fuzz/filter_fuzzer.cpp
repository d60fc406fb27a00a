// Fuzz target: the filter language. The text is parsed and checked against
// a fixed set of fields of every kind, reading numbers and dates as the
// table cursor does under one of four regional settings, and a filter that
// prepares is evaluated for a record with values and for one of nulls.
//
// Input: byte 0 chooses (bits 0-1) the filter options and (bits 2-3) the
// regional settings; the rest is the filter text. The filter's own error
// class (EDatabaseError) is the expected answer to a bad text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "component/date_time_reader.h"
#include "component/format_settings.h"
#include "component/text_forms.h"
#include "filter/expr_filter.h"
#include "filter/filter_cursor.h"
#include "platform/exceptions.h"

namespace logvane::fuzz {
namespace {

// The cursor as the filter sees it: the fields of a contact log plus one of
// each kind the log lacks.
class TFixedFields : public TFilterCursor {
 public:
  struct Field {
    const char* name;
    TFilterFieldKind kind;
    bool data_field;
    TVariant value;
  };

  TFixedFields() {
    fields_ = {
        {"Call", TFilterFieldKind::kText, true, TVariant::Text("K\xD8RF")},
        {"Mode", TFilterFieldKind::kText, true, TVariant::Text("CW")},
        {"First Name", TFilterFieldKind::kText, true, TVariant::Text("Jos\xE9")},
        {"Comments", TFilterFieldKind::kMemo, true, TVariant::Text("Loud signal\r\nLong path")},
        {"NumRcvd", TFilterFieldKind::kInteger, true, TVariant::Integer(301)},
        {"IBM", TFilterFieldKind::kBoolean, true, TVariant::Boolean(true)},
        {"Freq", TFilterFieldKind::kFloat, true, TVariant::Float(14.025)},
        {"Fee", TFilterFieldKind::kCurrency, true, TVariant::Currency(12.5)},
        {"QSODate", TFilterFieldKind::kDateTime, true, TVariant::DateTime(37758.5)},
        {"Photo", TFilterFieldKind::kBinary, true, TVariant::Null()},
        {"Total", TFilterFieldKind::kInteger, false, TVariant::Integer(1)},
    };
  }

  void SetText(std::string text) { text_ = std::move(text); }
  void SetOptions(TFilterOptions options) { options_ = options; }
  void SetSettings(const TFormatSettings& settings) { settings_ = settings; }
  // The record under test: the values above, or every field null.
  void SetNullRecord(bool nulls) { nulls_ = nulls; }

  std::string FilterText() const override { return text_; }
  TFilterOptions FilterOptionSet() const override { return options_; }

  TFilterField FindFilterField(std::string_view name) override {
    for (size_t i = 0; i < fields_.size(); ++i) {
      const std::string_view n = fields_[i].name;
      if (n.size() != name.size()) continue;
      bool same = true;
      for (size_t k = 0; k < n.size() && same; ++k) same = Upper(n[k]) == Upper(name[k]);
      if (same)
        return {static_cast<int>(i), fields_[i].kind, fields_[i].data_field, fields_[i].name};
    }
    throw EDatabaseError("LogTabl: Field '" + std::string(name) + "' not found");
  }

  void ReadFilterValue(const TFilterField& field, TVariant& value) override {
    if (nulls_)
      value.SetNull();
    else
      value = fields_.at(static_cast<size_t>(field.handle)).value;
  }

  bool ReadNumber(std::string_view text, double* value) const override {
    return TryReadNumber(text, settings_.DecimalSeparator, value);
  }
  bool ReadDateTime(std::string_view text, double* days) const override {
    return TryReadDateTime(text, settings_, days);
  }

 private:
  static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

  std::vector<Field> fields_;
  std::string text_;
  TFilterOptions options_ = 0;
  TFormatSettings settings_;
  bool nulls_ = false;
};

TFormatSettings Settings(int choice) {
  TFormatSettings s;
  switch (choice) {
    case 1: return TFormatSettings::Interchange();
    case 2:
      s.DecimalSeparator = ',';
      s.DateSeparator = '.';
      s.ShortDateFormat = "dd.mm.yyyy";
      s.LongTimeFormat = "hh:nn:ss";
      return s;
    case 3:
      s.DateSeparator = '-';
      s.ShortDateFormat = "yyyy-mm-dd";
      s.LongTimeFormat = "h:nn:ss ampm";
      s.TimeAMString = "AM";
      s.TimePMString = "PM";
      return s;
    default: return s;
  }
}

}  // namespace
}  // namespace logvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace logvane;
  if (size == 0) return 0;
  static fuzz::TFixedFields cursor;
  cursor.SetOptions(static_cast<TFilterOptions>(data[0] & 3));
  cursor.SetSettings(fuzz::Settings((data[0] >> 2) & 3));
  cursor.SetText(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

  TExprFilter filter(cursor);
  try {
    // Prepares the text and, when it does, makes the filter active.
    filter.SetExpressionActive(true);
  } catch (const Exception&) {
    return 0;
  }
  for (bool nulls : {false, true}) {
    cursor.SetNullRecord(nulls);
    try {
      filter.Evaluate();
    } catch (const Exception&) {
    }
  }
  return 0;
}
