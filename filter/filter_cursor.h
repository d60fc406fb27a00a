// TFilterCursor: the table cursor as the expression filter sees it. The
// filter layer sits below the cursor, so the cursor hands the filter this
// interface: its filter text and options, its fields by name, the value of
// a field in the record under test, and the reading of numbers and dates
// by the cursor's regional settings.
#pragma once

#include <string>
#include <string_view>

#include "filter/filter_options.h"
#include "filter/variant.h"

namespace logvane {

// How a field takes part in a filter.
enum class TFilterFieldKind : uint8_t {
  kText,     // a string field: its characters
  kMemo,     // a memo or formatted-text field: its whole blob value as text
  kInteger,  // integer and autoincrement fields
  kBoolean,
  kFloat,  // float and 6-byte real fields
  kCurrency,
  kDateTime,
  kBinary,  // graphic and binary fields: they cannot be compared
};

// A field found by name. `handle` is the cursor's own; the filter hands it
// back unchanged to read the field's value.
struct TFilterField {
  int handle = -1;
  TFilterFieldKind kind = TFilterFieldKind::kText;
  // False for a calculated or lookup field, whose value is not in the record.
  bool data_field = true;
  // The field's name, for messages.
  std::string name;
};

class TFilterCursor {
 public:
  virtual ~TFilterCursor() = default;

  // The filter text (8-bit, the table's code page) and its options.
  virtual std::string FilterText() const = 0;
  virtual TFilterOptions FilterOptionSet() const = 0;

  // The field named `name`, letter case ignored. A missing field raises
  // EDatabaseError "%s: Field '%s' not found" with the cursor's name.
  virtual TFilterField FindFilterField(std::string_view name) = 0;

  // Sets `value` to the field's value in the record under test: null when
  // the field has none, else the value in the class of the field's kind
  // (kText and kMemo as text). Raises what reading the value raises.
  virtual void ReadFilterValue(const TFilterField& field, TVariant& value) = 0;

  // A number with the cursor's decimal separator; false when the text does
  // not read as one.
  virtual bool ReadNumber(std::string_view text, double* value) const = 0;
  // A date and time in the cursor's date and time formats, as days since
  // 30 December 1899; false when the text does not read as one.
  virtual bool ReadDateTime(std::string_view text, double* days) const = 0;
};

}  // namespace logvane
