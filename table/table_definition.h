// The table definition file (.mti) and the in-memory field and index tables
// built from it.
//
// The file is a sequence of 520-byte entries: entry 0 is the table header,
// entries 1..F describe fields 0..F-1, entries F+1..F+X indexes 0..X-1.
// Integers are int32 little-endian; a short string is a length byte followed
// by the characters; reals are 6-byte reals.
//
//   header:  320 F (<= 76)   324 X (<= 26)   328 record length
//            332 blob flag   418 format version V (6-byte real)
//   field:   0 name (short string, 65 bytes)   65 type code
//            128/192/256 default/minimum/maximum texts (short strings, 64 bytes)
//            320 size   324 offset   328 marker (== 1)
//            332 required   336 default applies   340 minimum applies
//            344 maximum applies                  (offsets 128..347 only when V >= 2.0)
//   index:   0 name (short string, 256 bytes)   320 key field count n (1..10)
//            324 n key field numbers   400 option bits (6-byte real, only when V >= 4.0)
//
// After each index entry its key prefix layout is computed (it needs index
// 0's key list, which is read first).
//
// Format level = trunc(V * 10): below 30 the indexes use small pages, from
// 30 on large pages. Index 0 always carries the primary option.
//
// Every value later code indexes with is checked here, so a definition that
// passes describes records whose field slots lie inside the record, after
// the null-flag bytes, and wide enough for their type's stored form.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace logvane {

inline constexpr int kDefinitionEntrySize = 520;
inline constexpr int kMaxFields = 76;
inline constexpr int kMaxIndexes = 26;
inline constexpr int kMaxKeyFields = 10;
inline constexpr int kMinRecordLength = 8;
// The largest record the pinned-record table can hold in one slot: a slot
// takes L + 7 bytes and the table stays below 65535 bytes.
inline constexpr int kMaxRecordLength = 65527;

enum TIndexOption : int32_t {
  kIndexPrimary = 1,
  kIndexDescending = 2,
  kIndexCaseInsensitive = 4,
};

struct TmtbFieldDesc {
  std::string name;
  char type_code = 0;
  int16_t size = 0;
  int16_t offset = 0;
  int32_t required = 0;
  int32_t has_default = 0;
  int32_t has_minimum = 0;
  int32_t has_maximum = 0;
  bool marker = false;
  std::string default_text;
  std::string minimum_text;
  std::string maximum_text;
};

// One segment of an index's 12-byte key prefix: `length` bytes at `offset`
// holding the encoded value of field `field` (-1: unused). `owner` is the
// index whose key list the field came from: the index itself, or 0 for the
// primary-key fields that break ties; the owner's direction and case rule
// apply to the segment. Built by BuildPrefixLayout (engine/keys.h).
struct TKeyPrefixSegment {
  int16_t field = -1;
  uint8_t length = 0;
  uint8_t offset = 0;
  int16_t owner = 0;
};

inline constexpr int kMaxPrefixSegments = 3;

struct TmtbIndexDesc {
  std::string name;
  std::array<int16_t, kMaxKeyFields> key_fields{};
  int16_t key_field_count = 0;
  int32_t options = 0;
  std::array<TKeyPrefixSegment, kMaxPrefixSegments> prefix_segments{};
  int16_t prefix_segment_count = 0;
};

// The width in bytes of a type code's stored form (1 for strings, whose size
// is their own); 0 for an unknown code.
int StoredWidth(char type_code);
bool IsBlobType(char type_code);

class TmtbTableDef {
 public:
  int FieldCount() const { return field_count_; }
  int IndexCount() const { return index_count_; }
  int RecordLength() const { return record_length_; }
  bool HasBlobFile() const { return has_blob_file_; }
  double FormatVersion() const { return format_version_; }
  int FormatLevel() const { return format_level_; }
  int AutoIncField() const { return autoinc_field_; }

  // REQUIRES: 0 <= n < FieldCount() (Field and Index); FieldDesc and
  // IndexDesc check and raise.
  const TmtbFieldDesc& Field(int n) const { return fields_[n]; }
  const TmtbIndexDesc& Index(int n) const { return indexes_[n]; }
  const std::string& FieldName(int n) const { return FieldDesc(n).name; }
  char FieldType(int n) const { return FieldDesc(n).type_code; }
  int FieldSize(int n) const { return FieldDesc(n).size; }
  int FieldOffset(int n) const { return FieldDesc(n).offset; }
  const TmtbFieldDesc& FieldDesc(int n) const;
  const TmtbIndexDesc& IndexDesc(int n) const;
  // Kind 0: "True" when the field is required; 1..3: the default, minimum
  // and maximum texts when they apply. `present` tells whether there is one.
  std::string FieldAttribute(int n, int kind, bool* present) const;
  // Exact, case-sensitive; the first match in index order; -1 when none.
  int IndexNumber(const std::string& name) const;

  void Clear();

 private:
  friend void ReadTableDefinition(platform::File& file, TmtbTableDef& def);
  friend void BuildPrefixLayout(TmtbTableDef& def, int index);

  int field_count_ = 0;
  int index_count_ = 0;
  int record_length_ = 0;
  bool has_blob_file_ = false;
  double format_version_ = 0;
  int format_level_ = 0;
  int autoinc_field_ = -1;
  std::vector<TmtbFieldDesc> fields_;
  std::array<TmtbIndexDesc, kMaxIndexes> indexes_{};
};

// Reads the whole definition from `file` (positioned at its start) into
// `def`. Throws EDedaZiDBError when the definition exceeds a limit, ends
// early or describes an impossible record.
void ReadTableDefinition(platform::File& file, TmtbTableDef& def);

}  // namespace logvane
