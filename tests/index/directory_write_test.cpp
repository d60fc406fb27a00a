// Directory maintenance of both kinds against an in-memory model: entries
// inserted, removed and changed across the 200-entry block boundaries, the
// block heads kept in step, and the file always what a fresh load reads.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>

#include "index/corruption.h"
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

struct TModelEntry {
  int32_t page;
  int32_t record;
  std::array<uint8_t, 12> prefix;
};

class DirectoryWriteTest : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override { platform::SetDefaultReadOnly(false); }
  bool Large() const { return GetParam() >= 3.0; }
  std::unique_ptr<TSecondIndex> Make(const TTestTable& t) {
    const std::string path = DirectoryFileName(t.mti, 0);
    std::unique_ptr<TSecondIndex> dir;
    if (Large())
      dir = std::make_unique<TKeyBufSecondIndex>(path);
    else
      dir = std::make_unique<TIndex2V1>(path);
    dir->LoadDirectory();
    return dir;
  }
  void ExpectModel(TSecondIndex& dir, const std::vector<TModelEntry>& model) {
    ASSERT_EQ(dir.Count(), static_cast<int32_t>(model.size()));
    for (int32_t p = 0; p < dir.Count(); ++p) {
      const TDirEntry e = dir.GetEntry(p);
      ASSERT_EQ(e.page, model[p].page) << p;
      ASSERT_EQ(e.record, model[p].record) << p;
      if (Large()) {
        ASSERT_EQ(std::memcmp(e.prefix, model[p].prefix.data(), 12), 0) << p;
      }
    }
    if (!Large()) return;
    const THeader& heads = static_cast<TKeyBufSecondIndex&>(dir).Heads();
    ASSERT_EQ(heads.Count(), (dir.Count() + 199) / 200);
    for (int32_t b = 0; b < heads.Count(); ++b) {
      ASSERT_EQ(heads.Page(b), model[200 * b].page) << "head " << b;
      ASSERT_EQ(heads.Record(b), model[200 * b].record) << "head " << b;
    }
  }
};

// The count grows from 195 past 200 and 400 and shrinks back; every change
// is compared with the model at once and, now and then, through a fresh
// load of the file.
TEST_P(DirectoryWriteTest, InsertDeleteAndSetAgainstAModel) {
  TTestTable t;
  MakeLong(t, GetParam(), 195);
  std::unique_ptr<TSecondIndex> dir = Make(t);
  std::vector<TModelEntry> model;
  for (int32_t p = 0; p < dir->Count(); ++p) {
    const TDirEntry e = dir->GetEntry(p);
    TModelEntry m{e.page, e.record, {}};
    if (Large()) std::memcpy(m.prefix.data(), e.prefix, 12);
    model.push_back(m);
  }
  std::mt19937 rng(11);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto random_prefix = [&] {
    std::array<uint8_t, 12> p;
    for (uint8_t& b : p) b = static_cast<uint8_t>(uniform(0, 255));
    return p;
  };
  const std::string path = DirectoryFileName(t.mti, 0);
  const int ops = 660;
  for (int op = 0; op < ops; ++op) {
    SCOPED_TRACE(op);
    const int kind = uniform(0, 9);
    const auto count = static_cast<int32_t>(model.size());
    if (kind < 7 && (op < ops / 2 || count <= 1)) {
      const int32_t p = op % 9 == 0 ? 0 : uniform(0, count);
      const TModelEntry m{1000 + op, op, Large() ? random_prefix() : std::array<uint8_t, 12>{}};
      dir->InsertEntry(p, m.page, m.prefix.data(), m.record);
      model.insert(model.begin() + p, m);
    } else if (kind < 7) {
      const int32_t p = uniform(0, count - 1);
      dir->DeleteEntry(p);
      model.erase(model.begin() + p);
    } else {
      const int32_t p = uniform(0, count - 1);
      model[p].record = 5000 + op;
      if (Large()) model[p].prefix = random_prefix();
      dir->SetEntry(p, model[p].page, model[p].prefix.data(), model[p].record);
      EXPECT_EQ(dir->Position(), p);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectModel(*dir, model));
    const auto c = static_cast<size_t>(model.size());
    ASSERT_EQ(test::ReadBytes(path).size(), Large() ? ((c + 199) / 200 + 1) * 4096 : c * 8);
    if (op % 40 == 0) {
      std::unique_ptr<TSecondIndex> fresh = Make(t);
      ASSERT_NO_FATAL_FAILURE(ExpectModel(*fresh, model));
    }
  }
}

// A block head changed by SetEntry is what the next probe at that block
// boundary reads, and it agrees with the block.
TEST(LargeDirectoryWrite, SetEntryOnABlockHeadIsSeenByTheNextProbe) {
  platform::SetDefaultReadOnly(false);
  TTestTable t;
  MakeLong(t, 4.0, 1000);
  TKeyBufSecondIndex dir(DirectoryFileName(t.mti, 0));
  dir.LoadDirectory();
  const TDirEntry e = dir.GetEntry(600);
  const std::array<uint8_t, 12> prefix = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  dir.SetEntry(600, e.page, prefix.data(), 4321);
  const TDirProbe probe = dir.ProbeMiddle(0, 999);
  EXPECT_EQ(probe.position, 600);
  EXPECT_EQ(probe.record, 4321);
  EXPECT_EQ(std::memcmp(probe.prefix, prefix.data(), 12), 0);

  EXPECT_THROW(dir.SetEntry(600, e.page + 1, nullptr, 1), EIndexCorruptedPlain);
  EXPECT_THROW(dir.SetEntry(1000, 0, nullptr, 1), EIndexCorruptedPlain);
  EXPECT_THROW(dir.DeleteEntry(1000), EIndexCorruptedPlain);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DirectoryWriteTest, ::testing::Values(2.0, 4.0));

}  // namespace
}  // namespace logvane
