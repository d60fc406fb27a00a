// The whole-table check: a sound table and one held by a writer pass; each
// kind of damage is named on its own line (free chain, data file,
// definition, a missing index file); a table that cannot be read is told
// apart; the check never writes, not even to a table a writable open would
// compact.
#include "engine/table_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "index/index_names.h"
#include "table_maker.h"

namespace logvane {
namespace {

using test::Free;
using test::Live;
using ::testing::Contains;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class TableCheckTest : public ::testing::Test {
 protected:
  // Live 1, 2, 3 in slots 0, 2, 5; free slots 1 -> 3 -> 4 -> end.
  void Make(const tools::IndexBuildOptions& options = {}) {
    test::MakeLogTable(t_, 4.0, {Live(1), Free(3), Live(2), Free(4), Free(-1), Live(3)}, options);
  }
  std::string Mtd() const { return platform::ChangeFileExt(t_.mti, ".MTD"); }
  size_t SlotOffset(int s) const { return static_cast<size_t>(s * t_.desc.RecordLength()); }
  void Link(int slot, int32_t next) {
    test::PatchBytes(Mtd(), SlotOffset(slot) + 4, test::Int32Bytes(next));
  }
  std::map<std::string, std::vector<uint8_t>> Files() const {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(t_.dir.Path()))
      files[e.path().filename().string()] = test::ReadBytes(e.path().string());
    return files;
  }
  // The report, which must say the table is inconsistent with `line`.
  void ExpectLine(const std::string& line) {
    const TTableCheckReport report = CheckTable(t_.mti);
    EXPECT_EQ(report.ExitCode(), 1);
    EXPECT_THAT(report.problems, Contains(HasSubstr(line)));
  }

  test::TTestTable t_;
};

TEST_F(TableCheckTest, ASoundTablePassesAlsoBesideAWriter) {
  Make();
  TTableCheckReport report = CheckTable(t_.mti);
  EXPECT_TRUE(report.readable);
  EXPECT_FALSE(report.writer_present);
  EXPECT_EQ(report.problems, std::vector<std::string>{});
  EXPECT_EQ(report.ExitCode(), 0);

  TmtbDBEng writer;
  ASSERT_GE(writer.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  report = CheckTable(t_.mti);
  EXPECT_TRUE(report.writer_present);
  EXPECT_EQ(report.ExitCode(), 0);
}

TEST_F(TableCheckTest, FreeChainDamage) {
  Make();
  Link(3, 2);
  ExpectLine("free chain: record 3 links to the live record 2");
  Link(3, 1);
  ExpectLine("free chain: record 1 is reached twice");
  Link(3, 4);

  tools::IndexBuildOptions options;
  options.free_records = 5;
  options.first_free_record = 1;
  Make(options);
  ExpectLine("free chain: the chain ends after 3 records; the counters give 5");
  options.free_records = 2;
  Make(options);
  ExpectLine("free chain: the chain runs on from record 3 past the 2 records");
  ExpectLine("free chain: 1 free records are not on the chain, the first is record 4");
}

TEST_F(TableCheckTest, DataFileAndDefinitionDamage) {
  Make();
  std::vector<uint8_t> bytes = test::ReadBytes(Mtd());
  bytes[SlotOffset(2) + 1] = 2;  // the Call field's null flag
  bytes.push_back(0);
  bytes.push_back(0);
  test::WriteBytes(Mtd(), bytes);
  ExpectLine("data file: ends in a partial record of 2 bytes");
  ExpectLine("data file: record 2: field Call has the null flag 2");

  t_.desc.fields[2].offset = t_.desc.fields[1].offset + 4;  // Band inside Call
  tools::WriteDefinition(t_.mti, t_.desc);
  ExpectLine("definition: fields Call and Band share bytes of the record");
}

TEST_F(TableCheckTest, AMissingIndexFileIsNamedAndTheOpenFailureToo) {
  Make();
  fs::remove(LeafPageFileName(t_.mti, 2));
  ExpectLine("index 2: cannot open");
  ExpectLine("table: does not open");
}

TEST_F(TableCheckTest, ATableThatCannotBeReadIsToldApart) {
  Make();
  fs::remove(Mtd());
  TTableCheckReport report = CheckTable(t_.mti);
  EXPECT_FALSE(report.readable);
  EXPECT_THAT(report.cause, HasSubstr(".MTD"));
  EXPECT_EQ(report.ExitCode(), 2);
  report = CheckTable(t_.dir.File("none.mti"));
  EXPECT_EQ(report.ExitCode(), 2);
}

TEST_F(TableCheckTest, NeverWritesEvenWhereAWritableOpenWouldCompact) {
  // 6 live records and 24 free slots, each linking to the next free one.
  std::vector<test::TSlot> slots;
  for (int k = 0; k < 30; ++k) {
    int next = k + 1;
    while (next < 30 && next % 5 == 0) ++next;
    slots.push_back(k % 5 == 0 ? Live(k) : Free(next < 30 ? next : -1));
  }
  test::MakeLogTable(t_, 2.0, slots);
  const auto before = Files();
  EXPECT_EQ(CheckTable(t_.mti).ExitCode(), 0);
  EXPECT_EQ(Files(), before);
}

}  // namespace
}  // namespace logvane
