// Writing definition and data files.
#include "tools/table_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "base/byte_order.h"
#include "table/real48.h"
#include "table/stored_value.h"

namespace logvane::tools {

namespace {

void PutShortString(uint8_t* entry, int offset, const std::string& s, size_t max_len) {
  size_t len = std::min(s.size(), max_len);
  entry[offset] = static_cast<uint8_t>(len);
  std::memcpy(entry + offset + 1, s.data(), len);
}

}  // namespace

void TableDescription::LayOut() {
  if (laid_out) return;
  laid_out = true;
  int next = static_cast<int>(fields.size());
  for (FieldDescription& f : fields) {
    if (f.size == 0) f.size = std::max(1, StoredWidth(f.type));
    if (f.offset < 0) f.offset = next;
    next = std::max(next, f.offset + f.size);
  }
  if (record_length == 0) record_length = std::max(next, kMinRecordLength);
}

TmtbFieldDesc TableDescription::FieldDesc(int n) const {
  const FieldDescription& f = fields.at(n);
  TmtbFieldDesc d;
  d.name = f.name;
  d.type_code = f.type;
  d.size = static_cast<int16_t>(f.size);
  d.offset = static_cast<int16_t>(f.offset);
  return d;
}

void WriteDefinition(const std::string& mti_path, TableDescription desc) {
  desc.LayOut();
  std::vector<uint8_t> file;
  auto entry = [&file]() {
    file.resize(file.size() + kDefinitionEntrySize);
    return file.data() + file.size() - kDefinitionEntrySize;
  };

  bool has_blob = std::any_of(desc.fields.begin(), desc.fields.end(),
                              [](const FieldDescription& f) { return IsBlobType(f.type); });
  uint8_t* header = entry();
  PutInt32(header + 320, desc.field_count.value_or(static_cast<int>(desc.fields.size())));
  PutInt32(header + 324, desc.index_count.value_or(static_cast<int>(desc.indexes.size())));
  PutInt32(header + 328, desc.record_length);
  PutInt32(header + 332, desc.blob_flag.value_or(has_blob) ? 1 : 0);
  DoubleToReal48(desc.format_version, header + 418);

  for (const FieldDescription& f : desc.fields) {
    uint8_t* e = entry();
    PutShortString(e, 0, f.name, 64);
    e[65] = static_cast<uint8_t>(f.type);
    PutShortString(e, 128, f.default_text.value_or(""), 63);
    PutShortString(e, 192, f.minimum_text.value_or(""), 63);
    PutShortString(e, 256, f.maximum_text.value_or(""), 63);
    PutInt32(e + 320, f.size);
    PutInt32(e + 324, f.offset);
    PutInt32(e + 328, f.marker ? 1 : 0);
    PutInt32(e + 332, f.required ? 1 : 0);
    PutInt32(e + 336, f.default_text ? 1 : 0);
    PutInt32(e + 340, f.minimum_text ? 1 : 0);
    PutInt32(e + 344, f.maximum_text ? 1 : 0);
  }
  for (const IndexDescription& x : desc.indexes) {
    uint8_t* e = entry();
    PutShortString(e, 0, x.name, 255);
    PutInt32(e + 320, static_cast<int32_t>(x.key_fields.size()));
    for (size_t k = 0; k < x.key_fields.size() && k < kMaxKeyFields; ++k)
      PutInt32(e + 324 + 4 * static_cast<int>(k), x.key_fields[k]);
    DoubleToReal48(x.options, e + 400);
  }

  std::ofstream out(mti_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + mti_path);
}

TRecordBuilder::TRecordBuilder(const TableDescription& desc) {
  TableDescription laid = desc;
  laid.LayOut();
  for (size_t i = 0; i < laid.fields.size(); ++i)
    fields_.push_back(laid.FieldDesc(static_cast<int>(i)));
  image_.assign(laid.record_length, 0);
}

TRecordBuilder& TRecordBuilder::Clear() {
  std::fill(image_.begin(), image_.end(), 0);
  return *this;
}

TRecordBuilder& TRecordBuilder::SetInt(int field, int32_t value) {
  EncodeInteger(fields_.at(field), field, image_.data(), value);
  return *this;
}

TRecordBuilder& TRecordBuilder::SetBool(int field, bool value) {
  EncodeBoolean(fields_.at(field), field, image_.data(), value);
  return *this;
}

TRecordBuilder& TRecordBuilder::SetFloat(int field, double value) {
  EncodeFloat(fields_.at(field), field, image_.data(), value);
  return *this;
}

TRecordBuilder& TRecordBuilder::SetString(int field, std::string_view value) {
  EncodeString(fields_.at(field), field, image_.data(), value);
  return *this;
}

TRecordBuilder& TRecordBuilder::SetNull(int field) {
  logvane::SetNull(fields_.at(field), field, image_.data());
  return *this;
}

std::vector<uint8_t> FreeRecordImage(int record_length, int32_t next) {
  std::vector<uint8_t> image(record_length, 0);
  image[0] = 0xFF;
  PutInt32(image.data() + 4, next);
  return image;
}

void WriteDataFile(const std::string& mtd_path, const std::vector<std::vector<uint8_t>>& slots) {
  std::ofstream out(mtd_path, std::ios::binary | std::ios::trunc);
  for (const auto& s : slots)
    out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + mtd_path);
}

}  // namespace logvane::tools
