// Index maintenance at the places where it is easy to get wrong: splits at
// M + 1 entries, a new first entry, pages freed and reused, the empty index,
// the writable-open repair and compaction, emptying, and the consistency
// check itself.
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "index/corruption.h"
#include "index/find_key.h"
#include "index/index_names.h"
#include "index/index_test_support.h"

namespace logvane {
namespace {

using test::TOpenTable;
using test::TTestTable;
using tools::TFillPolicy;

// One integer key: slot k holds id ids[k].
void MakeIds(TTestTable& t, double version, const std::vector<int32_t>& ids) {
  t.desc.format_version = version;
  t.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Name", 'S', 14)};
  t.desc.indexes = {{"Id", {0}, kIndexPrimary}, {"Name", {1}, kIndexDescending}};
  t.desc.LayOut();
  tools::TRecordBuilder r(t.desc);
  for (int32_t id : ids)
    t.slots.push_back(r.Clear().SetInt(0, id).SetString(1, "n" + std::to_string(id % 5)).Image());
}

std::vector<bool> LiveSet(size_t slots, const std::vector<int32_t>& live) {
  std::vector<bool> set(slots, false);
  for (int32_t r : live) set[static_cast<size_t>(r)] = true;
  return set;
}

std::vector<int32_t> AllBut(int32_t n, const std::vector<int32_t>& absent) {
  std::vector<int32_t> out;
  for (int32_t r = 0; r < n; ++r)
    if (std::find(absent.begin(), absent.end(), r) == absent.end()) out.push_back(r);
  return out;
}

class IndexWriteTest : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override { platform::SetDefaultReadOnly(false); }
  int M() const { return GetParam() >= 3.0 ? 250 : 7; }
};

// A full page takes its (M + 1)th entry at every kind of place (before its
// first entry too, which changes the directory entry): the left page keeps
// (M + 1) / 2, the right gets the rest, the directory lists the right page
// after the left, and the remembered position follows the new entry into
// whichever half it went.
TEST_P(IndexWriteTest, FullPageSplitsWhereverTheEntryGoes) {
  const int m = M();
  const int h = (m + 1) / 2;
  for (int p : {1, 2, h, h + 1, m + 1}) {
    SCOPED_TRACE(p);
    std::vector<int32_t> ids;
    for (int k = 0; k < m; ++k) ids.push_back(10 * k);
    ids.push_back(10 * (p - 1) - 5);  // slot m sorts at place p
    TTestTable t;
    MakeIds(t, GetParam(), ids);
    test::BuildWithout(t, {m});
    TOpenTable open(t.mti);
    ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
    TIndex& ix = open.indexes.IndexAt(0);
    ASSERT_EQ(ix.Directory().Count(), 1);

    ASSERT_EQ(open.indexes.InsertKeysOf(m, t.slots[m].data()), -1);
    ASSERT_EQ(ix.PageCounts().Size(), 2);
    EXPECT_EQ(ix.PageCounts().At(0), h);
    EXPECT_EQ(ix.PageCounts().At(1), m + 1 - h);
    EXPECT_EQ(ix.RestorePosition(), m) << "the remembered position is the new entry";
    EXPECT_EQ(ix.OrdinalPosition(), p);
    // Four pages were added; the right half took the first of them.
    EXPECT_EQ(ix.Directory().GetEntry(1).page, 3);
    EXPECT_EQ(ix.FreePages(), (std::vector<int32_t>{4, 5, 6}));
    EXPECT_EQ(test::Walk(ix, true), test::ExpectedOrder(open.source.Def(), t, 0));
    EXPECT_EQ(test::Walk(ix, false), test::ExpectedOrder(open.source.Def(), t, 0));
    EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(t.slots.size(), AllBut(m + 1, {}))),
              std::vector<std::string>{});
  }
}

