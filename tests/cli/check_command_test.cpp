// logvane-cli check: the problems one a line, then their number; the exit
// code tells consistent (0), inconsistent (1) and unreadable (2) apart.
#include "cli/check_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "engine/table_check.h"
#include "table_maker.h"

namespace logvane {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(CheckCommand, ReportsProblemsTheirNumberAndTheExitCode) {
  test::TTestTable t;
  test::MakeLogTable(t, 4.0, {test::Live(1), test::Free(-1), test::Live(2)});
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunTableCheck(out, err, t.mti), 0);
  EXPECT_EQ(out.str(), "0 problems\n");
  EXPECT_EQ(err.str(), "");

  const std::string mtd = platform::ChangeFileExt(t.mti, ".MTD");
  test::PatchBytes(mtd, static_cast<size_t>(t.desc.RecordLength()) + 4, test::Int32Bytes(2));
  out.str("");
  EXPECT_EQ(cli::RunTableCheck(out, err, t.mti), 1);
  const int64_t count = CheckTable(t.mti).problem_count;
  EXPECT_THAT(out.str(), HasSubstr("free chain: "));
  EXPECT_THAT(out.str(), HasSubstr("\n" + std::to_string(count) + " problem"));

  std::filesystem::remove(mtd);
  out.str("");
  EXPECT_EQ(cli::RunTableCheck(out, err, t.mti), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_THAT(err.str(), StartsWith("cannot read the table: "));
}

}  // namespace
}  // namespace logvane
