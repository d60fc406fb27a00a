// The ADIF 3 form of the export: the value forms of the ADIF 3 data types,
// the band and mode enumerations, the ASCII form of every code-page letter,
// and whole files from an in-memory contact log with what they count.
#include "app/adif3_export.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "app/adif3_enumerations.h"
#include "app/adif3_values.h"
#include "component/memory_dataset.h"
#include "test_support.h"

namespace logvane {
namespace {

using namespace test;

std::string Number(std::string_view text) {
  std::string out = "[";
  if (!AppendAdifNumber(out, text)) return "refused";
  return out.substr(1);
}

std::string Time(std::string_view text) {
  std::string out;
  return AppendAdifTime(out, text) ? out : "refused";
}

TEST(Adif3Values, NumbersWithoutExponentOrBlanks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"14.025", "14.025"}, {" 14.025 ", "14.025"}, {"+7", "7"},
      {"-0.5", "-0.5"},     {"1E-5", "0.00001"},    {"1.5E20", "150000000000000000000"},
      {"2.5e-1", "0.25"},   {"123.45E1", "1234.5"}, {"0.0012E+2", "0.12"},
      {"1.50E1", "15"},     {"-0E3", "0"},          {"14.", "14."},
      {"abc", "refused"},   {"", "refused"},        {"14,025", "refused"},
      {"1E", "refused"},    {"1E+", "refused"},     {"NAN", "refused"},
      {"INF", "refused"},   {"1.2.3", "refused"},   {"14 025", "refused"},
      {"1E401", "refused"}, {".", "refused"},       {"-", "refused"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(Number(text), expected) << text;
  std::string out = "x";
  EXPECT_FALSE(AppendAdifNumber(out, "1E-"));
  EXPECT_EQ(out, "x") << "nothing appended for a refused number";
}

TEST(Adif3Values, TimesOfFourOrSixDigits) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1432", "1432"},       {"3:31", "0331"},     {"331", "0331"},        {" 0745 ", "0745"},
      {"14:32:05", "143205"}, {"143205", "143205"}, {"14325", "014325"},    {"9.05", "0905"},
      {"2359", "2359"},       {"2400", "refused"},  {"1260", "refused"},    {"12:30:60", "refused"},
      {"14", "refused"},      {"14:", "refused"},   {"1:2:3:4", "refused"}, {"1432a", "refused"},
      {"", "refused"},        {"143:2", "refused"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(Time(text), expected) << text;
}

TEST(Adif3Values, DatesAreRealDaysFrom1930) {
  for (const char* good : {"20030517", "19300101", "20000229", "20240229"})
    EXPECT_TRUE(IsAdifDate(good)) << good;
  for (const char* bad :
       {"19291231", "19000229", "20030229", "20031301", "20030500", "2003051", "05/17/03", ""})
    EXPECT_FALSE(IsAdifDate(bad)) << bad;
}

TEST(Adif3Values, EveryHighByteOfTheCodePage) {
  std::string all;
  for (int b = 0x80; b <= 0xFF; ++b) all += static_cast<char>(b);
  std::string out;
  EXPECT_TRUE(AppendAdifText(out, all, TextLines::kJoin));
  EXPECT_EQ(out,
            "???f??????S?OE?Z?"    // 0x80
            "??????????s?oe?zY"    // 0x90
            "??????????a?????"     // 0xA0
            "?????u????o?????"     // 0xB0
            "AAAAAAAECEEEEIIII"    // 0xC0
            "DNOOOOO?OUUUUYTHss"   // 0xD0
            "aaaaaaaeceeeeiiii"    // 0xE0
            "dnooooo?ouuuuythy");  // 0xF0
  out.clear();
  EXPECT_FALSE(AppendAdifText(out, " !~ W1AW 599", TextLines::kJoin));
  EXPECT_EQ(out, " !~ W1AW 599") << "ASCII text stays as it is";
  out.clear();
  EXPECT_TRUE(AppendAdifText(out,
                             "a\tb\x7F"
                             "c\x01",
                             TextLines::kKeep));
  EXPECT_EQ(out, "a?b?c?") << "control bytes are no characters";
}

TEST(Adif3Values, LineBreaks) {
  const std::string memo = "\r\nLoud signal  \r\n\r\nQSB\nrig: K3\r";
  std::string out;
  EXPECT_FALSE(AppendAdifText(out, memo, TextLines::kJoin));
  EXPECT_EQ(out, "Loud signal; QSB; rig: K3");
  out.clear();
  EXPECT_FALSE(AppendAdifText(out, memo, TextLines::kKeep));
  EXPECT_EQ(out, memo);
}

TEST(Adif3Enumerations, BandEdges) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1.8, "160m"},    {1.9999, "160m"},   {2.0, "160m"},     {1.7999, ""},  {2.0001, ""},
      {14.0, "20m"},    {14.350, "20m"},    {14.3501, ""},     {50.0, "6m"},  {54.0, "6m"},
      {54.0000005, ""}, {54.000001, "5m"},  {0.1357, "2190m"}, {0.1356, ""},  {222, "1.25m"},
      {435, "70cm"},    {7500000, "submm"}, {7500001, ""},     {-14.025, ""}, {0, ""}};
  for (const auto& [mhz, band] : cases) EXPECT_EQ(AdifBandOf(mhz), band) << mhz;
}

