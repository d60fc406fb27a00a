// The engine's cursor over random tables of both formats, against a model
// computed from the slots: every index walked both ways, moves by position,
// going to records, locating by field values with and without an index;
// then the edge cases of tiny tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "engine/db_engine.h"
#include "table/keys.h"
#include "table_maker.h"

namespace logvane {
namespace {

using test::Free;
using test::Live;
using test::TTestTable;

// The cursor stands on order[k]: record, position (which reads the index's
// own cursor) and image.
void ExpectAt(TmtbDBEng& e, const TTestTable& t, const std::vector<int32_t>& order, size_t k) {
  ASSERT_LT(k, order.size());
  ASSERT_EQ(e.CurrentRecordNumber(), order[k]) << "at place " << k + 1;
  ASSERT_EQ(e.CurrentPosition(), static_cast<int32_t>(k + 1));
  ASSERT_EQ(std::memcmp(e.CurrentImage(), t.slots[order[k]].data(), t.slots[order[k]].size()), 0);
}

int32_t Rank(const std::vector<int32_t>& order, int32_t r) {
  auto it = std::find(order.begin(), order.end(), r);
  return it == order.end() ? -1 : static_cast<int32_t>(it - order.begin());
}

// Whether `rec` agrees with the search image on `fields`, the last one on at
// most `partial` characters when it is a text.
bool Agrees(const tools::TableDescription& desc, const uint8_t* rec, const uint8_t* img,
            const std::vector<int>& fields, bool ci, int partial) {
  for (size_t k = 0; k < fields.size(); ++k) {
    const int f = fields[k];
    if (rec[f] != img[f]) return false;
    if (rec[f] != kValueFlag) continue;
    const tools::FieldDescription& fs = desc.fields[f];
    const uint8_t* a = rec + fs.offset;
    const uint8_t* b = img + fs.offset;
    if (fs.type != 'S') {
      if (std::memcmp(a, b, StoredWidth(fs.type)) != 0) return false;
      continue;
    }
    int count = fs.size - 1;
    if (k + 1 == fields.size() && partial > 0 && partial < count) count = partial;
    for (int i = 0; i < count; ++i) {
      uint8_t x = a[i], y = b[i];
      if (ci) {  // a-z folds to A-Z, nothing else
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
      }
      if (x != y) return false;
      if (x == 0) break;
    }
  }
  return true;
}

class RandomCursor : public test::RandomTableTest {
 protected:
  void Make(uint32_t seed, int live) {
    OpenRandom(seed, live);
    orders_.clear();
    for (int j = 0; j < eng_.Definition().IndexCount(); ++j)
      orders_.push_back(test::ExpectedOrder(eng_.Definition(), *t_, j));
  }

  void CheckWalks(int j);
  void CheckMoves(int j, test::TRandomTables& rnd);
  void CheckGoToRecord(int j, test::TRandomTables& rnd);
  void CheckLocate(int j, test::TRandomTables& rnd);

