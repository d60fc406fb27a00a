// `logvane-cli info` on the sample log and on a broken table.
#include "cli/table_info.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/errors.h"
#include "test_support.h"
#include "tools/sample_log.h"

namespace logvane {
namespace {

TEST(TableInfo, ShowsHeaderFieldsAndIndexes) {
  test::TempDir dir;
  std::string mti = tools::WriteSampleLog(dir.Path().string());
  std::ostringstream out;
  cli::PrintTableInfo(out, mti);
  std::string text = out.str();
  EXPECT_NE(text.find("Format version: 4.00 (level 40, large index pages)"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Data file:      36 record slots"), std::string::npos);
  EXPECT_NE(text.find("Fields (17):"), std::string::npos);
  EXPECT_NE(text.find("QSODate"), std::string::npos);
  EXPECT_NE(text.find("D date-time"), std::string::npos);
  EXPECT_NE(text.find("NumSentIndx"), std::string::npos);
  EXPECT_NE(text.find("case-insensitive"), std::string::npos);
}

TEST(TableInfo, ReportsMissingAndDamagedDefinitions) {
  test::TempDir dir;
  std::ostringstream out;
  EXPECT_THROW(cli::PrintTableInfo(out, dir.File("none.mti")), Exception);
  test::WriteBytes(dir.File("short.mti"), std::vector<uint8_t>(100, 0));
  EXPECT_THROW(cli::PrintTableInfo(out, dir.File("short.mti")), EDedaZiDBError);
}

}  // namespace
}  // namespace logvane
