// The table writer: makes the definition file (.mti) and the data file
// (.MTD) of a table from a description. Tests build every table they use
// with it, and the sample log is made with it.
//
// Offsets of fields left at -1 are laid out after the null-flag bytes in
// field order; a record length of 0 becomes the end of the last slot (at
// least 8). Anything may be given explicitly, so tests can also describe
// tables the engine must refuse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "table/table_definition.h"

namespace logvane::tools {

struct FieldDescription {
  std::string name;
  char type = 'S';
  int size = 0;     // 0: the stored width of the type (strings need a size)
  int offset = -1;  // -1: laid out
  bool required = false;
  std::optional<std::string> default_text;
  std::optional<std::string> minimum_text;
  std::optional<std::string> maximum_text;
  bool marker = false;
};

inline FieldDescription MakeField(std::string name, char type, int size = 0) {
  FieldDescription f;
  f.name = std::move(name);
  f.type = type;
  f.size = size;
  return f;
}

struct IndexDescription {
  std::string name;
  std::vector<int> key_fields;
  double options = 0;  // stored as a 6-byte real
};

struct TableDescription {
  double format_version = 4.0;
  std::vector<FieldDescription> fields;
  std::vector<IndexDescription> indexes;
  int record_length = 0;           // 0: computed
  std::optional<bool> blob_flag;   // default: true when a field is a blob kind
  std::optional<int> field_count;  // override the header's counts
  std::optional<int> index_count;

  // Fills in sizes, offsets and the record length, once: after it, fields
  // may be changed to anything (tests describe damaged tables that way).
  void LayOut();
  bool laid_out = false;
  int RecordLength() const { return record_length; }
  // The field as the engine would read it from the definition.
  TmtbFieldDesc FieldDesc(int n) const;
};

// Writes the definition file. Calls LayOut on a copy.
void WriteDefinition(const std::string& mti_path, TableDescription desc);

// One record image, built field by field with the engine's stored forms.
class TRecordBuilder {
 public:
  explicit TRecordBuilder(const TableDescription& desc);
  TRecordBuilder& Clear();  // every field null, every byte 0
  TRecordBuilder& SetInt(int field, int32_t value);
  TRecordBuilder& SetBool(int field, bool value);
  TRecordBuilder& SetFloat(int field, double value);
  TRecordBuilder& SetString(int field, std::string_view value);
  TRecordBuilder& SetNull(int field);
  const std::vector<uint8_t>& Image() const { return image_; }

 private:
  std::vector<TmtbFieldDesc> fields_;
  std::vector<uint8_t> image_;
};

// A free slot linking to `next` (-1 ends the chain).
std::vector<uint8_t> FreeRecordImage(int record_length, int32_t next);

// Writes the data file from whole record images, in slot order.
void WriteDataFile(const std::string& mtd_path, const std::vector<std::vector<uint8_t>>& slots);

}  // namespace logvane::tools
