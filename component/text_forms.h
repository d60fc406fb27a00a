// The text forms of field values, appended to a caller's buffer so that
// reading a value as text allocates nothing once the buffer has grown.
//
//   integers   decimal digits, "-" for a negative value, no grouping
//   numbers    general format, up to 15 significant digits, trailing zeros
//              dropped, the given decimal separator, no grouping: fixed
//              notation when at most 15 digits stand before the decimal
//              point and the magnitude is 0.0001 or more, otherwise one
//              digit, the separator and the remaining digits, "E", "-" for a
//              negative exponent and the exponent without leading zeros
//              (1.5E20, 1E-5); zero is "0"; non-numbers "NAN", "INF", "-INF"
//   date-time  the short date format, then, when the hour, minute or second
//              is not zero, one blank and the long time format
//   booleans   "True" or "False"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "component/format_settings.h"

namespace logvane {

void AppendInteger(std::string& out, int64_t value);
void AppendFloat(std::string& out, double value, char decimal_separator);
void AppendBoolean(std::string& out, bool value);

// The same number texts written to `out`, which has room for
// kNumberTextSize characters (all of which may be written); each returns
// the end of the text.
inline constexpr size_t kNumberTextSize = 40;
char* FormatInteger(char* out, int64_t value);
char* FormatFloat(char* out, double value, char decimal_separator);

// Prints a day number (1..3652059) and a time of day in milliseconds by a
// format string in the syntax of format_settings.h. A time outside one day
// prints as midnight.
void AppendDateTimeFormat(std::string& out, std::string_view format, int32_t day_number,
                          int32_t msec_of_day, const TFormatSettings& settings);

// The date-time text of a buffer-form value (date_time.h). Returns false and
// appends nothing when the value lies outside the usable date range.
bool AppendDateTime(std::string& out, double millis, const TFormatSettings& settings);

// Reading attribute texts: blanks around the text are ignored; an optional
// sign; decimal digits. Returns false when the text does not convert or is
// out of range.
bool TryReadInteger(std::string_view text, int32_t* value);
// As TryReadInteger, with one decimal separator and an optional exponent
// ("E" or "e", optional sign, digits).
bool TryReadNumber(std::string_view text, char decimal_separator, double* value);

}  // namespace logvane
