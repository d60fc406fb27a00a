// The 6-byte real: the 48-bit floating format used for a table's format
// version, stored index options and `R` fields.
//
//   byte 0     exponent biased by 129; 0 means the value 0
//   bytes 1-5  39-bit fraction, least significant byte first, implied leading 1
//   byte 5 bit 7  sign
//   value = (-1)^sign * 1.fraction * 2^(exponent - 129)
//
// The format holds magnitudes from 2^-128 up to just below 2^127. Encoding
// rounds to the nearest 39-bit fraction (ties to even); a magnitude that
// rounds below 2^-128 becomes 0, one that rounds to 2^127 or more (or is not
// finite) raises EOverflow.
#pragma once

#include <cstdint>

namespace logvane {

inline constexpr int kReal48Size = 6;

double Real48ToDouble(const uint8_t* bytes);
// Writes six bytes. Throws EOverflow for values the format cannot hold.
void DoubleToReal48(double value, uint8_t* bytes);
// The value after a round trip through the format. Throws EOverflow.
double RoundToReal48(double value);

}  // namespace logvane
