#include "component/text_forms.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "component/date_time.h"

namespace logvane {

namespace {

constexpr int kFloatDigits = 15;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Appends `value` (0 <= value) with at least `width` digits.
void AppendPadded(std::string& out, int value, int width) {
  if (value < 100 && width <= 2) {
    if (value >= 10 || width == 2) out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
    return;
  }
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

bool MatchesNoCase(std::string_view text, size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    if (LowerAscii(text[at + k]) != word[k]) return false;
  }
  return true;
}

// Length of the clock marker starting at `at`, 0 when there is none.
size_t MarkerLength(std::string_view format, size_t at) {
  if (LowerAscii(format[at]) != 'a') return 0;
  if (MatchesNoCase(format, at, "am/pm")) return 5;
  if (MatchesNoCase(format, at, "ampm")) return 4;
  if (MatchesNoCase(format, at, "a/p")) return 3;
  return 0;
}

bool HasClockMarker(std::string_view format) {
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
    } else if (MarkerLength(format, i) != 0) {
      return true;
    }
  }
  return false;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

void AppendInteger(std::string& out, int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void AppendBoolean(std::string& out, bool value) { out += value ? "True" : "False"; }

void AppendFloat(std::string& out, double value, char decimal_separator) {
  if (std::isnan(value)) {
    out += "NAN";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  // The shortest text that reads back as `value` ("-d.ddde+XX"). When it
  // has at most 15 digits it is also `value` rounded to 15 digits: a double
  // lies within half a unit in the 16th digit of its shortest text, so
  // rounding to 15 digits lands on that text. Otherwise round explicitly
  // (slower): "-d.dddddddddddddde+XX".
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (r.ptr - buf > kFloatDigits + 6) {  // sign, point and "e+XXX" besides the digits
    const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<size_t>(r.ptr - buf)));
    int shortest_digits = static_cast<int>((e != nullptr ? e : r.ptr) - buf) - (buf[0] == '-') - 1;
    if (shortest_digits > kFloatDigits) {
      r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                        kFloatDigits - 1);
    }
  }
  const char* p = buf;
  bool negative = *p == '-';
  if (negative) ++p;
  char digits[kFloatDigits];
  int count = 0;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && count < kFloatDigits) digits[count++] = *p;
  }
  int exponent = 0;  // value = d.ddd x 10^exponent
  if (p < r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;

  if (negative) out += '-';
  int before_point = exponent + 1;  // digits before the decimal point
  if (before_point > kFloatDigits || before_point < -3) {
    out += digits[0];
    if (count > 1) {
      out += decimal_separator;
      out.append(digits + 1, count - 1);
    }
    out += 'E';
    AppendInteger(out, exponent);
  } else if (before_point <= 0) {
    out += '0';
    out += decimal_separator;
    out.append(static_cast<size_t>(-before_point), '0');
    out.append(digits, count);
  } else if (count <= before_point) {
    out.append(digits, count);
    out.append(static_cast<size_t>(before_point - count), '0');
  } else {
    out.append(digits, before_point);
    out += decimal_separator;
    out.append(digits + before_point, count - before_point);
  }
}

