// Comparing texts with the letters A-Z and a-z taken as equal: the way the
// system compares names and keywords, whatever the regional settings.
#pragma once

#include <cstddef>
#include <string_view>

namespace logvane {

inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

}  // namespace logvane
