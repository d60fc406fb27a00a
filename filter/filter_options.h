// The options of a filter expression, a set of bits kept with the cursor
// (its FilterOptions property).
//
//   foCaseInsensitive   texts compare without regard to the case of a to z
//   foNoPartialCompare  a trailing "*" in a text constant is an ordinary
//                       character instead of asking for a prefix match
#pragma once

#include <cstdint>

namespace logvane {

enum TFilterOption : uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = uint8_t;

}  // namespace logvane
