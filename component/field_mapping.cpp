#include "component/field_mapping.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/message_format.h"
#include "component/component_messages.h"
#include "component/date_time.h"
#include "component/text_forms.h"
#include "table/real48.h"
#include "table/stored_value.h"

namespace logvane {

namespace {

constexpr size_t kShortString = 255;

}  // namespace

TFieldType FieldKindOfTypeCode(char type_code) {
  switch (type_code) {
    case 'A': return ftAutoInc;
    case 'B': return ftBoolean;
    case 'C': return ftCurrency;
    case 'D': return ftDateTime;
    case 'E': return ftFmtMemo;
    case 'F':
    case 'R': return ftFloat;
    case 'G': return ftGraphic;
    case 'I': return ftInteger;
    case 'L': return ftBlob;
    case 'M': return ftMemo;
    case 'S': return ftString;
    default: return ftUnknown;
  }
}

std::string_view TrimmedName(std::string_view name) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!name.empty() && blank(name.front())) name.remove_prefix(1);
  while (!name.empty() && blank(name.back())) name.remove_suffix(1);
  return name;
}

void BuildFieldDefList(const TmtbIFace& iface, TFieldDefs& defs) {
  defs.Clear();
  const int count = iface.TableFieldCount();
  for (int i = 0; i < count; ++i) {
    int offset = 0;
    int width = 0;
    const char code = iface.FieldInfo(i, &offset, &width);
    TFieldDef def;
    def.FieldNo = i + 1;
    def.Name = std::string(TrimmedName(iface.TableFieldName(i)));
    def.DataType = FieldKindOfTypeCode(code);
    // The width counts the terminating zero byte.
    def.Size = def.DataType == ftString ? width - 1 : 0;
    def.Required = false;
    defs.Add(std::move(def));
  }
}

namespace {

// Applies attribute `kind` (0..3) of table field `n` to `field`; false when
// its text does not convert.
bool ApplyAttribute(const TmtbIFace& iface, TField& field, int n, int kind,
                    char decimal_separator) {
  bool present = false;
  const std::string text = iface.FieldAttribute(n, kind, kShortString, &present);
  if (!present) return true;
  switch (kind) {
    case 0: field.SetRequired(!text.empty()); return true;
    case 1: field.SetDefaultExpression(text); return true;
    default: break;
  }
  if (field.DataType() == ftInteger) {
    int32_t value = 0;
    if (!TryReadInteger(text, &value)) return false;
    if (auto* f = dynamic_cast<TIntegerField*>(&field)) {
      kind == 2 ? f->SetMinValue(value) : f->SetMaxValue(value);
    }
  } else if (field.DataType() == ftFloat || field.DataType() == ftCurrency) {
    double value = 0;
    if (!TryReadNumber(text, decimal_separator, &value)) return false;
    if (auto* f = dynamic_cast<TFloatField*>(&field)) {
      kind == 2 ? f->SetMinValue(value) : f->SetMaxValue(value);
    }
  }
  return true;
}

}  // namespace

void CheckDeclaredFields(const TmtbIFace& iface, TDataSet& dataset, char decimal_separator) {
  for (int i = 0; i < dataset.FieldCount(); ++i) {
    TField& field = dataset.Field(i);
    if (field.FieldNo() < 1) continue;
    const int n = field.FieldNo() - 1;
    // The field list holds the trimmed names, so the comparison trims the
    // stored name too: a table whose field names carry blanks must open.
    const std::string stored = iface.TableFieldName(n);
    if (!SameNameNoCase(field.FieldName(), TrimmedName(stored))) {
      throw EDatabaseError(
          std::string(msg::kFieldNameMismatch) +
          FormatMessage(msg::kPersistentFieldMismatch, {field.FieldName(), stored}));
    }
    for (int kind = 0; kind <= 3; ++kind) {
      if (field.DataType() == ftAutoInc) field.SetReadOnly(true);
      if (!ApplyAttribute(iface, field, n, kind, decimal_separator)) break;
    }
  }
}

namespace {

// Writes a value of the dataset form as the destination's `size` bytes:
// zeros after a shorter value, never more than the destination holds.
template <typename T>
void Put(void* destination, size_t size, T value) {
  if (size == sizeof value) {
    std::memcpy(destination, &value, sizeof value);
    return;
  }
  std::memset(destination, 0, size);
  std::memcpy(destination, &value, std::min(size, sizeof value));
}

// The kinds read less often, and the damaged date, kept out of the short
// path of the common ones.
[[gnu::noinline]] void FetchOtherValue(const TFieldSlot& layout, const uint8_t* slot, size_t size,
                                       void* destination) {
  switch (layout.code) {
    case 'R': Put(destination, size, Real48ToDouble(slot)); break;
    case 'D': {
      double millis = 0;
      if (!StoredDaysToMillis(GetDouble(slot), &millis)) millis = 0;
      Put(destination, size, millis);
      break;
    }
    case 'S':
      if (size > 0) {
        const size_t copied = std::min(size, static_cast<size_t>(layout.width));
        std::memcpy(destination, slot, copied);
        std::memset(static_cast<uint8_t*>(destination) + copied, 0, size - copied);
        static_cast<uint8_t*>(destination)[size - 1] = 0;
      }
      break;
    default:
      // Blob kinds keep their values outside the record.
      std::memset(destination, 0, size);
      break;
  }
}

}  // namespace

bool FetchTableFieldValue(const TFieldSlot& layout, const uint8_t* record, const TField& field,
                          void* destination) {
  if (record[field.FieldNo() - 1] == 0) return false;
  if (destination == nullptr) return true;
  const auto size = static_cast<size_t>(std::max(field.DataSize(), 0));
  const uint8_t* slot = record + layout.offset;
  switch (layout.code) {
    case 'A':
    case 'I': Put(destination, size, GetInt32(slot)); break;
    case 'B':
      // The stored boolean is one byte; the next byte is another field's.
      Put(destination, size, static_cast<int16_t>(slot[0]));
      break;
    case 'C':
    case 'F': Put(destination, size, GetDouble(slot)); break;
    default: FetchOtherValue(layout, slot, size, destination); break;
  }
  return true;
}

}  // namespace logvane
