// The stored forms of field values inside a record image, by type code:
//
//   A, I        int32
//   B           one byte: 1 true, 0 false (only this byte is read or written)
//   C, D, F     IEEE double; D counts days since 30 December 1899
//   E, G, L, M  int32 blob reference, meaningful only while the null flag is 1
//   R           6-byte real
//   S           8-bit characters ending in a zero byte; at most size-1 of them
//
// Null flag byte k of the image belongs to field k: 1 value, 0 null (2 only
// in in-memory bound records). Decoding reads only inside the field's slot,
// whose bounds the definition reader has checked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "table/table_definition.h"

namespace logvane {

enum class TStoredKind { Null, Integer, Boolean, Float, String, BlobRef, Unknown };

struct TStoredValue {
  TStoredKind kind = TStoredKind::Null;
  int32_t integer = 0;    // Integer (A, I) and BlobRef (E, G, L, M)
  bool boolean = false;   // Boolean (B)
  double number = 0;      // Float (C, D, F, R)
  std::string_view text;  // String (S): a view into the image
};

inline bool FieldIsNull(const uint8_t* image, int field) { return image[field] == 0; }

// The length of a string slot's text: up to the first zero byte, at most
// size - 1 characters even when the zero byte is missing.
inline size_t StoredStringLength(const uint8_t* slot, int size) {
  if (size <= 1) return 0;
  const auto limit = static_cast<size_t>(size - 1);
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time while they lie inside the text's room: the
    // lowest byte flagged by the zero-byte test is the first zero byte.
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighs = 0x8080808080808080ULL;
    for (; i + 8 <= limit; i += 8) {
      uint64_t v;
      std::memcpy(&v, slot + i, sizeof v);
      if (const uint64_t zeros = (v - kOnes) & ~v & kHighs)
        return i + static_cast<size_t>(std::countr_zero(zeros) / 8);
    }
  }
  for (; i < limit; ++i)
    if (slot[i] == 0) return i;
  return limit;
}

TStoredValue DecodeField(const TmtbFieldDesc& field, int field_number, const uint8_t* image);

// Writers for building images. Each sets the field's null flag to 1.
void EncodeInteger(const TmtbFieldDesc& field, int field_number, uint8_t* image, int32_t value);
void EncodeBoolean(const TmtbFieldDesc& field, int field_number, uint8_t* image, bool value);
// C, D, F as a double; R as a 6-byte real (throws EOverflow).
void EncodeFloat(const TmtbFieldDesc& field, int field_number, uint8_t* image, double value);
// Truncated to size - 1 characters; the rest of the slot is zeroed.
void EncodeString(const TmtbFieldDesc& field, int field_number, uint8_t* image,
                  std::string_view value);
void SetNull(const TmtbFieldDesc& field, int field_number, uint8_t* image);

}  // namespace logvane
