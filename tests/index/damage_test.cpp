// Damaged index files: each kind of damage is refused with "Index structure
// may be corrupted. Suggest rebuild" at open or where a cursor meets it, and
// random damage never makes the index layer read or write outside a buffer
// (run under the sanitizers).
#include <gtest/gtest.h>

#include <cstdio>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/messages.h"
#include "index/find_key.h"
#include "index/index_names.h"
#include "index/index_test_support.h"

namespace logvane {
namespace {

using test::TTestTable;

struct Format {
  double version;
  int page;   // page size
  int entry;  // directory entry size (small) or block size (large)
  bool large() const { return version >= 3.0; }
};
const Format kSmall{2.0, 32, 8};
const Format kLarge{4.0, 4096, 4096};

class DamageTest : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override {
    const Format& f = GetParam();
    t_.desc.format_version = f.version;
    t_.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Call", 'S', 8)};
    t_.desc.indexes = {{"Id", {0}, kIndexPrimary}, {"Call", {1}, 0}};
    t_.desc.LayOut();
    tools::TRecordBuilder r(t_.desc);
    for (int k = 0; k < 40; ++k)
      t_.slots.push_back(r.Clear().SetInt(0, k).SetString(1, "C" + std::to_string(k % 9)).Image());
    tools::IndexBuildOptions options;
    options.fill = f.large() ? tools::TFillPolicy::kOnePerPage : tools::TFillPolicy::kHalf;
    options.free_pages = 2;
    t_.Build(options);
    leaf_ = LeafPageFileName(t_.mti, 1);
    dir_ = DirectoryFileName(t_.mti, 1);
  }

  // The open's result and error text.
  std::string OpenError() {
    test::TOpenTable open(t_.mti);
    if (open.opened == 1) return "opened";
    return open.indexes.LastError();
  }
  size_t PageOffset(int32_t page) const { return static_cast<size_t>(page) * GetParam().page; }
  // Byte offset of directory entry p.
  size_t DirOffset(int32_t p) const {
    return GetParam().large() ? (p / 200 + 1) * 4096 + (p % 200) * 20 : p * 8;
  }
  int32_t DirPage(int32_t p) { return GetInt32(&test::ReadBytes(dir_)[DirOffset(p)]); }

