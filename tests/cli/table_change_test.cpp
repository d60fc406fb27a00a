// `logvane-cli load`, `update` and `delete` end to end: the program run on
// generated contact logs of both page formats, the table checked after every
// command and dumped in the order of every index; the sample log emptied and
// loaded back from its own dump.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/run_cli.h"
#include "engine/db_engine.h"
#include "engine/table_check.h"
#include "test_support.h"
#include "tools/contact_log.h"
#include "tools/sample_log.h"

namespace logvane {
namespace {

using test::Lines;
using test::RunCli;
using test::TRun;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The calls in the order of the index, one per dumped line.
std::vector<std::string> Calls(const std::string& dump) {
  std::vector<std::string> calls;
  for (size_t at = dump.find("\"Call\":\""); at != std::string::npos;
       at = dump.find("\"Call\":\"", at + 1)) {
    const size_t start = at + 8;
    calls.push_back(dump.substr(start, dump.find('"', start) - start));
  }
  return calls;
}

class CliChange : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    tools::ContactLogOptions options;
    options.format_version = GetParam();
    static const char* const kCalls[] = {"W1AW", "K0RF", "DL1ABC"};
    mti_ = tools::WriteContactLog(
        dir_.Path().string(), 3,
        [](int i, tools::Contact& c) {
          c.call = kCalls[i];
          c.mode = i == 1 ? "SSB" : "CW";
          c.qso_date = 37758.0 + i;
          c.comments = i == 0 ? "first" : "";
        },
        options);
  }
  // Runs a command, then checks the table.
  TRun Run(std::vector<std::string> args) {
    TRun r = RunCli(work_, std::move(args));
    const TTableCheckReport report = CheckTable(mti_);
    EXPECT_EQ(report.ExitCode(), 0)
        << (report.problems.empty() ? report.cause : report.problems.front());
    return r;
  }
  std::vector<std::string> CallsIn(const std::string& index) {
    return Calls(RunCli(work_, {"dump", mti_, "--index", index}).out);
  }

  test::TempDir dir_;
  test::TempDir work_;
  std::string mti_;
};

TEST_P(CliChange, LoadAddsOneRecordPerLine) {
  const std::string input = work_.File("in.jsonl");
  WriteText(input,
            "{\"NumSent\":10,\"Call\":\"EA3XX\",\"Name\":\"JOS\xC3\x89\",\"QSODate\":"
            "\"2003-05-20T10:15:00\",\"Freq\":14.025,\"IBM\":true,\"Comments\":\"a memo\"}\n"
            "\n"
            "{\"NumSent\":4,\"Call\":\"AA1A\",\"Mode\":null,\"NumRcvd\":7}\r\n");
  TRun r = Run({"load", mti_, "--input", input});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "2 records added\n");
  EXPECT_EQ(CallsIn("NumSentIndx"),
            (std::vector<std::string>{"W1AW", "K0RF", "DL1ABC", "AA1A", "EA3XX"}));
  EXPECT_EQ(CallsIn("Call"), (std::vector<std::string>{"AA1A", "DL1ABC", "EA3XX", "K0RF", "W1AW"}));
  const std::string dump = RunCli(work_, {"dump", mti_, "--filter", "NumSent = 10"}).out;
  EXPECT_NE(dump.find("\"Name\":\"JOS\xC3\x89\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"QSODate\":\"2003-05-20T10:15:00\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"Freq\":14.025"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"IBM\":true"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"Comments\":\"a memo\""), std::string::npos) << dump;

  // A bad line stops the load; the lines before it stay.
  struct Case {
    std::string line;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"{\"NumSent\":20,\"Band\":1}", "LogTabl: Field 'Band' not found"},
      {"{\"NumSent\":\"20\"}", "field 'NumSent' takes a whole number, not a text"},
      {"{\"NumSent\":3000000000}", "field 'NumSent': 3000000000 is out of range"},
      {"{\"NumSent\":20,\"Call\":\"\xC4\x81\"}",
       "field 'Call' holds '\xC4\x81' (U+0101), which Windows-1252 does not have"},
      {"{\"NumSent\":20,\"State\":\"ABCD\"}",
       "field 'State': the text is longer than the field's 3 characters"},
      {"{\"NumSent\":20,\"QSODate\":\"2003-02-30T00:00:00\"}",
       "field 'QSODate': '2003-02-30T00:00:00' is not a date and time of the form "
       "YYYY-MM-DDTHH:MM:SS[.mmm]"},
      {"{\"NumSent\":20", "not a JSON object: expected ',' or '}' after a value at column 14"},
      {"{\"NumSent\":1}", "Key violation due to duplicate record."},
  };
  int next = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteText(input, "{\"NumSent\":" + std::to_string(next++) + "}\n" + c.line + "\n{}\n");
    r = Run({"load", mti_, "--input", input});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "line 2: " + c.error + "\n");
    EXPECT_EQ(r.out, "1 records added\n");
  }
  EXPECT_EQ(Lines(RunCli(work_, {"dump", mti_}).out), 5 + static_cast<int>(cases.size()));

  // Another program writing to the table keeps the load out.
  TmtbDBEng writer;
  ASSERT_GE(writer.OpenTable(mti_, kOpenWriteShared, 0), 0);
  r = RunCli(work_, {"load", mti_, "--input", input});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, mti_ + " cannot be opened for exclusive use.\n");
  EXPECT_EQ(r.out, "0 records added\n");
}