// A page whose only entry goes is freed and leaves the directory; page 0
// names it at once, and the remembered position moves to the next entry (or
// to the new last one).
TEST_P(IndexWriteTest, EmptiedPageIsFreedAndNamedByPageZero) {
  TTestTable t;
  MakeIds(t, GetParam(), {0, 10, 20, 30, 40});
  tools::IndexBuildOptions options;
  options.fill = TFillPolicy::kOnePerPage;
  test::BuildWithout(t, {}, options);
  TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  TIndex& ix = open.indexes.IndexAt(0);
  const std::string leaf = LeafPageFileName(t.mti, 0);

  auto remove = [&](int32_t r) {
    ASSERT_TRUE(FindKey(ix, open.source, t.slots[r].data()).exact);
    ix.SavePosition(true);
    ASSERT_EQ(open.indexes.DeleteKeysOf(t.slots[r].data(), true), -1);
  };
  remove(1);  // on page 3, directory entry 1
  EXPECT_EQ(ix.Directory().Count(), 4);
  EXPECT_EQ(ix.FreePages(), std::vector<int32_t>{3});
  std::vector<uint8_t> head = test::ReadBytes(leaf);
  EXPECT_EQ(GetInt32(&head[0]), 1);
  EXPECT_EQ(GetInt32(&head[4]), 3);
  EXPECT_EQ(ix.RestorePosition(), 2);
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(5, {0, 2, 3, 4})), std::vector<std::string>{});

  remove(4);  // the last page
  EXPECT_EQ(ix.RestorePosition(), 3) << "the new last entry";
  EXPECT_EQ(ix.FreePages(), (std::vector<int32_t>{6, 3}));
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(5, {0, 2, 3})), std::vector<std::string>{});

  // Back in: both go to the end of the page before their place.
  ASSERT_EQ(open.indexes.InsertKeysOf(1, t.slots[1].data()), -1);
  ASSERT_EQ(open.indexes.InsertKeysOf(4, t.slots[4].data()), -1);
  EXPECT_EQ(ix.FreePages(), (std::vector<int32_t>{6, 3}));
  EXPECT_EQ(test::Walk(ix, true), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(5, {0, 1, 2, 3, 4})), std::vector<std::string>{});
}

// An empty index is three pages and one directory entry naming page 2: the
// first insertion fills page 2 and rewrites entry 0; removing the last entry
// leaves the same empty index (its page is not freed).
TEST_P(IndexWriteTest, EmptyIndexTakesAndGivesBackItsOnlyEntry) {
  TTestTable t;
  MakeIds(t, GetParam(), {5, 6});
  test::BuildWithout(t, {0, 1});
  const std::string leaf = LeafPageFileName(t.mti, 0);
  TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  TIndex& ix = open.indexes.IndexAt(0);
  ASSERT_EQ(ix.PageCount(), 3);
  EXPECT_TRUE(ix.FreePages().empty());

  ASSERT_EQ(open.indexes.InsertKeysOf(1, t.slots[1].data()), -1);
  EXPECT_EQ(ix.Directory().GetEntry(0).page, 2);
  EXPECT_EQ(ix.Directory().GetEntry(0).record, 1);
  EXPECT_EQ(ix.PageCount(), 3);
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(2, {1})), std::vector<std::string>{});

  ASSERT_EQ(open.indexes.DeleteKeysOf(t.slots[1].data(), true), -1);
  EXPECT_EQ(ix.KeyCount(), 0);
  EXPECT_EQ(ix.Directory().Count(), 1);
  EXPECT_EQ(ix.Directory().GetEntry(0).record, -1);
  EXPECT_TRUE(ix.FreePages().empty());
  EXPECT_EQ(ix.FirstEntry(), -1);
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(2, {})), std::vector<std::string>{});
  open.indexes.CloseAll();
  EXPECT_EQ(test::ReadBytes(leaf).size(),
            3u * (GetParam() >= 3 ? kLargePages : kSmallPages).PageBytes());
}

// A writable open moves the pages in use beyond the new end into the
// lowest free pages and keeps four free; a read-only open of the same files
// writes nothing.
TEST_P(IndexWriteTest, WritableOpenCompactsTenFreePagesToFour) {
  TTestTable t;
  std::vector<int32_t> ids;
  for (int k = 0; k < 9; ++k) ids.push_back(k * 3);
  MakeIds(t, GetParam(), ids);
  tools::IndexBuildOptions options;
  options.fill = TFillPolicy::kOnePerPage;
  options.free_pages = 10;
  options.scatter_pages = true;
  options.seed = 7;
  test::BuildWithout(t, {}, options);
  const std::string leaf = LeafPageFileName(t.mti, 0);
  const std::vector<uint8_t> before = test::ReadBytes(leaf);

  platform::SetDefaultReadOnly(true);
  {
    TOpenTable open(t.mti);
    ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
    EXPECT_EQ(open.indexes.IndexAt(0).FreePages().size(), 10u);
  }
  EXPECT_EQ(test::ReadBytes(leaf), before);

  platform::SetDefaultReadOnly(false);
  TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  for (int i = 0; i < 2; ++i) {
    TIndex& ix = open.indexes.IndexAt(i);
    EXPECT_EQ(ix.FreePages().size(), 4u);
    EXPECT_EQ(ix.PageCount(), 2 + 9 + 4);
    EXPECT_EQ(test::Walk(ix, true), test::ExpectedOrder(open.source.Def(), t, i));
  }
  EXPECT_EQ(test::ReadBytes(leaf).size(), before.size() / (2 + 9 + 10) * (2 + 9 + 4));
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(9, AllBut(9, {}))), std::vector<std::string>{});
}

