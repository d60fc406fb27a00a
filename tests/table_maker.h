// Tables for the engine tests, built on disk with the table writer and the
// index builder: random tables of either format, and a small fixed log
// table (Id, Call, Band) whose free slots the test chooses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/db_engine.h"
#include "index/index_test_support.h"

namespace logvane::test {

// A random table with `live` records and about `free_share` free slots,
// chained in slot order, in the format `version` picks; leaf pages filled
// at random.
inline void MakeRandomTable(TTestTable& t, uint32_t seed, double version, int live,
                            double free_share = 0.1) {
  TRandomTables rnd(seed);
  t.desc = rnd.Spec(version);
  t.slots = rnd.Slots(t.desc, live, free_share);
  tools::IndexBuildOptions options;
  options.fill = tools::TFillPolicy::kRandom;
  options.seed = seed;
  t.Build(options);
}

// Slot kinds of a fixed log table: a live record with this id, or a free
// slot linking to `next`.
struct TSlot {
  bool live;
  int32_t value;  // id, or the next free slot
};
inline TSlot Live(int32_t id) { return {true, id}; }
inline TSlot Free(int32_t next) { return {false, next}; }

// The log table: Id (primary, ascending unless `descending_primary`), Call
// (a case-insensitive index "Call"), Band (a descending index "Band").
// Record with id k has call "C" + letters of k and band k % 4.
inline void MakeLogTable(TTestTable& t, double version, const std::vector<TSlot>& slots,
                         const tools::IndexBuildOptions& options = {},
                         bool descending_primary = false) {
  t.desc = tools::TableDescription{};
  t.desc.format_version = version;
  t.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Call", 'S', 10),
                   tools::MakeField("Band", 'I')};
  t.desc.indexes = {
      {"Primary",
       {0},
       static_cast<double>(kIndexPrimary | (descending_primary ? kIndexDescending : 0))},
      {"Call", {1}, kIndexCaseInsensitive},
      {"Band", {2}, kIndexDescending}};
  t.desc.LayOut();
  t.slots.clear();
  tools::TRecordBuilder r(t.desc);
  for (const TSlot& s : slots) {
    if (!s.live) {
      t.slots.push_back(tools::FreeRecordImage(t.desc.RecordLength(), s.value));
      continue;
    }
    std::string call = "C";
    for (int32_t k = s.value < 0 ? -s.value : s.value; k > 0; k /= 26)
      call += static_cast<char>('a' + k % 26);
    t.slots.push_back(
        r.Clear().SetInt(0, s.value).SetString(1, call).SetInt(2, s.value % 4).Image());
  }
  t.Build(options);
}

// A fixture over an engine opened read-only on a random table whose format
// version is the test's parameter.
class RandomTableTest : public ::testing::TestWithParam<double> {
 protected:
  void OpenRandom(uint32_t seed, int live) {
    eng_.CloseTable();
    t_ = std::make_unique<TTestTable>();
    MakeRandomTable(*t_, seed, GetParam(), live);
    ASSERT_GE(eng_.OpenTable(t_->mti, kOpenReadShared, 0), 0);
  }

  std::unique_ptr<TTestTable> t_;
  TmtbDBEng eng_;
};

}  // namespace logvane::test
