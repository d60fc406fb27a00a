// Regional settings from the C library's locale texts: format conversion,
// separators, clock markers, and the fallbacks for what is missing.
#include "component/format_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "component/date_time.h"
#include "component/text_forms.h"
#include "platform/locale_settings.h"

namespace logvane {
namespace {

// 17 May 2003 at h:n.
std::string Render(const TFormatSettings& s, int h, int n) {
  double millis = 0;
  double stored = DayNumberFromDate(2003, 5, 17) - kDateDelta + (h * 60 + n) / 1440.0;
  EXPECT_TRUE(StoredDaysToMillis(stored, &millis));
  std::string out;
  EXPECT_TRUE(AppendDateTime(out, millis, s));
  return out;
}

platform::LocaleStrings Locale(std::string radix, std::string date, std::string time,
                               std::string ampm = "%I:%M:%S %p", std::string am = "AM",
                               std::string pm = "PM") {
  platform::LocaleStrings l;
  l.decimal_point = std::move(radix);
  l.date_format = std::move(date);
  l.time_format = std::move(time);
  l.time_format_ampm = std::move(ampm);
  l.am = std::move(am);
  l.pm = std::move(pm);
  return l;
}

TEST(FormatSettings, TwelveHourLocale) {
  TFormatSettings s = TFormatSettings::FromLocale(Locale(".", "%m/%d/%Y", "%r"));
  EXPECT_EQ(s.ShortDateFormat, "mm/dd/yyyy");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss ampm");
  EXPECT_EQ(Render(s, 14, 32), "05/17/2003 02:32:00 PM");
  EXPECT_EQ(Render(s, 0, 1), "05/17/2003 12:01:00 AM");
}

TEST(FormatSettings, DotDateAndCommaDecimal) {
  TFormatSettings s = TFormatSettings::FromLocale(Locale(",", "%d.%m.%Y", "%T", "", "", ""));
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.DateSeparator, '.');
  EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(s.TimeAMString, "am");  // the locale gives no markers
  EXPECT_EQ(Render(s, 14, 32), "17.05.2003 14:32:00");
  std::string f;
  AppendFloat(f, 14.025, s.DecimalSeparator);
  EXPECT_EQ(f, "14,025");
}

TEST(FormatSettings, LiteralTextAndOtherSeparators) {
  TFormatSettings s = TFormatSettings::FromLocale(
      Locale(".", "%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%H.%M.%S"));
  EXPECT_EQ(s.DateSeparator, '/');  // no one-byte separator in the date format
  EXPECT_EQ(s.TimeSeparator, '.');
  EXPECT_EQ(Render(s, 9, 5),
            "2003\xE5\xB9\xB4"
            "05\xE6\x9C\x88"
            "17\xE6\x97\xA5 09.05.00");

  s = TFormatSettings::FromLocale(Locale(".", "%-d de %B de %Y", "%p %l:%M", "", "a.m.", "p.m."));
  EXPECT_EQ(Render(s, 15, 4), "17 de May de 2003 p.m. 3:04");

  s = TFormatSettings::FromLocale(Locale(".", "%D", "%R"));
  EXPECT_EQ(Render(s, 7, 8), "05/17/03 07:08");
}

TEST(FormatSettings, FallbacksWhereTheLocaleGivesNothingUsable) {
  TFormatSettings fallback;
  for (const auto& l : {platform::LocaleStrings{}, Locale("\xD9\xAB", "date", "%Z", "", "", "")}) {
    TFormatSettings s = TFormatSettings::FromLocale(l);
    EXPECT_EQ(s.DecimalSeparator, '.');
    EXPECT_EQ(s.DateSeparator, '/');
    EXPECT_EQ(s.ShortDateFormat, "m/d/yy");
    EXPECT_EQ(s.LongTimeFormat, "h:mm:ss");
    EXPECT_EQ(s.TimeAMString, "am");
    EXPECT_EQ(s.TimePMString, "pm");
    EXPECT_EQ(s.LongMonthNames, fallback.LongMonthNames);
  }
  EXPECT_EQ(Render(fallback, 12, 0), "5/17/03 12:00:00");
}

TEST(FormatSettings, InterchangeIsFixed) {
  TFormatSettings i = TFormatSettings::Interchange();
  EXPECT_EQ(i.DecimalSeparator, '.');
  EXPECT_EQ(i.ShortDateFormat, "mm/dd/yyyy");
  EXPECT_EQ(i.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(Render(i, 23, 5), "05/17/2003 23:05:00");
}

TEST(FormatSettings, ReadsTheEnvironmentsLocale) {
  setenv("LC_ALL", "C", 1);
  TFormatSettings s = TFormatSettings::FromUserLocale();
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.ShortDateFormat, "mm/dd/yy");
  EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(s.LongDayNames[0], "Sunday");
  // A locale that is not installed leaves every setting at its fallback.
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  TFormatSettings none = TFormatSettings::FromUserLocale();
  EXPECT_EQ(none.ShortDateFormat, "m/d/yy");
  unsetenv("LC_ALL");
}

}  // namespace
}  // namespace logvane
