// Reading a date and time typed as text, by the regional settings: the
// counterpart of the date-time text form (text_forms.h), for filter
// constants and search values.
//
// Accepted, with blanks around the parts:
//   date           two or three numbers joined by the date separator, in
//                  the order of day, month and year in the short date
//                  format (month/day/year for "m/d/yy"); without a year the
//                  current year; a year of one or two digits is the year
//                  with those last digits within 50 years of the current
//                  one
//   time           hours and minutes, optionally seconds and
//                  ".milliseconds", joined by the time separator; or hours
//                  alone before a marker; a morning or afternoon marker (the
//                  settings' texts, or AM/PM, A/P in any letter case) before
//                  or after makes a 12-hour clock
//   date time      the date, blanks, the time
// A time alone falls on 30 December 1899, day 0.
#pragma once

#include <string_view>

#include "component/format_settings.h"

namespace logvane {

// Sets *days to the stored form of the text's date and time (days since 30
// December 1899, the time of day as the fraction, date_time.h). Returns
// false, leaving *days alone, when the text is not a valid date and time.
bool TryReadDateTime(std::string_view text, const TFormatSettings& settings, double* days);

}  // namespace logvane
