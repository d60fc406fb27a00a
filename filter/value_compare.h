// Comparing two values of the filter language, and the text match of its
// partial and case-insensitive comparisons.
//
// Value comparison. An empty value on either side raises "Invalid variant
// operation". Null equals null and sorts below every other value. Otherwise
// the pair of classes picks how the two compare (I integer, F float, C
// currency, T text by bytes, B boolean):
//
//   left \ right  integer float currency text boolean date-time
//   integer          I      F      C       F     I       F
//   float            F      F      C       F     F       F
//   currency         C      C      C       C     C       F
//   text             F      F      C       T     B       F
//   boolean          I      F      C       B     B       F
//   date-time        F      F      F       F     F       F
//
// Both values are converted to that kind first: a text reads as a number
// with the cursor's decimal separator, or as a boolean from "True"/"False"
// (any letter case) or a number (not 0 is true); false converts to 0 and
// true to 1; a date-time is its day number with the time as the fraction;
// currency rounds to four decimals. A conversion that fails raises "Invalid
// variant type conversion". Texts compare by byte values, a text that is a
// prefix of the other first; false sorts before true. A float that is not a
// number is unordered: it is neither below, equal to nor above anything.
#pragma once

#include <string_view>

#include "filter/filter_cursor.h"
#include "filter/variant.h"

namespace logvane {

// The result of CompareValues besides -1, 0 and 1.
inline constexpr int kUnordered = 2;

// -1, 0 or 1 as `left` sorts before, equal to or after `right`, or
// kUnordered. `cursor` reads numbers from texts.
int CompareValues(const TVariant& left, const TVariant& right, const TFilterCursor& cursor);

// Compares `text` with `pattern` in one of four modes, picked from the
// string options (bit 0 case-insensitive, bit 1 partial) of which only bit
// 0 counts when `n` is negative:
//   0  whole texts, by byte values
//   1  whole texts, letters a to z folded to upper case
//   2  at most the first n characters, by byte values
//   3  at most the first n characters, letters a to z folded
// Returns -1, 0 or 1 as the text sorts before, equal to or after the
// pattern; a text that ends earlier sorts first.
int MatchText(std::string_view text, std::string_view pattern, int n, unsigned string_options);

}  // namespace logvane
