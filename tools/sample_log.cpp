// The sample log's contents: three dozen contacts of a CW contest weekend.
#include "tools/sample_log.h"

#include <array>

#include "tools/contact_log.h"

namespace logvane::tools {

namespace {

struct SampleContact {
  const char* call;
  int day;  // days after 17 May 2003
  const char* time;
  double freq;
  const char* mode;
  const char* name;
  const char* city;
  const char* state;
  const char* country;
  const char* continent;
  const char* rst_rcvd;
  int num_rcvd;
  bool ibm;
  bool retired;
  const char* comments;
};

// 17 May 2003 as a day count from 30 December 1899.
constexpr double kFirstDay = 37758.0;

// \xD8 is the letter slashed O of the 8-bit code page, which loggers type in
// call signs for the digit zero.
const std::array<SampleContact, 36> kContacts = {{
    {"W1AW", 0, "1402", 14.025, "CW", "HIRAM", "NEWINGTON", "CT", "USA", "NA", "599", 1, false,
     false, ""},
    {"K\xD8RF", 0, "1405", 14.031, "CW", "JOE", "DENVER", "CO", "USA", "NA", "579", 7, true, false,
     ""},
    {"VE3XYZ", 0, "1411", 14.018, "CW", "MARY", "TORONTO", "ON", "CANADA", "NA", "599", 23, false,
     false, "Loud signal"},
    {"G3ABC", 0, "1418", 14.022, "CW", "PETER", "LONDON", "", "ENGLAND", "EU", "559", 112, false,
     true, ""},
    {"DL1ZZ", 0, "1425", 14.040, "CW", "KLAUS", "MUNICH", "", "GERMANY", "EU", "599", 88, false,
     false, ""},
    {"JA1QRP", 0, "1433", 14.011, "CW", "TAKESHI", "TOKYO", "", "JAPAN", "AS", "449", 5, false,
     false, "QRP 5 W"},
    {"N\xD8\xD8X", 0, "1447", 7.025, "CW", "BILL", "", "MN", "USA", "NA", "599", 301, true, true,
     ""},
    {"KH6ABC", 0, "1502", 21.030, "CW", "LANI", "HONOLULU", "HI", "USA", "OC", "599", 44, false,
     false, ""},
    {"VK2DX", 0, "1515", 21.014, "CW", "BRUCE", "SYDNEY", "NSW", "AUSTRALIA", "OC", "339", 17,
     false, false, "Long path"},
    {"ZS6AAA", 0, "1530", 21.027, "CW", "JOHAN", "PRETORIA", "", "SOUTH AFRICA", "AF", "579", 9,
     false, false, ""},
    {"PY2XX", 0, "1544", 28.010, "CW", "PAULO", "S\xC3O PAULO", "", "BRAZIL", "SA", "599", 61,
     false, false, ""},
    {"OH2BH", 0, "1601", 14.005, "CW", "MARTTI", "ESPOO", "", "FINLAND", "EU", "599", 420, false,
     false, ""},
    {"W6\xD8O", 0, "1615", 14.035, "CW", "ED", "SAN DIEGO", "CA", "USA", "NA", "599", 12, false,
     true, ""},
    {"K5ZD", 0, "1622", 7.010, "CW", "RANDY", "", "MA", "USA", "NA", "599", 700, false, false, ""},
    {"EA8XS", 0, "1648", 7.002, "CW", "JUAN", "LAS PALMAS", "", "CANARY IS", "AF", "599", 155,
     false, false, ""},
    {"UA9CDC", 0, "1702", 14.020, "CW", "IGOR", "EKATERINBURG", "", "ASIATIC RUSSIA", "AS", "599",
     38, false, false, ""},
    {"W3LPL", 0, "1720", 3.525, "CW", "FRANK", "", "MD", "USA", "NA", "599", 911, true, false,
     "Big station"},
    {"VE7SV", 0, "1755", 3.530, "CW", "JIM", "VANCOUVER", "BC", "CANADA", "NA", "599", 210, false,
     false, ""},
    {"K1TTT", 1, "0012", 3.515, "CW", "DAVE", "PERU", "MA", "USA", "NA", "599", 512, false, false,
     ""},
    {"AA\xD8RS", 1, "0130", 1.825, "CW", "ROB", "", "TX", "USA", "NA", "569", 77, false, false, ""},
    {"HC8N", 1, "0245", 7.004, "CW", "", "", "", "GALAPAGOS", "SA", "599", 1024, false, false, ""},
    {"LU1FAM", 1, "0310", 7.012, "CW", "ANA", "BUENOS AIRES", "", "ARGENTINA", "SA", "599", 45,
     false, false, ""},
    {"ZL1BQD", 1, "0745", 14.028, "CW", "GRAHAM", "AUCKLAND", "", "NEW ZEALAND", "OC", "449", 19,
     false, true, "Weak"},
    {"F5IN", 1, "0902", 14.033, "CW", "JEAN", "PARIS", "", "FRANCE", "EU", "599", 230, false, false,
     ""},
    {"I4UFH", 1, "0915", 14.026, "CW", "GIORGIO", "BOLOGNA", "", "ITALY", "EU", "599", 140, false,
     false, ""},
    {"SM5AQD", 1, "0930", 21.021, "CW", "LARS", "STOCKHOLM", "", "SWEDEN", "EU", "599", 98, false,
     false, ""},
    {"4X1UF", 1, "1005", 21.008, "CW", "DAVID", "HAIFA", "", "ISRAEL", "AS", "579", 33, false,
     false, ""},
    {"w9rE", 1, "1120", 28.030, "CW", "MIKE", "", "IN", "USA", "NA", "599", 14, false, false,
     "Lower case in log"},
    {"KL7RA", 1, "1302", 14.019, "CW", "RON", "ANCHORAGE", "AK", "USA", "NA", "599", 66, false,
     false, ""},
    {"XE1KK", 1, "1410", 21.035, "CW", "CARLOS", "MEXICO CITY", "", "MEXICO", "NA", "599", 102,
     false, false, ""},
    {"9A1A", 1, "1525", 14.001, "CW", "", "", "", "CROATIA", "EU", "599", 880, false, false, ""},
    {"K\xD8RF", 1, "1602", 7.031, "CW", "JOE", "DENVER", "CO", "USA", "NA", "589", 301, true, false,
     "Second band"},
    {"JH1RFM", 1, "1707", 7.020, "CW", "KEN", "YOKOHAMA", "", "JAPAN", "AS", "559", 29, false,
     false, ""},
    {"YB0AZ", 1, "1820", 14.013, "CW", "", "JAKARTA", "", "INDONESIA", "OC", "449", 8, false, false,
     ""},
    {"CT1BOH", 1, "1933", 28.005, "CW", "JOSE", "LISBON", "", "PORTUGAL", "EU", "599", 190, false,
     false, ""},
    {"NP4A", 1, "2158", 28.022, "CW", "PAUL", "RINCON", "PR", "PUERTO RICO", "NA", "599", 250,
     false, true, ""},
}};

}  // namespace

std::string WriteSampleLog(const std::string& folder) {
  return WriteContactLog(folder, static_cast<int>(kContacts.size()), [](int i, Contact& out) {
    const SampleContact& c = kContacts[i];
    out.call = c.call;
    out.qso_date = kFirstDay + c.day;
    out.time_start = c.time;
    out.freq = c.freq;
    out.mode = c.mode;
    out.name = c.name;
    out.city = c.city;
    out.state = c.state;
    out.country = c.country;
    out.continent = c.continent;
    out.rst_sent = "599";
    out.rst_rcvd = c.rst_rcvd;
    out.num_rcvd = c.num_rcvd;
    out.ibm = c.ibm;
    out.retired = c.retired;
    out.comments = c.comments;
  });
}

}  // namespace logvane::tools
