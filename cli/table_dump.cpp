// Dumping a table as JSON lines or CSV.
#include "cli/table_dump.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "cli/base64.h"
#include "cli/code_page.h"
#include "component/daro_vivuv.h"
#include "component/date_time.h"

namespace logvane::cli {

namespace {

void AppendNumber(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// A date-time field's buffer form (date_time.h) as an ISO 8601 text; null
// when the stored value was damaged.
void AppendIsoDateTime(std::string& out, double millis) {
  int32_t day = 0, msec = 0;
  if (!SplitMillis(millis, &day, &msec)) {
    out += "null";
    return;
  }
  // "yyyy-mm-ddThh:mm:ss", then ".zzz" when there are milliseconds; the day
  // number's range keeps the year at four digits.
  TCivilDate d = DateFromDayNumber(day);
  char buf[32];
  char* p = buf;
  auto digits = [&p](int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
    p += width;
  };
  *p++ = '"';
  digits(d.year, 4);
  *p++ = '-';
  digits(d.month, 2);
  *p++ = '-';
  digits(d.day, 2);
  *p++ = 'T';
  digits(msec / 3600000, 2);
  *p++ = ':';
  digits(msec / 60000 % 60, 2);
  *p++ = ':';
  digits(msec / 1000 % 60, 2);
  if (msec % 1000) {
    *p++ = '.';
    digits(msec % 1000, 3);
  }
  *p++ = '"';
  out.append(buf, p);
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

// Opens the table as the dump reads it: read-only beside any writer, in the
// order of `index_name`, the filter prepared at the first fetch.
void OpenForDump(TDaroVivuv& table, const std::string& mti_path, const std::string& index_name,
                 const TFilterRequest& filter) {
  table.SetName("LogTabl");
  table.SetTableName(mti_path);
  table.SetIndexName(index_name);
  table.SetReadOnly(true);
  table.SetReadBesideWriter(true);
  ApplyFilter(table, filter);
  table.Open();
}

// One field's value as JSON.
void AppendJsonValue(std::string& line, const TField& field, std::string& scratch,
                     const TFormatSettings& settings) {
  if (field.IsNull()) {
    line += "null";
    return;
  }
  switch (field.DataType()) {
    case ftInteger:
    case ftAutoInc: {
      int32_t v = 0;
      field.GetData(&v);
      char digits[16];
      line.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
      return;
    }
    case ftBoolean: {
      int16_t v = 0;
      field.GetData(&v);
      line += v != 0 ? "true" : "false";
      return;
    }
    case ftFloat:
    case ftCurrency: {
      double v = 0;
      field.GetData(&v);
      AppendNumber(line, v);
      return;
    }
    case ftDateTime: {
      double millis = 0;
      field.GetData(&millis);
      AppendIsoDateTime(line, millis);
      return;
    }
    case ftGraphic:
    case ftBlob:
      scratch.clear();
      field.AppendText(scratch);  // a blob's text form is its bytes
      line += '"';
      AppendBase64(line, scratch);
      line += '"';
      return;
    default:  // strings, memos and formatted texts
      line += '"';
      AppendJsonText(line, field.TextView(scratch, settings));
      line += '"';
      return;
  }
}

}  // namespace

void AppendJsonText(std::string& out, std::string_view bytes) {
  size_t plain = 0;
  auto flush = [&](size_t end) {
    AppendUtf8FromWindows1252(out, bytes.substr(plain, end - plain));
    plain = end + 1;
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      flush(i);
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      flush(i);
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    }
  }
  flush(bytes.size());
}

void DumpTableJson(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                   const TFilterRequest& filter) {
  TDaroVivuv table;
  OpenForDump(table, mti_path, index_name, filter);
  std::vector<std::string> keys;
  for (int f = 0; f < table.FieldCount(); ++f) {
    std::string key = "\"";
    AppendJsonText(key, table.Field(f).FieldName());
    keys.push_back(key + "\":");
  }
  std::string line, scratch;
  for (table.First(); !table.Eof(); table.Next()) {
    line.clear();
    line += '{';
    for (int f = 0; f < table.FieldCount(); ++f) {
      if (f) line += ',';
      line += keys[static_cast<size_t>(f)];
      AppendJsonValue(line, table.Field(f), scratch, table.FormatSettings());
    }
    line += "}\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  table.Close();
}

void DumpTableCsv(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                  const TFormatSettings& settings, const TFilterRequest& filter) {
  TDaroVivuv table;
  table.SetFormatSettings(settings);
  OpenForDump(table, mti_path, index_name, filter);

  std::string line, text, utf8;
  auto append = [&](std::string_view bytes) {
    utf8.clear();
    AppendUtf8FromWindows1252(utf8, bytes);
    AppendCsvField(line, utf8);
  };
  for (int f = 0; f < table.FieldCount(); ++f) {
    if (f) line += ',';
    append(table.Field(f).FieldName());
  }
  line += "\r\n";
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  for (table.First(); !table.Eof(); table.Next()) {
    line.clear();
    for (int f = 0; f < table.FieldCount(); ++f) {
      if (f) line += ',';
      text.clear();
      table.Field(f).AppendText(text);
      append(text);
    }
    line += "\r\n";
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  table.Close();
}

}  // namespace logvane::cli
