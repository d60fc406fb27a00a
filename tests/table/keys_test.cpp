// Key order, key prefix layouts and encodings, and the agreement of prefix
// comparisons with full comparisons over random tables.
#include "table/keys.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/messages.h"
#include "platform/exceptions.h"
#include "test_support.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using tools::IndexDescription;
using tools::MakeField;
using tools::TableDescription;
using tools::TRecordBuilder;
using Image = std::vector<uint8_t>;

int Sign(int v) { return (v > 0) - (v < 0); }

class KeysTest : public ::testing::Test {
 protected:
  // Writes the definition and reads it back as an open would.
  const TmtbTableDef& Load(const TableDescription& desc) {
    desc_ = desc;
    desc_.LayOut();
    tools::WriteDefinition(path_, desc_);
    platform::File f;
    EXPECT_EQ(f.Open(path_, 0x40), 0);
    ReadTableDefinition(f, def_);
    return def_;
  }
  TRecordBuilder Builder() const { return TRecordBuilder(desc_); }

  int Keys(const Image& x, const Image& y, int index, bool tie = true) const {
    return Sign(CompareKeys(def_, x.data(), y.data(), tie, index));
  }
  std::array<uint8_t, kKeyPrefixSize> Prefix(const Image& r, int index) const {
    std::array<uint8_t, kKeyPrefixSize> p;
    BuildKeyPrefix(def_, index, r.data(), p.data());
    return p;
  }
  int PrefixCmp(const Image& probe, const Image& stored, int index) const {
    return Sign(ComparePrefix(def_, probe.data(), Prefix(stored, index).data(), index));
  }
  // A nonzero prefix answer must agree with the full comparison.
  void ExpectAgrees(const Image& probe, const Image& stored, int index) const {
    int p = PrefixCmp(probe, stored, index);
    if (p != 0) {
      EXPECT_EQ(p, Keys(probe, stored, index)) << "index " << index;
    }
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("K.mti");
  TableDescription desc_;
  TmtbTableDef def_;
};

// --- Order -----------------------------------------------------------------

TEST_F(KeysTest, NullValueAndBoundOrderFollowTheDirection) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("Val", 'I')};
  desc.indexes = {{"Id", {0}, 0}, {"Up", {1}, 0}, {"Down", {1}, kIndexDescending}};
  Load(desc);
  Image null_val = Builder().SetInt(0, 1).Image();
  Image low = Builder().SetInt(0, 2).SetInt(1, -5).Image();
  Image high = Builder().SetInt(0, 3).SetInt(1, 7).Image();
  Image bound = Builder().SetInt(0, 4).SetInt(1, 0).Image();
  bound[1] = kBoundFlag;

  EXPECT_LT(Keys(null_val, low, 1), 0);
  EXPECT_LT(Keys(low, high, 1), 0);
  EXPECT_GT(Keys(bound, high, 1), 0);
  EXPECT_GT(Keys(null_val, low, 2), 0);
  EXPECT_GT(Keys(low, high, 2), 0);
  EXPECT_LT(Keys(bound, high, 2), 0);

  for (int index : {0, 1, 2}) {
    Image before(def_.RecordLength()), after(def_.RecordLength());
    MakeBoundRecord(def_, before.data(), index, true);
    MakeBoundRecord(def_, after.data(), index, false);
    for (const Image* r : {&null_val, &low, &high}) {
      EXPECT_LT(Keys(before, *r, index), 0) << index;
      EXPECT_GT(Keys(after, *r, index), 0) << index;
      ExpectAgrees(before, *r, index);
      ExpectAgrees(after, *r, index);
    }
  }
}

