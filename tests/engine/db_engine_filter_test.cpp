// Filtered navigation over random tables of both formats: with a test
// expression and a record-event test installed, the cursor visits exactly
// the accepted records in index order, both ways; counts, going to records
// and locating respect the filter; the record-event test is asked again at
// every visit while the expression is evaluated once per record.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"
#include "table_maker.h"

namespace logvane {
namespace {

using test::TTestTable;

// The two tests: the expression passes ids whose hash is not a multiple of
// three; the record event rejects the ids in a set the test changes.
struct TFilterTests {
  int id_offset = 0;
  std::set<int32_t> rejected;
  bool nothing_passes = false;
  int64_t expression_calls = 0;

  int32_t Id(const uint8_t* image) const { return GetInt32(image + id_offset); }
  bool ExpressionPasses(int32_t id) const {
    return !nothing_passes && (static_cast<uint32_t>(id) * 2654435761u >> 7) % 3 != 0;
  }
  static bool Expression(void* owner, int32_t /*record*/, const uint8_t* image) {
    auto* self = static_cast<TFilterTests*>(owner);
    ++self->expression_calls;
    return self->ExpressionPasses(self->Id(image));
  }
  static bool Event(void* owner, int32_t /*record*/, const uint8_t* image) {
    auto* self = static_cast<TFilterTests*>(owner);
    return self->rejected.count(self->Id(image)) == 0;
  }
};

class FilteredCursor : public test::RandomTableTest {
 protected:
  void Make(uint32_t seed, int live) {
    OpenRandom(seed, live);
    tests_ = TFilterTests{};
    tests_.id_offset = t_->desc.fields[0].offset;
    eng_.FilterList().SetExpressionTest(&TFilterTests::Expression, &tests_);
    eng_.FilterList().SetRecordEventTest(&TFilterTests::Event, &tests_);
    eng_.FilterList().SetUseExpressionTest(true);
    eng_.FilterList().SetUseRecordEventTest(true);
  }
  int32_t IdOf(int32_t r) const { return GetInt32(t_->slots[r].data() + tests_.id_offset); }
  bool Visible(int32_t r) {
    const int32_t id = IdOf(r);
    return tests_.ExpressionPasses(id) &&
           (!eng_.FilterList().UseRecordEventTest() || tests_.rejected.count(id) == 0);
  }
  std::vector<int32_t> VisibleOrder(int j) {
    std::vector<int32_t> v;
    for (int32_t r : test::ExpectedOrder(eng_.Definition(), *t_, j))
      if (Visible(r)) v.push_back(r);
    return v;
  }
  // Walks from First with Next and from Last with Prior.
  void ExpectWalks(const std::vector<int32_t>& expected) {
    std::vector<int32_t> seen;
    eng_.First();
    EXPECT_EQ(eng_.Found(), !expected.empty());
    while (eng_.CurrentRecordNumber() != -1 && !eng_.IsEOF() && seen.size() <= expected.size()) {
      seen.push_back(eng_.CurrentRecordNumber());
      ASSERT_EQ(
          std::memcmp(eng_.CurrentImage(), t_->slots[seen.back()].data(), t_->slots[0].size()), 0);
      eng_.Next();
    }
    EXPECT_EQ(seen, expected) << "forward";
    EXPECT_FALSE(eng_.Found());
    EXPECT_TRUE(eng_.IsEOF());
    seen.clear();
    eng_.Last();
    while (eng_.CurrentRecordNumber() != -1 && !eng_.IsBOF() && seen.size() <= expected.size()) {
      seen.push_back(eng_.CurrentRecordNumber());
      eng_.Prior();
    }
    EXPECT_EQ(seen, std::vector<int32_t>(expected.rbegin(), expected.rend())) << "backward";
    EXPECT_TRUE(eng_.IsBOF());
    if (expected.empty()) {
      EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
      EXPECT_TRUE(eng_.IsEOF());
    }
  }

