#include "app/adif_export.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include "app/app_messages.h"
#include "app/contact_fields.h"
#include "base/errors.h"
#include "base/message_format.h"
#include "component/text_forms.h"
#include "platform/text_file.h"

namespace logvane {

namespace {

[[noreturn]] void ThrowTextFileError(int code) {
  switch (code) {
    case 2: throw EInOutError(code, msg::kTextFileNotFound);
    case 3: throw EInOutError(code, msg::kTextFileInvalidName);
    case 4: throw EInOutError(code, msg::kTextFileTooManyOpen);
    case 5: throw EInOutError(code, msg::kTextFileAccessDenied);
    case 101: throw EInOutError(code, msg::kTextFileDiskFull);
    default: throw EInOutError(code, FormatMessage(msg::kTextFileIoError, {std::to_string(code)}));
  }
}

void AppendTwoDigits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

// Copies n bytes; values are mostly a few bytes long, which two
// overlapping loads and stores of a fixed width move without a call.
inline void CopyShort(char* to, const char* from, size_t n) {
  if (n >= 8 && n <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4 && n < 8) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n > 0 && n < 4) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  } else if (n > 16) {
    std::memcpy(to, from, n);
  }
}

// Writes into a buffer whose room the caller has made.
class RawWriter {
 public:
  explicit RawWriter(char* at) : p_(at) {}
  void Put(std::string_view text) {
    CopyShort(p_, text.data(), text.size());
    p_ += text.size();
  }
  // A literal: its length is known here, so the copy compiles to moves.
  template <size_t N>
  void Put(const char (&literal)[N]) {
    std::memcpy(p_, literal, N - 1);
    p_ += N - 1;
  }
  void PutLength(size_t length) {
    if (length < 100) {  // nearly every value
      if (length >= 10) *p_++ = static_cast<char>('0' + length / 10);
      *p_++ = static_cast<char>('0' + length % 10);
    } else {
      p_ = std::to_chars(p_, p_ + kMaxDigits, length).ptr;
    }
  }
  // `open` is the text before the length, e.g. " <freq:".
  template <size_t N>
  void PutSpecifier(const char (&open)[N], std::string_view value) {
    Put(open);
    PutLength(value.size());
    *p_++ = '>';
    Put(value);
  }
  char* End() const { return p_; }

  static constexpr size_t kMaxDigits = 20;

 private:
  char* p_;
};

// The normalised texts of the dates met so far, by stored value: a table of
// sets of two, indexed by a hash of the value; a new date takes the place
// of the one used less recently in its set.
class DateTexts {
 public:
  bool Find(double value, std::string_view* text) {
    Set& set = sets_[SetOf(value)];
    for (int way = 0; way < 2; ++way) {
      const Slot& slot = set.slots[way];
      if (slot.used && slot.value == value) {
        set.older = way ^ 1;
        *text = std::string_view(slot.text, slot.size);
        return true;
      }
    }
    return false;
  }
  void Store(double value, std::string_view text) {
    if (text.size() > sizeof(Slot::text)) return;
    Set& set = sets_[SetOf(value)];
    Slot& slot = set.slots[set.older];
    set.older ^= 1;
    slot.used = true;
    slot.value = value;
    slot.size = static_cast<uint8_t>(text.size());
    std::memcpy(slot.text, text.data(), text.size());
  }

 private:
  struct Slot {
    double value = 0;
    bool used = false;
    uint8_t size = 0;
    char text[22] = {};
  };
  struct Set {
    Slot slots[2];
    int older = 0;
  };
  static constexpr int kSetBits = 10;
  static size_t SetOf(double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    bits ^= bits >> 31;
    bits *= 0x9E3779B97F4A7C15ULL;
    return static_cast<size_t>(bits >> (64 - kSetBits));
  }
  std::array<Set, size_t{1} << kSetBits> sets_{};
};

// `view` as the content of `own`, copied there unless it already is.
std::string& Owned(std::string_view view, std::string& own) {
  if (view.data() != own.data() || view.size() != own.size()) own.assign(view);
  return own;
}