TEST(Adif3Enumerations, ModeMappings) {
  // Logged mode -> "MODE/SUBMODE".
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"CW", "CW/"}, {"cw", "CW/"}, {" SSB ", "SSB/"}, {"USB", "SSB/USB"}, {"lsb", "SSB/LSB"},
      {"FT8", "FT8/"}, {"FT4", "MFSK/FT4"}, {"JS8", "MFSK/JS8"}, {"PSK31", "PSK/PSK31"},
      {"psk63", "PSK/PSK63"}, {"JT65A", "JT65/JT65A"}, {"PCW", "CW/PCW"},
      {"C4FM", "DIGITALVOICE/C4FM"}, {"DIGITALVOICE", "DIGITALVOICE/"}, {"ASCI", "RTTY/ASCI"},
      {"RTTY", "RTTY/"}, {"vara hf", "DYNAMIC/VARA HF"}, {"OLIVIA 8/250", "OLIVIA/OLIVIA 8/250"},
      {"DOM-M", "DOMINO/DOM-M"}, {"THRBX", "THRB/THRBX"}, {"OFDM", "OFDM/"},
      {"RIBBIT_SMS", "OFDM/RIBBIT_SMS"}, {"PH", "/"}, {"DATA", "/"}, {"", "/"}, {"   ", "/"},
      {"VARA SATELLITES", "/"}, {"USB2", "/"}};
  // clang-format on
  for (const auto& [logged, expected] : cases) {
    const AdifMode m = MapAdifMode(logged);
    EXPECT_EQ(std::string(m.mode) + "/" + std::string(m.submode), expected) << logged;
  }
  EXPECT_TRUE(IsAdifContinent("OC"));
  EXPECT_FALSE(IsAdifContinent("oc"));
  EXPECT_FALSE(IsAdifContinent("NAM"));
}

// A contact of the log as the export reads it; every value is text, so that
// any shape of value can be fed.
struct Contact {
  std::string call =
      "Q\xD8"
      "AAA";
  std::string date = "05/17/2003";
  std::string time = "1432";
  std::string freq = "14.025";
  std::string mode = "CW";
  std::string name = "JOE";
  std::string city = "DENVER";
  std::string state = "CO";
  std::string country = "USA";
  std::string continent = "NA";
  std::string rst_sent = "599";
  std::string num_sent = "12";
  std::string rst_rcvd = "579";
  std::string num_rcvd = "7";
  bool ibm = true;
  bool retired = false;
  std::string comments;
};

MemoryDataSet ContactLog(const std::vector<Contact>& contacts) {
  std::vector<MemoryColumn> columns;
  for (const char* name : {"Call", "QSODate", "TimeStart", "Freq", "Mode", "Name", "City", "State",
                           "Country", "Continent", "RstSent", "NumSent", "RstRcvd", "NumRcvd"})
    columns.push_back({name, ftString, 60});
  columns.push_back({"IBM", ftBoolean});
  columns.push_back({"Retired", ftBoolean});
  columns.push_back({"Comments", ftString, 200});
  std::vector<MemoryRow> rows;
  for (const Contact& c : contacts) {
    rows.push_back({Str(c.call), Str(c.date), Str(c.time), Str(c.freq), Str(c.mode), Str(c.name),
                    Str(c.city), Str(c.state), Str(c.country), Str(c.continent), Str(c.rst_sent),
                    Str(c.num_sent), Str(c.rst_rcvd), Str(c.num_rcvd), Bool(c.ibm), Bool(c.retired),
                    Str(c.comments)});
  }
  return MemoryDataSet("LogTabl", columns, rows);
}

