// The comparison table of filter values and the four text-match modes.
#include "filter/value_compare.h"

#include <cmath>

#include "base/ascii_text.h"
#include "base/errors.h"
#include "filter/filter_messages.h"

namespace logvane {

namespace {

// How a pair of value classes compares.
enum class TWay : uint8_t { kInteger, kFloat, kCurrency, kText, kBoolean };

// Rows (left) and columns (right): integer, float, currency, text, boolean,
// date-time.
constexpr TWay I = TWay::kInteger, F = TWay::kFloat, C = TWay::kCurrency, T = TWay::kText,
               B = TWay::kBoolean;
constexpr TWay kWays[6][6] = {
    {I, F, C, F, I, F},  // integer
    {F, F, C, F, F, F},  // float
    {C, C, C, C, C, F},  // currency
    {F, F, C, T, B, F},  // text
    {I, F, C, B, B, F},  // boolean
    {F, F, F, F, F, F},  // date-time
};

int ClassIndex(TVarType type) {
  switch (type) {
    case TVarType::kInteger: return 0;
    case TVarType::kFloat: return 1;
    case TVarType::kCurrency: return 2;
    case TVarType::kText: return 3;
    case TVarType::kBoolean: return 4;
    default: return 5;  // date-time; empty and null never get here
  }
}

[[noreturn]] void ConversionFails() { throw EDatabaseError(msg::kInvalidVariantConversion); }

double ToFloat(const TVariant& v, const TFilterCursor& cursor) {
  switch (v.Type()) {
    case TVarType::kInteger: return v.AsInteger();
    case TVarType::kBoolean: return v.AsBoolean() ? 1 : 0;
    case TVarType::kText: {
      double x = 0;
      if (!cursor.ReadNumber(v.AsText(), &x)) ConversionFails();
      return x;
    }
    default: return v.AsNumber();  // float, currency, date-time
  }
}

// Currency is compared in whole ten-thousandths.
int64_t ToCurrencyUnits(const TVariant& v, const TFilterCursor& cursor) {
  const double units = std::nearbyint(ToFloat(v, cursor) * 10000.0);
  // 2^63: beyond it the amount has no fixed-point form.
  if (!(std::fabs(units) < 9223372036854775808.0)) ConversionFails();
  return static_cast<int64_t>(units);
}

int32_t ToInteger(const TVariant& v) {
  return v.Type() == TVarType::kBoolean ? (v.AsBoolean() ? 1 : 0) : v.AsInteger();
}

bool ToBoolean(const TVariant& v, const TFilterCursor& cursor) {
  switch (v.Type()) {
    case TVarType::kBoolean: return v.AsBoolean();
    case TVarType::kText: {
      if (SameNoCase(v.AsText(), "True")) return true;
      if (SameNoCase(v.AsText(), "False")) return false;
      double x = 0;
      if (!cursor.ReadNumber(v.AsText(), &x)) ConversionFails();
      return x != 0;
    }
    default: return ToFloat(v, cursor) != 0;
  }
}

template <typename N>
int Sign(N a, N b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int c = a.compare(b);  // unsigned byte order, the shorter prefix first
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int CompareValues(const TVariant& left, const TVariant& right, const TFilterCursor& cursor) {
  if (left.IsEmpty() || right.IsEmpty()) throw EDatabaseError(msg::kInvalidVariantOperation);
  if (left.IsNull() || right.IsNull()) {
    if (left.IsNull() && right.IsNull()) return 0;
    return left.IsNull() ? -1 : 1;
  }
  switch (kWays[ClassIndex(left.Type())][ClassIndex(right.Type())]) {
    case TWay::kInteger: return Sign(ToInteger(left), ToInteger(right));
    case TWay::kCurrency:
      return Sign(ToCurrencyUnits(left, cursor), ToCurrencyUnits(right, cursor));
    case TWay::kText: return CompareBytes(left.AsText(), right.AsText());
    case TWay::kBoolean:
      return Sign(ToBoolean(left, cursor) ? 1 : 0, ToBoolean(right, cursor) ? 1 : 0);
    case TWay::kFloat: break;
  }
  const double a = ToFloat(left, cursor), b = ToFloat(right, cursor);
  if (std::isnan(a) || std::isnan(b)) return kUnordered;
  return Sign(a, b);
}

int MatchText(std::string_view text, std::string_view pattern, int n, unsigned string_options) {
  const unsigned mode = n < 0 ? (string_options & 1) : (string_options & 3);
  const bool fold = (mode & 1) != 0;
  if ((mode & 2) != 0) {
    const auto limit = static_cast<size_t>(n);
    if (text.size() > limit) text = text.substr(0, limit);
    if (pattern.size() > limit) pattern = pattern.substr(0, limit);
  }
  const size_t common = text.size() < pattern.size() ? text.size() : pattern.size();
  for (size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(fold ? AsciiUpper(text[i]) : text[i]);
    const auto b = static_cast<unsigned char>(fold ? AsciiUpper(pattern[i]) : pattern[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return Sign(text.size(), pattern.size());
}

}  // namespace logvane
