// The ADIF export over an in-memory contact log: the file byte for byte,
// the record-line rules, errors and where they stop the export, and that
// the per-contact loop allocates nothing.
#include "app/adif_export.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "base/errors.h"
#include "component/memory_dataset.h"
#include "test_support.h"

// Counts every allocation of the test program, to show that the export's
// loop allocates nothing per contact.
namespace {
std::atomic<long> g_allocations{0};
}
// Kept out of line so that the compiler does not pair a visible free()
// with a new-expression and warn about a mismatch.
[[gnu::noinline]] void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace logvane {
namespace {

using namespace test;
using namespace std::chrono;

struct Contact {
  std::string call =
      "Q\xD8"
      "AAA";
  MemoryValue date = Days(StoredDate(2003, 5, 17));
  std::string time = "1432";
  double freq = 14.025;
  std::string mode = "CW";
  std::string name = "JOE";
  std::string city = "DENVER";
  std::string state = "CO";
  std::string country = "USA";
  std::string continent = "NA";
  std::string rst_sent = "599";
  int32_t num_sent = 12;
  std::string rst_rcvd = "579";
  int32_t num_rcvd = 7;
  bool ibm = true;
  bool retired = false;
  std::string comments;
};

// The contact log's layout; `date_kind` is ftDateTime or, to feed date
// texts of any shape, ftString.
std::vector<MemoryColumn> LogColumns(TFieldType date_kind = ftDateTime) {
  return {{"NumSent", ftInteger},     {"Call", ftString, 13},     {"QSODate", date_kind, 20},
          {"TimeStart", ftString, 4}, {"Freq", ftFloat},          {"Mode", ftString, 5},
          {"Name", ftString, 20},     {"City", ftString, 25},     {"State", ftString, 3},
          {"Country", ftString, 25},  {"Continent", ftString, 2}, {"RstSent", ftString, 3},
          {"RstRcvd", ftString, 3},   {"NumRcvd", ftInteger},     {"IBM", ftBoolean},
          {"Retired", ftBoolean},     {"Comments", ftString, 60}};
}

MemoryRow Row(const Contact& c) {
  return {Int(c.num_sent),  Str(c.call),     c.date,          Str(c.time),     Num(c.freq),
          Str(c.mode),      Str(c.name),     Str(c.city),     Str(c.state),    Str(c.country),
          Str(c.continent), Str(c.rst_sent), Str(c.rst_rcvd), Int(c.num_rcvd), Bool(c.ibm),
          Bool(c.retired),  Str(c.comments)};
}

std::vector<MemoryRow> Rows(const std::vector<Contact>& contacts) {
  std::vector<MemoryRow> rows;
  for (const Contact& c : contacts) rows.push_back(Row(c));
  return rows;
}

system_clock::time_point At(year_month_day date, hours h, minutes m) {
  return sys_days{date} + h + m;
}
system_clock::time_point ExportTime() { return At(2003y / 5 / 17, 14h, 32min); }

const char kCaption[] = "Zentro Logvane v1.04, ADIF Spec v1.00";
const std::string kHeader =
    "MYLOG - sorted by Sequence worked, exported from Tavisk database\r\n"
    "  2003-05-17 @ 1432 UTC, using Zentro Logvane v1.04, ADIF Spec v1.00.<eoh>\r\n";

class AdifExport : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("MYLOG.ADI"); }
  std::string FileText() const {
    auto bytes = ReadBytes(Path());
    return std::string(bytes.begin(), bytes.end());
  }
  int64_t Export(TDataSet& cursor, const std::string& contest = "", int sort = 0) {
    return WriteAdifFile(cursor, Path(), "MYLOG", sort, kCaption, contest, ExportTime);
  }
  // The four lines written for one contact.
  std::string Lines(const Contact& c, TFieldType date_kind = ftDateTime,
                    const std::string& contest = "") {
    MemoryDataSet log("LogTabl", LogColumns(date_kind), Rows({c}));
    log.Open();
    EXPECT_EQ(Export(log, contest), 6);
    std::string text = FileText();
    return text.substr(kHeader.size());
  }

  TempDir dir_;
};

TEST_F(AdifExport, WorkedExampleByteForByte) {
  MemoryDataSet log("LogTabl", LogColumns(), Rows({Contact()}));
  TFormatSettings german;  // the user's settings must not reach the file
  german.DecimalSeparator = ',';
  german.DateSeparator = '.';
  german.ShortDateFormat = "dd/mm/yyyy";
  log.SetFormatSettings(german);
  log.Open();
  EXPECT_EQ(Export(log), 6);
  EXPECT_FALSE(log.Active());
  EXPECT_EQ(FileText(),
            kHeader +
                "<call:5>Q0AAA <freq:6>14.025 <mode:2>CW <qso_date:8>20030517 <time_on:4>1432\r\n"
                " <rst_sent:3>599 <stx:2>12 <rst_rcvd:3>579 <srx:1>7\r\n"
                "  <qth:6>DENVER <state:2>CO <comment:3>USA <cont:2>NA\r\n"
                "   <name:3>JOE <contest_id:0> <notes:17>JOE in DENVER IBM <eor>\r\n");
}