class Adif3Export : public ::testing::Test {
 protected:
  static std::chrono::system_clock::time_point ExportTime() {
    using namespace std::chrono;
    return sys_days{2003y / 5 / 17} + 14h + 32min + 9s;
  }
  Adif3Summary Export(const std::vector<Contact>& contacts, const std::string& contest = "",
                      const std::string& version = "1.04") {
    MemoryDataSet log = ContactLog(contacts);
    log.Open();
    Adif3Summary summary =
        WriteAdif3File(log, dir_.File("MYLOG.ADI"), "MYLOG", 0, version, contest, ExportTime);
    EXPECT_FALSE(log.Active()) << "the export closes the cursor";
    return summary;
  }
  std::string FileText() const {
    const auto bytes = ReadBytes(dir_.File("MYLOG.ADI"));
    return std::string(bytes.begin(), bytes.end());
  }
  // The record lines after the header.
  std::string Records() const {
    const std::string text = FileText();
    return text.substr(text.find("<EOH>\r\n") + 7);
  }

  TempDir dir_;
};

TEST_F(Adif3Export, HeaderAndContactByteForByte) {
  const Adif3Summary s = Export({Contact()}, "CQ-WW-CW");
  EXPECT_EQ(FileText(),
            "MYLOG - sorted by Sequence worked, exported from Tavisk database 2003-05-17 @ 1432 "
            "UTC using Logvane 1.04\r\n"
            "<ADIF_VER:5>3.1.7\r\n"
            "<PROGRAMID:7>Logvane\r\n"
            "<PROGRAMVERSION:4>1.04\r\n"
            "<CREATED_TIMESTAMP:15>20030517 143209\r\n"
            "<EOH>\r\n"
            "<CALL:5>Q0AAA <QSO_DATE:8>20030517 <TIME_ON:4>1432 <BAND:3>20m <FREQ:6>14.025 "
            "<MODE:2>CW <RST_SENT:3>599 <STX:2>12 <RST_RCVD:3>579 <SRX:1>7 <NAME:3>JOE "
            "<QTH:6>DENVER <STATE:2>CO <CONT:2>NA <COMMENT:3>USA <CONTEST_ID:8>CQ-WW-CW "
            "<NOTES:17>JOE in DENVER IBM <EOR>\r\n");
  EXPECT_EQ(s.contacts, 1);
  EXPECT_EQ(s.lines, 7);
  EXPECT_EQ(s.ascii_fields + s.unknown_modes + s.unknown_continents + s.frequencies_left_out +
                s.dates_left_out + s.times_left_out + s.incomplete_contacts,
            0);

  Export({}, "", "");
  EXPECT_EQ(FileText(),
            "MYLOG - sorted by Sequence worked, exported from Tavisk database 2003-05-17 @ 1432 "
            "UTC using Logvane\r\n<ADIF_VER:5>3.1.7\r\n<PROGRAMID:7>Logvane\r\n"
            "<CREATED_TIMESTAMP:15>20030517 143209\r\n<EOH>\r\n")
      << "no version: no PROGRAMVERSION; no contacts: the header alone";
}

TEST_F(Adif3Export, EmptyValuesLeftOutAndSerialForms) {
  Contact c;
  c.name = c.city = c.state = c.country = c.comments = c.rst_rcvd = "";
  c.ibm = false;
  c.num_sent = "12A";
  c.num_rcvd = "-3";
  c.mode = "usb";
  c.freq = "1E-5";
  c.time = "3:31";
  Export({c});
  EXPECT_EQ(Records(),
            "<CALL:5>Q0AAA <QSO_DATE:8>20030517 <TIME_ON:4>0331 <FREQ:7>0.00001 <MODE:3>SSB "
            "<SUBMODE:3>USB <RST_SENT:3>599 <STX_STRING:3>12A <SRX_STRING:2>-3 <CONT:2>NA "
            "<EOR>\r\n");
}

