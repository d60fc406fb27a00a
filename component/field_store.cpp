// Writing field values into an engine record image: values set through the
// field objects, and the default texts of a new record.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/ascii_text.h"
#include "base/byte_order.h"
#include "base/errors.h"
#include "component/component_messages.h"
#include "component/date_time.h"
#include "component/date_time_reader.h"
#include "component/field_mapping.h"
#include "component/text_forms.h"
#include "table/real48.h"

namespace logvane {

namespace {

constexpr size_t kShortString = 255;

// Puts `size` bytes of a stored form at the start of the slot and zeros
// the rest of it.
void PutStored(uint8_t* slot, int width, const uint8_t* bytes, size_t size) {
  const auto w = static_cast<size_t>(std::max(width, 0));
  const size_t n = std::min(size, w);
  std::memcpy(slot, bytes, n);
  std::memset(slot + n, 0, w - n);
}

void PutStoredInt32(uint8_t* slot, int width, int32_t value) {
  uint8_t bytes[4];
  PutInt32(bytes, value);
  PutStored(slot, width, bytes, sizeof bytes);
}

void PutStoredDouble(uint8_t* slot, int width, double value) {
  uint8_t bytes[8];
  PutDouble(bytes, value);
  PutStored(slot, width, bytes, sizeof bytes);
}

// Converted first, so that a value the format cannot hold leaves the slot
// as it was.
void PutStoredReal48(uint8_t* slot, int width, double value) {
  uint8_t bytes[kReal48Size];
  DoubleToReal48(value, bytes);
  PutStored(slot, width, bytes, sizeof bytes);
}

void PutStoredBoolean(uint8_t* slot, int width, bool value) {
  const uint8_t byte = value ? 1 : 0;
  PutStored(slot, width, &byte, 1);
}

void PutStoredString(uint8_t* slot, int width, std::string_view text) {
  // The text ends at a zero byte, as the stored form does.
  const auto* zero = static_cast<const char*>(std::memchr(text.data(), 0, text.size()));
  const size_t length = zero ? static_cast<size_t>(zero - text.data()) : text.size();
  const size_t room = width > 0 ? static_cast<size_t>(width) - 1 : 0;
  const size_t n = std::min(length, room);
  PutStored(slot, width, reinterpret_cast<const uint8_t*>(text.data()), n);
}

[[noreturn]] void NotAValue(std::string_view text) {
  std::string message = msg::kNotValidDataValue;
  message += ' ';
  message += text;
  throw EMTBError(message);
}

}  // namespace

void StoreTableFieldValue(const TFieldSlot& layout, uint8_t* record, const TField& field,
                          const void* source) {
  const int n = field.FieldNo() - 1;
  uint8_t* slot = record + layout.offset;
  const int width = layout.width;
  const bool empty_text =
      source != nullptr && field.DataType() == ftString && *static_cast<const char*>(source) == 0;
  if (source == nullptr || empty_text) {
    std::memset(slot, 0, static_cast<size_t>(std::max(width, 0)));
    record[n] = 0;
    return;
  }
  switch (layout.code) {
    case 'A':
    case 'I': {
      int32_t v;
      std::memcpy(&v, source, sizeof v);
      PutStoredInt32(slot, width, v);
      break;
    }
    case 'B': {
      int16_t v;
      std::memcpy(&v, source, sizeof v);
      PutStoredBoolean(slot, width, v != 0);
      break;
    }
    case 'C':
    case 'F':
    case 'R':
    case 'D': {
      double v;
      std::memcpy(&v, source, sizeof v);
      if (layout.code == 'D')
        PutStoredDouble(slot, width, MillisToStoredDays(v));
      else if (layout.code == 'R')
        PutStoredReal48(slot, width, v);
      else
        PutStoredDouble(slot, width, v);
      break;
    }
    case 'S': {
      const auto* text = static_cast<const char*>(source);
      PutStoredString(slot, width,
                      {text, strnlen(text, static_cast<size_t>(std::max(field.DataSize(), 0)))});
      break;
    }
    default:
      // Blob values live in the blob file, reached through the holders.
      return;
  }
  record[n] = 1;
}

void StoreDefaultText(const TFieldSlot& layout, uint8_t* record, const TField& field,
                      std::string_view text, const TFormatSettings& settings) {
  if (text.size() > kShortString) text = text.substr(0, kShortString);
  if (text.empty()) return;
  uint8_t* slot = record + layout.offset;
  const int width = layout.width;
  switch (layout.code) {
    case 'A':
    case 'I': {
      int32_t v = 0;
      if (!TryReadInteger(text, &v)) NotAValue(text);
      PutStoredInt32(slot, width, v);
      break;
    }
    case 'B':
      if (SameNoCase(text, "TRUE"))
        PutStoredBoolean(slot, width, true);
      else if (SameNoCase(text, "FALSE"))
        PutStoredBoolean(slot, width, false);
      else
        NotAValue(text);
      break;
    case 'C':
    case 'F':
    case 'R': {
      std::string number(text);
      if (layout.code == 'C') {
        if (const size_t dollar = number.find('$'); dollar != std::string::npos)
          number.erase(dollar, 1);
      }
      double v = 0;
      if (!TryReadNumber(number, settings.DecimalSeparator, &v)) NotAValue(text);
      if (layout.code == 'R')
        PutStoredReal48(slot, width, v);
      else
        PutStoredDouble(slot, width, v);
      break;
    }
    case 'D': {
      double days = 0;
      if (!TryReadDateTime(text, settings, &days)) NotAValue(text);
      PutStoredDouble(slot, width, days);
      break;
    }
    case 'S': PutStoredString(slot, width, text); break;
    default: throw EMTBError(msg::kInvalidFieldTypeForField + field.FieldName());
  }
  record[field.FieldNo() - 1] = 1;
}

}  // namespace logvane
