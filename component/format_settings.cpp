#include "component/format_settings.h"

#include "platform/locale_settings.h"

namespace logvane {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// One byte of printable ASCII punctuation that can serve as a separator.
bool IsSeparatorCandidate(char c) {
  return c > ' ' && c < 0x7F && !IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '"' && c != '\'' &&
         c != '%';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

class Converter {
 public:
  Converter(bool is_date, const std::string& ampm_format)
      : token_sep_(is_date ? '/' : ':'), ampm_format_(ampm_format) {}

  void Convert(const std::string& format, int depth) {
    for (size_t i = 0; i < format.size(); ++i) {
      char c = format[i];
      if (c != '%') {
        pending_ += c;
        continue;
      }
      // %[flags][width][E|O]conversion
      bool no_pad = false;
      size_t j = i + 1;
      while (j < format.size() && (format[j] == '-' || format[j] == '_' || format[j] == '0' ||
                                   format[j] == '^' || format[j] == '#')) {
        if (format[j] == '-') no_pad = true;
        ++j;
      }
      while (j < format.size() && IsAsciiDigit(format[j])) ++j;
      if (j < format.size() && (format[j] == 'E' || format[j] == 'O')) ++j;
      if (j >= format.size()) break;  // a lone '%' at the end: dropped
      i = j;
      Conversion(format[j], no_pad, depth);
    }
  }

  // The converted format, or empty when it holds no field.
  std::string Finish(char* separator) {
    FlushLiteral(false);
    *separator = separator_;
    return fields_ > 0 ? out_ : std::string();
  }

 private:
  void Conversion(char conv, bool no_pad, int depth) {
    switch (conv) {
      case 'd': Field(no_pad ? "d" : "dd"); break;
      case 'e': Field("d"); break;
      case 'm': Field(no_pad ? "m" : "mm"); break;
      case 'y':
      case 'g': Field("yy"); break;
      case 'Y':
      case 'G': Field("yyyy"); break;
      case 'b':
      case 'h': Field("mmm"); break;
      case 'B': Field("mmmm"); break;
      case 'a': Field("ddd"); break;
      case 'A': Field("dddd"); break;
      case 'H':
      case 'I': Field(no_pad ? "h" : "hh"); break;
      case 'k':
      case 'l': Field("h"); break;
      case 'M': Field(no_pad ? "n" : "nn"); break;
      case 'S': Field(no_pad ? "s" : "ss"); break;
      case 'p':
      case 'P': Field("ampm"); break;
      case 'n':
      case 't': pending_ += ' '; break;
      case '%': pending_ += '%'; break;
      case 'D': Nested("%m/%d/%y", depth); break;
      case 'F': Nested("%Y-%m-%d", depth); break;
      case 'T': Nested("%H:%M:%S", depth); break;
      case 'R': Nested("%H:%M", depth); break;
      case 'r':
        Nested(depth == 0 && !ampm_format_.empty() ? ampm_format_ : std::string("%I:%M:%S %p"),
               depth);
        break;
      default: break;  // fields the text forms have no token for are left out
    }
  }

  void Nested(const std::string& format, int depth) { Convert(format, depth + 1); }

  void Field(const char* token) {
    FlushLiteral(fields_ > 0);
    // Two tokens of the same letter in a row would read as one longer token.
    if (!out_.empty() && last_token_letter_ != 0 && LowerAscii(token[0]) == last_token_letter_ &&
        last_was_token_) {
      out_ += "\"\"";
    }
    out_ += token;
    last_token_letter_ = LowerAscii(token[0]);
    last_was_token_ = true;
    ++fields_;
  }

  // Emits the literal text gathered since the last field. Text standing
  // between two fields may supply the separator.
  void FlushLiteral(bool between_fields) {
    if (pending_.empty()) return;
    if (between_fields && separator_ == 0) {
      for (char c : pending_) {
        if (IsSeparatorCandidate(c)) {
          separator_ = c;
          break;
        }
      }
    }
    for (char c : pending_) {
      if (separator_ != 0 && c == separator_) {
        out_ += token_sep_;
      } else if (c == '"') {
        out_ += "'\"'";
      } else if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'') {
        out_ += '"';
        out_ += c;
        out_ += '"';
      } else {
        out_ += c;
      }
    }
    pending_.clear();
    last_was_token_ = false;
  }

  char token_sep_;
  const std::string& ampm_format_;
  std::string out_;
  std::string pending_;
  char separator_ = 0;
  int fields_ = 0;
  char last_token_letter_ = 0;
  bool last_was_token_ = false;
};

}  // namespace

std::string ConvertLocaleFormat(const std::string& strftime_format, bool is_date,
                                const std::string& ampm_format, char* separator) {
  Converter converter(is_date, ampm_format);
  converter.Convert(strftime_format, 0);
  return converter.Finish(separator);
}

TFormatSettings TFormatSettings::Interchange() {
  TFormatSettings s;
  s.DecimalSeparator = '.';
  s.DateSeparator = '/';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "mm/dd/yyyy";
  s.LongTimeFormat = "hh:nn:ss";
  return s;
}

TFormatSettings TFormatSettings::FromLocale(const platform::LocaleStrings& locale) {
  TFormatSettings s;
  if (locale.decimal_point.size() == 1 && IsSeparatorCandidate(locale.decimal_point[0])) {
    s.DecimalSeparator = locale.decimal_point[0];
  }
  char separator = 0;
  std::string format =
      ConvertLocaleFormat(locale.date_format, true, locale.time_format_ampm, &separator);
  if (!format.empty()) {
    s.ShortDateFormat = format;
    if (separator != 0) s.DateSeparator = separator;
  }
  separator = 0;
  format = ConvertLocaleFormat(locale.time_format, false, locale.time_format_ampm, &separator);
  if (!format.empty()) {
    s.LongTimeFormat = format;
    if (separator != 0) s.TimeSeparator = separator;
  }
  if (!locale.am.empty()) s.TimeAMString = locale.am;
  if (!locale.pm.empty()) s.TimePMString = locale.pm;
  for (size_t i = 0; i < s.ShortDayNames.size(); ++i) {
    if (!locale.short_day_names[i].empty()) s.ShortDayNames[i] = locale.short_day_names[i];
    if (!locale.long_day_names[i].empty()) s.LongDayNames[i] = locale.long_day_names[i];
  }
  for (size_t i = 0; i < s.ShortMonthNames.size(); ++i) {
    if (!locale.short_month_names[i].empty()) s.ShortMonthNames[i] = locale.short_month_names[i];
    if (!locale.long_month_names[i].empty()) s.LongMonthNames[i] = locale.long_month_names[i];
  }
  return s;
}

TFormatSettings TFormatSettings::FromUserLocale() { return FromLocale(platform::ReadUserLocale()); }

}  // namespace logvane