TEST_F(Adif3Export, MemoLinesJoinedWhileNotesKeepTheirs) {
  Contact c;
  c.comments = "Loud\r\nQSB\r\n";
  c.name = "JOE\r\nSR";
  Export({c});
  const std::string r = Records();
  EXPECT_NE(r.find("<NAME:7>JOE; SR "), std::string::npos) << r;
  EXPECT_NE(r.find("<COMMENT:14>Loud; QSB, USA "), std::string::npos) << r;
  EXPECT_NE(r.find("<NOTES:21>JOE\r\nSR in DENVER IBM <EOR>"), std::string::npos) << r;
}

TEST_F(Adif3Export, CountsWhatStrictReadersRefuseAndStillWritesEveryContact) {
  std::vector<Contact> contacts(6);
  contacts[0].mode = "PH";          // outside the enumeration: as logged
  contacts[0].continent = "eu";     // upper-cased
  contacts[1].freq = "14,025";      // no number: left out, incomplete
  contacts[1].continent = "N.A.";   // outside the enumeration: as logged
  contacts[2].call = "";            // incomplete
  contacts[3].name = "J\xD6RG";     // NAME and NOTES in ASCII
  contacts[3].city = "M\xDCNCHEN";  // QTH and NOTES
  contacts[4].date = "05/17/1929";  // before 1930: left out, incomplete
  contacts[4].time = "25:00";       // no time of day: left out
  contacts[5].mode = "";            // incomplete
  const Adif3Summary s = Export(contacts, "\xC9T\xC9");
  EXPECT_EQ(s.contacts, 6);
  EXPECT_EQ(s.unknown_modes, 1);
  EXPECT_EQ(s.unknown_continents, 1);
  EXPECT_EQ(s.frequencies_left_out, 1);
  EXPECT_EQ(s.dates_left_out, 1);
  EXPECT_EQ(s.times_left_out, 1);
  EXPECT_EQ(s.incomplete_contacts, 4);
  EXPECT_EQ(s.ascii_fields, 3 + 6) << "NAME, QTH, NOTES, and the contest id in every contact";

  const std::string r = Records();
  EXPECT_NE(r.find("<FREQ:6>14.025 <MODE:2>PH <RST_SENT"), std::string::npos);
  EXPECT_NE(r.find("<CONT:2>EU "), std::string::npos);
  EXPECT_NE(r.find("<TIME_ON:4>1432 <MODE:2>CW "), std::string::npos) << "no BAND, no FREQ";
  EXPECT_NE(r.find("<CONT:4>N.A. "), std::string::npos);
  EXPECT_NE(r.find("<EOR>\r\n<QSO_DATE:8>20030517 "), std::string::npos) << "no CALL";
  EXPECT_NE(r.find("<NAME:4>JORG <QTH:7>MUNCHEN "), std::string::npos);
  EXPECT_NE(r.find("<NOTES:19>JORG in MUNCHEN IBM "), std::string::npos);
  EXPECT_NE(r.find("<CALL:5>Q0AAA <BAND:3>20m "), std::string::npos) << "no date, no time";
  EXPECT_NE(r.find("<CONTEST_ID:3>ETE "), std::string::npos);
  size_t records = 0;
  for (size_t p = 0; (p = r.find("<EOR>\r\n", p)) != std::string::npos; ++p) ++records;
  EXPECT_EQ(records, 6u);
  for (char c : FileText())
    EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c);
}

TEST_F(Adif3Export, MissingFieldStopsAfterTheHeaderAndLeavesTheCursorOpen) {
  MemoryDataSet log("LogTabl", {{"Call", ftString, 10}}, {{Str("W1AW")}});
  log.Open();
  EXPECT_EQ(MessageOf([&] {
              WriteAdif3File(log, dir_.File("MYLOG.ADI"), "MYLOG", 0, "1.04", "", ExportTime);
            }),
            "LogTabl: Field 'QSODate' not found");
  EXPECT_TRUE(log.Active());
  EXPECT_EQ(Records(), "");
}

}  // namespace
}  // namespace logvane
