// The readers under `logvane-cli load` and `update`: JSON lines, ISO dates
// and base64.
#include "cli/json_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/base64.h"
#include "cli/table_change.h"
#include "component/date_time.h"

namespace logvane {
namespace {

using cli::TJsonKind;
using cli::TJsonMember;

TEST(JsonLine, FlatObjectsOfEveryValue) {
  std::vector<TJsonMember> m;
  size_t n = 0;
  std::string problem;
  ASSERT_TRUE(cli::ReadJsonObject(
      R"( {"A":null, "B" : true,"C":false,"D":-0.5e+3,"E":"x\"\\\/\n\u00e9\ud83d\ude00","F":0} )",
      m, &n, &problem))
      << problem;
  ASSERT_EQ(n, 6u);
  EXPECT_EQ(m[0].kind, TJsonKind::kNull);
  EXPECT_TRUE(m[1].boolean);
  EXPECT_FALSE(m[2].boolean);
  EXPECT_EQ(m[3].text, "-0.5e+3");
  EXPECT_EQ(m[4].text, "x\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(m[5].text, "0");
  ASSERT_TRUE(cli::ReadJsonObject("{}", m, &n, &problem));
  EXPECT_EQ(n, 0u) << "members of the last line are not counted again";

  const std::vector<std::pair<std::string, std::string>> refused = {
      {"[1]", "expected '{' at the start of the line at column 1"},
      {R"({"A" 1})", "expected ':' after the member name at column 6"},
      {R"({"A":1,})", "expected a member name in quotes at column 8"},
      {R"({"A":[1]})", "an array or object is no field value at column 6"},
      {R"({"A":01})", "a number has a leading zero at column 7"},
      {R"({"A":1.})", "expected digits after the decimal point at column 8"},
      {R"({"A":"\ud800"})", "a lone surrogate in a text at column 13"},
      {"{\"A\":\"a\tb\"}", "a control character in a text at column 8"},
      {R"({"A":"x)", "a text is not closed at column 8"},
      {R"({"A":1} x)", "unexpected text after the object at column 9"},
      {R"({"A":tru})", "expected a value at column 6"},
  };
  for (const auto& [line, message] : refused) {
    EXPECT_FALSE(cli::ReadJsonObject(line, m, &n, &problem)) << line;
    EXPECT_EQ(problem, message) << line;
  }
}

TEST(JsonLine, IsoDatesAndBase64) {
  double millis = 0;
  ASSERT_TRUE(cli::ReadIsoDateTime("2003-05-17T14:32:05.25", &millis));
  EXPECT_EQ(millis, DayNumberFromDate(2003, 5, 17) * 86400000.0 + 52325250);
  ASSERT_TRUE(cli::ReadIsoDateTime("0001-01-01T00:00:00", &millis));
  EXPECT_EQ(millis, 86400000.0);
  for (const char* bad :
       {"2003-02-29T00:00:00", "2003-05-17 14:32:05", "2003-05-17T24:00:00", "2003-05-17T14:32:05.",
        "2003-05-17T14:32:05.1234", "0000-01-01T00:00:00", "2003-5-17T14:32:05"})
    EXPECT_FALSE(cli::ReadIsoDateTime(bad, &millis)) << bad;
  EXPECT_TRUE(cli::ReadIsoDateTime("2000-02-29T23:59:59.999", &millis));

  for (std::string bytes : {std::string(), std::string("\x01"), std::string("\x01\xFF"),
                            std::string("\x00\x01\x02\x03", 4)}) {
    std::string text, back;
    cli::AppendBase64(text, bytes);
    ASSERT_TRUE(cli::DecodeBase64(text, &back)) << text;
    EXPECT_EQ(back, bytes);
  }
  std::string out;
  for (const char* bad : {"QQ", "Q===", "QQ=A", "QQ==QQ==", "Q!==", "QUJD\n"})
    EXPECT_FALSE(cli::DecodeBase64(bad, &out)) << bad;
}

}  // namespace
}  // namespace logvane
