// The user's regional settings as the C library reports them: the numeric
// and time categories of the locale that the environment selects (LC_ALL,
// LC_NUMERIC, LC_TIME, LANG), read without changing the process's own
// locale. Every text is returned as the library gives it, in its strftime
// syntax for the formats; an item the library does not know, or a locale
// that cannot be loaded, gives the empty text. Converting these texts into
// the format syntax of the text forms is the component layer's business.
#pragma once

#include <array>
#include <string>

namespace logvane::platform {

struct LocaleStrings {
  std::string decimal_point;                      // RADIXCHAR
  std::string date_format;                        // D_FMT, e.g. "%m/%d/%y"
  std::string time_format;                        // T_FMT, e.g. "%H:%M:%S" or "%r"
  std::string time_format_ampm;                   // T_FMT_AMPM, e.g. "%I:%M:%S %p"
  std::string am;                                 // AM_STR
  std::string pm;                                 // PM_STR
  std::array<std::string, 7> short_day_names;     // ABDAY_1.., Sunday first
  std::array<std::string, 7> long_day_names;      // DAY_1..
  std::array<std::string, 12> short_month_names;  // ABMON_1..
  std::array<std::string, 12> long_month_names;   // MON_1..
};

// Reads the settings of the locale named by the environment. Never throws
// for a missing or broken locale: the affected texts are then empty.
LocaleStrings ReadUserLocale();

}  // namespace logvane::platform
