// A stand-in for the table cursor as the expression filter sees it: named
// fields of every kind with the values of one record, a filter text and its
// options, and counts of what the filter asked for.
#pragma once

#include <charconv>
#include <string>
#include <vector>

#include "base/errors.h"
#include "filter/filter_cursor.h"

namespace logvane::test {

class FakeFilterCursor : public TFilterCursor {
 public:
  struct Field {
    std::string name;
    TFilterFieldKind kind;
    TVariant value;
    bool data_field = true;
  };

  FakeFilterCursor() {
    fields = {{"Name", TFilterFieldKind::kText, TVariant::Text("SMITH")},
              {"Call", TFilterFieldKind::kText, TVariant::Text("K1ABC")},
              {"Qty", TFilterFieldKind::kInteger, TVariant::Integer(7)},
              {"Paid", TFilterFieldKind::kBoolean, TVariant::Boolean(true)},
              {"Price", TFilterFieldKind::kFloat, TVariant::Float(2.5)},
              {"Cost", TFilterFieldKind::kCurrency, TVariant::Currency(1.25)},
              {"When", TFilterFieldKind::kDateTime, TVariant::DateTime(100.5)},
              {"Notes", TFilterFieldKind::kMemo, TVariant::Text("Worked on a quiet band")},
              {"Pic", TFilterFieldKind::kBinary, TVariant::Null()},
              {"Calc", TFilterFieldKind::kInteger, TVariant::Integer(1), false}};
  }

  Field& operator[](const std::string& name) {
    for (Field& f : fields)
      if (f.name == name) return f;
    throw std::out_of_range(name);
  }

  std::string FilterText() const override { return text; }
  TFilterOptions FilterOptionSet() const override { return options; }

  TFilterField FindFilterField(std::string_view name) override {
    ++lookups;
    for (size_t i = 0; i < fields.size(); ++i) {
      const std::string& n = fields[i].name;
      if (n.size() != name.size()) continue;
      bool same = true;
      for (size_t k = 0; k < n.size(); ++k)
        same = same && std::toupper(n[k]) == std::toupper(name[k]);
      if (same) return {static_cast<int>(i), fields[i].kind, fields[i].data_field, n};
    }
    throw EDatabaseError("Fake: Field '" + std::string(name) + "' not found");
  }

  void ReadFilterValue(const TFilterField& field, TVariant& value) override {
    ++reads;
    if (fail_reads) throw EDatabaseError("damaged value");
    value = fields.at(static_cast<size_t>(field.handle)).value;
  }

  bool ReadNumber(std::string_view text, double* value) const override {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && p == text.data() + text.size();
  }
  // Dates are written "D" and the day count: "D100.5".
  bool ReadDateTime(std::string_view text, double* days) const override {
    return text.size() > 1 && text[0] == 'D' && ReadNumber(text.substr(1), days);
  }

  std::vector<Field> fields;
  std::string text;
  TFilterOptions options = 0;
  int lookups = 0;
  int reads = 0;
  bool fail_reads = false;
};

}  // namespace logvane::test
