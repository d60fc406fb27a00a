// What the benchmarks share: a count of every heap allocation the program
// makes, and the pools of values their generated contacts are drawn from.
#pragma once

#include <cstddef>
#include <cstdint>

namespace logvane::bench {

// Heap allocations (operator new) since the program started.
int64_t Allocations();
// From now on the calling thread's allocations are not counted (a thread
// that only watches the measured work).
void StopCountingThisThread();

inline constexpr const char* kPrefixes[] = {"K",  "W",  "N",  "AA", "KB", "VE", "G",
                                            "DL", "JA", "VK", "PY", "ZS", "UA", "EA",
                                            "F",  "I",  "OH", "SM", "LU", "ZL"};
inline constexpr const char* kNames[] = {"JOE", "MARY", "BILL", "HIRAM",  "PETER", "KLAUS", "ANA",
                                         "KEN", "LARS", "JOSE", "GRAHAM", "DAVID", ""};
inline constexpr const char* kCities[] = {"DENVER",    "TORONTO", "LONDON",   "MUNICH",
                                          "TOKYO",     "SYDNEY",  "",         "BUENOS AIRES",
                                          "STOCKHOLM", "LISBON",  "AUCKLAND", ""};
// A country and its continent share an index.
inline constexpr const char* kCountries[] = {"USA",   "CANADA",    "ENGLAND", "GERMANY",
                                             "JAPAN", "AUSTRALIA", "BRAZIL",  "SOUTH AFRICA",
                                             "SPAIN", "FRANCE",    "ITALY",   "SWEDEN"};
inline constexpr const char* kContinents[] = {"NA", "NA", "EU", "EU", "AS", "OC",
                                              "SA", "AF", "EU", "EU", "EU", "EU"};
inline constexpr double kBands[] = {1.8, 3.5, 7.0, 14.0, 21.0, 28.0};

template <size_t N>
const char* Pick(const char* const (&list)[N], uint64_t r) {
  return list[r % N];
}

}  // namespace logvane::bench
