// Writing a contact log as an ADIF 3 file.
#include "app/adif3_export.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <string_view>

#include "app/adif3_enumerations.h"
#include "app/adif3_values.h"
#include "app/contact_fields.h"
#include "component/text_forms.h"
#include "platform/text_file.h"

namespace logvane {

namespace {

void AppendDigits(std::string& out, int value, int width) {
  char digits[12];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  for (int n = static_cast<int>(end - digits); n < width; ++n) out += '0';
  out.append(digits, end);
}

// Appends the data specifier <TAG:length>value and a blank; nothing for an
// empty value.
void PutField(std::string& out, std::string_view tag, std::string_view value) {
  if (value.empty()) return;
  out += '<';
  out += tag;
  out += ':';
  AppendInteger(out, static_cast<int64_t>(value.size()));
  out += '>';
  out += value;
  out += ' ';
}

void AppendHeader(std::string& out, const std::string& log_name, int sort_choice,
                  const std::string& program_version, std::chrono::system_clock::time_point now) {
  // The free text comes before the first "<": a "<" of the log's name would
  // start a data specifier there.
  const size_t name_at = out.size();
  AppendAdifText(out, log_name, TextLines::kJoin);
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(name_at), out.end(), '<', '?');
  out += sort_choice == 0 ? " - sorted by Sequence worked" : " - sorted by Call letters";
  out += ", exported from Tavisk database ";

  // One reading of the clock dates both the free text and the timestamp.
  using namespace std::chrono;
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{floor<seconds>(now - day)};
  const int y = static_cast<int>(date.year());
  const int m = static_cast<int>(static_cast<unsigned>(date.month()));
  const int d = static_cast<int>(static_cast<unsigned>(date.day()));
  const int hh = static_cast<int>(time.hours().count());
  const int mm = static_cast<int>(time.minutes().count());
  const int ss = static_cast<int>(time.seconds().count());
  AppendDigits(out, y, 4);
  out += '-';
  AppendDigits(out, m, 2);
  out += '-';
  AppendDigits(out, d, 2);
  out += " @ ";
  AppendDigits(out, hh, 2);
  AppendDigits(out, mm, 2);
  out += " UTC using Logvane";
  std::string version;
  AppendAdifText(version, program_version, TextLines::kJoin);
  std::replace(version.begin(), version.end(), '<', '?');
  version.erase(0, version.find_first_not_of(' '));
  version.erase(version.find_last_not_of(' ') + 1);
  if (!version.empty()) {
    out += ' ';
    out += version;
  }
  out += "\r\n";