  std::vector<std::vector<int32_t>> orders_;
};

// Straight after selecting the index (no First), then back from Last.
void RandomCursor::CheckWalks(int j) {
  SCOPED_TRACE("walks");
  const std::vector<int32_t>& order = orders_[j];
  const size_t n = order.size();
  ASSERT_EQ(eng_.RecordCount(), static_cast<int32_t>(n));
  for (size_t k = 0; k < n; ++k) {
    ExpectAt(eng_, *t_, order, k);
    ASSERT_FALSE(eng_.IsEOF());
    eng_.Next();
  }
  if (n == 0) {
    EXPECT_TRUE(eng_.IsBOF() && eng_.IsEOF());
    EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
    EXPECT_EQ(eng_.CurrentPosition(), 0);
    return;
  }
  EXPECT_TRUE(eng_.IsEOF());
  ExpectAt(eng_, *t_, order, n - 1);
  eng_.Last();
  for (size_t k = n; k-- > 0;) {
    ExpectAt(eng_, *t_, order, k);
    ASSERT_FALSE(eng_.IsBOF());
    eng_.Prior();
  }
  EXPECT_TRUE(eng_.IsBOF());
  ExpectAt(eng_, *t_, order, 0);
  // Turning round in the middle.
  eng_.First();
  for (size_t k = 0; k < n / 2; ++k) eng_.Next();
  eng_.Prior();
  ExpectAt(eng_, *t_, order, n / 2 == 0 ? 0 : n / 2 - 1);
}

void RandomCursor::CheckMoves(int j, test::TRandomTables& rnd) {
  SCOPED_TRACE("moves");
  const std::vector<int32_t>& order = orders_[j];
  const auto n = static_cast<int32_t>(order.size());
  for (int x = 0; x < 40; ++x) {
    const int32_t target = rnd.Uniform(-1, n + 2);
    const int32_t before = eng_.CurrentPosition();
    const int32_t moved = eng_.MoveToPosition(target);
    if (target == -1 || n == 0) {
      ASSERT_EQ(moved, 0);
      ASSERT_EQ(eng_.CurrentPosition(), before);
      continue;
    }
    const int32_t expected = std::clamp(target, 1, n);
    ASSERT_EQ(moved, expected - before) << "from " << before << " to " << target;
    ExpectAt(eng_, *t_, order, expected - 1);
    if (target > n) {
      EXPECT_TRUE(eng_.IsEOF());
    }
    if (target < 1) {
      EXPECT_TRUE(eng_.IsBOF());
    }
  }
}

// Every live record is found where the index puts it; free slots and
// numbers outside the file are refused without disturbing the cursor.
void RandomCursor::CheckGoToRecord(int j, test::TRandomTables& rnd) {
  SCOPED_TRACE("go to record");
  const std::vector<int32_t>& order = orders_[j];
  const auto n = static_cast<int32_t>(order.size());
  const auto slots = static_cast<int32_t>(t_->slots.size());
  std::vector<int32_t> refused = {-1, slots, slots + 7};
  for (int32_t s = 0; s < slots; ++s)
    if (t_->slots[s][0] == kFreeRecordMarker) refused.push_back(s);
  for (int32_t k = 0; k < std::min(n, 60); ++k) {
    const int32_t r = order[rnd.Uniform(0, n - 1)];
    const int32_t rank = Rank(order, r);
    ASSERT_TRUE(eng_.GoToRecord(r)) << "record " << r;
    ExpectAt(eng_, *t_, order, rank);
    EXPECT_FALSE(eng_.IsBOF() || eng_.IsEOF());
    eng_.Next();
    const int32_t now = rank + 1 < n ? rank + 1 : rank;
    ExpectAt(eng_, *t_, order, now);

    const int32_t bad = refused[rnd.Uniform(0, static_cast<int>(refused.size()) - 1)];
    ASSERT_FALSE(eng_.GoToRecord(bad)) << "slot " << bad;
    ExpectAt(eng_, *t_, order, now);
    eng_.Prior();
    ExpectAt(eng_, *t_, order, now > 0 ? now - 1 : 0);
  }
}

void RandomCursor::CheckLocate(int j, test::TRandomTables& rnd) {
  SCOPED_TRACE("locate");
  const TmtbTableDef& def = eng_.Definition();
  const tools::TableDescription& desc = t_->desc;
  const std::vector<int32_t>& order = orders_[j];
  const auto n = static_cast<int32_t>(order.size());
  const int length = desc.RecordLength();
  for (int x = 0; x < 30 && n > 0; ++x) {
    // The leading key fields of some index, in any order, taken from a
    // record, its texts' case changed, sometimes changed to miss.
    const int xi = rnd.Uniform(0, def.IndexCount() - 1);
    const TmtbIndexDesc& xd = def.Index(xi);
    std::vector<int> fields(xd.key_fields.begin(),
                            xd.key_fields.begin() + rnd.Uniform(1, xd.key_field_count));
    std::shuffle(fields.begin(), fields.end(), rnd.Rng());
    const bool ci = rnd.Chance(0.8) ? IsCaseInsensitive(def, xi) : rnd.Chance(0.5);
    const bool use_index = rnd.Chance(0.7);
    int index = use_index ? eng_.FindIndexForFields(fields, ci) : -1;

    const std::vector<uint8_t>& src = t_->slots[order[rnd.Uniform(0, n - 1)]];
    std::vector<uint8_t> image(length, 0);
    for (int f : fields) {
      const tools::FieldDescription& fs = desc.fields[f];
      image[f] = src[f];
      std::memcpy(&image[fs.offset], &src[fs.offset], fs.size);
      if (fs.type == 'S' && ci)
        for (int i = 0; i < fs.size; ++i)
          if (std::isalpha(image[fs.offset + i]) && rnd.Chance(0.5)) image[fs.offset + i] ^= 0x20;
    }
    int partial = 0;
    const tools::FieldDescription& last = desc.fields[fields.back()];
    if (last.type == 'S' && image[fields.back()] == kValueFlag && rnd.Chance(0.5)) {
      const int len =
          static_cast<int>(strnlen(reinterpret_cast<const char*>(&image[last.offset]), last.size));
      if (len > 0) {
        partial = rnd.Uniform(1, len);
        std::fill(&image[last.offset + partial], &image[last.offset + last.size], 0);
      }
    }
    if (rnd.Chance(0.25)) {
      const tools::FieldDescription& first = desc.fields[fields.front()];
      image[fields.front()] = kValueFlag;
      if (first.type == 'I' || first.type == 'A')
        PutInt32(&image[first.offset], rnd.Uniform(-9, 9) * 1000003);
      if (first.type == 'S') image[first.offset] = 'q';
    }
    // A partial key over a descending index is searched without it, as
    // the table component does.
    if (partial > 0 && index >= 0 && IsDescending(def, index)) index = -1;

    const std::vector<int32_t>& walk = index >= 0 ? orders_[index] : order;
    int32_t expected = -1;
    for (int32_t r : walk)
      if (Agrees(desc, t_->slots[r].data(), image.data(), fields, ci, partial)) {
        expected = r;
        break;
      }

    eng_.MoveToPosition(rnd.Uniform(1, n));
    const int32_t before = eng_.CurrentRecordNumber();
    const bool bof = eng_.IsBOF(), eof = eng_.IsEOF();
    const bool move = rnd.Chance(0.5);
    std::vector<uint8_t> given = image;
    const bool found = eng_.Locate(fields, given.data(), ci, partial, move, index);
    SCOPED_TRACE(::testing::Message()
                 << "index " << index << " fields " << ::testing::PrintToString(fields) << " ci "
                 << ci << " partial " << partial << " move " << move);
    ASSERT_EQ(found, expected >= 0);
    if (found) {
      EXPECT_EQ(std::memcmp(given.data(), t_->slots[expected].data(), length), 0);
    }
    if (found && move) {
      ExpectAt(eng_, *t_, order, Rank(order, expected));
      EXPECT_FALSE(eng_.IsEOF());
    } else {
      ExpectAt(eng_, *t_, order, Rank(order, before));
      EXPECT_EQ(eng_.IsBOF(), bof);
      EXPECT_EQ(eng_.IsEOF(), eof);
    }
    // The index's own cursor went along.
    const int32_t at = eng_.CurrentPosition();
    eng_.Next();
    ExpectAt(eng_, *t_, order, std::min(at, n - 1));
  }
}

// Seeds 1 and 2 make a table without records and one with a single record.
TEST_P(RandomCursor, AgreesWithTheModel) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    test::TRandomTables rnd(seed * 7919);
    const int live = seed == 1 ? 0 : seed == 2 ? 1 : rnd.Uniform(2, seed % 2 ? 60 : 600);
    Make(seed, live);
    for (int j = 0; j < eng_.Definition().IndexCount(); ++j) {
      SCOPED_TRACE(::testing::Message()
                   << "seed " << seed << " index " << j << " records " << live);
      eng_.SetCurrentIndex(j);
      ASSERT_EQ(eng_.CurrentIndex(), j);
      CheckWalks(j);
      CheckMoves(j, rnd);
      CheckGoToRecord(j, rnd);
      CheckLocate(j, rnd);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RandomCursor, ::testing::Values(2.0, 4.0),
                         [](const auto& info) {
                           return info.param < 3 ? "SmallPages" : "LargePages";
                         });

// Tiny fixed tables.
class SmallCursor : public ::testing::TestWithParam<double> {
 protected:
  void Make(const std::vector<test::TSlot>& slots, bool descending_primary = false) {
    eng_.CloseTable();
    test::MakeLogTable(t_, GetParam(), slots, {}, descending_primary);
    ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  }
  int32_t Id() { return GetInt32(eng_.CurrentImage() + t_.desc.fields[0].offset); }