TEST_F(KeysTest, SecondaryTiesFollowThePrimaryKeyInItsDirection) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("Call", 'S', 8)};
  desc.indexes = {
      {"Id", {0}, kIndexDescending}, {"Call", {1}, 0}, {"CallDown", {1}, kIndexDescending}};
  Load(desc);
  Image a = Builder().SetInt(0, 1).SetString(1, "K1AB").Image();
  Image b = Builder().SetInt(0, 2).SetString(1, "K1AB").Image();
  for (int index : {1, 2}) {
    EXPECT_EQ(Keys(a, b, index, false), 0);
    EXPECT_GT(Keys(a, b, index), 0) << "the primary key is descending in every index";
    EXPECT_GT(PrefixCmp(a, b, index), 0);
  }
  EXPECT_EQ(Keys(a, a, 1), 0);
}

TEST_F(KeysTest, CaseFoldingCoversOnlyAsciiLetters) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("Name", 'S', 8)};
  desc.indexes = {{"Id", {0}, 0}, {"Name", {1}, kIndexCaseInsensitive}};
  Load(desc);
  auto rec = [&](int id, const char* s) { return Builder().SetInt(0, id).SetString(1, s).Image(); };
  EXPECT_EQ(Keys(rec(1, "abc"), rec(2, "ABC"), 1, false), 0);
  EXPECT_LT(Keys(rec(1, "abc"), rec(2, "ABC"), 1), 0);  // the primary key decides
  Image lower = rec(1, "abc"), upper = rec(1, "ABC");
  EXPECT_GT(CompareField(def_, lower.data(), upper.data(), false, 0, 0, 1), 0);
  EXPECT_NE(Keys(rec(1, "\xE9"), rec(1, "\xC9"), 1), 0);  // accented letters are not folded
  EXPECT_NE(Keys(rec(1, "{"), rec(1, "["), 1), 0);
  EXPECT_NE(Keys(rec(1, "`"), rec(1, "@"), 1), 0);
  EXPECT_GT(Keys(rec(1, "\xE9"), rec(1, "z"), 1), 0);  // unsigned bytes
  EXPECT_LT(PrefixCmp(rec(1, "abc"), rec(2, "ABD"), 1), 0);
  EXPECT_LT(PrefixCmp(rec(1, "abc"), rec(2, "ABC"), 1), 0);

  Image x = rec(1, "abcd"), y = rec(1, "abcx");
  EXPECT_EQ(CompareField(def_, x.data(), y.data(), false, 0, 3, 1), 0);
  EXPECT_LT(CompareField(def_, x.data(), y.data(), false, 0, 4, 1), 0);
  EXPECT_LT(CompareField(def_, x.data(), y.data(), false, 0, 200, 1), 0);
}

TEST_F(KeysTest, FloatDifferencesRoundToTheSixByteReal) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("F", 'F'), MakeField("R", 'R')};
  desc.indexes = {{"F", {1, 0}, 0}, {"R", {2}, 0}};
  Load(desc);
  auto f = [&](int id, double v) { return Builder().SetInt(0, id).SetFloat(1, v).Image(); };
  EXPECT_EQ(Keys(f(1, 1e-40), f(1, 0), 0), 0);
  EXPECT_EQ(Keys(f(1, 2e-40), f(1, -1e-40), 0), 0);
  EXPECT_GT(Keys(f(1, 0x1p-127), f(1, 0), 0), 0);
  // Equal under rounding, so the next segment decides, in both comparisons.
  EXPECT_LT(PrefixCmp(f(1, 1e-40), f(2, 0), 0), 0);
  EXPECT_GT(PrefixCmp(f(3, 0), f(2, -1e-40), 0), 0);

  EXPECT_THROW(Keys(f(1, 0x1p127), f(1, 0), 0), EOverflow);
  EXPECT_THROW(Keys(f(1, 0x1p126), f(1, -0x1p126), 0), EOverflow);
  EXPECT_EQ(Keys(f(1, 0x1p126), f(1, 0), 0), 1);
  auto r = [&](double v) { return Builder().SetFloat(2, v).Image(); };
  EXPECT_THROW(Keys(r(0x1.8p126), r(-0x1.8p126), 1), EOverflow);
  EXPECT_LT(Keys(r(-2.5), r(1.0), 1), 0);
}

