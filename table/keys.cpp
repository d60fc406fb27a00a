// Key order, key prefixes and bound records.
//
// Field order (CompareField), by type code, for two present values:
//   A, I     signed 32-bit
//   B        first byte, unsigned
//   C, D, F  sign of x - y after rounding the difference to the 6-byte real,
//            so differences below 2^-128 are equal and 2^127 or more overflow
//   R        both widened to doubles, then as C
//   S        unsigned bytes up to the first difference or the end of y's
//            text, at most size - 1 (or `limit`) characters; a case-insensitive
//            comparison folds a-z to A-Z on both sides
// A null flag other than 1 on either side compares by flag value (null 0 <
// value 1 < bound marker 2). A descending index reverses every result.
//
// Key prefix layout: up to three segments (field, length, offset) inside 12
// bytes, taken from the index's key fields and then, for a secondary index,
// from the primary key's fields (the tie-break). A field's segment is its
// whole slot, except that a text that would reach past byte 11 is cut to end
// there; a field that does not fit ends the layout, so segment k always holds
// the k-th field the full comparison looks at.
//
// Segment encodings (a null field is all zero bytes):
//   A, I     the four value bytes with bit 31 inverted (-1 -> 0x7FFFFFFF,
//            5 -> 0x80000005). -2^31 becomes 0, the same as null.
//   B        2 for false (byte 0), 3 for true (any other byte)
//   C, D, F  the double; a zero (either sign) gets byte 7 = 0x80, so that it
//            differs from null
//   R        the 6-byte real; a zero (exponent byte 0) gets byte 5 |= 0x80.
//            Prefixes written elsewhere may hold a zero as plain zero bytes,
//            so all-zero bytes are read as "null or zero".
//   S        the slot's first `length` bytes as they are
//
// Prefix comparison rule: a segment answers "before", "after", "equal" or
// "cannot tell". "Equal" means equal as CompareField would find it, and only
// then may the next segment decide; "cannot tell" ends the comparison with 0
// so that the caller compares full records. Hence a nonzero ComparePrefix
// result always has the sign of CompareKeys(record, stored, true, index).
// The cases a segment cannot tell:
//   - A, I: an all-zero segment (null or -2^31) against a null, or against
//     the value -2^31.
//   - B: a stored true against a present value other than false (the prefix
//     keeps only "nonzero", not the byte).
//   - R: an all-zero segment (null or zero) against a null or a value <= 0.
//   - S: an all-zero segment (null or empty text) against a null or an empty
//     text; a cut segment whose bytes all match without reaching the end of
//     the text.
//   - an unknown type code, a segment shorter than the stored form, or a
//     record flag other than 0, 1 and 2.
#include "table/keys.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "table/real48.h"

