// Regional settings used by the text forms of field values: the decimal
// separator of numbers, and the date and time formats with their separators
// and clock markers.
//
// A TFormatSettings is a plain value. The program reads the user's settings
// once at start (FromUserLocale) and hands the value to each dataset; every
// text form takes the settings it uses as an argument, so nothing depends on
// mutable global state. Interchange() is a fixed value for files that other
// programs read.
//
// Format strings (ShortDateFormat, LongTimeFormat) use these tokens, letters
// in either case:
//   d dd        day of month, without / with a leading zero
//   ddd dddd    short / long day name
//   m mm        month number; minutes when the last letter token was h or hh
//   mmm mmmm    short / long month name
//   yy yyyy     two-digit / four-digit year (one or two y's print two digits)
//   h hh        hour, without / with a leading zero; 12-hour when the format
//               holds a clock marker anywhere outside quotes
//   n nn        minutes;  s ss  seconds;  z zzz  milliseconds
//   ampm        TimeAMString or TimePMString
//   am/pm a/p   "am"/"pm" or "a"/"p", in the letter case written
//   /           DateSeparator;  :  TimeSeparator
//   "..." '...' literal text
// Every other character prints as itself.
#pragma once

#include <array>
#include <string>

namespace logvane {

namespace platform {
struct LocaleStrings;
}

struct TFormatSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "m/d/yy";
  std::string LongTimeFormat = "h:mm:ss";
  std::string TimeAMString = "am";
  std::string TimePMString = "pm";
  std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
  std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};

  // A default-constructed value holds the fallbacks used where the user's
  // settings give nothing usable.

  // Decimal separator ".", short date "mm/dd/yyyy", long time "hh:nn:ss"
  // (24-hour clock), date separator "/", time separator ":".
  static TFormatSettings Interchange();

  // Converts the C library's locale texts. A separator must be one byte of
  // punctuation; a format must yield at least one field; otherwise the
  // fallback stays. Markers that the locale leaves empty print "am"/"pm".
  static TFormatSettings FromLocale(const platform::LocaleStrings& locale);

  // FromLocale(platform::ReadUserLocale()). Call once at program start.
  static TFormatSettings FromUserLocale();
};

// Converts one strftime format (as the C library's D_FMT and T_FMT give it)
// into the token syntax above. The first single-byte punctuation character
// standing between two fields becomes the separator token ('/' for a date,
// ':' for a time) and is stored in *separator; other literal text is kept,
// quoted where it would read as a token. %r expands to `ampm_format` (or
// "%I:%M:%S %p" when that is empty). Returns the empty text when the format
// holds no field.
std::string ConvertLocaleFormat(const std::string& strftime_format, bool is_date,
                                const std::string& ampm_format, char* separator);

}  // namespace logvane
