// Leaf page files: shifted page images, the buffered-page rule, the counters
// page, the builder's layout and the free-page chain, sound or damaged.
#include "index/page_file.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "index/index_names.h"
#include "index/index_test_support.h"

namespace logvane {
namespace {

using test::TTestTable;

// A table with an integer key: `records` records with ids 0, 1, 2, ...;
// slot 1 and 3 free when `with_free` (chain 3 -> 1).
void MakeTable(TTestTable& t, double version, int records, const tools::IndexBuildOptions& options,
               bool with_free = false) {
  t.desc.format_version = version;
  t.desc.fields = {tools::MakeField("Id", 'A'), tools::MakeField("Name", 'S', 16)};
  t.desc.indexes = {{"Id", {0}, kIndexPrimary}, {"Name", {1}, 0}};
  t.desc.LayOut();
  tools::TRecordBuilder r(t.desc);
  for (int k = 0; k < records; ++k)
    t.slots.push_back(r.Clear().SetInt(0, k + 1).SetString(1, "n" + std::to_string(k)).Image());
  if (with_free) {
    t.slots.insert(t.slots.begin() + 1, tools::FreeRecordImage(t.desc.RecordLength(), -1));
    t.slots.insert(t.slots.begin() + 3, tools::FreeRecordImage(t.desc.RecordLength(), 1));
  }
  t.Build(options);
}

class PageFileTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetDefaultReadOnly(false); }
  void TearDown() override { platform::SetDefaultReadOnly(false); }
};

TEST_F(PageFileTest, ShiftedImagesMoveEntriesAndPrefixesTogether) {
  TTestTable t;
  tools::IndexBuildOptions options;
  options.free_pages = 4;
  MakeTable(t, 4.0, 250, options);  // one full page, pages 3..6 free
  TInd1FOps f(kLargePages, LeafPageFileName(t.mti, 0));
  f.OpenPageFile();
  ASSERT_TRUE(f.PageFileWritable());
  ASSERT_EQ(f.PageCount(), 7);

  f.ReadPage(2, 0);
  ASSERT_EQ(f.PageCountWord(), 250);
  std::vector<int32_t> records = {0};
  std::vector<std::vector<uint8_t>> prefixes = {{}};
  for (int k = 1; k <= 250; ++k) {
    records.push_back(f.Word(k));
    prefixes.emplace_back(f.Prefix(k), f.Prefix(k) + 12);
  }
  // Entry k of the original page sits at word (and prefix slot) `at`.
  auto expect_entry = [&](int at, int k) {
    ASSERT_EQ(f.Word(at), records[k]) << k;
    ASSERT_EQ(std::vector<uint8_t>(f.Prefix(at), f.Prefix(at) + 12), prefixes[k]) << k;
  };

  // Shift -1: the count in the spare word, entry k one slot earlier.
  f.ReadPage(2, -1);
  EXPECT_EQ(f.BufferedPage(), -1);
  EXPECT_EQ(f.Word(-1), 250);
  for (int k = 1; k <= 250; ++k) expect_entry(k - 1, k);
  f.ReadPage(2, 3);
  EXPECT_EQ(f.Word(3), 250);
  expect_entry(253, 250);

  // The right half of a split page: the image that starts at the word of
  // entry 125, which holds the right half's count.
  f.ReadPage(2, 0);
  f.SetWord(125, 125);
  f.WritePage(4, 125);
  EXPECT_EQ(f.BufferedPage(), -1);
  f.ReadPage(4, 0);
  ASSERT_EQ(f.PageCountWord(), 125);
  for (int k = 1; k <= 125; ++k) expect_entry(k, 125 + k);

  EXPECT_THROW(f.ReadPage(2, 251), EDedaZiDBError);
  EXPECT_THROW(f.ReadPage(2, -2), EDedaZiDBError);
}

