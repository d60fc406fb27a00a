// Dates and times of field values, in two forms:
//
//   stored form  a double counting days since 30 December 1899; the whole
//                days (truncated toward zero) give the date, the absolute
//                fraction the time of day. -1.25 is 29 December 1899 06:00:
//                the sign belongs to the day count only.
//   buffer form  a double holding D * 86 400 000 + T, D the day number with
//                1 January 0001 as day 1 (30 December 1899 is day 693594),
//                T the milliseconds since midnight, 0 <= T < 86 400 000.
//
// Day numbers follow the proleptic Gregorian calendar; the usable range is
// 1 January 0001 (day 1) to 31 December 9999 (day 3652059).
#pragma once

#include <cstdint>

namespace logvane {

inline constexpr int64_t kMSecsPerDay = 86'400'000;
inline constexpr int32_t kDateDelta = 693'594;       // day number of 30 December 1899
inline constexpr int32_t kMaxDayNumber = 3'652'059;  // 31 December 9999

struct TCivilDate {
  int year;
  int month;  // 1..12
  int day;    // 1..31
};

// Day number of a calendar date; the date must be valid.
int32_t DayNumberFromDate(int year, int month, int day);
// Calendar date of a day number in 1..kMaxDayNumber.
TCivilDate DateFromDayNumber(int32_t day_number);
// 0 = Sunday .. 6 = Saturday.
int DayOfWeek(int32_t day_number);

// Stored day count to buffer form. Returns false, leaving *millis alone,
// when the count is not finite or lies outside the usable range (a damaged
// value). A fraction that rounds to a whole day carries into the next day.
bool StoredDaysToMillis(double days, double* millis);

// Buffer form to stored day count: the count is rounded to whole
// milliseconds and split into D and T; the result is (D - 693594) + T/86.4e6,
// or (D - 693594) - T/86.4e6 when the day part is negative, so that days
// before 30 December 1899 keep their time of day. A count that does not
// split (not finite, negative, or beyond the usable range) gives D = 0 and
// T = 0, i.e. -693594.
double MillisToStoredDays(double millis);

// Splits a buffer-form value into day number and milliseconds of the day.
// Returns false when the day number falls outside 1..kMaxDayNumber.
bool SplitMillis(double millis, int32_t* day_number, int32_t* msec_of_day);

}  // namespace logvane