TEST_F(KeysTest, TypesWithoutAnOrderFailOnlyWhenBothArePresent) {
  TableDescription desc;
  desc.fields = {MakeField("Memo", 'M')};
  desc.indexes = {{"Memo", {0}, 0}};
  Load(desc);
  Image x = Builder().SetInt(0, 1).Image(), y = Builder().SetInt(0, 2).Image();
  try {
    Keys(x, y, 0);
    ADD_FAILURE() << "no error";
  } catch (const EDedaZiDBError& e) {
    EXPECT_STREQ(e.what(), msg::kInternalTableOperations);
  }
  EXPECT_EQ(PrefixCmp(x, y, 0), 0);
  EXPECT_GT(Keys(x, Builder().Image(), 0), 0);
}

// --- Prefix layout -----------------------------------------------------------

struct Seg {
  int field, length, offset, owner;
  bool operator==(const Seg&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Seg& s) {
  return o << "{" << s.field << "," << s.length << "," << s.offset << "," << s.owner << "}";
}
std::vector<Seg> Layout(const TmtbTableDef& def, int index) {
  std::vector<Seg> out;
  const TmtbIndexDesc& d = def.Index(index);
  for (int k = 0; k < d.prefix_segment_count; ++k) {
    const TKeyPrefixSegment& s = d.prefix_segments[k];
    out.push_back({s.field, s.length, s.offset, s.owner});
  }
  return out;
}

TEST_F(KeysTest, TheDefinitionReaderBuildsEveryPrefixLayout) {
  TableDescription desc;
  desc.fields = {MakeField("I0", 'I'),       MakeField("I1", 'I'),       MakeField("I2", 'I'),
                 MakeField("Long", 'S', 30), MakeField("B", 'B'),        MakeField("D", 'D'),
                 MakeField("R", 'R'),        MakeField("Short", 'S', 5), MakeField("Ten", 'S', 10)};
  desc.indexes = {{"P", {0, 1, 2}, 0},  {"Long", {3, 0}, 0}, {"B", {4}, 0},
                  {"IR", {0, 6, 1}, 0}, {"Short", {7}, 0},   {"Ten", {8}, 0},
                  {"ILong", {1, 3}, 0}, {"RD", {6, 5}, 0},   {"I", {2}, kIndexDescending}};
  Load(desc);
  EXPECT_EQ(Layout(def_, 0), (std::vector<Seg>{{0, 4, 0, 0}, {1, 4, 4, 0}, {2, 4, 8, 0}}));
  EXPECT_EQ(Layout(def_, 1), (std::vector<Seg>{{3, 12, 0, 1}}));  // a cut text fills the prefix
  EXPECT_EQ(Layout(def_, 2), (std::vector<Seg>{{4, 1, 0, 2}, {0, 4, 1, 0}, {1, 4, 5, 0}}));
  EXPECT_EQ(Layout(def_, 3), (std::vector<Seg>{{0, 4, 0, 3}, {6, 6, 4, 3}}));  // I1 does not fit
  EXPECT_EQ(Layout(def_, 4), (std::vector<Seg>{{7, 5, 0, 4}, {0, 4, 5, 0}}));  // I1 does not fit
  EXPECT_EQ(Layout(def_, 5), (std::vector<Seg>{{8, 10, 0, 5}}));
  EXPECT_EQ(Layout(def_, 6), (std::vector<Seg>{{1, 4, 0, 6}, {3, 8, 4, 6}}));
  EXPECT_EQ(Layout(def_, 7), (std::vector<Seg>{{6, 6, 0, 7}}));
  EXPECT_EQ(Layout(def_, 8), (std::vector<Seg>{{2, 4, 0, 8}, {0, 4, 4, 0}, {1, 4, 8, 0}}));

  TableDescription two;
  two.fields = {MakeField("A", 'I'), MakeField("Name", 'S', 6)};
  two.indexes = {{"P", {0}, 0}, {"N", {1}, 0}, {"PN", {0, 1}, 0}};
  Load(two);
  EXPECT_EQ(Layout(def_, 0), (std::vector<Seg>{{0, 4, 0, 0}}));  // the primary key ends it
  EXPECT_EQ(Layout(def_, 1), (std::vector<Seg>{{1, 6, 0, 1}, {0, 4, 6, 0}}));
  EXPECT_EQ(Layout(def_, 2), (std::vector<Seg>{{0, 4, 0, 2}, {1, 6, 4, 2}}));  // then A: no room
}

// --- Prefix encodings and decisions --------------------------------------------

TEST_F(KeysTest, PrefixEncodings) {
  TableDescription desc;
  desc.fields = {MakeField("I", 'I'), MakeField("D", 'D'), MakeField("B", 'B'),
                 MakeField("S", 'S', 3), MakeField("R", 'R')};
  desc.indexes = {{"ID", {0, 1}, 0}, {"BS", {2, 3}, 0}, {"R", {4}, 0}};
  Load(desc);
  using P = std::array<uint8_t, 12>;
  EXPECT_EQ(Prefix(Builder().SetInt(0, -1).SetFloat(1, 0.0).Image(), 0),
            (P{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(Prefix(Builder().SetInt(0, 5).SetFloat(1, -0.0).Image(), 0),
            (P{0x05, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(Prefix(Builder().Image(), 0), P{});
  // B at 0, S at 1..3, then I (index 0's key) at 4..7; D does not fit.
  EXPECT_EQ(Prefix(Builder().SetBool(2, false).SetString(3, "ab").SetInt(0, 0).Image(), 1),
            (P{2, 'a', 'b', 0, 0, 0, 0, 0x80, 0, 0, 0, 0}));
  EXPECT_EQ(Prefix(Builder().SetBool(2, true).Image(), 1)[0], 3);
  P zero_real = Prefix(Builder().SetFloat(4, 0.0).Image(), 2);
  EXPECT_NE(zero_real, P{}) << "a present zero must differ from null";
}

TEST_F(KeysTest, SegmentsThatCannotTellStopTheComparison) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("S", 'S', 5), MakeField("B", 'B'),
                 MakeField("Long", 'S', 20), MakeField("D", 'D')};
  desc.indexes = {{"Id", {0}, 0}, {"S", {1}, 0}, {"B", {2}, 0}, {"Long", {3}, 0}, {"D", {4}, 0}};
  Load(desc);
  // An empty text and a null both leave zero bytes; a null record's slot
  // holds whatever was there.
  Image empty = Builder().SetInt(0, 1).SetString(1, "").Image();
  Image null_s = Builder().SetInt(0, 9).Image();
  Image junk_null = Builder().SetInt(0, 1).SetString(1, "zzzz").Image();
  junk_null[1] = kNullFlag;
  Image text = Builder().SetInt(0, 5).SetString(1, "abc").Image();
  EXPECT_GT(Keys(empty, null_s, 1), 0);
  EXPECT_EQ(PrefixCmp(empty, null_s, 1), 0);
  EXPECT_EQ(PrefixCmp(null_s, empty, 1), 0);
  EXPECT_LT(PrefixCmp(junk_null, text, 1), 0);
  EXPECT_GT(PrefixCmp(text, null_s, 1), 0);
  EXPECT_LT(PrefixCmp(Builder().SetInt(0, 1).SetString(1, "abcd").Image(),
                      Builder().SetInt(0, 2).SetString(1, "abcd").Image(), 1),
            0);  // the whole text fits: equal, so the primary key decides

  Image f = Builder().SetInt(0, 1).SetBool(2, false).Image();
  Image null_b = Builder().SetInt(0, 9).Image();
  Image t = Builder().SetInt(0, 0).SetBool(2, true).Image();
  EXPECT_GT(PrefixCmp(f, null_b, 2), 0);
  EXPECT_LT(PrefixCmp(null_b, f, 2), 0);
  EXPECT_LT(PrefixCmp(f, t, 2), 0);

  // Texts agreeing on the 12 bytes of a cut segment.
  Image l1 = Builder().SetInt(0, 1).SetString(3, "ABCDEFGHIJKLzz").Image();
  Image l2 = Builder().SetInt(0, 2).SetString(3, "ABCDEFGHIJKLaa").Image();
  EXPECT_EQ(PrefixCmp(l1, l2, 3), 0);
  EXPECT_GT(Keys(l1, l2, 3), 0);

  Image d0 = Builder().SetInt(0, 1).SetFloat(4, 0.0).Image();
  Image dnull = Builder().SetInt(0, 0).Image();
  EXPECT_GT(PrefixCmp(d0, dnull, 4), 0);
  EXPECT_LT(PrefixCmp(dnull, d0, 4), 0);
}

// Bytes this engine does not write itself: a true stored as another nonzero
// byte, and a 6-byte real zero kept as plain zero bytes.
TEST_F(KeysTest, PrefixesFromOtherWritersNeverContradict) {
  TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("B", 'B'), MakeField("R", 'R')};
  desc.indexes = {{"Id", {0}, 0}, {"B", {1}, 0}, {"R", {2}, 0}};
  Load(desc);
  Image odd_true = Builder().SetInt(0, 1).SetBool(1, true).Image();
  odd_true[def_.FieldOffset(1)] = 2;
  Image probe = Builder().SetInt(0, 9).SetBool(1, true).Image();
  EXPECT_LT(Keys(probe, odd_true, 1), 0);
  EXPECT_EQ(PrefixCmp(probe, odd_true, 1), 0);

  Image zero = Builder().SetInt(0, 1).SetFloat(2, 0.0).Image();
  auto plain = Prefix(zero, 2);
  plain[5] = 0;  // the zero's marker gone: null or zero
  for (const Image& r :
       {Builder().SetInt(0, 9).Image(), Builder().SetInt(0, 9).SetFloat(2, -1).Image(),
        Builder().SetInt(0, 0).SetFloat(2, 0).Image()}) {
    EXPECT_LT(Keys(r, zero, 2), 0);
    EXPECT_EQ(ComparePrefix(def_, r.data(), plain.data(), 2), 0);
  }
  Image positive = Builder().SetInt(0, 0).SetFloat(2, 0.5).Image();
  EXPECT_GT(ComparePrefix(def_, positive.data(), plain.data(), 2), 0);
}

// --- Random tables ----------------------------------------------------------------

// Prefix answers must agree with full comparisons for every pair of records,
// every index, and for bound records as probes.
class RandomTable {
 public:
  explicit RandomTable(uint32_t seed) : rng_(seed) {}

  TableDescription Spec() {
    const std::string types = "AIBCDFRS";
    TableDescription desc;
    int fields = Pick(2, 6);
    for (int i = 0; i < fields; ++i) {
      char t = types[Pick(0, 7)];
      int size = t == 'S' ? Pick(1, 18) : 0;
      if (t != 'S' && Pick(0, 5) == 0) size = StoredWidth(t) + Pick(1, 3);  // a wide slot
      desc.fields.push_back(MakeField("F" + std::to_string(i), t, size));
    }
    int indexes = Pick(1, 4);
    for (int j = 0; j < indexes; ++j) {
      IndexDescription x;
      x.name = "X" + std::to_string(j);
      int n = Pick(1, 3);
      for (int k = 0; k < n; ++k) x.key_fields.push_back(Pick(0, fields - 1));
      x.options = Pick(0, 1) * kIndexDescending + Pick(0, 1) * kIndexCaseInsensitive;
      desc.indexes.push_back(x);
    }
    return desc;
  }

  Image Record(const TableDescription& desc) {
    TRecordBuilder b(desc);
    std::vector<int> nulls;
    for (int i = 0; i < static_cast<int>(desc.fields.size()); ++i) {
      if (Pick(0, 6) == 0) {
        nulls.push_back(i);
        continue;
      }
      switch (desc.fields[i].type) {
        case 'A':
        case 'I': {
          static const int32_t pool[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, 5, 256, INT_MAX};
          b.SetInt(i, Pick(0, 3) == 0 ? static_cast<int32_t>(rng_()) : pool[Pick(0, 7)]);
          break;
        }
        case 'B': b.SetBool(i, Pick(0, 1)); break;
        case 'S': {
          static const char* pool[] = {"",
                                       "a",
                                       "A",
                                       "ab",
                                       "AB",
                                       "abc",
                                       "aBc",
                                       "\xE9",
                                       "\xC9",
                                       "[",
                                       "{",
                                       "abcdefghijklmnop",
                                       "ABCDEFGHIJKLMNOP",
                                       "abcdefghijklmnoq",
                                       "abcdefghijkl"};
          b.SetString(i, pool[Pick(0, 14)]);
          break;
        }
        default: {
          static const double pool[] = {0.0, -0.0, 1e-40, -1e-40, 3e-39, 0x1p-127,
                                        1.0, -1.0, 1.5,   1e10,   -1e20, 1.0 + 0x1p-40};
          b.SetFloat(i, Pick(0, 3) == 0 ? (Pick(0, 200) - 100) / 8.0 : pool[Pick(0, 11)]);
          break;
        }
      }
    }
    Image image = b.Image();
    // Null fields: leave some garbage in the slot, which nothing may read.
    for (int i : nulls) {
      const auto& f = desc.fields[i];
      for (int k = 0; k < f.size; ++k) image[f.offset + k] = Pick(0, 1) ? rng_() & 0xFF : 0;
    }
    return image;
  }

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_;
};

TEST_F(KeysTest, PrefixAnswersAgreeWithFullComparisonsOnRandomTables) {
  long decided = 0, compared = 0;
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    RandomTable gen(seed);
    TableDescription desc = gen.Spec();
    desc.LayOut();
    Load(desc);
    std::vector<Image> records;
    for (int i = 0; i < 24; ++i) records.push_back(gen.Record(desc_));
    // Probes: the records, whole-table bounds, and partial keys filled with bounds.
    std::vector<Image> probes = records;
    for (int index = 0; index < def_.IndexCount(); ++index) {
      for (bool before : {true, false}) {
        Image bound(def_.RecordLength());
        MakeBoundRecord(def_, bound.data(), index, before);
        for (const Image& r : records) {
          EXPECT_LE(before ? Keys(bound, r, index) : -Keys(bound, r, index), 0)
              << "seed " << seed << " index " << index;
        }
        probes.push_back(bound);
        Image partial = records[gen.Pick(0, 23)];
        const TmtbIndexDesc& d = def_.Index(index);
        partial[d.key_fields[d.key_field_count - 1]] = kNullFlag;
        FillMissingBounds(def_, partial.data(), index, before);
        probes.push_back(partial);
      }
    }
    for (int index = 0; index < def_.IndexCount(); ++index) {
      for (const Image& stored : records) {
        auto prefix = Prefix(stored, index);
        for (const Image& probe : probes) {
          int p = Sign(ComparePrefix(def_, probe.data(), prefix.data(), index));
          ++compared;
          if (p == 0) continue;
          ++decided;
          ASSERT_EQ(p, Keys(probe, stored, index)) << "seed " << seed << " index " << index;
        }
      }
    }
  }
  // The prefix is worth having only if it decides most probes.
  EXPECT_GT(decided * 2, compared);
}

}  // namespace
}  // namespace logvane
