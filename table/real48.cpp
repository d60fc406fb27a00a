// Conversion between IEEE doubles and the 6-byte real.
#include "table/real48.h"

#include <cmath>
#include <cstring>

#include "platform/exceptions.h"

namespace logvane {

namespace {
constexpr int kBias = 129;
constexpr int kFractionBits = 39;
constexpr uint64_t kFractionMask = (uint64_t{1} << kFractionBits) - 1;
}  // namespace

double Real48ToDouble(const uint8_t* b) {
  if (b[0] == 0) return 0.0;
  uint64_t fraction = 0;
  for (int i = 5; i >= 1; --i) fraction = (fraction << 8) | b[i];
  bool negative = (fraction >> kFractionBits) & 1;
  fraction &= kFractionMask;
  // 1.fraction has 40 significant bits, so the double is exact.
  double mantissa = 1.0 + std::ldexp(static_cast<double>(fraction), -kFractionBits);
  double value = std::ldexp(mantissa, b[0] - kBias);
  return negative ? -value : value;
}

void DoubleToReal48(double value, uint8_t* b) {
  std::memset(b, 0, kReal48Size);
  if (value == 0.0) return;
  if (!std::isfinite(value)) throw EOverflow();
  bool negative = value < 0;
  int exp2 = 0;
  double m = std::frexp(std::fabs(value), &exp2);  // m in [0.5, 1)
  // |value| = 1.f * 2^(exp2 - 1); scale 1.f to a 40-bit integer and round.
  double scaled = std::nearbyint(std::ldexp(m, kFractionBits + 1));
  uint64_t mantissa = static_cast<uint64_t>(scaled);
  int exponent = exp2 - 1 + kBias;
  if (mantissa >> (kFractionBits + 1)) {  // rounded up to 2.0
    mantissa >>= 1;
    ++exponent;
  }
  if (exponent <= 0) return;  // below the smallest magnitude: zero
  if (exponent > 255) throw EOverflow();
  uint64_t fraction = mantissa & kFractionMask;
  if (negative) fraction |= uint64_t{1} << kFractionBits;
  b[0] = static_cast<uint8_t>(exponent);
  for (int i = 1; i <= 5; ++i) {
    b[i] = static_cast<uint8_t>(fraction);
    fraction >>= 8;
  }
}

double RoundToReal48(double value) {
  uint8_t bytes[kReal48Size];
  DoubleToReal48(value, bytes);
  return Real48ToDouble(bytes);
}

}  // namespace logvane
