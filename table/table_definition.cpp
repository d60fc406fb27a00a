// Reading the table definition file into the field and index tables.
#include "table/table_definition.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "table/keys.h"
#include "table/real48.h"

namespace logvane {

int StoredWidth(char type_code) {
  switch (type_code) {
    case 'B':
    case 'S': return 1;
    case 'A':
    case 'E':
    case 'G':
    case 'I':
    case 'L':
    case 'M': return 4;
    case 'R': return 6;
    case 'C':
    case 'D':
    case 'F': return 8;
    default: return 0;
  }
}

bool IsBlobType(char type_code) {
  return type_code == 'E' || type_code == 'G' || type_code == 'L' || type_code == 'M';
}

namespace {

[[noreturn]] void Damaged() { throw EDedaZiDBError(msg::kDefinitionDamaged); }

// A short string at `offset` of an entry: the length byte, then the
// characters. Every area used lies far enough from the entry's end that a
// length of 255 stays inside the entry.
std::string ShortString(const uint8_t* entry, int offset) {
  return std::string(reinterpret_cast<const char*>(entry + offset + 1), entry[offset]);
}

void ReadEntry(platform::File& file, uint8_t* entry) {
  if (file.Read(entry, kDefinitionEntrySize) != kDefinitionEntrySize) Damaged();
}

// A stored real as a whole number, truncated toward zero.
int32_t TruncatedInt(const uint8_t* real) {
  double v = std::trunc(Real48ToDouble(real));
  if (!(v >= INT32_MIN && v <= INT32_MAX)) Damaged();
  return static_cast<int32_t>(v);
}

}  // namespace

void TmtbTableDef::Clear() { *this = TmtbTableDef(); }

const TmtbFieldDesc& TmtbTableDef::FieldDesc(int n) const {
  if (n < 0 || n >= field_count_)
    throw EDedaZiDBError(std::string(msg::kFieldNumberOutOfRange) + " " + std::to_string(n));
  return fields_[n];
}

const TmtbIndexDesc& TmtbTableDef::IndexDesc(int n) const {
  if (n < 0 || n >= index_count_) throw EDedaZiDBError(msg::kIndexCorrupted);
  return indexes_[n];
}

std::string TmtbTableDef::FieldAttribute(int n, int kind, bool* present) const {
  const TmtbFieldDesc& f = FieldDesc(n);
  *present = false;
  switch (kind) {
    case 0:
      if (!f.required) return {};
      *present = true;
      return "True";
    case 1: *present = f.has_default != 0; return *present ? f.default_text : std::string();
    case 2: *present = f.has_minimum != 0; return *present ? f.minimum_text : std::string();
    case 3: *present = f.has_maximum != 0; return *present ? f.maximum_text : std::string();
    default: return {};
  }
}

int TmtbTableDef::IndexNumber(const std::string& name) const {
  for (int i = 0; i < index_count_; ++i)
    if (indexes_[i].name == name) return i;
  return -1;
}

void ReadTableDefinition(platform::File& file, TmtbTableDef& def) {
  def.Clear();
  file.SetUnitSize(1);
  uint8_t entry[kDefinitionEntrySize];

  ReadEntry(file, entry);
  int32_t field_count = GetInt32(entry + 320);
  if (field_count > kMaxFields) throw EDedaZiDBError(msg::kTooManyFields);
  if (field_count < 0) Damaged();
  int32_t index_count = GetInt32(entry + 324);
  if (index_count > kMaxIndexes) throw EDedaZiDBError(msg::kTooManyIndexes);
  if (index_count < 0) Damaged();
  int32_t record_length = GetInt32(entry + 328);
  if (record_length < kMinRecordLength || record_length > kMaxRecordLength) Damaged();
  double version = Real48ToDouble(entry + 418);
  double level = std::trunc(version * 10);
  if (!(level >= INT32_MIN && level <= INT32_MAX)) Damaged();

  def.fields_.resize(field_count);
  def.record_length_ = record_length;
  def.has_blob_file_ = GetInt32(entry + 332) != 0;
  def.format_version_ = version;
  def.format_level_ = static_cast<int>(level);
  const bool has_attributes = version >= 2.0;

  for (int i = 0; i < field_count; ++i) {
    std::memset(entry, 0, sizeof entry);
    ReadEntry(file, entry);
    TmtbFieldDesc& f = def.fields_[i];
    f.name = ShortString(entry, 0);
    f.type_code = static_cast<char>(entry[65]);
    f.size = static_cast<int16_t>(GetInt32(entry + 320));
    f.offset = static_cast<int16_t>(GetInt32(entry + 324));
    // The slot must lie after the null flags, inside the record, and be wide
    // enough for the stored form of its type.
    if (f.offset < field_count || f.size < std::max(1, StoredWidth(f.type_code)) ||
        f.offset + f.size > record_length)
      Damaged();
    if (f.type_code == 'A') def.autoinc_field_ = i;
    if (has_attributes) {
      f.required = GetInt32(entry + 332);
      f.has_default = GetInt32(entry + 336);
      f.has_minimum = GetInt32(entry + 340);
      f.has_maximum = GetInt32(entry + 344);
      f.marker = GetInt32(entry + 328) == 1;
      f.default_text = ShortString(entry, 128);
      f.minimum_text = ShortString(entry, 192);
      f.maximum_text = ShortString(entry, 256);
    }
  }
  def.field_count_ = field_count;

  for (int j = 0; j < index_count; ++j) {
    ReadEntry(file, entry);
    TmtbIndexDesc& x = def.indexes_[j];
    x.name = ShortString(entry, 0);
    int32_t n = GetInt32(entry + 320);
    if (n < 1 || n > kMaxKeyFields) Damaged();
    for (int k = 0; k < n; ++k) {
      int32_t field = GetInt32(entry + 324 + 4 * k);
      if (field < 0 || field >= field_count) Damaged();
      x.key_fields[k] = static_cast<int16_t>(field);
    }
    x.key_field_count = static_cast<int16_t>(n);
    x.options = j == 0 ? kIndexPrimary : 0;
    if (version >= 4.0) x.options |= TruncatedInt(entry + 400);
    BuildPrefixLayout(def, j);
  }
  def.index_count_ = index_count;
}

}  // namespace logvane