void AppendDateTimeFormat(std::string& out, std::string_view format, int32_t day_number,
                          int32_t msec_of_day, const TFormatSettings& settings) {
  const TCivilDate date = DateFromDayNumber(day_number);
  const int hour = msec_of_day / 3'600'000;
  const int minute = msec_of_day / 60'000 % 60;
  const int second = msec_of_day / 1000 % 60;
  const int msec = msec_of_day % 1000;
  const bool twelve_hour = HasClockMarker(format);
  char last_letter = 0;

  for (size_t i = 0; i < format.size();) {
    char c = format[i];
    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) close = format.size();
      out.append(format.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (c == '/') {
      out += settings.DateSeparator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += settings.TimeSeparator;
      ++i;
      continue;
    }
    if (!IsAsciiLetter(c)) {
      out += c;
      ++i;
      continue;
    }
    char token = LowerAscii(c);
    if (token == 'a') {
      last_letter = 'a';
      size_t len = MarkerLength(format, i);
      bool pm = hour >= 12;
      if (len == 4) {
        out += pm ? settings.TimePMString : settings.TimeAMString;
      } else if (len == 5) {
        // "am/pm" in the letter case written in the format.
        out.append(format.substr(pm ? i + 3 : i, 2));
      } else if (len == 3) {
        out += format[pm ? i + 2 : i];
      } else {
        out += c;
        len = 1;
      }
      i += len;
      continue;
    }
    size_t run = 1;
    while (i + run < format.size() && LowerAscii(format[i + run]) == token) ++run;
    if (token == 'm' && last_letter == 'h') token = 'n';
    last_letter = token;
    switch (token) {
      case 'd':
        if (run <= 2) {
          AppendPadded(out, date.day, static_cast<int>(run));
        } else {
          const auto& names = run == 3 ? settings.ShortDayNames : settings.LongDayNames;
          out += names[DayOfWeek(day_number)];
        }
        break;
      case 'm':
        if (run <= 2) {
          AppendPadded(out, date.month, static_cast<int>(run));
        } else {
          const auto& names = run == 3 ? settings.ShortMonthNames : settings.LongMonthNames;
          out += names[date.month - 1];
        }
        break;
      case 'y':
        if (run <= 2) {
          AppendPadded(out, date.year % 100, 2);
        } else {
          AppendPadded(out, date.year, 4);
        }
        break;
      case 'h': {
        int h = hour;
        if (twelve_hour) h = h % 12 == 0 ? 12 : h % 12;
        AppendPadded(out, h, run == 1 ? 1 : 2);
        break;
      }
      case 'n': AppendPadded(out, minute, run == 1 ? 1 : 2); break;
      case 's': AppendPadded(out, second, run == 1 ? 1 : 2); break;
      case 'z': AppendPadded(out, msec, run == 1 ? 1 : 3); break;
      default: out.append(format.substr(i, run)); break;
    }
    i += run;
  }
}

bool AppendDateTime(std::string& out, double millis, const TFormatSettings& settings) {
  int32_t day = 0;
  int32_t msec = 0;
  if (!SplitMillis(millis, &day, &msec)) return false;
  AppendDateTimeFormat(out, settings.ShortDateFormat, day, msec, settings);
  if (msec / 1000 != 0) {
    out += ' ';
    AppendDateTimeFormat(out, settings.LongTimeFormat, day, msec, settings);
  }
  return true;
}

bool TryReadInteger(std::string_view text, int32_t* value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  int32_t v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  *value = v;
  return true;
}

bool TryReadNumber(std::string_view text, char decimal_separator, double* value) {
  text = TrimBlanks(text);
  bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  char buf[64];
  if (text.empty() || text.size() >= sizeof buf) return false;
  // Normalise to the "." that from_chars reads; refuse anything from_chars
  // would accept beyond plain numbers (infinity, nan, hexadecimal).
  size_t n = 0;
  bool point = false;
  bool exponent = false;
  bool digit = false;
  for (size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == decimal_separator && !point && !exponent) {
      point = true;
      c = '.';
    } else if ((c == 'e' || c == 'E') && digit && !exponent) {
      exponent = true;
    } else if ((c == '-' || c == '+') &&
               (k == 0 ? c == '-' && !plus : (text[k - 1] == 'e' || text[k - 1] == 'E'))) {
      // a sign of the number or of its exponent
    } else {
      return false;
    }
    buf[n++] = c;
  }
  if (!digit) return false;
  double v = 0;
  auto r = std::from_chars(buf, buf + n, v);
  if (r.ec != std::errc() || r.ptr != buf + n) return false;
  *value = v;
  return true;
}

}  // namespace logvane
