// Walking and searching indexes of random tables in both formats: every
// walk yields the live records in key order with their ordinals, every
// record is found exactly, searches between keys land on the lower bound,
// and stored key prefixes never contradict the full comparison.
#include <gtest/gtest.h>

#include "index/find_key.h"
#include "index/index_test_support.h"

namespace logvane {
namespace {

using test::TOpenTable;
using test::TTestTable;
using tools::TFillPolicy;

// Walks both ways. In the large-page format every stored prefix is also
// compared with its own record and a few others: a nonzero prefix result
// must have the sign of the full comparison.
void CheckWalks(TOpenTable& open, const TTestTable& table, int i,
                const std::vector<int32_t>& expected, test::TRandomTables& rnd) {
  const TmtbTableDef& def = open.source.Def();
  TIndex& ix = open.indexes.IndexAt(i);
  const auto n = static_cast<int32_t>(expected.size());
  ASSERT_EQ(ix.KeyCount(), n);
  int32_t r = ix.FirstEntry();
  for (int32_t k = 0; k < n; ++k) {
    if (k > 0) {
      ix.StepForward();
      r = ix.CurrentEntry();
    }
    ASSERT_EQ(r, expected[k]) << "forward step " << k;
    ASSERT_EQ(ix.OrdinalPosition(), k + 1);
    // A look ahead answers entries of the cursor's page only, and rightly.
    const int32_t ahead = ix.EntryAhead(3);
    const bool on_page = ix.InPagePosition() + 3 <= ix.PageCountWord();
    ASSERT_EQ(ahead, on_page ? expected[k + 3] : -1) << "three ahead of step " << k;
    if (!ix.Format().has_prefixes) continue;
    const uint8_t* prefix = ix.Prefix(ix.InPagePosition());
    const uint8_t* stored = table.slots[r].data();
    EXPECT_EQ(ComparePrefix(def, stored, prefix, i), 0) << "a record against its own prefix";
    for (int x = 0; x < 6; ++x) {
      const uint8_t* other = table.slots[expected[rnd.Uniform(0, n - 1)]].data();
      const int c = ComparePrefix(def, other, prefix, i);
      if (c != 0) {
        ASSERT_EQ(test::Sign(c), test::Sign(CompareKeys(def, other, stored, true, i)))
            << "prefix of " << r;
      }
    }
  }
  if (n == 0) {
    EXPECT_EQ(r, -1);
  }
  ix.StepForward();
  EXPECT_EQ(ix.CurrentEntry(), -1) << "past the last entry";

  r = ix.LastEntry();
  for (int32_t k = n - 1; k >= 0; --k) {
    if (k < n - 1) {
      ix.StepBack();
      r = ix.CurrentEntry();
    }
    ASSERT_EQ(r, expected[k]) << "backward step " << k;
    ASSERT_EQ(ix.OrdinalPosition(), k + 1);
  }
  if (n == 0) {
    EXPECT_EQ(r, -1);
  }
  ix.StepBack();
  EXPECT_EQ(ix.CurrentEntry(), -1) << "before the first entry";
}

void CheckSearches(TOpenTable& open, const TTestTable& table, int i,
                   const std::vector<int32_t>& expected, test::TRandomTables& rnd) {
  const TmtbTableDef& def = open.source.Def();
  TIndex& ix = open.indexes.IndexAt(i);
  const auto n = static_cast<int32_t>(expected.size());

  for (int32_t k = 0; k < n; ++k) {
    const TKeyHit hit = FindKey(ix, open.source, table.slots[expected[k]].data());
    ASSERT_TRUE(hit.exact) << "record " << expected[k];
    ASSERT_EQ(hit.record, expected[k]);
    ASSERT_EQ(ix.CurrentEntry(), expected[k]);
    ASSERT_EQ(ix.OrdinalPosition(), k + 1);
  }

  // Records that are not in the table land on the first entry that does not
  // sort before them.
  for (int probe = 0; probe < 25; ++probe) {
    const std::vector<uint8_t> search = rnd.Record(table.desc, rnd.Uniform(-5000000, 5000000));
    int32_t j = 0;
    while (j < n && CompareKeys(def, table.slots[expected[j]].data(), search.data(), true, i) < 0)
      ++j;
    const bool equal =
        j < n && CompareKeys(def, table.slots[expected[j]].data(), search.data(), true, i) == 0;
    const TKeyHit hit = FindKey(ix, open.source, search.data());
    EXPECT_EQ(hit.exact, equal);
    if (hit.record != -1) {
      EXPECT_EQ(hit.record, expected[j]);
    }
    EXPECT_EQ(ix.CurrentOrNext(), j < n ? expected[j] : -1);
  }

  // Bound records reach the ends of the index.
  std::vector<uint8_t> bound(def.RecordLength());
  MakeBoundRecord(def, bound.data(), i, true);
  FindKey(ix, open.source, bound.data());
  EXPECT_EQ(ix.CurrentOrNext(), n > 0 ? expected[0] : -1);
  MakeBoundRecord(def, bound.data(), i, false);
  const TKeyHit above = FindKey(ix, open.source, bound.data());
  EXPECT_FALSE(above.exact);
  EXPECT_EQ(above.record, -1);
  if (n > 0) {
    EXPECT_EQ(ix.InPagePosition(), ix.PageCounts().At(ix.PageCounts().Size() - 1) + 1);
  }
  EXPECT_EQ(ix.CurrentOrNext(), -1);
  EXPECT_EQ(ix.PriorEntry(), n > 0 ? expected[n - 1] : -1);
}

struct Shape {
  double version;
  TFillPolicy fill;
  int live;
};

void RunShape(uint32_t seed, const Shape& shape) {
  SCOPED_TRACE("seed " + std::to_string(seed) + ", version " + std::to_string(shape.version) +
               ", fill " + std::to_string(static_cast<int>(shape.fill)) + ", records " +
               std::to_string(shape.live));
  test::TRandomTables rnd(seed);
  TTestTable table;
  table.desc = rnd.Spec(shape.version);
  table.slots = rnd.Slots(table.desc, shape.live, 0.1);
  tools::IndexBuildOptions options;
  options.fill = shape.fill;
  options.seed = seed;
  options.free_pages = rnd.Uniform(0, 6);
  options.scatter_pages = rnd.Chance(0.5);
  table.Build(options);

  TOpenTable open(table.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  const TmtbTableDef& def = open.source.Def();
  for (int i = 0; i < def.IndexCount(); ++i) {
    SCOPED_TRACE("index " + std::to_string(i));
    const std::vector<int32_t> expected = test::ExpectedOrder(def, table, i);
    for (size_t k = 1; k < expected.size(); ++k)
      ASSERT_LT(CompareKeys(def, table.slots[expected[k - 1]].data(),
                            table.slots[expected[k]].data(), true, i),
                0)
          << "the generator made equal primary keys";
    open.indexes.ActivateIndex(i);
    CheckWalks(open, table, i, expected, rnd);
    CheckSearches(open, table, i, expected, rnd);
  }
}

TEST(IndexTraversal, RandomSmallPageTables) {
  for (uint32_t seed = 1; seed <= 12; ++seed)
    for (TFillPolicy fill :
         {TFillPolicy::kFull, TFillPolicy::kHalf, TFillPolicy::kRandom, TFillPolicy::kOnePerPage})
      RunShape(seed, {2.0, fill, static_cast<int>(seed * 17 % 90)});
}

TEST(IndexTraversal, RandomLargePageTables) {
  for (uint32_t seed = 100; seed < 108; ++seed)
    for (TFillPolicy fill : {TFillPolicy::kFull, TFillPolicy::kHalf, TFillPolicy::kRandom})
      RunShape(seed, {seed % 2 ? 3.0 : 4.0, fill, static_cast<int>(seed * 37 % 700)});
}

// One entry a page: directories past 200 and 400 entries.
TEST(IndexTraversal, LongLargePageDirectories) {
  RunShape(200, {4.0, TFillPolicy::kOnePerPage, 230});
  RunShape(201, {4.0, TFillPolicy::kOnePerPage, 430});
  RunShape(202, {3.5, TFillPolicy::kRandom, 2600});
}

// Small fixed tables for the edge cases: ids 0, 10, 20, ... and calls under
// a case-insensitive index.
class FixedTable : public ::testing::Test {
 protected:
  void Make(double version, int records, const tools::IndexBuildOptions& options = {}) {
    std::vector<int32_t> ids;
    for (int k = 0; k < records; ++k) ids.push_back(10 * k);
    MakeWithIds(version, ids, options);
  }
  void MakeWithIds(double version, const std::vector<int32_t>& ids,
                   const tools::IndexBuildOptions& options = {}) {
    open_.reset();
    table_ = std::make_unique<TTestTable>();
    table_->desc.format_version = version;
    table_->desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Call", 'S', 10)};
    table_->desc.indexes = {{"Primary", {0}, kIndexPrimary}, {"Call", {1}, kIndexCaseInsensitive}};
    table_->desc.LayOut();
    tools::TRecordBuilder r(table_->desc);
    for (size_t k = 0; k < ids.size(); ++k)
      table_->slots.push_back(
          r.Clear().SetInt(0, ids[k]).SetString(1, k % 2 ? "Aa" : "aA").Image());
    table_->Build(options);
    open_ = std::make_unique<TOpenTable>(table_->mti);
    ASSERT_EQ(open_->opened, 1) << open_->indexes.LastError();
  }
  std::vector<uint8_t> Key(int32_t id) {
    tools::TRecordBuilder r(table_->desc);
    return r.Clear().SetInt(0, id).Image();
  }
  TIndex& Primary() { return open_->indexes.IndexAt(0); }
  void TearDown() override { open_.reset(); }

  std::unique_ptr<TTestTable> table_;
  std::unique_ptr<TOpenTable> open_;
};

TEST_F(FixedTable, EmptyAndSinglePageIndexesAreSearchedInsideOnePage) {
  for (double version : {2.0, 4.0}) {
    SCOPED_TRACE(version);
    Make(version, 0);
    TIndex& empty = Primary();
    EXPECT_EQ(empty.FirstEntry(), -1);
    EXPECT_EQ(empty.LastEntry(), -1);
    empty.SearchBegin();
    EXPECT_EQ(empty.SearchLevel(), 1);
    const TKeyHit none = FindKey(empty, open_->source, Key(5).data());
    EXPECT_FALSE(none.exact);
    EXPECT_EQ(none.record, -1);
    EXPECT_EQ(empty.InPagePosition(), 1);
    EXPECT_EQ(empty.CurrentOrNext(), -1);
    EXPECT_EQ(empty.PriorEntry(), -1);

    Make(version, 6);
    TIndex& one = Primary();
    one.SearchBegin();
    EXPECT_EQ(one.SearchLevel(), 1);
    const TKeyHit hit = FindKey(one, open_->source, Key(30).data());
    EXPECT_TRUE(hit.exact);
    EXPECT_EQ(hit.record, 3);
    EXPECT_EQ(one.InPagePosition(), 4);
  }
}

// Above every entry, and between two pages, a search stops one past a
// page's end; CurrentOrNext and SettleForward move on from there.
TEST_F(FixedTable, SearchesThatStopPastAPageEnd) {
  Make(2.0, 10);  // pages of ids 0..60 and 70..90
  TIndex& ix = Primary();
  EXPECT_EQ(FindKey(ix, open_->source, Key(1000).data()).record, -1);
  EXPECT_EQ(ix.DirectoryPosition(), 1);
  EXPECT_EQ(ix.InPagePosition(), 4);
  const TSettle settle = ix.SettleForward();
  EXPECT_EQ(settle.edge, 1);
  EXPECT_EQ(settle.record, 9);
  FindKey(ix, open_->source, Key(1000).data());
  EXPECT_EQ(ix.CurrentOrNext(), -1);
  EXPECT_EQ(ix.PriorEntry(), 9);

  EXPECT_EQ(FindKey(ix, open_->source, Key(65).data()).record, -1);
  EXPECT_EQ(ix.DirectoryPosition(), 0);
  EXPECT_EQ(ix.InPagePosition(), 8);
  EXPECT_EQ(ix.SettleForward().record, 7);
  EXPECT_EQ(ix.OrdinalPosition(), 8);
}

// A search record equal to a page's first record ends on that page with an
// exact hit at in-page position 1.
TEST_F(FixedTable, ExactHitOnTheFirstRecordOfEveryPage) {
  for (double version : {2.0, 4.0}) {
    SCOPED_TRACE(version);
    tools::IndexBuildOptions options;
    options.fill = tools::TFillPolicy::kRandom;
    Make(version, version < 3 ? 60 : 1500, options);
    TIndex& ix = Primary();
    ASSERT_GT(ix.Directory().Count(), 3);
    for (int32_t p = 0; p < ix.Directory().Count(); ++p) {
      const int32_t first = ix.Directory().GetEntry(p).record;
      const TKeyHit hit = FindKey(ix, open_->source, table_->slots[first].data());
      EXPECT_TRUE(hit.exact);
      EXPECT_EQ(hit.record, first);
      EXPECT_EQ(ix.DirectoryPosition(), p);
      EXPECT_EQ(ix.InPagePosition(), 1);
    }
  }
}

// The ends of the integer range (the prefix of -2^31 looks like an absent
// value) are found like any other key.
TEST_F(FixedTable, ExtremeIntegerKeys) {
  for (double version : {2.0, 4.0}) {
    MakeWithIds(version, {INT32_MAX, 0, INT32_MIN, -1, 5, INT32_MIN + 1});
    for (size_t r = 0; r < table_->slots.size(); ++r) {
      const TKeyHit hit = FindKey(Primary(), open_->source, table_->slots[r].data());
      EXPECT_TRUE(hit.exact) << r;
      EXPECT_EQ(hit.record, static_cast<int32_t>(r));
    }
    EXPECT_EQ(Primary().FirstEntry(), 2);
    EXPECT_EQ(Primary().LastEntry(), 0);
  }
}

TEST_F(FixedTable, SaveRestoreAndOrdinals) {
  Make(2.0, 30);
  TIndex& ix = Primary();
  FindKey(ix, open_->source, Key(170).data());
  ix.SavePosition(true);
  EXPECT_EQ(ix.FirstEntry(), 0);
  EXPECT_EQ(ix.OrdinalPosition(), 1);
  EXPECT_EQ(ix.SettleForward().edge, -1);
  EXPECT_EQ(ix.RestorePosition(), 17);
  EXPECT_EQ(ix.OrdinalPosition(), 18);
  ix.SavePosition(false);
  EXPECT_EQ(ix.RestorePosition(), -1);
  EXPECT_EQ(ix.InPagePosition(), 1);
  EXPECT_EQ(ix.LastEntry(), 29);
  EXPECT_EQ(ix.OrdinalPosition(), ix.KeyCount());

  EXPECT_EQ(open_->source.Def().IndexNumber("call"), -1) << "index names are case-sensitive";
  open_->indexes.ActivateIndex(open_->source.Def().IndexNumber("Call"));
  EXPECT_TRUE(open_->indexes.IndexAt(1).IsActive());
  EXPECT_FALSE(ix.IsActive());
  EXPECT_THROW(open_->indexes.ActivateIndex(2), EDedaZiDBError);
}

// The cursor's page survives the counters page passing through the buffer.
TEST_F(FixedTable, CountersReadDoesNotDisturbTheCursor) {
  Make(4.0, 600);
  TIndex& ix = Primary();
  FindKey(ix, open_->source, Key(3000).data());
  EXPECT_EQ(open_->indexes.ReadCounters().next_autoinc, 1);
  EXPECT_EQ(ix.CurrentEntry(), 300);
  ix.StepForward();
  EXPECT_EQ(ix.CurrentEntry(), 301);
}

// Cost: a walk reads every leaf page once, and large-page searches decide
// nearly every probe by the stored prefix.
TEST_F(FixedTable, WalksReadEachPageOnceAndPrefixesSaveRecordReads) {
  tools::IndexBuildOptions options;
  options.fill = tools::TFillPolicy::kRandom;
  Make(4.0, 3000, options);
  TIndex& ix = Primary();
  ix.FirstEntry();
  const int64_t before = ix.PageReads();
  for (int k = 1; k < 3000; ++k) {
    ix.StepForward();
    ix.CurrentEntry();
    ix.OrdinalPosition();
  }
  EXPECT_EQ(ix.PageReads() - before, ix.Directory().Count() - 1);

  const int64_t loads = open_->source.Loads();
  for (int k = 0; k < 3000; k += 7) FindKey(ix, open_->source, table_->slots[k].data());
  // With an integer key only probes that meet the record itself read it.
  EXPECT_LE(open_->source.Loads() - loads, 2 * (3000 / 7 + 1));
}

}  // namespace
}  // namespace logvane
