// The contact fields that both forms of the ADIF export read for every
// record, in the order they are read, with their names in the log's table.
#pragma once

#include <array>
#include <cstddef>

namespace logvane {

enum ContactField : size_t {
  kCall,
  kQsoDate,
  kTimeStart,
  kFreq,
  kMode,
  kName,
  kCity,
  kState,
  kCountry,
  kContinent,
  kRstSent,
  kNumSent,
  kRstRcvd,
  kNumRcvd,
  kIbm,      // boolean
  kRetired,  // boolean
  kComments,
  kContactFieldCount
};

inline constexpr std::array<const char*, kContactFieldCount> kContactFieldNames = {
    "Call",    "QSODate", "TimeStart", "Freq",      "Mode",    "Name",
    "City",    "State",   "Country",   "Continent", "RstSent", "NumSent",
    "RstRcvd", "NumRcvd", "IBM",       "Retired",   "Comments"};

}  // namespace logvane