  std::string stamp;
  AppendDigits(stamp, y, 4);
  AppendDigits(stamp, m, 2);
  AppendDigits(stamp, d, 2);
  stamp += ' ';
  AppendDigits(stamp, hh, 2);
  AppendDigits(stamp, mm, 2);
  AppendDigits(stamp, ss, 2);
  const std::pair<std::string_view, std::string_view> fields[] = {
      {"ADIF_VER", kAdifVersion},
      {"PROGRAMID", "Logvane"},
      {"PROGRAMVERSION", version},
      {"CREATED_TIMESTAMP", stamp},
  };
  for (const auto& [tag, value] : fields) {
    if (value.empty()) continue;
    PutField(out, tag, value);
    out.back() = '\r';
    out += '\n';
  }
  out += "<EOH>\r\n";
}

bool IsWholeNumber(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The per-contact values in their ADIF 3 form. The strings keep their room
// from one contact to the next.
struct Adif3Values {
  std::string call, date, time, freq, mode, rst_sent, rst_rcvd, stx, srx;
  std::string name, qth, state, cont, comment, notes, raw_notes;

  Adif3Values() {
    for (std::string* s : {&call, &date, &time, &freq, &mode, &rst_sent, &rst_rcvd, &stx, &srx,
                           &name, &qth, &state, &cont, &comment, &notes, &raw_notes})
      s->reserve(256);
  }
};

}  // namespace

Adif3Summary WriteAdif3File(TDataSet& cursor, const std::string& output_path,
                            const std::string& log_name, int sort_choice,
                            const std::string& program_version, const std::string& contest_id,
                            const UtcClock& utc_now) {
  platform::TextFile file;
  CheckTextFileCode(file.Create(output_path));
  Adif3Summary summary;
  try {
    std::string record;
    record.reserve(4096);
    AppendHeader(record, log_name, sort_choice, program_version, utc_now());
    CheckTextFileCode(file.Write(record.data(), record.size()));
    summary.lines = std::count(record.begin(), record.end(), '\n');

    std::array<const TField*, kContactFieldCount> fields{};
    for (size_t i = 0; i < kContactFieldCount; ++i)
      fields[i] = cursor.FindField(kContactFieldNames[i]);
    const TFormatSettings interchange = TFormatSettings::Interchange();
    std::array<std::string, kContactFieldCount> text;
    for (std::string& t : text) t.reserve(256);
    Adif3Values v;
    std::string contest;
    const bool contest_replaced = AppendAdifText(contest, contest_id, TextLines::kJoin);

    cursor.First();
    if (!cursor.Eof()) {
      for (size_t i = 0; i < kContactFieldCount; ++i) {
        if (fields[i] == nullptr) cursor.FieldByName(kContactFieldNames[i]);  // raises
      }
    }
    while (!cursor.Eof()) {
      bool ibm = false;
      bool retired = false;
      for (size_t i = 0; i < kContactFieldCount; ++i) {
        if (i == kIbm) {
          ibm = fields[i]->ReadBoolean();
        } else if (i == kRetired) {
          retired = fields[i]->ReadBoolean();
        } else {
          text[i].clear();
          fields[i]->AppendText(text[i], interchange);
        }
      }
      int64_t replaced = 0;
      auto one_line = [&](std::string& out, std::string_view value) {
        out.clear();
        replaced += AppendAdifText(out, value, TextLines::kJoin);
      };

      std::string& raw_call = text[kCall];
      std::replace(raw_call.begin(), raw_call.end(), '\xD8', '0');
      one_line(v.call, raw_call);

      v.date.clear();
      std::string& raw_date = text[kQsoDate];
      NormaliseAdifDate(raw_date);
      if (IsAdifDate(raw_date)) {
        v.date = raw_date;
      } else if (!raw_date.empty()) {
        ++summary.dates_left_out;
      }

      v.time.clear();
      if (!AppendAdifTime(v.time, text[kTimeStart]) && !text[kTimeStart].empty())
        ++summary.times_left_out;

      v.freq.clear();
      std::string_view band;
      if (AppendAdifNumber(v.freq, text[kFreq])) {
        double mhz = 0;
        const char* begin = v.freq.data();
        const char* end = begin + v.freq.size();
        if (std::from_chars(begin, end, mhz).ptr == end) band = AdifBandOf(mhz);
      } else if (!text[kFreq].empty()) {
        ++summary.frequencies_left_out;
      }

      one_line(v.mode, text[kMode]);
      const AdifMode mode = MapAdifMode(v.mode);
      if (mode.mode.empty() && !v.mode.empty()) ++summary.unknown_modes;

      one_line(v.rst_sent, text[kRstSent]);
      one_line(v.rst_rcvd, text[kRstRcvd]);
      one_line(v.stx, text[kNumSent]);
      one_line(v.srx, text[kNumRcvd]);
      one_line(v.name, text[kName]);
      one_line(v.qth, text[kCity]);
      one_line(v.state, text[kState]);

      // A continent of the enumeration is written in upper case, any other
      // as logged.
      one_line(v.cont, text[kContinent]);
      if (v.cont.size() == 2) {
        char upper[2];
        for (size_t i = 0; i < 2; ++i)
          upper[i] =
              v.cont[i] >= 'a' && v.cont[i] <= 'z' ? static_cast<char>(v.cont[i] - 32) : v.cont[i];
        if (IsAdifContinent(std::string_view(upper, 2))) v.cont.assign(upper, 2);
      }
      if (!v.cont.empty() && !IsAdifContinent(v.cont)) ++summary.unknown_continents;

      // COMMENT is "Comments, Country" or Country alone, as in the default
      // form, with the memo's lines joined first so that a line break
      // ending the memo does not stand before the comma.
      v.comment.clear();
      bool comment_replaced = AppendAdifText(v.comment, text[kComments], TextLines::kJoin);
      if (!v.comment.empty()) v.comment += ", ";
      comment_replaced |= AppendAdifText(v.comment, text[kCountry], TextLines::kJoin);
      replaced += comment_replaced;

      v.raw_notes.clear();
      v.raw_notes += text[kName];
      if (!text[kCity].empty()) {
        v.raw_notes += " in ";
        v.raw_notes += text[kCity];
      }
      if (ibm) v.raw_notes += " IBM";
      if (retired) v.raw_notes += " RET";
      v.notes.clear();
      replaced += AppendAdifText(v.notes, v.raw_notes, TextLines::kKeep);

      record.clear();
      PutField(record, "CALL", v.call);
      PutField(record, "QSO_DATE", v.date);
      PutField(record, "TIME_ON", v.time);
      PutField(record, "BAND", band);
      PutField(record, "FREQ", v.freq);
      if (mode.mode.empty()) {
        PutField(record, "MODE", v.mode);
      } else {
        PutField(record, "MODE", mode.mode);
        PutField(record, "SUBMODE", mode.submode);
      }
      PutField(record, "RST_SENT", v.rst_sent);
      PutField(record, IsWholeNumber(v.stx) ? "STX" : "STX_STRING", v.stx);
      PutField(record, "RST_RCVD", v.rst_rcvd);
      PutField(record, IsWholeNumber(v.srx) ? "SRX" : "SRX_STRING", v.srx);
      PutField(record, "NAME", v.name);
      PutField(record, "QTH", v.qth);
      PutField(record, "STATE", v.state);
      PutField(record, "CONT", v.cont);
      PutField(record, "COMMENT", v.comment);
      PutField(record, "CONTEST_ID", contest);
      PutField(record, "NOTES", v.notes);
      record += "<EOR>\r\n";
      CheckTextFileCode(file.Write(record.data(), record.size()));

      ++summary.contacts;
      ++summary.lines;
      summary.ascii_fields += replaced + (contest_replaced ? 1 : 0);
      if (v.call.empty() || v.date.empty() || v.time.empty() || (band.empty() && v.freq.empty()) ||
          v.mode.empty())
        ++summary.incomplete_contacts;
      cursor.Next();
    }
  } catch (...) {
    (void)file.Close();
    throw;
  }
  CheckTextFileCode(file.Close());
  cursor.Close();
  return summary;
}

}  // namespace logvane
