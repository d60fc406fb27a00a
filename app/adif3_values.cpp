// ADIF 3 data types from the text forms of field values.
#include "app/adif3_values.h"

#include <array>
#include <cstddef>

namespace logvane {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Windows-1252 bytes 0x80 to 0xFF in ASCII: letters in their closest form,
// everything else (punctuation, symbols, the spacing accents ˆ and ˜, the
// unassigned bytes) as "?".
constexpr std::array<std::string_view, 128> kHighBytes = {
    "?", "?", "?", "f", "?", "?", "?",  "?", "?", "?", "S", "?", "OE", "?", "Z",  "?",   // 80
    "?", "?", "?", "?", "?", "?", "?",  "?", "?", "?", "s", "?", "oe", "?", "z",  "Y",   // 90
    "?", "?", "?", "?", "?", "?", "?",  "?", "?", "?", "a", "?", "?",  "?", "?",  "?",   // A0
    "?", "?", "?", "?", "?", "u", "?",  "?", "?", "?", "o", "?", "?",  "?", "?",  "?",   // B0
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I",  "I", "I",  "I",   // C0
    "D", "N", "O", "O", "O", "O", "O",  "?", "O", "U", "U", "U", "U",  "Y", "TH", "ss",  // D0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i",  "i", "i",  "i",   // E0
    "d", "n", "o", "o", "o", "o", "o",  "?", "o", "u", "u", "u", "u",  "y", "th", "y",   // F0
};

// The furthest an exponent may move the decimal point: beyond every value a
// double can hold.
constexpr int kMaxExponent = 400;

}  // namespace

bool AppendAdifNumber(std::string& out, std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Mantissa: digits with at most one point, at least one digit.
  size_t i = 0;
  size_t point = std::string_view::npos;
  size_t digits = 0;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      ++digits;
    } else if (text[i] == '.' && point == std::string_view::npos) {
      point = i;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  const std::string_view mantissa = text.substr(0, i);
  if (i == text.size()) {
    if (negative) out += '-';
    out += mantissa;
    return true;
  }
  // Exponent: "E" or "e", an optional sign, digits.
  if (text[i] != 'E' && text[i] != 'e') return false;
  ++i;
  bool exponent_negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) exponent_negative = text[i++] == '-';
  if (i == text.size()) return false;
  int exponent = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    exponent = exponent * 10 + (text[i] - '0');
    if (exponent > kMaxExponent) return false;
  }
  if (exponent_negative) exponent = -exponent;

  // The significant digits go out first, without the point; `before_point`
  // counts those that stood before it (negative for zeros after the point
  // that precede the first significant digit).
  const size_t sign_at = out.size();
  if (negative) out += '-';
  const size_t digits_at = out.size();
  long before_point = 0;
  bool past_point = false;
  for (char c : mantissa) {
    if (c == '.') {
      past_point = true;
    } else if (out.size() == digits_at && c == '0') {
      if (past_point) --before_point;
    } else {
      out += c;
      if (!past_point) ++before_point;
    }
  }
  while (out.size() > digits_at && out.back() == '0') out.pop_back();
  if (out.size() == digits_at) {  // zero, whatever its sign
    out.resize(sign_at);
    out += '0';
    return true;
  }
  const long significant = static_cast<long>(out.size() - digits_at);
  const long whole = before_point + exponent;  // digits before the point in the result
  if (whole <= 0) {
    out.insert(digits_at, static_cast<size_t>(-whole), '0');
    out.insert(digits_at, "0.");
  } else if (whole >= significant) {
    out.append(static_cast<size_t>(whole - significant), '0');
  } else {
    out.insert(digits_at + static_cast<size_t>(whole), 1, '.');
  }
  return true;
}

bool AppendAdifTime(std::string& out, std::string_view text) {
  text = TrimBlanks(text);
  std::array<int, 3> parts{};
  size_t part_count = 0;
  char digits[6];
  size_t digit_count = 0;
  if (text.find_first_of(":.") == std::string_view::npos) {
    // Digits alone: HMM, HHMM, HMMSS or HHMMSS.
    if (text.size() < 3 || text.size() > 6) return false;
    for (char c : text)
      if (!IsDigit(c)) return false;
    const size_t pad = text.size() % 2;
    for (size_t i = 0; i < pad; ++i) digits[digit_count++] = '0';
    for (char c : text) digits[digit_count++] = c;
  } else {
    // H[H]:M[M][:S[S]], ":" or "." between the parts.
    size_t begin = 0;
    for (;;) {
      size_t end = text.find_first_of(":.", begin);
      const std::string_view part =
          text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
      if (part.empty() || part.size() > 2 || part_count == 3) return false;
      int value = 0;
      for (char c : part) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - '0');
      }
      parts[part_count++] = value;
      if (end == std::string_view::npos) break;
      begin = end + 1;
    }
    if (part_count < 2) return false;
    for (size_t i = 0; i < part_count; ++i) {
      digits[digit_count++] = static_cast<char>('0' + parts[i] / 10);
      digits[digit_count++] = static_cast<char>('0' + parts[i] % 10);
    }
  }
  auto two = [&](size_t at) { return (digits[at] - '0') * 10 + (digits[at + 1] - '0'); };
  if (two(0) > 23 || two(2) > 59 || (digit_count == 6 && two(4) > 59)) return false;
  out.append(digits, digit_count);
  return true;
}

bool IsAdifDate(std::string_view text) {
  if (text.size() != 8) return false;
  for (char c : text)
    if (!IsDigit(c)) return false;
  auto number = [&](size_t at, size_t n) {
    int value = 0;
    for (size_t i = at; i < at + n; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const int year = number(0, 4);
  const int month = number(4, 2);
  const int day = number(6, 2);
  if (year < 1930 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool AppendAdifText(std::string& out, std::string_view text, TextLines lines) {
  const size_t start = out.size();
  bool replaced = false;
  bool line_ended = false;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r' || byte == '\n') {
      if (lines == TextLines::kKeep) {
        out += c;
      } else {
        while (out.size() > start && out.back() == ' ') out.pop_back();
        line_ended = true;
      }
      continue;
    }
    if (line_ended) {
      if (out.size() > start) out += "; ";
      line_ended = false;
    }
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += byte >= 0x80 ? kHighBytes[byte - 0x80] : std::string_view("?");
      replaced = true;
    }
  }
  return replaced;
}

}  // namespace logvane