  TTestTable t_;
  TmtbDBEng eng_;
};

TEST_P(SmallCursor, EmptyTable) {
  // With no slots at all, and with free slots only.
  for (const auto& slots : {std::vector<test::TSlot>{}, {Free(1), Free(-1)}}) {
    Make(slots);
    for (int j = 0; j < 3; ++j) {
      eng_.SetCurrentIndex(j);
      EXPECT_TRUE(eng_.IsBOF() && eng_.IsEOF());
      EXPECT_EQ(eng_.RecordCount(), 0);
      EXPECT_EQ(eng_.CurrentPosition(), 0);
      EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
      EXPECT_TRUE(eng_.IsRangeEmpty());
      eng_.Last();
      eng_.Next();
      eng_.Prior();
      eng_.First();
      EXPECT_EQ(eng_.MoveToPosition(3), 0);
      EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
      EXPECT_FALSE(eng_.GoToRecord(0));
      std::vector<uint8_t> image(t_.desc.RecordLength(), 0);
      std::vector<int> fields = {0};
      EXPECT_FALSE(eng_.Locate(fields, image.data(), false, 0, true, -1));
      try {
        eng_.Locate(fields, image.data(), false, 0, true, 0);
        ADD_FAILURE() << "an indexed locate without a current record";
      } catch (const EDedaZiDBError& e) {
        EXPECT_STREQ(e.what(), msg::kCurrentRangeEmpty);
      }
    }
  }
}

TEST_P(SmallCursor, MoveBeyondTheEndStopsOnTheLast) {
  Make({Live(30), Live(10), Live(20)});
  EXPECT_EQ(eng_.CurrentPosition(), 1);
  EXPECT_EQ(eng_.MoveToPosition(5), 2);
  EXPECT_TRUE(eng_.IsEOF());
  EXPECT_EQ(Id(), 30);
  EXPECT_EQ(eng_.CurrentPosition(), 3);
  EXPECT_EQ(eng_.MoveToPosition(-1), 0);
  EXPECT_EQ(eng_.MoveToPosition(0), -2);
  EXPECT_TRUE(eng_.IsBOF());
  EXPECT_EQ(Id(), 10);
}

TEST_P(SmallCursor, DescendingIndexStartsAtTheHighestKey) {
  if (GetParam() < 4) GTEST_SKIP() << "index options are stored from format version 4 on";
  Make({Live(1), Live(6), Live(3), Live(4)});  // bands 1, 2, 3, 0
  eng_.SetCurrentIndex(2);
  EXPECT_EQ(Id(), 3);
  // Its low bound record carries the after-all marker in the key field.
  EXPECT_EQ(eng_.WorkBuffer(1)[2], kBoundFlag);
  eng_.Last();
  EXPECT_EQ(Id(), 4);

  // A descending primary key.
  Make({Live(1), Live(6), Live(3)}, true);
  EXPECT_EQ(Id(), 6);
  eng_.Next();
  EXPECT_EQ(Id(), 3);
}

// An ascending index over a descending primary key: the search record's
// unset primary key must sort before the records it is meant to find.
TEST_P(SmallCursor, LocateOnAnAscendingIndexOverADescendingPrimary) {
  if (GetParam() < 4) GTEST_SKIP() << "index options are stored from format version 4 on";
  Make({Live(7), Live(33), Live(8), Live(59)}, true);  // calls Ch, Chb, Ci, Chc
  std::vector<int> fields = {1};
  const int index = eng_.FindIndexForFields(fields, true);
  ASSERT_EQ(index, 1);
  tools::TRecordBuilder b(t_.desc);
  std::vector<uint8_t> image = b.Clear().SetString(1, "ci").Image();
  EXPECT_TRUE(eng_.Locate(fields, image.data(), true, 0, true, index));
  EXPECT_EQ(Id(), 8);
  image = b.Clear().SetString(1, "CH").Image();
  EXPECT_TRUE(eng_.Locate(fields, image.data(), true, 2, false, index));
  EXPECT_EQ(GetInt32(image.data() + t_.desc.fields[0].offset), 7)
      << "the first Ch... in the index's order";
  EXPECT_EQ(Id(), 8) << "not moved";
}

// A field list matches an index when it is that index's leading key fields
// in any order and the index's case rule is the one asked for; the indexes
// are tried from the last one.
TEST(FindIndexForFields, ChoosesFromTheLastIndex) {
  TTestTable t;
  t.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Call", 'S', 10),
                   tools::MakeField("Band", 'I')};
  t.desc.indexes = {{"Primary", {0}, kIndexPrimary},
                    {"CallCi", {1}, kIndexCaseInsensitive},
                    {"CallBand", {1, 2}, 0},
                    {"BandCall", {2, 1}, kIndexDescending}};
  t.desc.LayOut();
  t.Build();
  TmtbDBEng eng;
  ASSERT_GE(eng.OpenTable(t.mti, kOpenReadShared, 0), 0);
  std::vector<int> f = {1};
  EXPECT_EQ(eng.FindIndexForFields(f, true), 1);
  f = {1};
  EXPECT_EQ(eng.FindIndexForFields(f, false), 2);
  f = {1, 2};
  EXPECT_EQ(eng.FindIndexForFields(f, false), 3);
  EXPECT_EQ(f, (std::vector<int>{2, 1}));
  f = {2};
  EXPECT_EQ(eng.FindIndexForFields(f, false), 3);
  f = {0};
  EXPECT_EQ(eng.FindIndexForFields(f, false), 0);
  f = {0};
  EXPECT_EQ(eng.FindIndexForFields(f, true), -1);
  f = {1, 0};
  EXPECT_EQ(eng.FindIndexForFields(f, false), -1);
  EXPECT_EQ(f, (std::vector<int>{1, 0})) << "left as it was";
  f = {};
  EXPECT_EQ(eng.FindIndexForFields(f, false), -1);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, SmallCursor, ::testing::Values(2.0, 4.0),
                         [](const auto& info) {
                           return info.param < 3 ? "SmallPages" : "LargePages";
                         });

}  // namespace
}  // namespace logvane
