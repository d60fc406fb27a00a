// Dumping a table as JSON lines.
#include "cli/table_dump.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/errors.h"
#include "blob/blob_holders.h"
#include "component/component_messages.h"
#include "component/daro_vivuv.h"
#include "component/date_time.h"
#include "engine/db_engine.h"
#include "table/stored_value.h"

namespace logvane::cli {

namespace {

// Code points of the bytes 0x80..0x9F in the Windows-1252 code page; the
// undefined ones map to the C1 control of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendBase64(std::string& out, const std::vector<uint8_t>& data) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += kDigits[(v >> s) & 63];
  }
  if (size_t rest = data.size() - i) {
    uint32_t v = data[i] << 16 | (rest == 2 ? data[i + 1] << 8 : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
}

void AppendNumber(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

void AppendDateTime(std::string& out, double days) {
  double millis = 0;
  int32_t day = 0, msec = 0;
  if (!StoredDaysToMillis(days, &millis) || !SplitMillis(millis, &day, &msec)) {
    out += "null";
    return;
  }
  TCivilDate d = DateFromDayNumber(day);
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day,
                        msec / 3600000, msec / 60000 % 60, msec / 1000 % 60);
  out.append(buf, n);
  if (msec % 1000) {
    n = std::snprintf(buf, sizeof buf, ".%03d", msec % 1000);
    out.append(buf, n);
  }
  out += '"';
}

std::string_view Trimmed(const std::string& name) {
  size_t b = name.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return std::string_view(name).substr(b, name.find_last_not_of(' ') - b + 1);
}

// Appends one field of a CSV row: quoted, with quotes doubled, when it holds
// a comma, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      AppendUtf8(out, kHighControls[c - 0x80]);
    } else {
      AppendUtf8(out, c);
    }
  }
}

void DumpTableJson(std::ostream& out, const std::string& mti_path, const std::string& index_name) {
  TmtbDBEng engine;
  const int32_t result = engine.OpenTable(mti_path, kOpenReadBesideWriter, 0);
  if (result < 0) throw Exception(OpenFailureText(mti_path, result));
  const TmtbTableDef& def = engine.Definition();
  int index = 0;
  if (!index_name.empty()) {
    index = def.IndexNumber(index_name);
    if (index < 0) throw EDatabaseError(index_name + msg::kNotValidIndexName);
  }
  engine.SetCurrentIndex(index);

  std::vector<std::string> keys;
  for (int f = 0; f < def.FieldCount(); ++f) {
    std::string key = "\"";
    AppendJsonText(key, Trimmed(def.Field(f).name));
    keys.push_back(key + "\":");
  }

  std::string line;
  for (engine.First(); engine.CurrentRecordNumber() != -1;) {
    const uint8_t* image = engine.CurrentImage();
    line.clear();
    line += '{';
    bool first_field = true;
    for (int f = 0; f < def.FieldCount(); ++f) {
      const TmtbFieldDesc& field = def.Field(f);
      if (StoredWidth(field.type_code) == 0) continue;  // a type code without a value form
      TStoredValue v = DecodeField(field, f, image);
      if (!first_field) line += ',';
      first_field = false;
      line += keys[f];
      switch (v.kind) {
        case TStoredKind::Null: line += "null"; break;
        case TStoredKind::Integer: line += std::to_string(v.integer); break;
        case TStoredKind::Boolean: line += v.boolean ? "true" : "false"; break;
        case TStoredKind::Float:
          if (field.type_code == 'D')
            AppendDateTime(line, v.number);
          else
            AppendNumber(line, v.number);
          break;
        case TStoredKind::String:
          line += '"';
          AppendJsonText(line, v.text);
          line += '"';
          break;
        case TStoredKind::BlobRef: {
          TBlob* blob = engine.BlobHolders().Load(engine.BlobFile(), engine.Definition(), f, image,
                                                  engine.CurrentRecordNumber());
          if (blob == nullptr) {
            line += "null";
            break;
          }
          line += '"';
          const std::vector<uint8_t>& data = blob->Data();
          if (field.type_code == 'G' || field.type_code == 'L')
            AppendBase64(line, data);
          else
            AppendJsonText(
                line, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
          line += '"';
          break;
        }
        case TStoredKind::Unknown: break;
      }
    }
    line += "}\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    engine.Next();
    if (engine.IsEOF()) break;
  }
  engine.CloseTable();
}

void DumpTableCsv(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                  const TFormatSettings& settings) {
  TDaroVivuv table;
  table.SetName("Table");
  table.SetTableName(mti_path);
  table.SetIndexName(index_name);
  table.SetReadOnly(true);
  table.SetReadBesideWriter(true);
  table.SetFormatSettings(settings);
  table.Open();

  std::string line, text;
  for (int f = 0; f < table.FieldCount(); ++f) {
    if (f) line += ',';
    AppendCsvField(line, Trimmed(table.Field(f).FieldName()));
  }
  line += "\r\n";
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  for (table.First(); !table.Eof(); table.Next()) {
    line.clear();
    for (int f = 0; f < table.FieldCount(); ++f) {
      if (f) line += ',';
      text.clear();
      table.Field(f).AppendText(text);
      AppendCsvField(line, text);
    }
    line += "\r\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  table.Close();
}

}  // namespace logvane::cli
