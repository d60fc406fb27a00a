// Directories: blocks of 200 entries and their heads, the probes of the
// large-page binary search, and the small-page array with its bounds.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "index/find_key.h"
#include "index/index_names.h"
#include "index/index_test_support.h"
#include "index/large_directory.h"
#include "index/small_directory.h"

namespace logvane {
namespace {

using test::TTestTable;

// `records` records with ids 0, 1, ..., one a leaf page: the directory has
// one entry per record.
void MakeLong(TTestTable& t, double version, int records) {
  t.desc.format_version = version;
  t.desc.fields = {tools::MakeField("Id", 'I')};
  t.desc.indexes = {{"Id", {0}, kIndexPrimary}};
  t.desc.LayOut();
  tools::TRecordBuilder r(t.desc);
  for (int k = 0; k < records; ++k) t.slots.push_back(r.Clear().SetInt(0, k).Image());
  tools::IndexBuildOptions options;
  options.fill = tools::TFillPolicy::kOnePerPage;
  t.Build(options);
}

// The text of an exception of exactly the plain class.
template <typename F>
std::string PlainError(F f) {
  try {
    f();
  } catch (const EDedaZiDBError& e) {
    return std::string("EDedaZiDBError: ") + e.what();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(LargeDirectory, BlocksOf200) {
  for (int records : {200, 201}) {
    SCOPED_TRACE(records);
    TTestTable t;
    MakeLong(t, 4.0, records);
    EXPECT_EQ(test::ReadBytes(DirectoryFileName(t.mti, 0)).size(),
              (records == 200 ? 2u : 3u) * 4096);
    TKeyBufSecondIndex dir(DirectoryFileName(t.mti, 0));
    dir.LoadDirectory();
    EXPECT_EQ(dir.Count(), records);
    EXPECT_EQ(dir.Heads().Count(), records == 200 ? 1 : 2);
    EXPECT_EQ(dir.BufferedBlock(), -1);
    EXPECT_EQ(dir.Position(), 0);
    EXPECT_EQ(dir.GetEntry(records - 1).record, records - 1);
    EXPECT_EQ(dir.GetEntry(199).page, 2 + 199);
    EXPECT_THROW(dir.GetEntry(records), EDedaZiDBError);
    EXPECT_THROW(dir.GetEntry(-1), EDedaZiDBError);
  }
}

TEST(LargeDirectory, FirstProbeOfAThousandEntriesIsTheHeadAt600) {
  TTestTable t;
  MakeLong(t, 4.0, 1000);
  test::TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  TIndex& ix = open.indexes.IndexAt(0);
  ASSERT_EQ(ix.Directory().Count(), 1000);
  auto& dir = static_cast<TKeyBufSecondIndex&>(ix.Directory());

  ix.SearchBegin();
  EXPECT_EQ(ix.SearchLevel(), 2);
  const TSearchProbe probe = ix.SearchProbe();
  EXPECT_EQ(ix.SearchProbePosition(), 600);
  EXPECT_EQ(probe.record, 600);
  EXPECT_EQ(probe.prefix, dir.Heads().Prefix(3)) << "the key prefix comes from the head of block 4";
  EXPECT_EQ(dir.BufferedBlock(), 4);

  // Between heads the upper middle is probed through the block buffer.
  const TDirProbe middle = dir.ProbeMiddle(601, 700);
  EXPECT_EQ(middle.position, 651);
  EXPECT_EQ(middle.record, 651);
  EXPECT_EQ(dir.Position(), 651);

  EXPECT_EQ(PlainError([&] { dir.ProbeMiddle(-1, 5); }), msg::kIndexCorrupted);
  EXPECT_EQ(PlainError([&] { dir.ProbeMiddle(0, 1000); }), msg::kIndexCorrupted);
}

// A head that no longer matches its block (the file changed under an open
// table) stops the probe with the plain exception.
TEST(LargeDirectory, HeadThatDisagreesWithItsBlock) {
  TTestTable t;
  MakeLong(t, 4.0, 401);
  test::TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  TIndex& ix = open.indexes.IndexAt(0);
  // Probe (0 + 400 + 1) / 2 = 200: the head of block 2.
  test::PatchBytes(DirectoryFileName(t.mti, 0), 2 * 4096 + 4, test::Int32Bytes(7));
  EXPECT_EQ(PlainError([&] { ix.Directory().ProbeMiddle(0, 400); }), msg::kIndexCorrupted);
  std::vector<uint8_t> key = t.slots[300];
  EXPECT_EQ(PlainError([&] { FindKey(ix, open.source, key.data()); }), msg::kIndexCorrupted);
}

TEST(LargeDirectory, HeaderBoundsAndGrowth) {
  THeader h;
  EXPECT_EQ(h.Capacity(), 40);
  h.Resize(3);
  uint8_t entry[20] = {};
  PutInt32(entry, 9);
  PutInt32(entry + 4, 42);
  h.Store(2, entry);
  EXPECT_EQ(h.Page(2), 9);
  EXPECT_EQ(h.Record(2), 42);
  EXPECT_EQ(PlainError([&] { h.Store(3, entry); }),
            std::string(msg::kIndexCorrupted) + "idx L2 code 3 3");
  EXPECT_EQ(PlainError([&] { h.Fetch(-1); }),
            std::string(msg::kIndexCorrupted) + "idx L2 code -1 3");
  EXPECT_EQ(PlainError([&] { h.Prefix(5); }), std::string(msg::kIndexCorrupted) + "idx L2 code 5");
  h.Resize(41);
  EXPECT_EQ(h.Capacity(), 59);
  EXPECT_EQ(h.Record(2), 42);
  h.Resize(1);
  EXPECT_EQ(h.Capacity(), 59);
}

TEST(SmallDirectory, WholeArrayInMemoryWithBounds) {
  TTestTable t;
  MakeLong(t, 2.0, 100);
  TIndex2V1 dir(DirectoryFileName(t.mti, 0));
  dir.LoadDirectory();
  EXPECT_EQ(dir.Count(), 100);
  EXPECT_EQ(dir.Capacity(), 130);
  EXPECT_EQ(dir.GetEntry(99).page, 101);
  EXPECT_EQ(dir.Position(), 99);
  EXPECT_THROW(dir.GetEntry(100), EDedaZiDBError);
  EXPECT_THROW(dir.GetEntry(-1), EDedaZiDBError);
  const TDirProbe probe = dir.ProbeMiddle(10, 20);
  EXPECT_EQ(probe.position, 15);
  EXPECT_EQ(probe.record, 15);
  EXPECT_EQ(probe.prefix, nullptr);
}

}  // namespace
}  // namespace logvane
