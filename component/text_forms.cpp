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

// Gathers output in a small local buffer and appends it in one piece.
class Sink {
 public:
  explicit Sink(std::string& out) : out_(out) {}
  void Put(char c) {
    if (n_ == sizeof buf_) Flush();
    buf_[n_++] = c;
  }
  void Put(std::string_view text) {
    if (text.size() > sizeof buf_ - n_) {
      Flush();
      if (text.size() > sizeof buf_) {
        out_.append(text);
        return;
      }
    }
    std::memcpy(buf_ + n_, text.data(), text.size());
    n_ += text.size();
  }
  // `value` (0 <= value) with at least `width` digits.
  void PutNumber(int value, int width) {
    char digits[12];
    int len = 0;
    do {
      digits[len++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 && len < 11);
    while (len < width && len < 11) digits[len++] = '0';
    if (static_cast<size_t>(len) > sizeof buf_ - n_) Flush();
    while (len > 0) buf_[n_++] = digits[--len];
  }
  void Flush() {
    out_.append(buf_, n_);
    n_ = 0;
  }

 private:
  std::string& out_;
  char buf_[64];
  size_t n_ = 0;
};

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

char* FormatInteger(char* out, int64_t value) {
  return std::to_chars(out, out + kNumberTextSize, value).ptr;
}

void AppendInteger(std::string& out, int64_t value) {
  char buf[kNumberTextSize];
  out.append(buf, FormatInteger(buf, value));
}

void AppendBoolean(std::string& out, bool value) { out += value ? "True" : "False"; }

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// The 15 significant digits of a > 0, correctly rounded, as an integer in
// [1e14, 1e15), and the decimal exponent of the first digit. Fast path for
// the fixed-notation range: one exact-power multiplication puts the digits
// before the point with an error of at most 1/16 (the product stays below
// 2^50), so rounding the product gives the correctly rounded digits unless
// its fraction lies within 1/8 of one half; those cases, and all others,
// take the exact conversion.
bool FastDigits(double a, uint64_t* digits, int* exponent) {
  if (!(a >= 1e-4 && a < 1e15)) return false;
  int e10 = 0;  // the largest e10 with 10^e10 <= a
  if (a >= 1) {
    while (e10 < 14 && a >= kPowersOfTen[e10 + 1]) ++e10;
  } else {
    while (e10 > -4 && a < 1.0 / kPowersOfTen[-e10]) --e10;
  }
  double scaled = a * kPowersOfTen[14 - e10];
  // scaled < 2^50: the conversion truncates exactly, as floor would.
  const auto whole = static_cast<uint64_t>(scaled);
  double fraction = scaled - static_cast<double>(whole);
  if (std::fabs(fraction - 0.5) < 0.125) return false;
  auto d = whole + (fraction > 0.5 ? 1 : 0);
  if (d >= 1'000'000'000'000'000ULL) {
    d /= 10;
    ++e10;
  }
  if (d < 100'000'000'000'000ULL) return false;
  *digits = d;
  *exponent = e10;
  return true;
}

void ExactDigits(double a, uint64_t* digits, int* exponent) {
  // "d.dddddddddddddde+XX", correctly rounded to 15 digits.
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, kFloatDigits - 1);
  uint64_t d = 0;
  const char* p = buf;
  for (; p < r.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') d = d * 10 + static_cast<uint64_t>(*p - '0');
  }
  int e10 = 0;
  if (p < r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e10);
  *digits = d;
  *exponent = e10;
}

}  // namespace