TEST_P(CliChange, UpdateAndDeleteTheChosenRecords) {
  TRun r =
      Run({"update", mti_, "--filter", "Mode = 'CW'", "--set", "Mode=FT8", "--set", "NumRcvd=5",
           "--set", "QSODate=12/31/1999 23:59:58", "--set", "Call=VERYLONGCALLSIGN1", "--set",
           "IBM=true", "--set", "Comments=", "--index", "Call"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "2 records changed\n");
  std::string dump = RunCli(work_, {"dump", mti_, "--filter", "Mode = 'FT8'"}).out;
  EXPECT_EQ(Lines(dump), 2);
  EXPECT_NE(dump.find("\"Call\":\"VERYLONGCALLS\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"QSODate\":\"1999-12-31T23:59:58\""), std::string::npos) << dump;
  EXPECT_EQ(dump.find("\"Comments\":\"first\""), std::string::npos) << "the memo was cleared";
  EXPECT_NE(dump.find("\"NumRcvd\":5,\"IBM\":true"), std::string::npos) << dump;

  // Choosing first: changing the key that orders the walk visits each once.
  r = Run({"update", mti_, "--filter", "", "--set", "Freq=7.01"});
  EXPECT_EQ(r.out, "3 records changed\n");
  EXPECT_EQ(Lines(RunCli(work_, {"dump", mti_, "--filter", "Freq = 7.01"}).out), 3);

  // Refused before anything changes.
  for (const auto& [setting, error] : std::vector<std::pair<std::string, std::string>>{
           {"Band=1", "LogTabl: Field 'Band' not found\n"},
           {"NumRcvd=x", "'x' is not a valid integer value for field 'NumRcvd'\n"},
           {"Mode", "--set Mode: expected FIELD=VALUE\n"}}) {
    r = Run({"update", mti_, "--filter", "", "--set", setting});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, error);
    EXPECT_EQ(r.out, "0 records changed\n");
  }
  // A duplicate primary key stops after the records changed before it.
  r = Run({"update", mti_, "--filter", "NumSent >= 2", "--set", "NumSent=100"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Key violation due to duplicate record.\n");
  EXPECT_EQ(r.out, "1 records changed\n");
  EXPECT_EQ(CallsIn("NumSentIndx"),
            (std::vector<std::string>{"VERYLONGCALLS", "VERYLONGCALLS", "K0RF"}));

  r = Run({"delete", mti_, "--filter", "Mode = 'FT8'", "--index", "Call"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "2 records deleted\n");
  EXPECT_EQ(CallsIn("Call"), (std::vector<std::string>{"K0RF"}));
  r = Run({"delete", mti_, "--filter", ""});
  EXPECT_EQ(r.out, "1 records deleted\n");
  EXPECT_EQ(RunCli(work_, {"dump", mti_}).out, "");
  r = Run({"delete", mti_, "--filter", "Mode = 'CW'"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "0 records deleted\n");
  r = RunCli(work_, {"delete", mti_});
  EXPECT_NE(r.code, 0) << "--filter is required";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, CliChange, ::testing::Values(2.0, 4.0), [](const auto& info) {
  return info.param < 3 ? "SmallPages" : "LargePages";
});

TEST(CliChange, SampleLogLoadsBackFromItsDump) {
  test::TempDir dir, work;
  const std::string mti = tools::WriteSampleLog(dir.Path().string());
  const std::string before = RunCli(work, {"dump", mti}).out;
  ASSERT_GT(Lines(before), 0);
  const std::string input = work.File("sample.jsonl");
  WriteText(input, before);

  TRun r = RunCli(work, {"delete", mti, "--filter", ""});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(RunCli(work, {"dump", mti}).out, "");
  r = RunCli(work, {"load", mti, "--input", input});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::to_string(Lines(before)) + " records added\n");
  EXPECT_EQ(RunCli(work, {"dump", mti}).out, before);
  EXPECT_EQ(RunCli(work, {"dump", mti, "--format", "csv", "--index", "Call"}).code, 0);
  r = RunCli(work, {"check", mti});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 problems\n");
}

}  // namespace
}  // namespace logvane
