// The ADIF 3 band and mode enumerations (ADIF 3.1.7), as the ADIF 3 export
// uses them: the band that holds a frequency, and the MODE and SUBMODE that
// a mode as it was logged stands for.
//
// Bands cover both their edges, in MHz; a frequency between two bands has
// none. A logged mode is either a MODE of the enumeration or a SUBMODE,
// which belongs to exactly one MODE: USB and LSB are SSB, FT4 is MFSK. Modes
// that earlier ADIF versions listed and ADIF 3 keeps for import only (PSK31,
// JT65A, PCW, ...) are SUBMODEs now and map the same way.
#pragma once

#include <string_view>

namespace logvane {

inline constexpr char kAdifVersion[] = "3.1.7";

// The band holding `mhz` as the enumeration spells it ("160m", "70cm"), or
// the empty view when no band holds it.
std::string_view AdifBandOf(double mhz);

struct AdifMode {
  std::string_view mode;     // empty: the logged mode is in neither list
  std::string_view submode;  // empty when the logged mode is a MODE itself
};

// The enumeration values for a logged mode, compared without regard to
// letter case or to blanks around it.
AdifMode MapAdifMode(std::string_view logged);

// A continent of the Continent enumeration (NA, SA, EU, AF, OC, AS, AN), in
// upper case.
bool IsAdifContinent(std::string_view upper_case);

}  // namespace logvane
