// The 6-byte real: exact encodings, rounding, range limits.
#include "table/real48.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/exceptions.h"

namespace logvane {
namespace {

std::vector<uint8_t> Encode(double v) {
  std::vector<uint8_t> b(6);
  DoubleToReal48(v, b.data());
  return b;
}

TEST(Real48, KnownEncodings) {
  EXPECT_EQ(Encode(0.0), std::vector<uint8_t>(6, 0));
  EXPECT_EQ(Encode(-0.0), std::vector<uint8_t>(6, 0));
  EXPECT_EQ(Encode(1.0), (std::vector<uint8_t>{0x81, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Encode(-1.0), (std::vector<uint8_t>{0x81, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(Encode(4.0), (std::vector<uint8_t>{0x83, 0, 0, 0, 0, 0}));
  // 1.5 = 1.1b: the top fraction bit is bit 6 of byte 5.
  EXPECT_EQ(Encode(1.5), (std::vector<uint8_t>{0x81, 0, 0, 0, 0, 0x40}));
  EXPECT_EQ(Encode(-6.0), (std::vector<uint8_t>{0x83, 0, 0, 0, 0, 0xC0}));
  uint8_t zero_exponent[6] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Real48ToDouble(zero_exponent), 0.0);
}

TEST(Real48, FormatVersionsTruncateToTheirLevel) {
  EXPECT_EQ(static_cast<int>(RoundToReal48(2.95) * 10), 29);
  EXPECT_EQ(static_cast<int>(RoundToReal48(3.0) * 10), 30);
  EXPECT_EQ(static_cast<int>(RoundToReal48(1.5) * 10), 15);
  EXPECT_GE(RoundToReal48(2.0), 2.0);
}

TEST(Real48, RoundsToNearest39BitFraction) {
  const double ulp = std::ldexp(1.0, -39);
  EXPECT_EQ(RoundToReal48(1.0 + ulp), 1.0 + ulp);
  EXPECT_EQ(RoundToReal48(1.0 + ulp * 0.49), 1.0);
  EXPECT_EQ(RoundToReal48(1.0 + ulp * 0.51), 1.0 + ulp);
  // Rounding up out of the fraction carries into the exponent.
  EXPECT_EQ(RoundToReal48(2.0 - ulp * 0.4), 2.0);
  EXPECT_EQ(Encode(2.0 - ulp * 0.4), Encode(2.0));
}

TEST(Real48, RangeLimits) {
  EXPECT_EQ(RoundToReal48(std::ldexp(1.0, -128)), std::ldexp(1.0, -128));
  EXPECT_EQ(RoundToReal48(std::ldexp(1.0, -129)), 0.0);
  EXPECT_EQ(RoundToReal48(-1e-40), 0.0);
  const double largest = std::ldexp(2.0 - std::ldexp(1.0, -39), 126);
  EXPECT_EQ(RoundToReal48(largest), largest);
  EXPECT_THROW(RoundToReal48(std::ldexp(1.0, 127)), EOverflow);
  EXPECT_THROW(RoundToReal48(-std::ldexp(1.0, 127)), EOverflow);
  EXPECT_THROW(RoundToReal48(INFINITY), EOverflow);
  EXPECT_THROW(RoundToReal48(NAN), EOverflow);
}

TEST(Real48, RandomValuesRoundTripWithinHalfAnUlp) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mant(-2, 2);
  std::uniform_int_distribution<int> exp(-120, 120);
  for (int i = 0; i < 20000; ++i) {
    double v = std::ldexp(mant(rng), exp(rng));
    if (v == 0) continue;
    double r = RoundToReal48(v);
    int e;
    std::frexp(v, &e);
    EXPECT_LE(std::fabs(r - v), std::ldexp(1.0, e - 41)) << v;
    EXPECT_EQ(RoundToReal48(r), r);  // representable values are fixed points
  }
}

}  // namespace
}  // namespace logvane
