// How the fields of an open table appear as dataset fields: the field kind
// and size each type code gets, the check of field objects against the
// table with the column attributes it hands them, and the copy of one
// field's stored value into its dataset form (fields.h).
//
//   code  kind         dataset form, from the stored form (stored_value.h)
//   A     ftAutoInc    int32                  (the field object is read-only)
//   B     ftBoolean    int16 0/1 from the ONE stored byte; the byte after
//                      the slot belongs to the next field and is never read
//   C     ftCurrency   double
//   D     ftDateTime   double, buffer form of date_time.h (0 when the stored
//                      day count is damaged: the text form then reports it)
//   F     ftFloat      double
//   R     ftFloat      double converted from the 6-byte real
//   I     ftInteger    int32
//   S     ftString     width - 1 characters + zero byte: the slot's bytes,
//                      always ending in a zero byte, never more than the slot
//   E     ftFmtMemo    none: blob values are read through a blob stream
//   G     ftGraphic    none
//   L     ftBlob       none
//   M     ftMemo       none
//   else  ftUnknown    no field object is created
//
// Every read stays inside the record image: the definition reader has
// checked that each slot lies inside the record and is at least as wide as
// its type's stored form, and the copy is further bounded by the
// destination's DataSize().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "component/dataset.h"
#include "component/field_defs.h"
#include "component/field_type.h"
#include "component/mtb_iface.h"
#include "table/stored_value.h"

namespace logvane {

// The field kind of a stored type code; ftUnknown for an unknown code.
TFieldType FieldKindOfTypeCode(char type_code);

// The name without leading and trailing blanks (and control characters).
std::string_view TrimmedName(std::string_view name);

// Fills `defs` with one entry per field of the open table, in table order:
// field number from 1, trimmed name, kind, size (width - 1 for strings, else
// 0), not required.
void BuildFieldDefList(const TmtbIFace& iface, TFieldDefs& defs);

// Checks every bound field object of `dataset` (FieldNo() >= 1) against its
// table field and applies the table's column attributes:
//   - the names must match ignoring letter case and the blanks around the
//     stored name; else EDatabaseError "The dataset field name does not
//     match the underlying table field name" directly followed by
//     "Persistant field: <object's name> - Table field <stored name>";
//   - an autoincrement field is read-only;
//   - attribute 0 (required) sets Required when its text is not empty,
//     1 sets DefaultExpression, 2 and 3 set MinValue and MaxValue of integer,
//     float and currency fields (numbers with `decimal_separator`). A text
//     that does not convert skips the field's remaining attributes.
void CheckDeclaredFields(const TmtbIFace& iface, TDataSet& dataset, char decimal_separator);

// Reads table field `field` (its FieldNo() >= 1) from the engine record
// image at the start of `record`: answers whether the field has a value
// (null flag not 0) and, when it has and `destination` is not null, writes
// the dataset form: field.DataSize() bytes, zeros after a shorter value.
bool FetchTableFieldValue(const TFieldSlot& layout, const uint8_t* record, const TField& field,
                          void* destination);

// A string field's text in `record`: a view of the slot up to its zero byte
// (at most width - 1 characters, never past the slot); empty when null.
inline std::string_view TableFieldText(const TFieldSlot& slot, const uint8_t* record,
                                       const TField& field) {
  if (record[field.FieldNo() - 1] == 0) return {};
  const uint8_t* text = record + slot.offset;
  return {reinterpret_cast<const char*>(text), StoredStringLength(text, slot.width)};
}

// Writes table field `field`'s value, given in dataset form (nullptr: no
// value), into the engine record image at the start of `record`, in the
// stored form of its type code (stored_value.h), and sets its null flag:
//   no source, or an empty string   the slot zeroed, null flag 0
//   D   the buffer form converted to the stored day count
//   R   the 6-byte real (EOverflow for a value it cannot hold; the record is
//       then unchanged)
//   B   1 for any non-zero value, 0 otherwise, in the first byte
//   S   the characters up to the first zero byte, at most width - 1
// The slot's bytes after the stored form are zeroed. Blob kinds are not
// stored here (their values live in the blob file).
void StoreTableFieldValue(const TFieldSlot& slot, uint8_t* record, const TField& field,
                          const void* source);

// Stores a field's default text (cut to 255 characters) into the engine
// record image for a new record, and sets its null flag, by type code:
//   A, I   a 32-bit integer
//   B      "TRUE" or "FALSE" in any letter case
//   C      a number after the first "$" is removed
//   D      a date and time by `settings`
//   F      a number; R the same as a 6-byte real
//   S      the text, at most width - 1 characters
// A text that does not convert raises EMTBError " is not a valid data
// value", a blank and the text; any other type code raises EMTBError
// "Invalid field type for field " and the field's name. An empty text
// leaves the field without a value.
void StoreDefaultText(const TFieldSlot& slot, uint8_t* record, const TField& field,
                      std::string_view text, const TFormatSettings& settings);

}  // namespace logvane
