// The ADIF 3.1.7 band, mode, submode and continent enumerations.
#include "app/adif3_enumerations.h"

#include <algorithm>
#include <array>

namespace logvane {

namespace {

struct Band {
  std::string_view name;
  double lower_mhz;
  double upper_mhz;
};

// In ascending order of frequency; no two bands overlap.
constexpr Band kBands[] = {
    {"2190m", 0.1357, 0.1378},   {"630m", 0.472, 0.479},      {"560m", 0.501, 0.504},
    {"160m", 1.8, 2.0},          {"80m", 3.5, 4.0},           {"60m", 5.06, 5.45},
    {"40m", 7.0, 7.3},           {"30m", 10.1, 10.15},        {"20m", 14.0, 14.35},
    {"17m", 18.068, 18.168},     {"15m", 21.0, 21.45},        {"12m", 24.89, 24.99},
    {"10m", 28.0, 29.7},         {"8m", 40.0, 45.0},          {"6m", 50.0, 54.0},
    {"5m", 54.000001, 69.9},     {"4m", 70.0, 71.0},          {"2m", 144.0, 148.0},
    {"1.25m", 222.0, 225.0},     {"70cm", 420.0, 450.0},      {"33cm", 902.0, 928.0},
    {"23cm", 1240.0, 1300.0},    {"13cm", 2300.0, 2450.0},    {"9cm", 3300.0, 3500.0},
    {"6cm", 5650.0, 5925.0},     {"3cm", 10000.0, 10500.0},   {"1.25cm", 24000.0, 24250.0},
    {"6mm", 47000.0, 47200.0},   {"4mm", 75500.0, 81000.0},   {"2.5mm", 119980.0, 123000.0},
    {"2mm", 134000.0, 149000.0}, {"1mm", 241000.0, 250000.0}, {"submm", 300000.0, 7500000.0},
};

// The MODE values, in byte order for binary search.
constexpr std::string_view kModes[] = {
    "AM",      "ARDOP", "ATV",    "CHIP", "CLO",    "CONTESTI", "CW",    "DIGITALVOICE", "DOMINO",
    "DYNAMIC", "FAX",   "FM",     "FSK",  "FSK441", "FT8",      "HELL",  "ISCAT",        "JT4",
    "JT44",    "JT65",  "JT6M",   "JT9",  "MFSK",   "MSK144",   "MT63",  "MTONE",        "OFDM",
    "OLIVIA",  "OPERA", "PAC",    "PAX",  "PKT",    "PSK",      "PSK2K", "Q15",          "QRA64",
    "ROS",     "RTTY",  "RTTYM",  "SSB",  "SSTV",   "T10",      "THOR",  "THRB",         "TOR",
    "V4",      "VOI",   "WINMOR", "WSPR",
};

struct Submode {
  std::string_view submode;
  std::string_view mode;
};

// The SUBMODE values with their MODE, in byte order of the submode.
// clang-format off
constexpr Submode kSubmodes[] = {
    {"8PSK1000", "PSK"}, {"8PSK1000F", "PSK"}, {"8PSK1200F", "PSK"}, {"8PSK125", "PSK"},
    {"8PSK125F", "PSK"}, {"8PSK125FL", "PSK"}, {"8PSK250", "PSK"}, {"8PSK250F", "PSK"},
    {"8PSK250FL", "PSK"}, {"8PSK500", "PSK"}, {"8PSK500F", "PSK"}, {"AMTORFEC", "TOR"},
    {"ASCI", "RTTY"}, {"C4FM", "DIGITALVOICE"}, {"CHIP128", "CHIP"}, {"CHIP64", "CHIP"},
    {"DMR", "DIGITALVOICE"}, {"DOM-M", "DOMINO"}, {"DOM11", "DOMINO"}, {"DOM16", "DOMINO"},
    {"DOM22", "DOMINO"}, {"DOM4", "DOMINO"}, {"DOM44", "DOMINO"}, {"DOM5", "DOMINO"},
    {"DOM8", "DOMINO"}, {"DOM88", "DOMINO"}, {"DOMINOEX", "DOMINO"}, {"DOMINOF", "DOMINO"},
    {"DSTAR", "DIGITALVOICE"}, {"FMHELL", "HELL"}, {"FREEDATA", "DYNAMIC"},
    {"FREEDV", "DIGITALVOICE"}, {"FSK31", "PSK"}, {"FSKH105", "HELL"}, {"FSKH245", "HELL"},
    {"FSKHELL", "HELL"}, {"FSQCALL", "MFSK"}, {"FST4", "MFSK"}, {"FST4W", "MFSK"}, {"FT2", "MFSK"},
    {"FT4", "MFSK"}, {"GTOR", "TOR"}, {"HELL80", "HELL"}, {"HELLX5", "HELL"}, {"HELLX9", "HELL"},
    {"HFSK", "HELL"}, {"ISCAT-A", "ISCAT"}, {"ISCAT-B", "ISCAT"}, {"JS8", "MFSK"}, {"JT4A", "JT4"},
    {"JT4B", "JT4"}, {"JT4C", "JT4"}, {"JT4D", "JT4"}, {"JT4E", "JT4"}, {"JT4F", "JT4"},
    {"JT4G", "JT4"}, {"JT65A", "JT65"}, {"JT65B", "JT65"}, {"JT65B2", "JT65"}, {"JT65C", "JT65"},
    {"JT65C2", "JT65"}, {"JT9-1", "JT9"}, {"JT9-10", "JT9"}, {"JT9-2", "JT9"}, {"JT9-30", "JT9"},
    {"JT9-5", "JT9"}, {"JT9A", "JT9"}, {"JT9B", "JT9"}, {"JT9C", "JT9"}, {"JT9D", "JT9"},
    {"JT9E", "JT9"}, {"JT9E FAST", "JT9"}, {"JT9F", "JT9"}, {"JT9F FAST", "JT9"}, {"JT9G", "JT9"},
    {"JT9G FAST", "JT9"}, {"JT9H", "JT9"}, {"JT9H FAST", "JT9"}, {"JTMS", "MFSK"}, {"LSB", "SSB"},
    {"M17", "DIGITALVOICE"}, {"MFSK11", "MFSK"}, {"MFSK128", "MFSK"}, {"MFSK128L", "MFSK"},
    {"MFSK16", "MFSK"}, {"MFSK22", "MFSK"}, {"MFSK31", "MFSK"}, {"MFSK32", "MFSK"},
    {"MFSK4", "MFSK"}, {"MFSK64", "MFSK"}, {"MFSK64L", "MFSK"}, {"MFSK8", "MFSK"},
    {"NAVTEX", "TOR"}, {"OLIVIA 16/1000", "OLIVIA"}, {"OLIVIA 16/500", "OLIVIA"},
    {"OLIVIA 32/1000", "OLIVIA"}, {"OLIVIA 4/125", "OLIVIA"}, {"OLIVIA 4/250", "OLIVIA"},
    {"OLIVIA 8/250", "OLIVIA"}, {"OLIVIA 8/500", "OLIVIA"}, {"OPERA-BEACON", "OPERA"},
    {"OPERA-QSO", "OPERA"}, {"PAC2", "PAC"}, {"PAC3", "PAC"}, {"PAC4", "PAC"}, {"PAX2", "PAX"},
    {"PCW", "CW"}, {"PSK10", "PSK"}, {"PSK1000", "PSK"}, {"PSK1000C2", "PSK"}, {"PSK1000R", "PSK"},
    {"PSK1000RC2", "PSK"}, {"PSK125", "PSK"}, {"PSK125C12", "PSK"}, {"PSK125R", "PSK"},
    {"PSK125RC10", "PSK"}, {"PSK125RC12", "PSK"}, {"PSK125RC16", "PSK"}, {"PSK125RC4", "PSK"},
    {"PSK125RC5", "PSK"}, {"PSK250", "PSK"}, {"PSK250C6", "PSK"}, {"PSK250R", "PSK"},
    {"PSK250RC2", "PSK"}, {"PSK250RC3", "PSK"}, {"PSK250RC5", "PSK"}, {"PSK250RC6", "PSK"},
    {"PSK250RC7", "PSK"}, {"PSK31", "PSK"}, {"PSK500", "PSK"}, {"PSK500C2", "PSK"},
    {"PSK500C4", "PSK"}, {"PSK500R", "PSK"}, {"PSK500RC2", "PSK"}, {"PSK500RC3", "PSK"},
    {"PSK500RC4", "PSK"}, {"PSK63", "PSK"}, {"PSK63F", "PSK"}, {"PSK63RC10", "PSK"},
    {"PSK63RC20", "PSK"}, {"PSK63RC32", "PSK"}, {"PSK63RC4", "PSK"}, {"PSK63RC5", "PSK"},
    {"PSK800C2", "PSK"}, {"PSK800RC2", "PSK"}, {"PSKAM10", "PSK"}, {"PSKAM31", "PSK"},
    {"PSKAM50", "PSK"}, {"PSKFEC31", "PSK"}, {"PSKHELL", "HELL"}, {"Q65", "MFSK"},
    {"QPSK125", "PSK"}, {"QPSK250", "PSK"}, {"QPSK31", "PSK"}, {"QPSK500", "PSK"},
    {"QPSK63", "PSK"}, {"QRA64A", "QRA64"}, {"QRA64B", "QRA64"}, {"QRA64C", "QRA64"},
    {"QRA64D", "QRA64"}, {"QRA64E", "QRA64"}, {"RIBBIT_PIX", "OFDM"}, {"RIBBIT_SMS", "OFDM"},
    {"ROS-EME", "ROS"}, {"ROS-HF", "ROS"}, {"ROS-MF", "ROS"}, {"SCAMP_FAST", "FSK"},
    {"SCAMP_OO", "MTONE"}, {"SCAMP_OO_SLW", "MTONE"}, {"SCAMP_SLOW", "FSK"}, {"SCAMP_VSLOW", "FSK"},
    {"SIM31", "PSK"}, {"SITORB", "TOR"}, {"SLOWHELL", "HELL"}, {"THOR-M", "THOR"},
    {"THOR100", "THOR"}, {"THOR11", "THOR"}, {"THOR16", "THOR"}, {"THOR22", "THOR"},
    {"THOR25X4", "THOR"}, {"THOR4", "THOR"}, {"THOR5", "THOR"}, {"THOR50X1", "THOR"},
    {"THOR50X2", "THOR"}, {"THOR8", "THOR"}, {"THRBX", "THRB"}, {"THRBX1", "THRB"},
    {"THRBX2", "THRB"}, {"THRBX4", "THRB"}, {"THROB1", "THRB"}, {"THROB2", "THRB"},
    {"THROB4", "THRB"}, {"USB", "SSB"}, {"VARA FM 1200", "DYNAMIC"}, {"VARA FM 9600", "DYNAMIC"},
    {"VARA HF", "DYNAMIC"}, {"VARA SATELLITE", "DYNAMIC"}};
// clang-format on

constexpr std::string_view kContinents[] = {"AF", "AN", "AS", "EU", "NA", "OC", "SA"};

static_assert(std::ranges::is_sorted(kModes));
static_assert(std::ranges::is_sorted(kSubmodes, {}, &Submode::submode));
static_assert(std::ranges::is_sorted(kContinents));
static_assert(std::ranges::all_of(kSubmodes,
                                  [](const Submode& s) {
                                    return std::ranges::binary_search(kModes, s.mode);
                                  }),
              "every submode belongs to a mode of the enumeration");

// The longest value of either list; a longer text is in neither.
constexpr size_t kLongestMode = 14;

}  // namespace

std::string_view AdifBandOf(double mhz) {
  for (const Band& band : kBands) {
    if (mhz < band.lower_mhz) break;
    if (mhz <= band.upper_mhz) return band.name;
  }
  return {};
}

AdifMode MapAdifMode(std::string_view logged) {
  while (!logged.empty() && logged.front() == ' ') logged.remove_prefix(1);
  while (!logged.empty() && logged.back() == ' ') logged.remove_suffix(1);
  if (logged.empty() || logged.size() > kLongestMode) return {};
  std::array<char, kLongestMode> buffer{};
  for (size_t i = 0; i < logged.size(); ++i) {
    const char c = logged[i];
    buffer[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view upper(buffer.data(), logged.size());
  if (const auto m = std::ranges::lower_bound(kModes, upper); m != std::end(kModes) && *m == upper)
    return {*m, {}};
  const auto s = std::ranges::lower_bound(kSubmodes, upper, {}, &Submode::submode);
  if (s != std::end(kSubmodes) && s->submode == upper) return {s->mode, s->submode};
  return {};
}

bool IsAdifContinent(std::string_view upper_case) {
  return std::ranges::binary_search(kContinents, upper_case);
}

}  // namespace logvane