namespace logvane {

namespace {

constexpr int kUndecided = INT_MIN;

inline uint8_t Fold(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

// The sign of a floating difference after rounding it to the 6-byte real.
// Inside [2^-127, 2^126) rounding can neither reach zero nor overflow, so
// only magnitudes outside it need the conversion (which throws EOverflow for
// 2^127 and above, infinities and NaN).
int FloatDifferenceSign(double d) {
  double a = std::fabs(d);
  if (a >= 0x1p-127 && a < 0x1p126) return d < 0 ? -1 : 1;
  if (d == 0) return 0;
  double r = RoundToReal48(d);
  return (r > 0) - (r < 0);
}

// Text in two slots of `size` bytes, at most `count` characters (count <=
// size - 1, so nothing past either slot is read).
int CompareText(const uint8_t* x, const uint8_t* y, int count, bool fold) {
  for (int i = 0; i < count; ++i) {
    uint8_t a = x[i];
    uint8_t b = y[i];
    if (fold) {
      a = Fold(a);
      b = Fold(b);
    }
    if (a != b) return int{a} - int{b};
    if (b == 0) break;
  }
  return 0;
}

// Two present values of field `f`.
int CompareValues(const TmtbFieldDesc& f, const uint8_t* x, const uint8_t* y, bool fold,
                  int limit) {
  switch (f.type_code) {
    case 'A':
    case 'I': {
      int32_t a = GetInt32(x);
      int32_t b = GetInt32(y);
      return (a > b) - (a < b);
    }
    case 'B': return int{x[0]} - int{y[0]};
    case 'C':
    case 'D':
    case 'F': return FloatDifferenceSign(GetDouble(x) - GetDouble(y));
    case 'R': return FloatDifferenceSign(Real48ToDouble(x) - Real48ToDouble(y));
    case 'S': {
      int count = f.size - 1;
      if (limit > 0 && limit < count) count = limit;
      return CompareText(x, y, count, fold);
    }
    default: throw EDedaZiDBError(msg::kInternalTableOperations);
  }
}

bool AllZero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// One prefix segment against the record's field. `v` is the record's slot
// (not read when rec_null), `s` the segment's `length` bytes. Returns -1, 0
// (equal), +1 in ascending order, or kUndecided.
int CompareSegment(const TmtbFieldDesc& f, bool rec_null, const uint8_t* v, const uint8_t* s,
                   int length, bool fold) {
  if (f.type_code != 'S' && length < StoredWidth(f.type_code)) return kUndecided;
  switch (f.type_code) {
    case 'A':
    case 'I': {
      uint32_t enc = static_cast<uint32_t>(GetInt32(s));
      if (enc == 0) {  // null or -2^31
        if (rec_null || GetInt32(v) == INT32_MIN) return kUndecided;
        return 1;  // every other value is above both
      }
      if (rec_null) return -1;
      int32_t a = GetInt32(v);
      int32_t b = static_cast<int32_t>(enc ^ 0x80000000u);
      return (a > b) - (a < b);
    }
    case 'B': {
      uint8_t c = s[0];
      if (c == 0) return rec_null ? 0 : 1;
      if (c != 2 && c != 3) return kUndecided;
      if (rec_null) return -1;
      if (c == 2) return v[0] == 0 ? 0 : 1;
      return v[0] == 0 ? -1 : kUndecided;  // true keeps no byte value
    }
    case 'C':
    case 'D':
    case 'F': {
      double b = GetDouble(s);
      if (b == 0 && s[7] == 0) return rec_null ? 0 : 1;  // null
      if (rec_null) return -1;
      return FloatDifferenceSign(GetDouble(v) - b);
    }
    case 'R': {
      if (AllZero(s, kReal48Size)) {  // null or zero
        if (rec_null || !(Real48ToDouble(v) > 0)) return kUndecided;
        return 1;
      }
      if (rec_null) return -1;
      double b = s[0] == 0 ? 0.0 : Real48ToDouble(s);
      return FloatDifferenceSign(Real48ToDouble(v) - b);
    }
    case 'S': {
      int count = std::min(length, f.size - 1);
      if (AllZero(s, length)) {  // null or empty text
        bool rec_empty = f.size <= 1 || rec_null || v[0] == 0;
        return rec_empty ? kUndecided : 1;
      }
      if (rec_null) return -1;
      for (int i = 0; i < count; ++i) {
        uint8_t a = v[i];
        uint8_t b = s[i];
        if (fold) {
          a = Fold(a);
          b = Fold(b);
        }
        if (a != b) return a < b ? -1 : 1;
        if (b == 0) return 0;  // both texts end here
      }
      // All compared characters match: equal when they were all the
      // comparison looks at, else the rest of the text may differ.
      return count == f.size - 1 ? 0 : kUndecided;
    }
    default: return kUndecided;  // the full comparison reports the type
  }
}

uint8_t Marker(const TmtbTableDef& def, int index, bool before_all) {
  return before_all != IsDescending(def, index) ? kNullFlag : kBoundFlag;
}

}  // namespace

bool IsDescending(const TmtbTableDef& def, int index) {
  return (def.Index(index).options & kIndexDescending) != 0;
}

bool IsCaseInsensitive(const TmtbTableDef& def, int index) {
  return (def.Index(index).options & kIndexCaseInsensitive) != 0;
}

bool IsKeyField(const TmtbTableDef& def, int index, int field) {
  const TmtbIndexDesc& x = def.Index(index);
  for (int k = 0; k < x.key_field_count; ++k)
    if (x.key_fields[k] == field) return true;
  return false;
}

void BuildPrefixLayout(TmtbTableDef& def, int index) {
  if (index < 0 || index >= kMaxIndexes) return;
  TmtbIndexDesc& x = def.indexes_[index];
  x.prefix_segments = {};
  x.prefix_segment_count = 0;
  const TmtbIndexDesc* list = &x;
  int owner = index;
  int pos = 0;
  int offset = 0;
  int count = 0;
  while (count < kMaxPrefixSegments && pos < list->key_field_count) {
    int field = list->key_fields[pos];
    if (field < 0 || field >= static_cast<int>(def.fields_.size())) break;
    const TmtbFieldDesc& f = def.fields_[field];
    int length = f.size;
    if (f.type_code == 'S' && offset + length > kKeyPrefixSize) length = kKeyPrefixSize - offset;
    if (length < 1 || offset + length > kKeyPrefixSize) break;
    x.prefix_segments[count++] = {static_cast<int16_t>(field), static_cast<uint8_t>(length),
                                  static_cast<uint8_t>(offset), static_cast<int16_t>(owner)};
    if (++pos == list->key_field_count) {
      // The primary key ends the layout (a cut text there has also filled
      // the prefix); a secondary key continues with the primary key's fields.
      if (owner == 0) break;
      list = &def.indexes_[0];
      owner = 0;
      pos = 0;
    }
    if (offset + length >= kKeyPrefixSize) break;
    offset += length;
  }
  x.prefix_segment_count = static_cast<int16_t>(count);
}

int CompareField(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y, bool case_insensitive,
                 int index, int limit, int field) {
  const TmtbFieldDesc& f = def.Field(field);
  uint8_t fx = x[field];
  uint8_t fy = y[field];
  int r;
  if (fx != kValueFlag || fy != kValueFlag)
    r = int{fx} - int{fy};
  else
    r = CompareValues(f, x + f.offset, y + f.offset, case_insensitive, limit);
  return IsDescending(def, index) ? -r : r;
}

int CompareKeys(const TmtbTableDef& def, const uint8_t* x, const uint8_t* y, bool tie_break,
                int index) {
  const TmtbIndexDesc& d = def.Index(index);
  const bool fold = (d.options & kIndexCaseInsensitive) != 0;
  for (int k = 0; k < d.key_field_count; ++k) {
    int r = CompareField(def, x, y, fold, index, 0, d.key_fields[k]);
    if (r != 0) return r;
  }
  // Index 0's own key is already its tie-break.
  if (tie_break && index != 0) return CompareKeys(def, x, y, false, 0);
  return 0;
}

void BuildKeyPrefix(const TmtbTableDef& def, int index, const uint8_t* record, uint8_t* prefix) {
  std::memset(prefix, 0, kKeyPrefixSize);
  const TmtbIndexDesc& d = def.Index(index);
  for (int k = 0; k < d.prefix_segment_count; ++k) {
    const TKeyPrefixSegment& seg = d.prefix_segments[k];
    if (record[seg.field] == kNullFlag) continue;
    const TmtbFieldDesc& f = def.Field(seg.field);
    uint8_t* s = prefix + seg.offset;
    // The layout never makes a segment longer than its field's slot.
    std::memcpy(s, record + f.offset, seg.length);
    if (f.type_code != 'S' && seg.length < StoredWidth(f.type_code)) continue;
    switch (f.type_code) {
      case 'A':
      case 'I': s[3] ^= 0x80; break;
      case 'B': s[0] = s[0] == 0 ? 2 : 3; break;
      case 'C':
      case 'D':
      case 'F':
        if (GetDouble(s) == 0) s[7] = 0x80;
        break;
      case 'R':
        if (s[0] == 0) s[5] |= 0x80;
        break;
      default: break;
    }
  }
}

int ComparePrefix(const TmtbTableDef& def, const uint8_t* record, const uint8_t* prefix,
                  int index) {
  const TmtbIndexDesc& d = def.Index(index);
  for (int k = 0; k < d.prefix_segment_count; ++k) {
    const TKeyPrefixSegment& seg = d.prefix_segments[k];
    const uint8_t flag = record[seg.field];
    int r;
    if (flag == kBoundFlag) {
      r = 1;
    } else if (flag == kNullFlag || flag == kValueFlag) {
      const TmtbFieldDesc& f = def.Field(seg.field);
      r = CompareSegment(f, flag == kNullFlag, record + f.offset, prefix + seg.offset, seg.length,
                         IsCaseInsensitive(def, seg.owner));
      if (r == kUndecided) return 0;
      if (r == 0) continue;  // proven equal: the next segment may decide
    } else {
      return 0;
    }
    return IsDescending(def, seg.owner) ? -r : r;
  }
  return 0;
}

void MakeBoundRecord(const TmtbTableDef& def, uint8_t* record, int index, bool before_all) {
  std::memset(record, 0, def.RecordLength());
  const TmtbIndexDesc& primary = def.Index(0);
  const uint8_t primary_marker = Marker(def, 0, before_all);
  for (int k = 0; k < primary.key_field_count; ++k) record[primary.key_fields[k]] = primary_marker;
  if (index == 0) return;
  const TmtbIndexDesc& d = def.Index(index);
  const uint8_t marker = Marker(def, index, before_all);
  for (int k = 0; k < d.key_field_count; ++k) record[d.key_fields[k]] = marker;
}

void FillMissingBounds(const TmtbTableDef& def, uint8_t* record, int index, bool before_all) {
  const TmtbIndexDesc& primary = def.Index(0);
  const uint8_t primary_marker = Marker(def, 0, before_all);
  for (int k = 0; k < primary.key_field_count; ++k) {
    uint8_t& flag = record[primary.key_fields[k]];
    if (flag != kValueFlag) flag = primary_marker;
  }
  const TmtbIndexDesc& d = def.Index(index);
  const uint8_t marker = Marker(def, index, before_all);
  for (int k = 0; k < d.key_field_count; ++k) {
    uint8_t& flag = record[d.key_fields[k]];
    if (flag != kValueFlag) flag = marker;
  }
}

}  // namespace logvane
