// `logvane-cli dump --filter` and `export --filter` end to end: the program
// run on generated contact logs of both page formats, with the filter in
// UTF-8, its options, its errors and their exit codes; and the code-page
// conversions the command line relies on.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/code_page.h"
#include "cli/run_cli.h"
#include "test_support.h"
#include "tools/contact_log.h"

namespace logvane {
namespace {

using test::Lines;
using test::RunCli;
using test::Slurp;
using test::TRun;

struct Contact {
  const char* call;
  const char* name;  // Windows-1252
  const char* mode;
  const char* country;
};
const Contact kContacts[] = {
    {"W1AW", "HIRAM", "CW", "USA"},       {"K0RF", "JOS\xC9", "SSB", "USA"},
    {"DL1ABC", "KLAUS", "CW", "GERMANY"}, {"K5ZD", "RANDY", "CW", "USA"},
    {"EA3XX", "JOS\xC9", "CW", "SPAIN"},  {"N0BAD", "DAMAGED", "CW", "USA"},
};

class CliFilter : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    tools::ContactLogOptions options;
    options.format_version = GetParam();
    mti_ = tools::WriteContactLog(
        dir_.Path().string(), 6,
        [](int i, tools::Contact& c) {
          c.call = kContacts[i].call;
          c.name = kContacts[i].name;
          c.mode = kContacts[i].mode;
          c.country = kContacts[i].country;
          c.qso_date = i == 5 ? -1e9 : 37758.0 + i;  // the last date is damaged
        },
        options);
  }
  test::TempDir dir_;
  test::TempDir work_;
  std::string mti_;
};

TEST_P(CliFilter, DumpWritesThePassingRecords) {
  TRun r = RunCli(work_, {"dump", mti_, "--filter", "Mode = 'CW' and Country = 'USA'"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 3);
  EXPECT_NE(r.out.find("\"Call\":\"K5ZD\""), std::string::npos);

  // The filter's text is UTF-8 on the command line, Windows-1252 in the
  // table; the CSV form is UTF-8 again.
  r = RunCli(work_, {"dump", mti_, "--format", "csv", "--index", "Call", "--filter",
                     "Name = 'JOS\xC3\x89'"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 3);
  EXPECT_NE(r.out.find(",CW,JOS\xC3\x89,"), std::string::npos) << r.out;
  EXPECT_LT(r.out.find("EA3XX"), r.out.find("K0RF"));

  r = RunCli(work_,
             {"dump", mti_, "--filter", "call = 'k*'", "--filter-options", "case-insensitive"});
  EXPECT_EQ(Lines(r.out), 2);
  r = RunCli(work_, {"dump", mti_, "--filter", "Call = 'k*'", "--filter-options",
                     "case-insensitive,no-partial-compare"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  r = RunCli(work_, {"dump", mti_, "--filter", ""});
  EXPECT_EQ(Lines(r.out), 6);

  // A record whose value cannot be compared is left out; the walk goes on.
  r = RunCli(work_, {"dump", mti_, "--filter", "QSODate >= '5/19/03'"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 3);
  EXPECT_EQ(r.out.find("N0BAD"), std::string::npos);
}

TEST_P(CliFilter, FilterErrorsPrintTheirMessageAndNothingElse) {
  TRun r = RunCli(work_, {"dump", mti_, "--filter", "Frequency > 14"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "LogTabl: Field 'Frequency' not found\n");
  EXPECT_EQ(r.out, "");
  r = RunCli(work_, {"dump", mti_, "--format", "csv", "--filter", "(Mode = 'CW'"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "')' expected but nothing found\n");
  EXPECT_EQ(r.out, "");
  r = RunCli(work_, {"dump", mti_, "--filter", "Name = '\xC4\x81'"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "The filter holds '\xC4\x81' (U+0101), which Windows-1252 does not have (the table's "
            "texts are Windows-1252)\n");
  // A message quoting the table's code page reaches the terminal in UTF-8.
  r = RunCli(work_, {"dump", mti_, "--filter", "Name = 1 \xE2\x82\xAC"});
  EXPECT_EQ(r.err, "Invalid filter expression character: '\xE2\x82\xAC'\n");
  r = RunCli(work_, {"dump", mti_, "--filter-options", "sideways"});
  EXPECT_NE(r.code, 0);
}

TEST_P(CliFilter, ExportWritesAndCountsThePassingContacts) {
  const std::string folder = dir_.Path().string();
  const std::string cw = work_.File("cw.adi");
  // (The contact with the damaged date would stop the export itself.)
  TRun r = RunCli(
      work_, {"export", folder, "--filter", "Mode = 'CW' and not Call = 'N0BAD'", "--output", cw});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\n18 lines written\n"), std::string::npos) << r.out;
  const std::string adif = Slurp(cw);
  size_t contacts = 0;
  for (size_t at = adif.find("<eor>"); at != std::string::npos; at = adif.find("<eor>", at + 1))
    ++contacts;
  EXPECT_EQ(contacts, 4u);
  EXPECT_EQ(adif.find("<call:4>K0RF"), std::string::npos);

  const std::string bad = work_.File("bad.adi");
  r = RunCli(work_, {"export", folder, "--filter", "Mode = ", "--output", bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Expression expected but nothing found\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(std::ifstream(bad).good());
}

INSTANTIATE_TEST_SUITE_P(BothFormats, CliFilter, ::testing::Values(2.0, 4.0), [](const auto& info) {
  return info.param < 3 ? "SmallPages" : "LargePages";
});

TEST(Cli, VersionIsTheCaptionsVersion) {
  test::TempDir work;
  TRun r = RunCli(work, {"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("Zentro Logvane v", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(", ADIF Spec v1.00\n"), std::string::npos) << r.out;
}

TEST(CodePage, Utf8AndWindows1252BothWays) {
  std::string out, problem;
  ASSERT_TRUE(
      cli::Windows1252FromUtf8("Jos\xC3\xA9 \xE2\x82\xAC \xC5\xB8 \xC2\x81", &out, &problem));
  EXPECT_EQ(out, "Jos\xE9 \x80 \x9F \x81");
  std::string back;
  cli::AppendUtf8FromWindows1252(back, out);
  EXPECT_EQ(back, "Jos\xC3\xA9 \xE2\x82\xAC \xC5\xB8 \xC2\x81");
  EXPECT_FALSE(cli::Windows1252FromUtf8("\xC2\x80", &out, &problem));  // U+0080: no byte
  EXPECT_EQ(problem, "holds '\xC2\x80' (U+0080), which Windows-1252 does not have");
  EXPECT_FALSE(cli::Windows1252FromUtf8("a\xC3", &out, &problem));
  EXPECT_EQ(problem, "is not UTF-8 text");
  EXPECT_FALSE(cli::Windows1252FromUtf8("\xC0\xA7", &out, &problem));      // overlong
  EXPECT_FALSE(cli::Windows1252FromUtf8("\xED\xA0\x80", &out, &problem));  // surrogate
  EXPECT_EQ(cli::MessageForTerminal("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(cli::MessageForTerminal("caf\xE9"), "caf\xC3\xA9");
}

}  // namespace
}  // namespace logvane
