// Decoding and encoding the stored forms of field values.
#include "table/stored_value.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "table/real48.h"

namespace logvane {

TStoredValue DecodeField(const TmtbFieldDesc& f, int n, const uint8_t* image) {
  TStoredValue v;
  if (FieldIsNull(image, n)) return v;
  const uint8_t* slot = image + f.offset;
  switch (f.type_code) {
    case 'A':
    case 'I':
      v.kind = TStoredKind::Integer;
      v.integer = GetInt32(slot);
      break;
    case 'E':
    case 'G':
    case 'L':
    case 'M':
      v.kind = TStoredKind::BlobRef;
      v.integer = GetInt32(slot);
      break;
    case 'B':
      v.kind = TStoredKind::Boolean;
      v.boolean = slot[0] != 0;
      break;
    case 'C':
    case 'D':
    case 'F':
      v.kind = TStoredKind::Float;
      v.number = GetDouble(slot);
      break;
    case 'R':
      v.kind = TStoredKind::Float;
      v.number = Real48ToDouble(slot);
      break;
    case 'S':
      v.kind = TStoredKind::String;
      v.text =
          std::string_view(reinterpret_cast<const char*>(slot), StoredStringLength(slot, f.size));
      break;
    default: v.kind = TStoredKind::Unknown; break;
  }
  return v;
}

void EncodeInteger(const TmtbFieldDesc& f, int n, uint8_t* image, int32_t value) {
  image[n] = 1;
  PutInt32(image + f.offset, value);
}

void EncodeBoolean(const TmtbFieldDesc& f, int n, uint8_t* image, bool value) {
  image[n] = 1;
  image[f.offset] = value ? 1 : 0;
}

void EncodeFloat(const TmtbFieldDesc& f, int n, uint8_t* image, double value) {
  if (f.type_code == 'R')
    DoubleToReal48(value, image + f.offset);
  else
    PutDouble(image + f.offset, value);
  image[n] = 1;
}

void EncodeString(const TmtbFieldDesc& f, int n, uint8_t* image, std::string_view value) {
  uint8_t* slot = image + f.offset;
  size_t len = std::min<size_t>(value.size(), f.size - 1);
  std::memcpy(slot, value.data(), len);
  std::memset(slot + len, 0, f.size - len);
  image[n] = 1;
}

void SetNull(const TmtbFieldDesc& f, int n, uint8_t* image) {
  image[n] = 0;
  std::memset(image + f.offset, 0, f.size);
}

}  // namespace logvane