  TTestTable t_;
  std::string leaf_;
  std::string dir_;
};

TEST_P(DamageTest, SoundTableOpens) { EXPECT_EQ(OpenError(), "opened"); }

TEST_P(DamageTest, TruncatedFiles) {
  const std::vector<uint8_t> leaf = test::ReadBytes(leaf_);
  const std::vector<uint8_t> dir = test::ReadBytes(dir_);
  // The last leaf page cut in half: the directory names a page past the end.
  std::vector<uint8_t> cut(leaf.begin(), leaf.end() - GetParam().page * 2 - GetParam().page / 2);
  test::WriteBytes(leaf_, cut);
  EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
  // Fewer than three pages.
  test::WriteBytes(leaf_, std::vector<uint8_t>(leaf.begin(), leaf.begin() + 2 * GetParam().page));
  EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
  test::WriteBytes(leaf_, leaf);
  // A directory cut short.
  test::WriteBytes(dir_, std::vector<uint8_t>(dir.begin(), dir.end() - GetParam().entry));
  EXPECT_EQ(OpenError(), GetParam().large() ? msg::kIndexCorrupted : "opened");
  test::WriteBytes(dir_, {});
  EXPECT_NE(OpenError(), "opened");
}

TEST_P(DamageTest, EntryCounts) {
  const int32_t page = DirPage(1);
  const int32_t m = GetParam().large() ? 250 : 7;
  for (int32_t bad : {m + 1, -1, 1000000000, 0}) {
    SCOPED_TRACE(bad);
    const std::vector<uint8_t> original = test::ReadBytes(leaf_);
    test::PatchBytes(leaf_, PageOffset(page), test::Int32Bytes(bad));
    EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
    test::WriteBytes(leaf_, original);
  }
}

TEST_P(DamageTest, DirectoryPagesAndRecords) {
  const std::vector<uint8_t> dir = test::ReadBytes(dir_);
  const std::vector<uint8_t> leaf = test::ReadBytes(leaf_);
  const int32_t pages = static_cast<int32_t>(leaf.size() / GetParam().page);
  for (int32_t bad : {0, 1, pages, -5, DirPage(0)}) {
    SCOPED_TRACE(bad);
    test::PatchBytes(dir_, DirOffset(2), test::Int32Bytes(bad));
    EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
    test::WriteBytes(dir_, dir);
  }
  // A first record that is not the page's entry 1.
  test::PatchBytes(dir_, DirOffset(2) + 4, test::Int32Bytes(39));
  EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
  test::WriteBytes(dir_, dir);

  // Record numbers outside the data file, or listed twice.
  const int32_t page = DirPage(3);
  for (int32_t bad : {40, -2, 1 << 30}) {
    test::PatchBytes(leaf_, PageOffset(page) + 4, test::Int32Bytes(bad));
    test::PatchBytes(dir_, DirOffset(3) + 4, test::Int32Bytes(bad));
    EXPECT_EQ(OpenError(), msg::kIndexCorrupted) << bad;
    test::WriteBytes(dir_, dir);
    test::WriteBytes(leaf_, leaf);
  }
  const int32_t other = GetInt32(&leaf[PageOffset(DirPage(4)) + 4]);
  test::PatchBytes(leaf_, PageOffset(page) + 4, test::Int32Bytes(other));
  test::PatchBytes(dir_, DirOffset(3) + 4, test::Int32Bytes(other));
  EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
}

TEST_P(DamageTest, DirectoryCounts) {
  if (GetParam().large()) {
    const std::vector<uint8_t> dir = test::ReadBytes(dir_);
    const int32_t count = GetInt32(&dir[0]);
    for (int32_t bad : {count + 200, -1, 2147483647, 200 * (count / 200 + 1) + 1}) {
      test::PatchBytes(dir_, 0, test::Int32Bytes(bad));
      EXPECT_EQ(OpenError(), msg::kIndexCorrupted) << bad;
    }
    test::WriteBytes(dir_, dir);
  } else {
    // Each directory entry needs a page of its own.
    std::vector<uint8_t> dir = test::ReadBytes(dir_);
    const size_t pages = test::ReadBytes(leaf_).size() / 32;
    dir.resize(pages * 8, 0);
    test::WriteBytes(dir_, dir);
    EXPECT_EQ(OpenError(), msg::kIndexCorrupted);
  }
}

// Damage that appears while the table is open is met by the cursor.
TEST_P(DamageTest, DamageFoundWhileWalking) {
  test::TOpenTable open(t_.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  TIndex& ix = open.indexes.IndexAt(1);
  const int32_t last_page = DirPage(ix.Directory().Count() - 1);
  test::PatchBytes(leaf_, PageOffset(last_page), test::Int32Bytes(100000));
  ix.FirstEntry();
  try {
    for (int k = 0; k < 50; ++k) ix.StepForward();
    ADD_FAILURE() << "walked over a damaged page";
  } catch (const EDedaZiDBError& e) {
    EXPECT_STREQ(e.what(), msg::kIndexCorrupted);
  }
  // The damaged page is read again, not trusted from the buffer.
  EXPECT_THROW(ix.LastEntry(), EDedaZiDBError);
  EXPECT_THROW(ix.LastEntry(), EDedaZiDBError);

  // Record numbers beyond the data file, met by a search: the index text
  // comes through FindKey unchanged.
  test::PatchBytes(leaf_, PageOffset(last_page), test::Int32Bytes(1));
  test::PatchBytes(leaf_, PageOffset(last_page) + 4, test::Int32Bytes(5000));
  std::vector<uint8_t> key(t_.slots[0].size(), 0);
  MakeBoundRecord(open.source.Def(), key.data(), 1, false);
  try {
    FindKey(ix, open.source, key.data());
    ADD_FAILURE() << "searched a damaged page";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), msg::kIndexCorrupted);
  }
}

