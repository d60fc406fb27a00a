// Dates and times read from text by the regional settings: the three orders
// of day, month and year, two-digit years, 12- and 24-hour clocks, times
// alone, days before 30 December 1899, and what is refused.
#include "component/date_time_reader.h"

#include <gtest/gtest.h>

#include <chrono>

namespace logvane {
namespace {

constexpr double kMay17th2003 = 37758;

double Read(std::string_view text, const TFormatSettings& s = {}) {
  double days = -99999;
  EXPECT_TRUE(TryReadDateTime(text, s, &days)) << text;
  return days;
}

bool Refused(std::string_view text, const TFormatSettings& s = {}) {
  double days = 0;
  return !TryReadDateTime(text, s, &days);
}

TEST(DateTimeReader, DatesInTheOrderOfTheShortDateFormat) {
  EXPECT_EQ(Read("5/17/2003"), kMay17th2003);
  EXPECT_EQ(Read(" 05/17/03 "), kMay17th2003);
  TFormatSettings dmy;
  dmy.ShortDateFormat = "dd.mm.yyyy";
  dmy.DateSeparator = '.';
  EXPECT_EQ(Read("17.5.2003", dmy), kMay17th2003);
  TFormatSettings ymd;
  ymd.ShortDateFormat = "yyyy-mm-dd";
  ymd.DateSeparator = '-';
  EXPECT_EQ(Read("2003-05-17", ymd), kMay17th2003);
  EXPECT_TRUE(Refused("5/17/2003", ymd));

  // Without a year, the current one.
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  const int year = static_cast<int>(std::chrono::year_month_day(today).year());
  double with_year = 0;
  ASSERT_TRUE(TryReadDateTime("1/2/" + std::to_string(year), {}, &with_year));
  EXPECT_EQ(Read("1/2"), with_year);
  EXPECT_EQ(Read("12/29/1899 6:00"), -1.25);  // the time keeps its sign apart
}

TEST(DateTimeReader, TimesOnBothClocks) {
  EXPECT_DOUBLE_EQ(Read("5/17/2003 14:30"), kMay17th2003 + 14.5 / 24);
  EXPECT_DOUBLE_EQ(Read("5/17/2003 2:30:15 pm"), kMay17th2003 + (14.5 + 15.0 / 3600) / 24);
  EXPECT_DOUBLE_EQ(Read("5/17/2003 12:00:00.500 AM"), kMay17th2003 + 0.5 / 86400);
  EXPECT_DOUBLE_EQ(Read("PM 3"), 15.0 / 24);
  EXPECT_DOUBLE_EQ(Read("14:30"), 14.5 / 24);
  EXPECT_EQ(Read("0:00"), 0);
}

TEST(DateTimeReader, WhatIsRefused) {
  for (const char* text :
       {"", "   ", "abc", "5/17/2003x", "2/30/2003", "13/1/2003", "5/17/10000", "5",
        "5/17/2003 25:00", "5/17/2003 1:60", "13:00 pm", "5/17/2003 14", "5//2003", "0/1/2003"})
    EXPECT_TRUE(Refused(text)) << text;
}

}  // namespace
}  // namespace logvane
