// The ADIF export over the real table cursor opened on the sample log, as
// the program runs it: the header, the first contacts' lines and the line
// count, and the cursor closed afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/adif_export.h"
#include "component/daro_vivuv.h"
#include "component/date_time.h"
#include "test_support.h"
#include "tools/contact_log.h"
#include "tools/sample_log.h"

namespace logvane {
namespace {

std::vector<std::string> Lines(const std::string& path) {
  const std::vector<uint8_t> bytes = test::ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "the last line ends in CR LF";
  return lines;
}

TEST(AdifFromTableCursor, SampleLogInSequenceWorked) {
  test::TempDir dir;
  const std::string mti = tools::WriteSampleLog(dir.Path().string());
  TDaroVivuv log;
  log.SetName("LogTabl");
  log.SetReadOnly(true);
  log.SetOpenRetryCount(0);
  log.SetTableName(mti);
  log.SetIndexName("NumSentIndx");
  log.Open();
  const int records = log.TableRecordCount();
  ASSERT_EQ(records, 36);

  using namespace std::chrono;
  const auto now = [] { return sys_days{year{2024} / 1 / 2} + hours{3} + minutes{4}; };
  const std::string out = dir.File("Contest.ADI");
  EXPECT_EQ(WriteAdifFile(log, out, "Contest", 0, "Logvane 1.0", "", now), 2 + 4 * records);
  EXPECT_FALSE(log.Active()) << "the export closes the cursor";

  const std::vector<std::string> lines = Lines(out);
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 + 4 * records));
  EXPECT_EQ(lines[0], "Contest - sorted by Sequence worked, exported from Tavisk database");
  EXPECT_EQ(lines[1], "  2024-01-02 @ 0304 UTC, using Logvane 1.0.<eoh>");
  // The first contact: W1AW, 17 May 2003 at 1402 on 14.025.
  EXPECT_EQ(lines[2],
            "<call:4>W1AW <freq:6>14.025 <mode:2>CW <qso_date:8>20030517 <time_on:4>1402");
  EXPECT_EQ(lines[3], " <rst_sent:3>599 <stx:1>1 <rst_rcvd:3>599 <srx:1>1");
  EXPECT_EQ(lines[4], "  <qth:9>NEWINGTON <state:2>CT <comment:3>USA <cont:2>NA");
  EXPECT_EQ(lines[5], "   <name:5>HIRAM <contest_id:0> <notes:18>HIRAM in NEWINGTON <eor>");
  // The second: a slashed zero in the call, and the IBM flag.
  EXPECT_EQ(lines[6],
            "<call:4>K0RF <freq:6>14.031 <mode:2>CW <qso_date:8>20030517 <time_on:4>1405");
  EXPECT_EQ(lines[9], "   <name:3>JOE <contest_id:0> <notes:17>JOE in DENVER IBM <eor>");
  // The last: the next day, retired.
  EXPECT_EQ(lines[lines.size() - 4],
            "<call:4>NP4A <freq:6>28.022 <mode:2>CW <qso_date:8>20030518 <time_on:4>2158");
  EXPECT_EQ(lines[lines.size() - 3], " <rst_sent:3>599 <stx:2>36 <rst_rcvd:3>599 <srx:3>250");

  // The closed cursor opens again for another export.
  log.Open();
  EXPECT_EQ(log.TableRecordCount(), 36);
}

// In call order the contacts' days come in no order at all: every record's
// date still reads as its own, over more days (and times of day) than the
// export keeps texts for.
TEST(AdifFromTableCursor, DatesOfManyDaysInCallOrder) {
  test::TempDir dir;
  constexpr int kContacts = 3000;
  auto day_of = [](int i) { return i * 7919 % 2500; };
  const std::string mti =
      tools::WriteContactLog(dir.Path().string(), kContacts, [&](int i, tools::Contact& c) {
        c.call = "K" + std::to_string(i * 37 % kContacts);
        c.qso_date = 37758.0 + day_of(i) + (i % 4 == 0 ? 0.75 : 0);
        c.country = "USA";
      });
  TDaroVivuv log;
  log.SetReadOnly(true);
  log.SetTableName(mti);
  log.SetIndexName("Call");
  log.Open();
  const std::string out = dir.File("Log.ADI");
  ASSERT_EQ(WriteAdifFile(log, out, "Log", 1, "T", ""), 2 + 4 * kContacts);

  const std::vector<std::string> lines = Lines(out);
  for (size_t k = 2; k + 3 < lines.size(); k += 4) {
    // The serial number (stx) names the contact.
    const size_t stx = lines[k + 1].find("<stx:");
    const size_t value = lines[k + 1].find('>', stx) + 1;
    const int i = std::stoi(lines[k + 1].substr(value)) - 1;
    const TCivilDate d = DateFromDayNumber(kDateDelta + 37758 + day_of(i));
    char date[64];
    std::snprintf(date, sizeof date, "<qso_date:8>%04d%02d%02d ", d.year, d.month, d.day);
    ASSERT_NE(lines[k].find(date), std::string::npos) << lines[k] << " for contact " << i;
  }
}

}  // namespace
}  // namespace logvane
