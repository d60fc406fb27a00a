// Loading, updating and deleting records from the command line.
#include "cli/table_change.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <system_error>

#include "base/errors.h"
#include "cli/base64.h"
#include "cli/code_page.h"
#include "cli/json_line.h"
#include "component/date_time.h"

namespace logvane::cli {

namespace {

// A text of the command line or the input in the table's code page.
std::string CodePageText(std::string_view utf8, std::string_view subject) {
  std::string text, problem;
  if (!Windows1252FromUtf8(utf8, &text, &problem))
    throw Exception(std::string(subject) + " " + problem);
  return text;
}

std::string FieldSubject(const TField& field) {
  std::string subject = "field '";
  AppendUtf8FromWindows1252(subject, field.DisplayName());
  return subject + "'";
}

const char* KindWanted(TFieldType type) {
  switch (type) {
    case ftInteger:
    case ftAutoInc: return "a whole number";
    case ftFloat:
    case ftCurrency: return "a number";
    case ftBoolean: return "true or false";
    case ftDateTime: return "a date and time text (YYYY-MM-DDTHH:MM:SS)";
    case ftBlob:
    case ftGraphic: return "a base64 text";
    default: return "a text";
  }
}

const char* KindGiven(TJsonKind kind) {
  switch (kind) {
    case TJsonKind::kNull: return "null";
    case TJsonKind::kBoolean: return "a boolean";
    case TJsonKind::kNumber: return "a number";
    case TJsonKind::kText: return "a text";
  }
  return "a value";
}

[[noreturn]] void WrongKind(const TField& field, TJsonKind given) {
  throw Exception(FieldSubject(field) + " takes " + KindWanted(field.DataType()) + ", not " +
                  KindGiven(given));
}

[[noreturn]] void OutOfRange(const TField& field, std::string_view value) {
  throw Exception(FieldSubject(field) + ": " + std::string(value) + " is out of range");
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// One member of a JSON line into its field of the record being inserted.
void StoreMember(TField& field, const TJsonMember& m, std::string& scratch) {
  if (m.kind == TJsonKind::kNull) {
    field.Clear();
    return;
  }
  switch (field.DataType()) {
    case ftInteger: {
      if (m.kind != TJsonKind::kNumber) WrongKind(field, m.kind);
      int64_t v = 0;
      const char* end = m.text.data() + m.text.size();
      const auto [ptr, ec] = std::from_chars(m.text.data(), end, v);
      if (ptr != end) WrongKind(field, m.kind);
      if (ec != std::errc() || v < INT32_MIN || v > INT32_MAX) OutOfRange(field, m.text);
      field.SetAsInteger(static_cast<int32_t>(v));
      return;
    }
    case ftFloat:
    case ftCurrency: {
      if (m.kind != TJsonKind::kNumber) WrongKind(field, m.kind);
      double v = 0;
      const auto [ptr, ec] = std::from_chars(m.text.data(), m.text.data() + m.text.size(), v);
      if (ec != std::errc() || !std::isfinite(v)) OutOfRange(field, m.text);
      field.SetAsFloat(v);
      return;
    }
    case ftBoolean:
      if (m.kind != TJsonKind::kBoolean) WrongKind(field, m.kind);
      field.SetAsBoolean(m.boolean);
      return;
    case ftDateTime: {
      if (m.kind != TJsonKind::kText) WrongKind(field, m.kind);
      double millis = 0;
      if (!ReadIsoDateTime(m.text, &millis))
        throw Exception(FieldSubject(field) + ": '" + m.text +
                        "' is not a date and time of the form YYYY-MM-DDTHH:MM:SS[.mmm]");
      field.SetData(&millis);
      return;
    }
    case ftBlob:
    case ftGraphic:
      if (m.kind != TJsonKind::kText) WrongKind(field, m.kind);
      if (!DecodeBase64(m.text, &scratch))
        throw Exception(FieldSubject(field) + ": the value is not base64");
      field.SetAsString(scratch);
      return;
    case ftString:
    case ftMemo:
    case ftFmtMemo: {
      if (m.kind != TJsonKind::kText) WrongKind(field, m.kind);
      std::string problem;
      if (!Windows1252FromUtf8(m.text, &scratch, &problem))
        throw Exception(FieldSubject(field) + " " + problem);
      if (field.DataType() == ftString && scratch.size() > static_cast<size_t>(field.Size()))
        throw Exception(FieldSubject(field) + ": the text is longer than the field's " +
                        std::to_string(field.Size()) + " characters");
      field.SetAsString(scratch);
      return;
    }
    default: WrongKind(field, m.kind);
  }
}

// The records that pass the cursor's filter, in its order, by record
// number; then the cursor walks every record again.
std::vector<TBookmark> ChooseRecords(TDaroVivuv& table) {
  std::vector<TBookmark> chosen;
  for (table.First(); !table.Eof(); table.Next()) chosen.push_back(table.GetBookmark());
  table.SetFiltered(false);
  return chosen;
}

// Cancels or closes after an error, which stays the one reported.
void CancelQuietly(TDaroVivuv& table) {
  try {
    table.Cancel();
  } catch (...) {
  }
}

void CloseQuietly(TDaroVivuv& table) {
  try {
    table.Close();
  } catch (...) {
  }
}

}  // namespace

void OpenForChange(TDaroVivuv& cursor, const std::string& mti_path, const std::string& index_name,
                   const TFilterRequest& filter) {
  cursor.SetName("LogTabl");
  cursor.SetTableName(mti_path);
  cursor.SetIndexName(index_name);
  cursor.SetReadOnly(false);
  cursor.SetReadBesideWriter(false);
  cursor.SetFormatSettings(TFormatSettings::Interchange());
  ApplyFilter(cursor, filter);
  cursor.Open();
}

bool ReadIsoDateTime(std::string_view s, double* millis) {
  auto number = [&](size_t at, size_t digits, int* v) {
    if (at + digits > s.size()) return false;
    *v = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      *v = *v * 10 + (s[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second, msec = 0;
  if (s.size() < 19 || !number(0, 4, &year) || s[4] != '-' || !number(5, 2, &month) ||
      s[7] != '-' || !number(8, 2, &day) || s[10] != 'T' || !number(11, 2, &hour) || s[13] != ':' ||
      !number(14, 2, &minute) || s[16] != ':' || !number(17, 2, &second))
    return false;
  if (s.size() > 19) {
    const size_t digits = s.size() - 20;
    if (s[19] != '.' || digits < 1 || digits > 3 || !number(20, digits, &msec)) return false;
    for (size_t d = digits; d < 3; ++d) msec *= 10;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59)
    return false;
  const int64_t msec_of_day = ((hour * 60 + minute) * 60 + second) * 1000LL + msec;
  *millis =
      static_cast<double>(DayNumberFromDate(year, month, day)) * static_cast<double>(kMSecsPerDay) +
      static_cast<double>(msec_of_day);
  return true;
}

int LoadRecords(const std::string& mti_path, std::istream& in, std::ostream& out,
                std::ostream& err) {
  TDaroVivuv table;
  int64_t added = 0, line_number = 0;
  try {
    OpenForChange(table, mti_path, "");
    std::vector<TJsonMember> members;
    std::vector<const TField*> given;
    std::string line, problem, name, scratch;
    while (std::getline(in, line)) {
      ++line_number;
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      size_t count = 0;
      if (!ReadJsonObject(line, members, &count, &problem))
        throw Exception("not a JSON object: " + problem);
      table.Append();
      try {
        given.clear();
        for (size_t i = 0; i < count; ++i) {
          name = CodePageText(members[i].name, "the member name");
          TField& field = table.FieldByName(name);
          for (const TField* seen : given)
            if (seen == &field) throw Exception(FieldSubject(field) + " is given twice");
          given.push_back(&field);
          if (field.DataType() == ftAutoInc) continue;
          StoreMember(field, members[i], scratch);
        }
        table.Post();
      } catch (...) {
        CancelQuietly(table);
        throw;
      }
      ++added;
    }
    table.Close();
  } catch (const std::exception& e) {
    CloseQuietly(table);
    if (line_number > 0) err << "line " << line_number << ": ";
    err << MessageForTerminal(e.what()) << "\n";
    out << added << " records added\n";
    return 1;
  }
  out << added << " records added\n";
  return 0;
}

int DeleteRecords(const std::string& mti_path, const TFilterRequest& filter,
                  const std::string& index_name, std::ostream& out, std::ostream& err) {
  TDaroVivuv table;
  int64_t deleted = 0;
  try {
    OpenForChange(table, mti_path, index_name, filter);
    for (const TBookmark& bookmark : ChooseRecords(table)) {
      table.GotoBookmark(bookmark);
      table.Delete();
      ++deleted;
    }
    table.Close();
  } catch (const std::exception& e) {
    CloseQuietly(table);
    err << MessageForTerminal(e.what()) << "\n";
    out << deleted << " records deleted\n";
    return 1;
  }
  out << deleted << " records deleted\n";
  return 0;
}

int UpdateRecords(const std::string& mti_path, const TFilterRequest& filter,
                  const std::vector<std::string>& settings, const std::string& index_name,
                  std::ostream& out, std::ostream& err) {
  TDaroVivuv table;
  int64_t changed = 0;
  try {
    OpenForChange(table, mti_path, index_name, filter);
    // Every setting is checked before the first record changes.
    std::vector<std::pair<TField*, std::string>> values;
    for (const std::string& setting : settings) {
      const size_t equals = setting.find('=');
      if (equals == std::string::npos)
        throw Exception("--set " + setting + ": expected FIELD=VALUE");
      TField& field = table.FieldByName(CodePageText(setting.substr(0, equals), "the field name"));
      if (field.ReadOnly())
        throw Exception("--set " + setting + ": " + FieldSubject(field) + " cannot be modified");
      const std::string_view value = std::string_view(setting).substr(equals + 1);
      std::string stored;
      if (field.DataType() == ftBlob || field.DataType() == ftGraphic) {
        if (!DecodeBase64(value, &stored))
          throw Exception("--set " + setting + ": the value is not base64");
      } else {
        stored = CodePageText(value, "--set " + setting + ": the value");
      }
      values.emplace_back(&field, std::move(stored));
    }
    for (const TBookmark& bookmark : ChooseRecords(table)) {
      table.GotoBookmark(bookmark);
      table.Edit();
      try {
        for (const auto& [field, value] : values) {
          if (value.empty())
            field->Clear();
          else
            field->SetAsString(value);
        }
        table.Post();
      } catch (...) {
        CancelQuietly(table);
        throw;
      }
      ++changed;
    }
    table.Close();
  } catch (const std::exception& e) {
    CloseQuietly(table);
    err << MessageForTerminal(e.what()) << "\n";
    out << changed << " records changed\n";
    return 1;
  }
  out << changed << " records changed\n";
  return 0;
}

}  // namespace logvane::cli
