// logvane-cli rebuild: the backup folder beside the table, the changes, a
// record set aside with its values on one line each, and the exit codes
// (0 all kept, 1 something set aside, 2 not rebuilt).
#include "cli/rebuild_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "table_maker.h"

namespace logvane {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(RebuildCommand, PrintsTheBackupTheChangesAndWhatItSetAside) {
  test::TTestTable t;
  test::MakeLogTable(t, 4.0, {test::Live(1), test::Free(-1), test::Live(2), test::Live(3)});
  const std::string mtd = platform::ChangeFileExt(t.mti, ".MTD");
  test::PatchBytes(mtd, static_cast<size_t>(t.desc.RecordLength()) * 2 + 1, {9});

  std::ostringstream out, err;
  EXPECT_EQ(cli::RunTableRebuild(out, err, t.mti, ""), 1);
  EXPECT_EQ(err.str(), "");
  EXPECT_THAT(out.str(), StartsWith("backup: " + t.dir.File("T-backup-")));
  EXPECT_THAT(out.str(), HasSubstr("\nset aside: record 2: field Call has the null flag 9\n"
                                   "  Id: \"2\"\n"
                                   "  Call: (null flag 9)"));
  EXPECT_THAT(out.str(), HasSubstr("\n2 records kept, 1 set aside, 0 blob values detached\n"));

  out.str("");
  EXPECT_EQ(cli::RunTableRebuild(out, err, t.mti, t.dir.File("second")), 0);
  EXPECT_TRUE(std::filesystem::exists(t.dir.File("second/T.MTD")));

  TmtbDBEng holder;
  ASSERT_GE(holder.OpenTable(t.mti, kOpenReadShared, 0), 0);
  out.str("");
  EXPECT_EQ(cli::RunTableRebuild(out, err, t.mti, ""), 2);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), t.mti + " cannot be opened for exclusive use.\n");
}

}  // namespace
}  // namespace logvane