  TFilterTests tests_;
};

TEST_P(FilteredCursor, VisitsExactlyTheAcceptedRecords) {
  for (uint32_t seed = 11; seed <= 16; ++seed) {
    test::TRandomTables rnd(seed);
    const int live = seed == 11 ? 1 : rnd.Uniform(2, seed % 2 ? 50 : 500);
    Make(seed, live);
    const std::vector<int32_t> all = t_->Live();
    for (int32_t r : all)
      if (rnd.Chance(0.2)) tests_.rejected.insert(IdOf(r));

    eng_.SetFiltered(true);
    ASSERT_TRUE(eng_.Filtered());
    EXPECT_EQ(tests_.expression_calls, live) << "each record is evaluated once";
    for (int j = 0; j < eng_.Definition().IndexCount(); ++j) {
      SCOPED_TRACE(::testing::Message()
                   << "seed " << seed << " index " << j << " records " << live);
      eng_.SetCurrentIndex(j);
      std::vector<int32_t> expected = VisibleOrder(j);
      EXPECT_EQ(eng_.RecordCount(), static_cast<int32_t>(expected.size()));
      ExpectWalks(expected);

      // Going to records and locating by the primary key see only the
      // accepted records.
      std::vector<int> id_field = {0};
      const int by_id = eng_.FindIndexForFields(id_field, IsCaseInsensitive(eng_.Definition(), 0));
      for (int x = 0; x < 20; ++x) {
        const int32_t r = all[rnd.Uniform(0, live - 1)];
        const bool visible = Visible(r);
        eng_.First();
        const int32_t before = eng_.CurrentRecordNumber();
        EXPECT_EQ(eng_.GoToRecord(r), visible);
        EXPECT_EQ(eng_.CurrentRecordNumber(), visible ? r : before);
        tools::TRecordBuilder b(t_->desc);
        std::vector<uint8_t> image = b.Clear().SetInt(0, IdOf(r)).Image();
        std::vector<int> fields = {0};
        const bool use_index = rnd.Chance(0.5) && eng_.CurrentRecordNumber() != -1;
        const int32_t at = eng_.CurrentRecordNumber();
        const bool move = rnd.Chance(0.5);
        EXPECT_EQ(eng_.Locate(fields, image.data(), false, 0, move, use_index ? by_id : -1),
                  visible)
            << "record " << r << (use_index ? " by index" : " by walking");
        EXPECT_EQ(eng_.CurrentRecordNumber(), visible && move ? r : at);
        // The index's cursor stayed with the current record: the next
        // filtered step lands on the next accepted record.
        const auto it = std::find(expected.begin(), expected.end(), eng_.CurrentRecordNumber());
        if (it != expected.end()) {
          eng_.Next();
          EXPECT_EQ(eng_.CurrentRecordNumber(), it + 1 == expected.end() ? *it : it[1])
              << "after locate";
        }
      }

      // The record-event test is asked again: records it now rejects
      // disappear, and the expression is not evaluated again.
      const int64_t calls = tests_.expression_calls;
      for (int32_t r : expected)
        if (rnd.Chance(0.3)) tests_.rejected.insert(IdOf(r));
      expected = VisibleOrder(j);
      ExpectWalks(expected);
      EXPECT_EQ(eng_.RecordCount(), static_cast<int32_t>(expected.size()));
      eng_.FilterList().SetUseRecordEventTest(false);
      expected = VisibleOrder(j);
      ExpectWalks(expected);
      EXPECT_EQ(eng_.RecordCount(), static_cast<int32_t>(expected.size()));
      eng_.FilterList().SetUseRecordEventTest(true);
      EXPECT_EQ(tests_.expression_calls, calls);
    }

    // Switched off, every record is there again, from where the cursor was.
    eng_.SetFiltered(false);
    EXPECT_EQ(eng_.RecordCount(), live);
    const std::vector<int32_t> order =
        test::ExpectedOrder(eng_.Definition(), *t_, eng_.CurrentIndex());
    ASSERT_NE(eng_.CurrentRecordNumber(), -1);
    const auto rank =
        std::find(order.begin(), order.end(), eng_.CurrentRecordNumber()) - order.begin();
    EXPECT_EQ(eng_.CurrentPosition(), rank + 1);
    eng_.First();
    for (size_t k = 0; k < order.size(); ++k, eng_.Next())
      ASSERT_EQ(eng_.CurrentRecordNumber(), order[k]);
  }
}

TEST_P(FilteredCursor, NothingPasses) {
  Make(21, 40);
  tests_.nothing_passes = true;
  eng_.SetFiltered(true);
  EXPECT_EQ(eng_.RecordCount(), 0);
  EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
  EXPECT_TRUE(eng_.IsBOF() && eng_.IsEOF());
  ExpectWalks({});
  eng_.SetCurrentIndex(eng_.Definition().IndexCount() - 1);
  EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
  EXPECT_EQ(eng_.RecordCount(), 0);
  EXPECT_FALSE(eng_.GoToRecord(t_->Live().front()));

  // Off again: a current record and the whole index to walk.
  eng_.SetFiltered(false);
  const std::vector<int32_t> order =
      test::ExpectedOrder(eng_.Definition(), *t_, eng_.CurrentIndex());
  EXPECT_NE(eng_.CurrentRecordNumber(), -1);
  EXPECT_EQ(eng_.RecordCount(), 40);
  eng_.First();
  for (size_t k = 0; k < order.size(); ++k, eng_.Next())
    ASSERT_EQ(eng_.CurrentRecordNumber(), order[k]);
}

TEST_P(FilteredCursor, EitherTestAlone) {
  Make(22, 60);
  for (int32_t r : t_->Live())
    if (IdOf(r) % 2 == 0) tests_.rejected.insert(IdOf(r));
  // Only the record-event test.
  eng_.FilterList().SetUseExpressionTest(false);
  eng_.SetFiltered(true);
  std::vector<int32_t> expected;
  for (int32_t r : test::ExpectedOrder(eng_.Definition(), *t_, 0))
    if (tests_.rejected.count(IdOf(r)) == 0) expected.push_back(r);
  EXPECT_EQ(tests_.expression_calls, 0);
  EXPECT_EQ(eng_.RecordCount(), static_cast<int32_t>(expected.size()));
  ExpectWalks(expected);
  eng_.SetFiltered(false);
  // Only the expression.
  eng_.FilterList().SetUseExpressionTest(true);
  eng_.FilterList().SetUseRecordEventTest(false);
  eng_.SetFiltered(true);
  EXPECT_EQ(eng_.RecordCount(), static_cast<int32_t>(VisibleOrder(0).size()));
  ExpectWalks(VisibleOrder(0));
}

TEST(FilteredCursorSetup, FilteringNeedsATest) {
  TTestTable t;
  test::MakeLogTable(t, 4.0, {test::Live(1), test::Live(2)});
  TmtbDBEng eng;
  ASSERT_GE(eng.OpenTable(t.mti, kOpenReadShared, 0), 0);
  try {
    eng.SetFiltered(true);
    ADD_FAILURE() << "filtering without a test";
  } catch (const EDedaZiDBError& e) {
    EXPECT_STREQ(e.what(), msg::kFilterOperations);
  }
  EXPECT_FALSE(eng.Filtered());
  EXPECT_EQ(eng.RecordCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, FilteredCursor, ::testing::Values(2.0, 4.0),
                         [](const auto& info) {
                           return info.param < 3 ? "SmallPages" : "LargePages";
                         });

}  // namespace
}  // namespace logvane