TEST_F(PageFileTest, BufferedPageRule) {
  TTestTable t;
  MakeTable(t, 2.0, 20, {});
  TInd1FOps f(kSmallPages, LeafPageFileName(t.mti, 0));
  f.OpenPageFile();
  EXPECT_TRUE(f.ReadPage(2, 0));
  EXPECT_FALSE(f.ReadPage(2, 0));
  EXPECT_EQ(f.BufferedPage(), 2);
  EXPECT_TRUE(f.ReadPage(2, 1));
  EXPECT_TRUE(f.ReadPage(2, 0));

  // Writing the counters keeps the page image and the buffered page.
  const int32_t first = f.Word(1);
  f.WriteCounters({1, 2, 3, 4, 5});
  EXPECT_EQ(f.BufferedPage(), 2);
  EXPECT_EQ(f.Word(1), first);
  EXPECT_FALSE(f.ReadPage(2, 0));

  const TTableCounters c = f.ReadCounters();
  EXPECT_EQ((std::vector<int32_t>{c.free_records, c.first_free_record, c.next_autoinc,
                                  c.change_counter, c.kept_value}),
            (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(f.BufferedPage(), -1);
  EXPECT_TRUE(f.ReadPage(2, 0));
  EXPECT_EQ(f.Word(1), first);

  EXPECT_THROW(f.ReadPage(f.PageCount(), 0), EDedaZiDBError);
  EXPECT_THROW(f.ReadPage(-1, 0), EDedaZiDBError);
  try {
    f.WritePage(-1, 0);
    ADD_FAILURE() << "no error";
  } catch (const EDedaZiDBError&) {
    ADD_FAILURE() << "the plain exception is expected";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), msg::kIndexCorrupted);
  }
}

TEST_F(PageFileTest, ReadOnlyDefaultOpensReadOnly) {
  TTestTable t;
  MakeTable(t, 2.0, 3, {});
  platform::SetDefaultReadOnly(true);
  TInd1FOps f(kSmallPages, LeafPageFileName(t.mti, 0));
  f.OpenPageFile();
  EXPECT_FALSE(f.PageFileWritable());
  f.ReadCounters();
  EXPECT_THROW(f.WriteCounters({}), EInOutError);
}

TEST_F(PageFileTest, TrailingPartialPageIsNotAPage) {
  TTestTable t;
  MakeTable(t, 4.0, 3, {});
  const std::string leaf = LeafPageFileName(t.mti, 0);
  std::vector<uint8_t> bytes = test::ReadBytes(leaf);
  EXPECT_EQ(bytes.size(), 3u * 4096);
  bytes.resize(bytes.size() + 4000, 0xEE);
  test::WriteBytes(leaf, bytes);
  test::TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  EXPECT_EQ(open.indexes.IndexAt(0).PageCount(), 3);
  EXPECT_THROW(open.indexes.IndexAt(0).ReadPage(3, 0), EDedaZiDBError);
}

TEST_F(PageFileTest, BuilderCountersAndFreeChain) {
  TTestTable t;
  tools::IndexBuildOptions options;
  options.fill = tools::TFillPolicy::kHalf;
  options.free_pages = 3;
  options.kept_value = 77;
  options.change_counter = 9;
  MakeTable(t, 2.0, 10, options, /*with_free=*/true);
  // 10 records in pages of 4: leaves 2..4, free pages 5..7.
  const std::vector<uint8_t> leaf = test::ReadBytes(LeafPageFileName(t.mti, 0));
  ASSERT_EQ(leaf.size(), 8u * 32);
  EXPECT_EQ(GetInt32(&leaf[0]), 3);
  EXPECT_EQ(GetInt32(&leaf[4]), 5);
  EXPECT_EQ(GetInt32(&leaf[5 * 32 + 4]), 6);
  EXPECT_EQ(GetInt32(&leaf[7 * 32 + 4]), -1);
  // Two free data slots chained 3 -> 1, autoincrement values up to 10.
  TInd1FOps f(kSmallPages, LeafPageFileName(t.mti, 0));
  f.OpenPageFile();
  const TTableCounters c = f.ReadCounters();
  EXPECT_EQ(c.free_records, 2);
  EXPECT_EQ(c.first_free_record, 3);
  EXPECT_EQ(c.next_autoinc, 11);
  EXPECT_EQ(c.change_counter, 9);
  EXPECT_EQ(c.kept_value, 77);
  EXPECT_EQ(LeafPageFileName(t.mti, 25), t.dir.File("T.mz1"));
  EXPECT_EQ(DirectoryFileName(t.mti, 1), t.dir.File("T.mb2"));
}