// Bytes of a record's lines besides the values: the tags, blanks, line ends
// and 17 lengths at their widest.
constexpr size_t kRecordOverhead = 256 + 17 * RawWriter::kMaxDigits;

void AppendHeader(std::string& out, const std::string& log_name, int sort_choice,
                  const std::string& caption, std::chrono::system_clock::time_point now) {
  out += log_name;
  out += sort_choice == 0 ? " - sorted by Sequence worked" : " - sorted by Call letters";
  out += ", exported from Tavisk database\r\n";

  // Date and time from one reading of the clock: an export at midnight
  // cannot pair the new day with the old hour.
  using namespace std::chrono;
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<minutes> time{floor<minutes>(now - day)};
  out += "  ";
  int year = static_cast<int>(date.year());
  if (year >= 0 && year <= 9999) {
    AppendTwoDigits(out, static_cast<unsigned>(year / 100));
    AppendTwoDigits(out, static_cast<unsigned>(year % 100));
  } else {
    AppendInteger(out, year);
  }
  out += '-';
  AppendTwoDigits(out, static_cast<unsigned>(date.month()));
  out += '-';
  AppendTwoDigits(out, static_cast<unsigned>(date.day()));
  out += " @ ";
  AppendTwoDigits(out, static_cast<unsigned>(time.hours().count()));
  AppendTwoDigits(out, static_cast<unsigned>(time.minutes().count()));
  out += " UTC, using ";
  out += caption;
  out += ".<eoh>\r\n";
}

}  // namespace

void CheckTextFileCode(int code) {
  if (code != 0) ThrowTextFileError(code);
}

std::chrono::system_clock::time_point SystemUtcNow() { return std::chrono::system_clock::now(); }

void NormaliseAdifDate(std::string& date) {
  if (date.size() >= 3 && date[2] == '/') {
    if (date.size() < 10) return;
    const char normalised[8] = {date[6], date[7], date[8], date[9],
                                date[0], date[1], date[3], date[4]};
    date.assign(normalised, sizeof normalised);
    return;
  }
  if (date.size() >= 5) date.erase(4, 1);
  if (date.size() >= 7) date.erase(6, 1);
}

