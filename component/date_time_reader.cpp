// Reading dates and times from text.
#include "component/date_time_reader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

#include "component/date_time.h"

namespace logvane {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text still to read.
struct TCursor {
  std::string_view rest;

  void SkipBlanks() {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  }
  bool Take(char c) {
    if (rest.empty() || rest.front() != c) return false;
    rest.remove_prefix(1);
    return true;
  }
  // Up to four decimal digits; *length receives how many were read.
  bool Number(int* value, int* length = nullptr) {
    int n = 0, v = 0;
    while (n < static_cast<int>(rest.size()) && n < 5 && rest[n] >= '0' && rest[n] <= '9')
      v = v * 10 + (rest[n++] - '0');
    if (n == 0 || n > 4) return false;
    rest.remove_prefix(static_cast<size_t>(n));
    *value = v;
    if (length != nullptr) *length = n;
    return true;
  }
  // A marker of morning (0) or afternoon (1); -1 when none stands here.
  int Marker(const TFormatSettings& s) {
    const std::string_view texts[] = {s.TimeAMString, s.TimePMString, "AM", "PM", "A", "P"};
    for (int i = 0; i < 6; ++i) {
      const std::string_view t = texts[i];
      if (t.empty() || t.size() > rest.size()) continue;
      bool same = true;
      for (size_t k = 0; k < t.size() && same; ++k) same = Upper(t[k]) == Upper(rest[k]);
      if (same) {
        rest.remove_prefix(t.size());
        return i % 2;
      }
    }
    return -1;
  }
};

int CurrentYear() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day(today).year());
}

// The order of day, month and year in a short date format: the first of
// each letter outside quotes, e.g. "MDY"; "MDY" when one is missing.
std::array<char, 3> DateOrder(const std::string& format) {
  std::array<char, 3> order{};
  int n = 0;
  char quote = 0;
  for (char c : format) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    const char u = Upper(c);
    if ((u == 'D' || u == 'M' || u == 'Y') && n < 3 &&
        std::find(order.begin(), order.begin() + n, u) == order.begin() + n)
      order[static_cast<size_t>(n++)] = u;
  }
  if (n != 3) return {'M', 'D', 'Y'};
  return order;
}

bool DaysInMonthAllow(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day >= 1 && day <= last;
}

// A date at the start of the text: its day number.
bool ReadDate(TCursor& c, const TFormatSettings& s, int32_t* day_number) {
  TCursor t = c;
  int parts[3] = {0, 0, 0}, lengths[3] = {0, 0, 0};
  int count = 0;
  if (!t.Number(&parts[0], &lengths[0])) return false;
  count = 1;
  while (count < 3 && t.Take(s.DateSeparator)) {
    if (!t.Number(&parts[count], &lengths[count])) return false;
    ++count;
  }
  if (count < 2) return false;
  const std::array<char, 3> order = DateOrder(s.ShortDateFormat);
  int year = -1, month = 0, day = 0, k = 0, year_length = 4;
  for (char field : order) {
    if (field == 'Y' && count == 2) continue;  // no year given
    const int v = parts[k], len = lengths[k];
    ++k;
    if (field == 'Y') {
      year = v;
      year_length = len;
    } else if (field == 'M') {
      month = v;
    } else {
      day = v;
    }
  }
  const int now = CurrentYear();
  if (year < 0) {
    year = now;
  } else if (year_length <= 2) {
    year += now - now % 100;
    if (year > now + 50) year -= 100;
    if (year <= now - 50) year += 100;
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || !DaysInMonthAllow(year, month, day))
    return false;
  *day_number = DayNumberFromDate(year, month, day);
  c = t;
  return true;
}

// A time of day at the start of the text: milliseconds since midnight.
bool ReadTime(TCursor& c, const TFormatSettings& s, int64_t* msec) {
  TCursor t = c;
  int marker = t.Marker(s);
  if (marker >= 0) t.SkipBlanks();
  int hour = 0, minute = 0, second = 0, milli = 0;
  if (!t.Number(&hour)) return false;
  bool minutes = false;
  if (t.Take(s.TimeSeparator)) {
    if (!t.Number(&minute)) return false;
    minutes = true;
    if (t.Take(s.TimeSeparator)) {
      if (!t.Number(&second)) return false;
      if (t.Take('.') && !t.Number(&milli)) return false;
    }
  }
  if (marker < 0) {
    t.SkipBlanks();
    marker = t.Marker(s);
  }
  if (!minutes && marker < 0) return false;
  if (marker >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (marker == 1 ? 12 : 0);
  }
  if (hour > 23 || minute > 59 || second > 59 || milli > 999) return false;
  *msec = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + milli;
  c = t;
  return true;
}

}  // namespace

bool TryReadDateTime(std::string_view text, const TFormatSettings& settings, double* days) {
  TCursor c{text};
  c.SkipBlanks();
  if (c.rest.empty()) return false;
  int32_t day_number = kDateDelta;
  int64_t msec = 0;
  if (ReadDate(c, settings, &day_number)) {
    c.SkipBlanks();
    if (!c.rest.empty() && !ReadTime(c, settings, &msec)) return false;
  } else if (!ReadTime(c, settings, &msec)) {
    return false;
  }
  c.SkipBlanks();
  if (!c.rest.empty()) return false;
  *days = MillisToStoredDays(static_cast<double>(day_number) * static_cast<double>(kMSecsPerDay) +
                             static_cast<double>(msec));
  return true;
}

}  // namespace logvane
