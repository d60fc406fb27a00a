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

}  // namespace logvane