// A chain that has lost its free pages is rebuilt by scanning at a writable
// open, and written back.
TEST_P(IndexWriteTest, WritableOpenRepairsALostFreeChain) {
  TTestTable t;
  MakeIds(t, GetParam(), {1, 2, 3, 4});
  tools::IndexBuildOptions options;
  options.fill = TFillPolicy::kOnePerPage;
  options.free_pages = 3;
  test::BuildWithout(t, {}, options);
  test::PatchBytes(LeafPageFileName(t.mti, 0), 0, test::Int32Bytes(0));
  test::PatchBytes(LeafPageFileName(t.mti, 0), 4, test::Int32Bytes(-1));
  TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  EXPECT_EQ(open.indexes.IndexAt(0).FreePages(), (std::vector<int32_t>{6, 7, 8}));
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(4, {0, 1, 2, 3})), std::vector<std::string>{});
}

// Emptying every index keeps index 0's counters page.
TEST_P(IndexWriteTest, MakeAllEmptyKeepsTheCounters) {
  TTestTable t;
  std::vector<int32_t> ids;
  for (int k = 0; k < 40; ++k) ids.push_back(k);
  MakeIds(t, GetParam(), ids);
  tools::IndexBuildOptions options;
  options.fill = TFillPolicy::kOnePerPage;
  options.free_pages = 2;
  test::BuildWithout(t, {}, options);
  TOpenTable open(t.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  open.indexes.WriteCounters({0, -1, 77, 5, 9});
  open.indexes.MakeAllEmpty();
  for (int i = 0; i < 2; ++i) {
    TIndex& ix = open.indexes.IndexAt(i);
    EXPECT_EQ(ix.PageCount(), 3);
    EXPECT_EQ(ix.KeyCount(), 0);
    EXPECT_EQ(ix.FirstEntry(), -1);
  }
  const TTableCounters c = open.indexes.ReadCounters();
  EXPECT_EQ(c.next_autoinc, 77);
  EXPECT_EQ(c.kept_value, 9);
  EXPECT_EQ(test::CheckAll(open, t.mti, LiveSet(40, {})), std::vector<std::string>{});
}

// The check finds what it is for: records out of order, a directory entry
// that disagrees with its page, a free chain of the wrong length, a live
// record missing, a record listed twice.
TEST_P(IndexWriteTest, CheckReportsDamage) {
  TTestTable t;
  std::vector<int32_t> ids;
  for (int k = 0; k < 20; ++k) ids.push_back(k);
  MakeIds(t, GetParam(), ids);
  tools::IndexBuildOptions options;
  options.fill = TFillPolicy::kHalf;
  options.free_pages = 2;
  test::BuildWithout(t, {}, options);
  const std::string leaf = LeafPageFileName(t.mti, 0);
  const std::vector<uint8_t> good = test::ReadBytes(leaf);
  const size_t page2 = 2 * (GetParam() >= 3 ? kLargePages : kSmallPages).PageBytes();
  test::TDataSource source;
  source.Open(t.mti);
  const std::vector<bool> live = LiveSet(20, AllBut(20, {}));
  auto check = [&](const std::vector<bool>& set) {
    TIndexCheckInput in;
    in.table_path = t.mti;
    in.live = &set;
    return CheckIndex(in, source);
  };
  EXPECT_EQ(check(live), std::vector<std::string>{});

  const int32_t second = GetInt32(&good[page2 + 8]);
  const int32_t third = GetInt32(&good[page2 + 12]);
  test::PatchBytes(leaf, page2 + 8, test::Int32Bytes(third));
  test::PatchBytes(leaf, page2 + 12, test::Int32Bytes(second));
  EXPECT_FALSE(check(live).empty()) << "order";
  test::WriteBytes(leaf, good);

  test::PatchBytes(leaf, page2 + 4, test::Int32Bytes(second));
  EXPECT_FALSE(check(live).empty()) << "directory first record, a record twice";
  test::WriteBytes(leaf, good);

  test::PatchBytes(leaf, 0, test::Int32Bytes(3));
  EXPECT_FALSE(check(live).empty()) << "free chain length";
  test::WriteBytes(leaf, good);

  std::vector<bool> more = LiveSet(21, AllBut(20, {}));
  more[20] = true;
  EXPECT_FALSE(check(more).empty()) << "a live record missing";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, IndexWriteTest, ::testing::Values(2.0, 4.0));

}  // namespace
}  // namespace logvane
