// Text forms of numbers, dates and times, the day-count conversions, and
// the reading of attribute texts.
#include "component/text_forms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "component/date_time.h"

namespace logvane {
namespace {

std::string Float(double v, char sep = '.') {
  std::string s;
  AppendFloat(s, v, sep);
  return s;
}

TEST(TextForms, GeneralNumberFormat) {
  EXPECT_EQ(Float(14.025), "14.025");
  EXPECT_EQ(Float(14.25), "14.25");
  EXPECT_EQ(Float(12.5), "12.5");
  EXPECT_EQ(Float(100), "100");
  EXPECT_EQ(Float(-2.5), "-2.5");
  EXPECT_EQ(Float(0), "0");
  EXPECT_EQ(Float(-0.0), "0");
  EXPECT_EQ(Float(0.1 + 0.2), "0.3");  // rounded to 15 digits
  EXPECT_EQ(Float(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(Float(0.0001), "0.0001");  // smallest fixed magnitude
  EXPECT_EQ(Float(0.00012345), "0.00012345");
  EXPECT_EQ(Float(1e-5), "1E-5");
  EXPECT_EQ(Float(-1.25e-7), "-1.25E-7");
  EXPECT_EQ(Float(123456789012345.0), "123456789012345");  // 15 digits: fixed
  EXPECT_EQ(Float(1e15), "1E15");                          // 16 digits: scientific
  EXPECT_EQ(Float(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(Float(1.5e20), "1.5E20");
  EXPECT_EQ(Float(999999999999999.9), "1E15");  // rounding carries into a new digit
  EXPECT_EQ(Float(14.025, ','), "14,025");
  EXPECT_EQ(Float(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(Float(-std::numeric_limits<double>::infinity()), "-INF");
}

// The C library's "%.15G" rounds exactly and switches notation at the same
// places; only its exponent is written differently ("E+20", "E-05").
std::string Reference(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s = buf;
  size_t e = s.find('E');
  if (e == std::string::npos) return s;
  std::string exponent = s.substr(e + 1);
  bool negative = exponent[0] == '-';
  exponent = exponent.substr(1);
  exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
  return s.substr(0, e + 1) + (negative ? "-" : "") + exponent;
}

TEST(TextForms, GeneralNumberFormatMatchesExactRounding) {
  std::mt19937_64 random(20030517);
  std::uniform_int_distribution<int> exponents(-8, 18);
  std::uniform_real_distribution<double> mantissas(1.0, 10.0);
  for (int i = 0; i < 200000; ++i) {
    double v = mantissas(random) * std::pow(10.0, exponents(random));
    if (i % 2) v = -v;
    ASSERT_EQ(Float(v), Reference(v)) << std::hexfloat << v;
  }
  // Decimal fractions, and values halfway between two 15-digit texts.
  for (int64_t k = 1; k < 200000; k += 7) {
    for (double v : {k / 1000.0, k * 0.1, 1e10 + k / 100000.0, (2 * k + 1) * 5e-15, k * 1e-6}) {
      ASSERT_EQ(Float(v), Reference(v)) << std::hexfloat << v;
    }
  }
  for (uint64_t bits = 0x3F10000000000000; bits < 0x4330000000000000; bits += 0x0000F3A5C3B1D7E9) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    ASSERT_EQ(Float(v), Reference(v)) << std::hexfloat << v;
  }
}

TEST(TextForms, IntegersAndBooleans) {
  std::string s;
  AppendInteger(s, 0);
  s += ' ';
  AppendInteger(s, -2147483648LL);
  s += ' ';
  AppendBoolean(s, true);
  AppendBoolean(s, false);
  EXPECT_EQ(s, "0 -2147483648 TrueFalse");
}

TEST(DateTime, DayNumbersFollowTheGregorianCalendar) {
  EXPECT_EQ(DayNumberFromDate(1, 1, 1), 1);
  EXPECT_EQ(DayNumberFromDate(1899, 12, 30), kDateDelta);
  EXPECT_EQ(DayNumberFromDate(9999, 12, 31), kMaxDayNumber);
  EXPECT_EQ(DayNumberFromDate(2000, 3, 1) - DayNumberFromDate(2000, 2, 28), 2);  // leap
  EXPECT_EQ(DayNumberFromDate(1900, 3, 1) - DayNumberFromDate(1900, 2, 28), 1);  // not leap
  EXPECT_EQ(DayOfWeek(DayNumberFromDate(2003, 5, 17)), 6);                       // Saturday
  for (int32_t day = 1; day <= kMaxDayNumber; day += 997) {
    TCivilDate d = DateFromDayNumber(day);
    ASSERT_EQ(DayNumberFromDate(d.year, d.month, d.day), day) << day;
  }
  TCivilDate last = DateFromDayNumber(kMaxDayNumber);
  EXPECT_EQ(last.year * 10000 + last.month * 100 + last.day, 99991231);
}

TEST(DateTime, StoredDayCountsKeepTheirTimeOfDayOnBothSidesOfZero) {
  double millis = 0;
  ASSERT_TRUE(StoredDaysToMillis(0, &millis));
  EXPECT_EQ(millis, double(kDateDelta) * kMSecsPerDay);
  ASSERT_TRUE(StoredDaysToMillis(-1.25, &millis));  // 29 December 1899 06:00
  EXPECT_EQ(millis, double(kDateDelta - 1) * kMSecsPerDay + 6 * 3600000.0);
  for (double stored : {0.0, 0.5, 37758.25, -1.25, -1.0, -700.75, -693593.5}) {
    ASSERT_TRUE(StoredDaysToMillis(stored, &millis));
    EXPECT_DOUBLE_EQ(MillisToStoredDays(millis), stored) << stored;
  }
  // A fraction that rounds to a whole day carries into the next day.
  ASSERT_TRUE(StoredDaysToMillis(1.9999999999, &millis));
  EXPECT_EQ(millis, double(kDateDelta + 2) * kMSecsPerDay);

  EXPECT_FALSE(StoredDaysToMillis(std::nan(""), &millis));
  EXPECT_FALSE(StoredDaysToMillis(1e300, &millis));
  EXPECT_FALSE(StoredDaysToMillis(-693594, &millis));  // day 0: before 1 January 0001
  EXPECT_EQ(MillisToStoredDays(-1), -double(kDateDelta));
  EXPECT_EQ(MillisToStoredDays(std::nan("")), -double(kDateDelta));
}

double StoredDate(int y, int m, int d) { return DayNumberFromDate(y, m, d) - kDateDelta; }

std::string DateText(double stored, const TFormatSettings& s) {
  double millis = 0;
  EXPECT_TRUE(StoredDaysToMillis(stored, &millis));
  std::string out;
  EXPECT_TRUE(AppendDateTime(out, millis, s));
  return out;
}

TEST(DateTime, ShortDateAndLongTime) {
  TFormatSettings s;  // m/d/yy and h:mm:ss
  EXPECT_EQ(DateText(0, s), "12/30/99");
  EXPECT_EQ(DateText(0.5, s), "12/30/99 12:00:00");
  EXPECT_EQ(DateText(StoredDate(1999, 12, 31), s), "12/31/99");
  EXPECT_EQ(DateText(StoredDate(2003, 5, 7) + 0.25 + 5.0 / 1440, s), "5/7/03 6:05:00");
  EXPECT_EQ(DateText(-1.25, s), "12/29/99 6:00:00");
  EXPECT_EQ(DateText(0.4 / 86400, s), "12/30/99");  // below a second: no time part
  s.ShortDateFormat = "yyyy-mm-dd";
  EXPECT_EQ(DateText(StoredDate(1999, 12, 31), s), "1999-12-31");
  s.ShortDateFormat = "yyyy/m/d";
  s.DateSeparator = '.';
  EXPECT_EQ(DateText(StoredDate(5, 1, 2), s), "0005.1.2");

  TFormatSettings i = TFormatSettings::Interchange();
  EXPECT_EQ(DateText(StoredDate(2003, 5, 17), i), "05/17/2003");
  EXPECT_EQ(DateText(StoredDate(2003, 5, 17) + 0.75, i), "05/17/2003 18:00:00");
}

std::string Format(std::string_view format, int h, int n, int sec, int ms,
                   const TFormatSettings& s = TFormatSettings()) {
  std::string out;
  AppendDateTimeFormat(out, format, DayNumberFromDate(2003, 5, 17),
                       ((h * 60 + n) * 60 + sec) * 1000 + ms, s);
  return out;
}

TEST(DateTime, ClockMarkersAndTokens) {
  TFormatSettings s;
  s.TimeAMString = "vorm.";
  s.TimePMString = "nachm.";
  EXPECT_EQ(Format("h:mm:ss ampm", 18, 0, 0, 0), "6:00:00 pm");
  EXPECT_EQ(Format("h:mm:ss AMPM", 0, 5, 0, 0, s), "12:05:00 vorm.");
  EXPECT_EQ(Format("ampm hh:nn", 12, 30, 0, 0, s), "nachm. 12:30");  // marker first
  EXPECT_EQ(Format("hh:nn AM/PM", 13, 7, 0, 0), "01:07 PM");
  EXPECT_EQ(Format("hh:nn am/pm", 11, 7, 0, 0), "11:07 am");
  EXPECT_EQ(Format("h:nn a/p", 23, 59, 0, 0), "11:59 p");
  EXPECT_EQ(Format("h:nn:ss", 23, 59, 58, 0), "23:59:58");
  EXPECT_EQ(Format("hh:nn:ss.zzz", 1, 2, 3, 4), "01:02:03.004");
  EXPECT_EQ(Format("ddd, d mmm yyyy", 0, 0, 0, 0), "Sat, 17 May 2003");
  EXPECT_EQ(Format("dddd d mmmm", 0, 0, 0, 0), "Saturday 17 May");
  EXPECT_EQ(Format("\"at\" h 'o''clock'", 9, 0, 0, 0), "at 9 oclock");
  EXPECT_EQ(Format("mm/dd/yy", 0, 0, 0, 0), "05/17/03");
  s.TimeSeparator = '.';
  EXPECT_EQ(Format("h:mm", 7, 45, 0, 0, s), "7.45");  // m after h is minutes
}

TEST(TextForms, ReadingAttributeTexts) {
  int32_t i = 0;
  EXPECT_TRUE(TryReadInteger(" -17 ", &i));
  EXPECT_EQ(i, -17);
  EXPECT_TRUE(TryReadInteger("+5", &i));
  EXPECT_EQ(i, 5);
  EXPECT_FALSE(TryReadInteger("+-5", &i));
  EXPECT_FALSE(TryReadInteger("12x", &i));
  EXPECT_FALSE(TryReadInteger("", &i));
  EXPECT_FALSE(TryReadInteger("2147483648", &i));

  double d = 0;
  EXPECT_TRUE(TryReadNumber("14.025", '.', &d));
  EXPECT_EQ(d, 14.025);
  EXPECT_TRUE(TryReadNumber(" 14,5 ", ',', &d));
  EXPECT_EQ(d, 14.5);
  EXPECT_TRUE(TryReadNumber("-1.5e+3", '.', &d));
  EXPECT_EQ(d, -1500);
  EXPECT_FALSE(TryReadNumber("14.5", ',', &d));
  EXPECT_FALSE(TryReadNumber("inf", '.', &d));
  EXPECT_FALSE(TryReadNumber("1e", '.', &d));
  EXPECT_FALSE(TryReadNumber("e5", '.', &d));
  EXPECT_FALSE(TryReadNumber("+-1", '.', &d));
}

}  // namespace
}  // namespace logvane
