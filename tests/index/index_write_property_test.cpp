// Long seeded random sequences of insertions and removals on random tables
// of both page formats, against a model (the set of indexed records). After
// every step the active index walks both ways in the order of the full key
// comparison, its remembered position lands where the write path expects,
// and the consistency check finds nothing; every few steps all indexes are
// verified so; again after a close and a writable reopen, which compacts
// what the removals freed.
#include <gtest/gtest.h>

#include <memory>

#include "index/find_key.h"
#include "index/index_test_support.h"

namespace logvane {
namespace {

using test::TOpenTable;
using test::TTestTable;
using tools::TFillPolicy;

struct TConfig {
  const char* name;
  double version;
  TFillPolicy fill;
  int slots;
  double indexed;  // share of the records indexed at the start
  int steps;
  int verify_all_every;
  bool expect_compaction;  // the removals free six pages or more somewhere
};

void PrintTo(const TConfig& config, std::ostream* os) { *os << config.name; }

class IndexWritePropertyTest : public ::testing::TestWithParam<TConfig> {
 protected:
  void SetUp() override { platform::SetDefaultReadOnly(false); }
};

std::vector<int32_t> ModelOrder(const TmtbTableDef& def, const TTestTable& t,
                                const std::vector<bool>& in, int index) {
  std::vector<int32_t> order;
  for (size_t r = 0; r < in.size(); ++r)
    if (in[r]) order.push_back(static_cast<int32_t>(r));
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return CompareKeys(def, t.slots[a].data(), t.slots[b].data(), true, index) < 0;
  });
  return order;
}

// Walks and checks index `only`, or every index when it is -1.
void Verify(TOpenTable& open, const TTestTable& t, const std::vector<bool>& in, int only = -1) {
  for (int i = 0; i < open.indexes.IndexCount(); ++i) {
    if (only >= 0 && i != only) continue;
    SCOPED_TRACE(i);
    TIndex& ix = open.indexes.IndexAt(i);
    const std::vector<int32_t> order = ModelOrder(open.source.Def(), t, in, i);
    ASSERT_EQ(ix.KeyCount(), static_cast<int32_t>(order.size()));
    ASSERT_EQ(test::Walk(ix, true), order);
    ASSERT_EQ(test::Walk(ix, false), order);
  }
  if (only < 0) {
    ASSERT_EQ(test::CheckAll(open, t.mti, in), std::vector<std::string>{});
    return;
  }
  TIndexCheckInput check;
  check.table_path = t.mti;
  check.index = only;
  check.live = &in;
  check.open_index = &open.indexes.IndexAt(only);
  ASSERT_EQ(CheckIndex(check, open.source), std::vector<std::string>{});
}

TEST_P(IndexWritePropertyTest, RandomInsertsAndRemovalsKeepEveryIndexSound) {
  const TConfig& cfg = GetParam();
  const uint32_t seed = 1000 + static_cast<uint32_t>(cfg.slots);
  test::TRandomTables rnd(seed);
  TTestTable t;
  t.desc = rnd.Spec(cfg.version);
  t.slots = rnd.Slots(t.desc, cfg.slots, 0.0);
  std::vector<bool> in(t.slots.size(), true);
  std::vector<int32_t> absent;
  for (int32_t r = 0; r < cfg.slots; ++r)
    if (!rnd.Chance(cfg.indexed)) {
      absent.push_back(r);
      in[r] = false;
    }
  tools::IndexBuildOptions options;
  options.fill = cfg.fill;
  options.seed = seed;
  options.free_pages = 2;
  test::BuildWithout(t, absent, options);

  auto open = std::make_unique<TOpenTable>(t.mti);
  ASSERT_EQ(open->opened, 1) << open->indexes.LastError();
  ASSERT_NO_FATAL_FAILURE(Verify(*open, t, in));
  int splits = 0;
  int frees = 0;
  for (int step = 0; step < cfg.steps; ++step) {
    SCOPED_TRACE(step);
    // Insertions dominate the first 60 % of the steps, removals the rest,
    // so that pages fill up and split, then empty and free.
    const bool insert = rnd.Chance(step < cfg.steps * 6 / 10 ? 0.75 : 0.25);
    int32_t r = rnd.Uniform(0, cfg.slots - 1);
    for (int tries = 0; tries < 20 && in[r] == insert; ++tries) r = rnd.Uniform(0, cfg.slots - 1);
    const uint8_t* image = t.slots[r].data();
    const int active = rnd.Uniform(0, open->indexes.IndexCount() - 1);
    open->indexes.ActivateIndex(active);
    TIndex& ax = open->indexes.IndexAt(active);
    const int32_t pages_before = ax.Directory().Count();
    if (in[r]) {
      // The engine stands on the record, removes it everywhere and then
      // takes the remembered position: the next record, or the new last.
      const std::vector<int32_t> order = ModelOrder(open->source.Def(), t, in, active);
      const auto at = std::find(order.begin(), order.end(), r) - order.begin();
      int32_t next = -1;
      if (at + 1 < static_cast<ptrdiff_t>(order.size()))
        next = order[at + 1];
      else if (at > 0)
        next = order[at - 1];
      ASSERT_TRUE(FindKey(ax, open->source, image).exact);
      ax.SavePosition(true);
      ASSERT_EQ(open->indexes.DeleteKeysOf(image, true), -1);
      in[r] = false;
      ASSERT_EQ(ax.RestorePosition(), next);
      frees += ax.Directory().Count() < pages_before;
    } else {
      ASSERT_EQ(open->indexes.InsertKeysOf(r, image), -1);
      in[r] = true;
      ASSERT_EQ(ax.RestorePosition(), r);
      splits += ax.Directory().Count() > pages_before;
    }
    // The active index after every step, all of them now and then.
    const bool all = step % cfg.verify_all_every == 0 || step == cfg.steps - 1;
    ASSERT_NO_FATAL_FAILURE(Verify(*open, t, in, all ? -1 : active));
  }
  EXPECT_GT(splits + frees, 0) << "the steps changed no directory";

  std::vector<size_t> free_before;
  for (int i = 0; i < open->indexes.IndexCount(); ++i)
    free_before.push_back(open->indexes.IndexAt(i).FreePages().size());
  open.reset();
  open = std::make_unique<TOpenTable>(t.mti);
  ASSERT_EQ(open->opened, 1) << open->indexes.LastError();
  bool compacted = false;
  for (int i = 0; i < open->indexes.IndexCount(); ++i) {
    const size_t now = open->indexes.IndexAt(i).FreePages().size();
    if (free_before[i] >= 6) {
      EXPECT_EQ(now, 4u) << i;
      compacted = true;
    } else {
      EXPECT_EQ(now, free_before[i]) << i;
    }
  }
  if (cfg.expect_compaction) {
    EXPECT_TRUE(compacted) << "the reopen compacted nothing";
  }
  ASSERT_NO_FATAL_FAILURE(Verify(*open, t, in));
}

INSTANTIATE_TEST_SUITE_P(
    Tables, IndexWritePropertyTest,
    ::testing::Values(
        TConfig{"SmallRandomFill", 2.0, TFillPolicy::kRandom, 300, 0.6, 1200, 4, false},
        TConfig{"SmallOnePerPage", 2.0, TFillPolicy::kOnePerPage, 260, 0.9, 1000, 4, true},
        TConfig{"LargeFullPages", 4.0, TFillPolicy::kFull, 1200, 0.2, 1000, 15, false},
        TConfig{"LargeOnePerPage", 4.0, TFillPolicy::kOnePerPage, 450, 0.95, 500, 8, true}),
    [](const ::testing::TestParamInfo<TConfig>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace logvane