TEST_F(AdifExport, CallSignsAndDateShapes) {
  Contact c;
  c.call =
      "\xD8Q\xD8\xD8"
      "A\xD8";
  c.date = Str("05/17/2003");
  EXPECT_EQ(Lines(c, ftString).substr(0, 36), "<call:6>0Q00A0 <freq:6>14.025 <mode:");
  c.call = "W1AW";
  EXPECT_EQ(Lines(c, ftString).substr(0, 14), "<call:4>W1AW <");

  const std::vector<std::pair<std::string, std::string>> dates = {
      {"05/17/2003", "<qso_date:8>20030517 "},
      {"2003-05-17", "<qso_date:8>20030517 "},
      {"2003/05/17", "<qso_date:8>20030517 "},
      {"05/17/2003 14:32:00", "<qso_date:8>20030517 "},
      {"05/17/03", "<qso_date:8>05/17/03 "},  // too short for its shape: unchanged
      {"5/17/03", "<qso_date:6>5/1703 "},     // another shape: the 5th removed, no 7th
      {"2003", "<qso_date:4>2003 "},
      {"200", "<qso_date:3>200 "},
      {"", "<qso_date:0> "}};
  for (const auto& [date, expected] : dates) {
    c.date = Str(date);
    EXPECT_NE(Lines(c, ftString).find(expected), std::string::npos) << date;
  }
  c.date = MemoryValue();  // no value at all
  EXPECT_NE(Lines(c).find(" <qso_date:0> <time_on:"), std::string::npos);
}

TEST_F(AdifExport, FlagsNotesAndComments) {
  Contact c;
  c.ibm = false;
  c.retired = true;
  EXPECT_NE(Lines(c).find("<notes:17>JOE in DENVER RET <eor>"), std::string::npos);
  c.ibm = true;
  EXPECT_NE(Lines(c).find("<notes:21>JOE in DENVER IBM RET <eor>"), std::string::npos);
  c.city = "";
  EXPECT_NE(Lines(c).find("  <qth:0> <state:2>CO"), std::string::npos);
  EXPECT_NE(Lines(c).find("<notes:11>JOE IBM RET <eor>"), std::string::npos);
  c.ibm = c.retired = false;
  c.name = "";
  EXPECT_NE(Lines(c).find("<name:0> <contest_id:0> <notes:0> <eor>"), std::string::npos);

  c.comments = "QRP";
  EXPECT_NE(Lines(c).find("<comment:8>QRP, USA <cont:"), std::string::npos);
  c.country = "";
  EXPECT_NE(Lines(c).find("<comment:5>QRP,  <cont:"), std::string::npos);
  c.comments = "";
  EXPECT_NE(Lines(c).find("<comment:0> <cont:"), std::string::npos);
}

TEST_F(AdifExport, LengthsCountBytes) {
  Contact c;
  c.name = "J\xD6RG";  // one byte above 0x7F
  c.city = "K\xD6LN";
  std::string lines = Lines(c, ftDateTime, "CQ-WW-\xC9");
  EXPECT_NE(lines.find("   <name:4>J\xD6RG <contest_id:7>CQ-WW-\xC9 "
                       "<notes:16>J\xD6RG in K\xD6LN IBM <eor>\r\n"),
            std::string::npos);
}

TEST_F(AdifExport, SortTextAndManyContacts) {
  std::vector<Contact> contacts(3);
  contacts[1].call = "K1ABC";
  MemoryDataSet log("LogTabl", LogColumns(), Rows(contacts));
  for (int sort : {1, 2, -1}) {
    log.Open();
    EXPECT_EQ(Export(log, "", sort), 14);
    std::string text = FileText();
    EXPECT_EQ(text.substr(0, text.find("\r\n")),
              "MYLOG - sorted by Call letters, exported from Tavisk database");
    EXPECT_NE(text.find("<call:5>K1ABC"), std::string::npos);
    size_t eor = 0;
    for (size_t p = 0; (p = text.find("<eor>\r\n", p)) != std::string::npos; ++p) ++eor;
    EXPECT_EQ(eor, 3u);
  }
}

TEST_F(AdifExport, EmptyTableWritesTheHeaderOnlyEvenWithFieldsMissing) {
  MemoryDataSet log("LogTabl", {{"Other", ftInteger}}, {});
  log.Open();
  EXPECT_EQ(Export(log), 2);
  EXPECT_EQ(FileText(), kHeader);
}