// The free chain is read from page 0 on; damage in it never lists a page
// that is in use, page 0 or 1, or a page twice.
TEST_F(PageFileTest, FreeListFollowsOnlyRealFreePages) {
  for (bool scatter : {false, true}) {
    SCOPED_TRACE(scatter);
    TTestTable t;
    tools::IndexBuildOptions options;
    options.free_pages = 5;
    options.scatter_pages = scatter;
    options.fill = tools::TFillPolicy::kOnePerPage;
    MakeTable(t, 2.0, 6, options);
    const std::string leaf = LeafPageFileName(t.mti, 0);
    auto chain = [&] {
      std::vector<uint8_t> b = test::ReadBytes(leaf);
      std::vector<int32_t> pages;
      for (int32_t p = GetInt32(&b[4]); p >= 0 && pages.size() < 20; p = GetInt32(&b[p * 32 + 4]))
        pages.push_back(p);
      return pages;
    };
    const std::vector<int32_t> on_disk = chain();
    ASSERT_EQ(on_disk.size(), 5u);
    auto load = [&] {
      TInd1FOps f(kSmallPages, leaf);
      f.OpenPageFile();
      f.LoadFreeList();
      return f.FreePages();
    };
    EXPECT_EQ(load(), on_disk);

    const std::vector<uint8_t> original = test::ReadBytes(leaf);
    // Page 0 announces more pages than the chain holds.
    test::PatchBytes(leaf, 0, test::Int32Bytes(1000000));
    EXPECT_EQ(load(), on_disk);
    // The chain loops back on itself.
    test::PatchBytes(leaf, on_disk[4] * 32 + 4, test::Int32Bytes(on_disk[1]));
    EXPECT_EQ(load(), on_disk);
    // The chain runs into a page in use: the walk stops before it.
    int32_t used = 2;
    while (std::find(on_disk.begin(), on_disk.end(), used) != on_disk.end()) ++used;
    test::PatchBytes(leaf, on_disk[2] * 32 + 4, test::Int32Bytes(used));
    EXPECT_EQ(load(), std::vector<int32_t>(on_disk.begin(), on_disk.begin() + 3));
    // The head names the counters page, or a page beyond the file.
    test::PatchBytes(leaf, 4, test::Int32Bytes(1));
    EXPECT_TRUE(load().empty());
    test::PatchBytes(leaf, 4, test::Int32Bytes(99));
    EXPECT_TRUE(load().empty());
    test::PatchBytes(leaf, 0, test::Int32Bytes(-3));
    test::PatchBytes(leaf, 4, test::Int32Bytes(on_disk[0]));
    EXPECT_TRUE(load().empty());
    test::WriteBytes(leaf, original);
  }
}

// The single page of an empty index has count 0 like a free page; a chain
// that names it does not make it free.
TEST_F(PageFileTest, EmptyIndexPageIsNeverFree) {
  TTestTable t;
  MakeTable(t, 2.0, 0, {});
  const std::string leaf = LeafPageFileName(t.mti, 0);
  test::PatchBytes(leaf, 0, test::Int32Bytes(1));
  test::PatchBytes(leaf, 4, test::Int32Bytes(2));
  test::TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  EXPECT_TRUE(open.indexes.IndexAt(0).FreePages().empty());
}

}  // namespace
}  // namespace logvane