char* FormatFloat(char* out, double value, char decimal_separator) {
  char* p = out;
  if (std::isnan(value)) {
    std::memcpy(p, "NAN", 3);
    return p + 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *p++ = '-';
    std::memcpy(p, "INF", 3);
    return p + 3;
  }
  if (value == 0) {
    *p++ = '0';
    return p;
  }
  const double a = std::fabs(value);
  uint64_t d = 0;
  int exponent = 0;  // value = d1.d2d3... x 10^exponent
  if (!FastDigits(a, &d, &exponent)) ExactDigits(a, &d, &exponent);
  // Drop the trailing zeros: d has 15 digits, so at most 14 of them.
  int count = kFloatDigits;
  if (d % 100'000'000 == 0) d /= 100'000'000, count -= 8;
  if (d % 10'000 == 0) d /= 10'000, count -= 4;
  if (d % 100 == 0) d /= 100, count -= 2;
  if (d % 10 == 0) d /= 10, count -= 1;
  // The significant digits, two at a time from the last.
  // Room for the 16-byte moves below from any digit on.
  char digits[32] = {};
  int i = count;
  for (; i >= 2; i -= 2) {
    std::memcpy(digits + i - 2, kDigitPairs + 2 * (d % 100), 2);
    d /= 100;
  }
  if (i == 1) digits[0] = static_cast<char>('0' + d);

  // At most 22 characters: a sign, "0", the separator, 3 zeros and 15
  // digits, or a sign, 15 digits, the separator, "E" and 4 for the exponent.
  // Runs of digits and zeros are moved 16 bytes at a time, which the 40
  // bytes of `out` leave room for; only the part counted stays.
  auto put = [&p](const char* from, int n) {
    std::memcpy(p, from, 16);
    p += n;
  };
  auto zeros = [&p](int n) {
    std::memset(p, '0', 16);
    p += n;
  };
  if (value < 0) *p++ = '-';
  const int before_point = exponent + 1;  // digits before the decimal point
  if (before_point > kFloatDigits || before_point < -3) {
    *p++ = digits[0];
    if (count > 1) {
      *p++ = decimal_separator;
      put(digits + 1, count - 1);
    }
    *p++ = 'E';
    p = std::to_chars(p, out + kNumberTextSize, exponent).ptr;
  } else if (before_point <= 0) {
    *p++ = '0';
    *p++ = decimal_separator;
    zeros(-before_point);
    put(digits, count);
  } else if (count <= before_point) {
    put(digits, count);
    zeros(before_point - count);
  } else {
    put(digits, before_point);
    *p++ = decimal_separator;
    put(digits + before_point, count - before_point);
  }
  return p;
}

void AppendFloat(std::string& out, double value, char decimal_separator) {
  char buf[kNumberTextSize];
  out.append(buf, FormatFloat(buf, value, decimal_separator));
}

void AppendDateTimeFormat(std::string& out, std::string_view format, int32_t day_number,
                          int32_t msec_of_day, const TFormatSettings& settings) {
  if (msec_of_day < 0 || msec_of_day >= kMSecsPerDay) msec_of_day = 0;
  const TCivilDate date = DateFromDayNumber(day_number);
  const int hour = msec_of_day / 3'600'000;
  const int minute = msec_of_day / 60'000 % 60;
  const int second = msec_of_day / 1000 % 60;
  const int msec = msec_of_day % 1000;
  const bool twelve_hour = HasClockMarker(format);
  char last_letter = 0;
  Sink sink(out);

  for (size_t i = 0; i < format.size();) {
    char c = format[i];
    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) close = format.size();
      sink.Put(format.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (c == '/') {
      sink.Put(settings.DateSeparator);
      ++i;
      continue;
    }
    if (c == ':') {
      sink.Put(settings.TimeSeparator);
      ++i;
      continue;
    }
    if (!IsAsciiLetter(c)) {
      sink.Put(c);
      ++i;
      continue;
    }
    char token = LowerAscii(c);
    if (token == 'a') {
      last_letter = 'a';
      size_t len = MarkerLength(format, i);
      bool pm = hour >= 12;
      if (len == 4) {
        sink.Put(pm ? settings.TimePMString : settings.TimeAMString);
      } else if (len == 5) {
        // "am/pm" in the letter case written in the format.
        sink.Put(format.substr(pm ? i + 3 : i, 2));
      } else if (len == 3) {
        sink.Put(format[pm ? i + 2 : i]);
      } else {
        sink.Put(c);
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
          sink.PutNumber(date.day, static_cast<int>(run));
        } else {
          const auto& names = run == 3 ? settings.ShortDayNames : settings.LongDayNames;
          sink.Put(names[DayOfWeek(day_number)]);
        }
        break;
      case 'm':
        if (run <= 2) {
          sink.PutNumber(date.month, static_cast<int>(run));
        } else {
          const auto& names = run == 3 ? settings.ShortMonthNames : settings.LongMonthNames;
          sink.Put(names[date.month - 1]);
        }
        break;
      case 'y':
        if (run <= 2) {
          sink.PutNumber(date.year % 100, 2);
        } else {
          sink.PutNumber(date.year, 4);
        }
        break;
      case 'h': {
        int h = hour;
        if (twelve_hour) h = h % 12 == 0 ? 12 : h % 12;
        sink.PutNumber(h, run == 1 ? 1 : 2);
        break;
      }
      case 'n': sink.PutNumber(minute, run == 1 ? 1 : 2); break;
      case 's': sink.PutNumber(second, run == 1 ? 1 : 2); break;
      case 'z': sink.PutNumber(msec, run == 1 ? 1 : 3); break;
      default: sink.Put(format.substr(i, run)); break;
    }
    i += run;
  }
  sink.Flush();
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