TEST_F(AdifExport, MissingFieldStopsAfterTheHeader) {
  for (const char* missing : {"Call", "IBM", "Comments"}) {
    std::vector<MemoryColumn> columns;
    for (const auto& c : LogColumns()) {
      if (c.name != missing) columns.push_back(c);
    }
    std::vector<MemoryRow> rows;
    for (int i = 0; i < 2; ++i) rows.push_back(MemoryRow(columns.size(), Str("x")));
    MemoryDataSet log("LogTabl", columns, rows);
    log.Open();
    try {
      Export(log);
      ADD_FAILURE() << "no error for " << missing;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(std::string(e.what()), "LogTabl: Field '" + std::string(missing) + "' not found");
    }
    EXPECT_EQ(FileText(), kHeader);
    EXPECT_TRUE(log.Active());
  }
}

TEST_F(AdifExport, FlagFieldsReadAsBooleans) {
  std::vector<MemoryColumn> columns = LogColumns();
  columns[14] = {"IBM", ftString, 3};  // strings answer by their first letter
  columns[15] = {"Retired", ftFloat};  // numbers cannot answer at all
  MemoryRow row = Row(Contact());
  row[14] = Str("yes");
  row[15] = Num(1);
  MemoryDataSet log("LogTabl", columns, {row});
  log.Open();
  try {
    Export(log);
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot access field 'Retired' as type Boolean");
  }
  EXPECT_EQ(FileText(), kHeader);
}

TEST_F(AdifExport, FileErrorsCarryTheTextFileMessage) {
  MemoryDataSet log("LogTabl", LogColumns(), Rows({Contact()}));
  log.Open();
  WriteBytes(dir_.File("plain"), {'x'});
  struct Case {
    std::string path;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {{dir_.File("no/such/MYLOG.ADI"), 2, "File not found"},
                                   {dir_.File("plain/MYLOG.ADI"), 3, "Invalid filename"},
                                   {dir_.Path().string(), 5, "File access denied"},
                                   {"", 2, "File not found"},
                                   {"/dev/full", 101, "Disk full"}};
  for (const Case& c : cases) {
    try {
      WriteAdifFile(log, c.path, "MYLOG", 0, kCaption, "", ExportTime);
      ADD_FAILURE() << "no error for " << c.path;
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code) << c.path;
      EXPECT_EQ(std::string(e.what()), c.message) << c.path;
    }
    EXPECT_TRUE(log.Active()) << c.path;  // the table stays open for a retry
  }
  // A retry after the failure at the close of /dev/full succeeds.
  EXPECT_EQ(Export(log), 6);
}

TEST_F(AdifExport, ExistingFileIsTruncated) {
  WriteBytes(Path(), std::vector<uint8_t>(100000, 'z'));
  MemoryDataSet log("LogTabl", LogColumns(), {});
  log.Open();
  Export(log);
  EXPECT_EQ(FileText(), kHeader);
}

// The header takes date and time from one reading of the clock: an export
// that starts a moment before midnight must not print the new day with the
// old hour.
TEST_F(AdifExport, HeaderReadsTheClockOnce) {
  int readings = 0;
  UtcClock clock = [&] {
    return readings++ == 0 ? At(2003y / 12 / 31, 23h, 59min) : At(2004y / 1 / 1, 0h, 0min);
  };
  MemoryDataSet log("LogTabl", LogColumns(), {});
  log.Open();
  WriteAdifFile(log, Path(), "MYLOG", 0, kCaption, "", clock);
  EXPECT_EQ(readings, 1);
  EXPECT_NE(FileText().find("  2003-12-31 @ 2359 UTC"), std::string::npos);
}

// Allocations do not grow with the number of contacts, and a file larger
// than the write buffer comes out whole.
TEST_F(AdifExport, ContactLoopAllocatesNothing) {
  auto count_allocations = [&](int contacts, int64_t* lines) {
    MemoryDataSet log("LogTabl", LogColumns(), Rows(std::vector<Contact>(contacts)));
    log.Open();
    long before = g_allocations.load();
    *lines = Export(log);
    return g_allocations.load() - before;
  };
  int64_t lines = 0;
  long few = count_allocations(10, &lines);
  EXPECT_EQ(lines, 42);
  long many = count_allocations(5000, &lines);
  EXPECT_EQ(lines, 20002);
  EXPECT_EQ(many, few);
  std::string text = FileText();
  const size_t record =
      std::string(
          "<call:5>Q0AAA <freq:6>14.025 <mode:2>CW <qso_date:8>20030517 <time_on:4>1432\r\n"
          " <rst_sent:3>599 <stx:2>12 <rst_rcvd:3>579 <srx:1>7\r\n"
          "  <qth:6>DENVER <state:2>CO <comment:3>USA <cont:2>NA\r\n"
          "   <name:3>JOE <contest_id:0> <notes:17>JOE in DENVER IBM <eor>\r\n")
          .size();
  EXPECT_EQ(text.size(), kHeader.size() + 5000 * record);
}

}  // namespace
}  // namespace logvane
