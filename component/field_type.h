// The field-kind enumeration of the dataset framework, in its fixed order,
// and the type names that messages use.
#pragma once

namespace logvane {

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftEmbeddedObjectA,  // two kinds for embedded objects; no table maps to them
  ftEmbeddedObjectB,
  ftTypedBinary,
  ftCursor,
};

// "String", "Integer", "Boolean", ... as messages name a kind.
const char* FieldTypeName(TFieldType type);

// Whether values of the kind live outside the record and are read through a
// blob stream.
inline bool IsBlobKind(TFieldType type) {
  return type == ftBlob || type == ftMemo || type == ftGraphic || type == ftFmtMemo ||
         type == ftEmbeddedObjectA || type == ftEmbeddedObjectB || type == ftTypedBinary;
}

}  // namespace logvane