// A failing record read inside a search is reported as a damaged table.
TEST_P(DamageTest, RecordReadFailingInsideASearch) {
  test::TOpenTable open(t_.mti);
  ASSERT_EQ(open.opened, 1) << open.indexes.LastError();
  // Slot 39 becomes free after the open: the record manager refuses it.
  std::vector<uint8_t> free = tools::FreeRecordImage(t_.desc.RecordLength(), -1);
  test::PatchBytes(platform::ChangeFileExt(t_.mti, ".MTD"), 39 * t_.slots[0].size(), free);
  try {
    FindKey(open.indexes.IndexAt(0), open.source, t_.slots[39].data());
    ADD_FAILURE() << "no error";
  } catch (const EDedaZiDBError&) {
    ADD_FAILURE() << "the plain exception is expected";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), msg::kTableMayBeCorrupted);
  }
}

TEST_P(DamageTest, MissingFilesAndIndexCounts) {
  test::TDataSource source;
  source.Open(t_.mti);
  TDaroVivuvIndex indexes(source);
  const int level = source.Def().FormatLevel();
  EXPECT_EQ(indexes.OpenAll(t_.mti, 0, level), -1);
  EXPECT_EQ(indexes.OpenAll(t_.mti, 27, level), -1);
  std::remove(dir_.c_str());
  EXPECT_EQ(indexes.OpenAll(t_.mti, 2, level), -1);
  EXPECT_FALSE(indexes.LastError().empty());
  EXPECT_EQ(indexes.IndexCount(), 0);
  EXPECT_EQ(indexes.Current(), nullptr);
  EXPECT_EQ(indexes.OpenAll(t_.mti, 1, level), 1);
}

// Random damage to every byte range of both files: whatever the open and the
// cursor make of it, they end with a result or an exception, and every
// record number they hand out lies in the data file.
TEST_P(DamageTest, RandomDamageNeverEscapesTheBuffers) {
  const std::vector<uint8_t> leaf = test::ReadBytes(leaf_);
  const std::vector<uint8_t> dir = test::ReadBytes(dir_);
  std::mt19937 rng(GetParam().page);
  int opened = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> l = leaf, d = dir;
    std::vector<uint8_t>& target = round % 2 ? l : d;
    const int hits = 1 + static_cast<int>(rng() % 4);
    for (int h = 0; h < hits; ++h) {
      // Mostly the words that matter: counts, pages, record numbers.
      const size_t at = (rng() % (target.size() / 4)) * 4;
      const int32_t values[] = {-1, 0, 1, 2, 7, 250, 251, 40, static_cast<int32_t>(rng())};
      const int32_t v = values[rng() % 9];
      for (int b = 0; b < 4; ++b)
        target[at + b] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b));
    }
    if (round % 7 == 0) target.resize(rng() % (target.size() + 1));
    test::WriteBytes(leaf_, l);
    test::WriteBytes(dir_, d);

    test::TOpenTable open(t_.mti);
    if (open.opened != 1) {
      EXPECT_FALSE(open.indexes.LastError().empty());
      continue;
    }
    ++opened;
    TIndex& ix = open.indexes.IndexAt(1);
    try {
      int32_t r = ix.FirstEntry();
      for (int k = 0; k < ix.KeyCount(); ++k) {
        ASSERT_LT(r, 40);
        ix.StepForward();
        r = ix.CurrentEntry();
      }
      for (int k = 0; k < 40; k += 3) {
        const TKeyHit hit = FindKey(ix, open.source, t_.slots[k].data());
        ASSERT_LT(hit.record, 40);
        ASSERT_LT(ix.CurrentOrNext(), 40);
        ASSERT_LT(ix.PriorEntry(), 40);
      }
    } catch (const Exception&) {
    }
  }
  test::WriteBytes(leaf_, leaf);
  test::WriteBytes(dir_, dir);
  EXPECT_GT(opened, 0) << "no damaged table opened: the cursor was never exercised";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DamageTest, ::testing::Values(kSmall, kLarge),
                         [](const auto& info) { return info.param.large() ? "Large" : "Small"; });

}  // namespace
}  // namespace logvane
