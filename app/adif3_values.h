// Values in the ADIF 3 data types, made from the text forms of a contact's
// fields.
//
//   Number   an optional "-", digits, at most one "." (no exponent, no
//            blanks, no "+")
//   Date     YYYYMMDD, a real calendar day of 1930 or later
//   Time     HHMM or HHMMSS, a time of day
//   String   ASCII characters 32 to 126
//   MultilineString  a String that may also hold CR and LF
//
// Log texts are Windows-1252. Written as ADIF 3 text, each letter above 0x7F
// becomes its closest ASCII form (é e, Ü U, ß ss, Æ AE, Þ TH) and every other
// byte outside the character range becomes "?".
#pragma once

#include <string>
#include <string_view>

namespace logvane {

// Appends `text` as an ADIF Number: blanks around it and a leading "+" are
// dropped and an exponent is worked into the digits (1E-5 is 0.00001, 1.5E3
// is 1500); a number without an exponent is kept digit for digit. Returns
// false and appends nothing when the text is no decimal number, or when its
// exponent puts it beyond 400 digits.
bool AppendAdifNumber(std::string& out, std::string_view text);

// Appends a time of day as HHMM or HHMMSS. Accepts digits alone (331 is
// 0331, 14325 is 014325) or hours, minutes and optional seconds of one or
// two digits each, separated by ":" or "." (3:31, 14:32:05), blanks around
// the text ignored. Returns false and appends nothing for anything else or
// a time past 23:59:59.
bool AppendAdifTime(std::string& out, std::string_view text);

// True when `text` is eight digits naming a real day of 1930 or later.
bool IsAdifDate(std::string_view text);

enum class TextLines {
  kJoin,  // a one-line field: the lines become one, joined by "; "
  kKeep,  // a multiline field: CR and LF stay as they are
};

// Appends `text` in ADIF 3 characters (see above). When lines are joined,
// empty lines and blanks that end a line are dropped. Returns true when any
// byte had to be replaced; joining lines is not counted as a replacement.
bool AppendAdifText(std::string& out, std::string_view text, TextLines lines);

}  // namespace logvane