int64_t WriteAdifFile(TDataSet& cursor, const std::string& output_path, const std::string& log_name,
                      int sort_choice, const std::string& caption, const std::string& contest_id,
                      const UtcClock& utc_now) {
  platform::TextFile file;
  CheckTextFileCode(file.Create(output_path));
  int64_t line_count = 0;
  try {
    std::string header;
    AppendHeader(header, log_name, sort_choice, caption, utc_now());
    CheckTextFileCode(file.Write(header.data(), header.size()));
    line_count += 2;

    // Field objects are found once; a missing one is reported when the
    // first contact is read, as reading it by name there would.
    std::array<const TField*, kContactFieldCount> fields{};
    for (size_t i = 0; i < kContactFieldCount; ++i)
      fields[i] = cursor.FindField(kContactFieldNames[i]);
    // Values are read with the fixed interchange settings, not the user's:
    // regional settings would put dates such as 17.05.2003 and numbers such
    // as 14,025 into qso_date and freq, which no ADIF reader accepts.
    const TFormatSettings interchange = TFormatSettings::Interchange();
    // The texts of one contact: string fields as views of the record, every
    // other value formatted into its scratch string.
    std::array<std::string_view, kContactFieldCount> text;
    std::array<std::string, kContactFieldCount> scratch;
    for (std::string& t : scratch) t.reserve(256);
    // Contacts share their dates: a date's normalised text is kept by its
    // stored value and reused.
    const bool date_is_value = fields[kQsoDate] && fields[kQsoDate]->DataType() == ftDateTime;
    auto dates = std::make_unique<DateTexts>();

    cursor.First();
    if (!cursor.Eof()) {
      for (size_t i = 0; i < kContactFieldCount; ++i) {
        if (fields[i] == nullptr) cursor.FieldByName(kContactFieldNames[i]);  // raises
      }
    }
    while (!cursor.Eof()) {
      bool ibm = false;
      bool retired = false;
      double date = 0;
      const bool date_present = date_is_value && fields[kQsoDate]->GetData(&date);
      const bool date_known = date_present && dates->Find(date, &text[kQsoDate]);
      for (size_t i = 0; i < kContactFieldCount; ++i) {
        if (i == kQsoDate && date_known) {
          continue;
        } else if (i == kIbm) {
          ibm = fields[i]->ReadBoolean();
        } else if (i == kRetired) {
          retired = fields[i]->ReadBoolean();
        } else {
          text[i] = fields[i]->TextView(scratch[i], interchange);
        }
      }
      if (text[kCall].find('\xD8') != std::string_view::npos) {
        std::string& call = Owned(text[kCall], scratch[kCall]);
        std::replace(call.begin(), call.end(), '\xD8', '0');
        text[kCall] = call;
      }
      if (!date_known) {
        std::string& qso_date = Owned(text[kQsoDate], scratch[kQsoDate]);
        NormaliseAdifDate(qso_date);
        text[kQsoDate] = qso_date;
        if (date_present) dates->Store(date, qso_date);
      }
      const std::string_view call = text[kCall];
      const std::string_view flags =
          ibm ? (retired ? " IBM RET" : " IBM") : (retired ? " RET" : "");
      const std::string_view name = text[kName];
      const std::string_view city = text[kCity];
      const std::string_view country = text[kCountry];
      const std::string_view comments = text[kComments];

      // Values appear once each, except Name and City (again in the notes)
      // and Country (in the comment).
      size_t room = kRecordOverhead + contest_id.size() + name.size() + city.size();
      for (std::string_view t : text) room += t.size();
      CheckTextFileCode(file.MakeRoom(room));
      RawWriter w(file.WritePosition());
      w.PutSpecifier("<call:", call);
      w.PutSpecifier(" <freq:", text[kFreq]);
      w.PutSpecifier(" <mode:", text[kMode]);
      w.PutSpecifier(" <qso_date:", text[kQsoDate]);
      w.PutSpecifier(" <time_on:", text[kTimeStart]);
      w.Put("\r\n");
      w.PutSpecifier(" <rst_sent:", text[kRstSent]);
      w.PutSpecifier(" <stx:", text[kNumSent]);
      w.PutSpecifier(" <rst_rcvd:", text[kRstRcvd]);
      w.PutSpecifier(" <srx:", text[kNumRcvd]);
      w.Put("\r\n");
      w.PutSpecifier("  <qth:", city);
      w.PutSpecifier(" <state:", text[kState]);
      w.Put(" <comment:");
      w.PutLength(comments.empty() ? country.size() : comments.size() + 2 + country.size());
      w.Put(">");
      if (!comments.empty()) {
        w.Put(comments);
        w.Put(", ");
      }
      w.Put(country);
      w.PutSpecifier(" <cont:", text[kContinent]);
      w.Put("\r\n");
      w.PutSpecifier("   <name:", name);
      w.PutSpecifier(" <contest_id:", contest_id);
      w.Put(" <notes:");
      w.PutLength(name.size() + (city.empty() ? 0 : 4 + city.size()) + flags.size());
      w.Put(">");
      w.Put(name);
      if (!city.empty()) {
        w.Put(" in ");
        w.Put(city);
      }
      w.Put(flags);
      w.Put(" <eor>\r\n");
      file.Advance(static_cast<size_t>(w.End() - file.WritePosition()));
      line_count += 4;
      cursor.Next();
    }
  } catch (...) {
    // Leave the file holding everything produced before the error (after a
    // file error nothing more is written) and report the first error.
    (void)file.Close();
    throw;
  }
  // The file is closed before the cursor: an error writing out the last
  // buffer then leaves the table open, as every other file error does, so
  // that the export can be retried.
  CheckTextFileCode(file.Close());
  cursor.Close();
  return line_count;
}

}  // namespace logvane
