// The field definition list: one entry per field of the open table, in
// table order, from which the dataset creates its default field objects and
// to which it binds declared ones.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "component/field_type.h"

namespace logvane {

struct TFieldDef {
  int FieldNo = 0;   // position in the table, from 1
  std::string Name;  // blanks around the stored name removed
  TFieldType DataType = ftUnknown;
  int Size = 0;  // characters of a string field; 0 for other kinds
  bool Required = false;
};

class TFieldDefs {
 public:
  void Clear() { defs_.clear(); }
  void Add(TFieldDef def) { defs_.push_back(std::move(def)); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int i) const { return defs_[static_cast<size_t>(i)]; }
  // The first entry whose name equals `name` without regard to letter case;
  // nullptr when there is none.
  const TFieldDef* Find(std::string_view name) const;

 private:
  std::vector<TFieldDef> defs_;
};

// ASCII letters compared without regard to case; other bytes exactly.
bool SameNameNoCase(std::string_view a, std::string_view b);

}  // namespace logvane
