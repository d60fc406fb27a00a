#include "component/field_type.h"

namespace logvane {

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case ftUnknown: return "Unknown";
    case ftString: return "String";
    case ftSmallint: return "SmallInt";
    case ftInteger: return "Integer";
    case ftWord: return "Word";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftBCD: return "BCD";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftBytes: return "Bytes";
    case ftVarBytes: return "VarBytes";
    case ftAutoInc: return "AutoInc";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftGraphic: return "Graphic";
    case ftFmtMemo: return "FmtMemo";
    case ftEmbeddedObjectA: return "EmbeddedObjectA";
    case ftEmbeddedObjectB: return "EmbeddedObjectB";
    case ftTypedBinary: return "TypedBinary";
    case ftCursor: return "Cursor";
  }
  return "Unknown";
}

}  // namespace logvane
