// Long seeded random sequences of appends, updates (key and non-key fields;
// memos set, changed and cleared) and deletes through the engine, on both
// page formats, against a model of the rows. After every operation: the
// cursor stands where the write path puts it, every index walks both ways
// in the model's order, the counters and the free list agree, and the
// table check finds nothing; every few operations every row is read back.
// Then again after a close and reopen, and after a reopen that compacts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/table_check.h"
#include "table/keys.h"
#include "write_table.h"

namespace logvane {
namespace {

using test::TRow;

struct TConfig {
  const char* name;
  double version;
  tools::TFillPolicy fill;
  int rows;
  int steps;
};

void PrintTo(const TConfig& config, std::ostream* os) { *os << config.name; }

class WritePropertyTest : public ::testing::TestWithParam<TConfig> {
 protected:
  void SetUp() override {
    const TConfig& cfg = GetParam();
    rng_.seed(7000 + static_cast<uint32_t>(cfg.rows));
    std::vector<std::optional<TRow>> slots;
    for (int k = 0; k < cfg.rows; ++k) {
      TRow row = RandomRow();
      row.serial = k + 1;
      slots.push_back(row);
      rows_[row.id] = row;
    }
    tools::IndexBuildOptions options;
    options.fill = cfg.fill;
    options.seed = 5;
    test::MakeWriteTable(t_, cfg.version, slots, options);
    ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
    next_serial_ = eng_.Counters().next_autoinc;
    ASSERT_EQ(next_serial_, cfg.rows + 1);
    MapSlots();
  }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  int32_t NewId() {
    int32_t id;
    do id = Uniform(-100000, 100000);
    while (rows_.count(id) != 0);
    return id;
  }
  std::string Call() {
    std::string call = "K" + std::to_string(Uniform(0, 30)) + "ab";
    for (char& c : call)
      if (Chance(0.5)) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return call;
  }
  std::string Notes() {
    if (Chance(0.35)) return {};
    std::string text(static_cast<size_t>(Uniform(1, 1400)), ' ');
    for (char& c : text) c = static_cast<char>('a' + Uniform(0, 25));
    return text;
  }
  TRow RandomRow() {
    TRow row;
    row.id = NewId();
    row.call = Call();
    row.band = Uniform(0, 4);
    row.freq = Uniform(1800, 29000) / 1000.0;
    row.notes = Notes();
    return row;
  }

  // The slot of every row, from a walk of index 0.
  void MapSlots() {
    slot_of_.clear();
    TIndex& ix = eng_.Indexes().IndexAt(0);
    for (int32_t r : test::Walk(ix, true)) slot_of_[test::ReadRow(eng_, r).id] = r;
    eng_.SetCurrentIndex(eng_.CurrentIndex());
  }

  // The model's slots in the order of index `index`.
  std::vector<int32_t> ModelOrder(int index) {
    std::vector<std::pair<std::vector<uint8_t>, int32_t>> keyed;
    for (const auto& [id, row] : rows_)
      keyed.push_back({test::RowImage(t_.desc, row), slot_of_[id]});
    const TmtbTableDef& def = eng_.Definition();
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
      return CompareKeys(def, a.first.data(), b.first.data(), true, index) < 0;
    });
    std::vector<int32_t> order;
    for (const auto& k : keyed) order.push_back(k.second);
    return order;
  }

  int32_t OrdinalOf(int32_t slot) {
    const std::vector<int32_t> order = ModelOrder(eng_.CurrentIndex());
    return static_cast<int32_t>(std::find(order.begin(), order.end(), slot) - order.begin()) + 1;
  }

  void Verify(bool read_all) {
    ASSERT_EQ(eng_.RecordCount(), static_cast<int32_t>(rows_.size()));
    for (int i = 0; i < eng_.Indexes().IndexCount(); ++i) {
      SCOPED_TRACE("index " + std::to_string(i));
      TIndex& ix = eng_.Indexes().IndexAt(i);
      const std::vector<int32_t> order = ModelOrder(i);
      ASSERT_EQ(test::Walk(ix, true), order);
      ASSERT_EQ(test::Walk(ix, false), order);
    }
    if (!eng_.ReadOnly()) {
      const std::vector<int32_t>& list = eng_.FreeList();
      ASSERT_EQ(eng_.CheckDataFileSize() - static_cast<int32_t>(list.size()),
                static_cast<int32_t>(rows_.size()));
      const TTableCounters disk = test::DiskCounters(eng_);
      EXPECT_EQ(disk.next_autoinc, next_serial_);
      if (counters_written_) {
        EXPECT_EQ(disk.free_records, static_cast<int32_t>(list.size()));
        EXPECT_EQ(disk.first_free_record, list.empty() ? -1 : list.front());
      }
    }
    TTableCheckOptions options;
    options.writer = eng_.ReadOnly() ? nullptr : &eng_;
    const TTableCheckReport report = CheckTable(t_.mti, options);
    ASSERT_EQ(report.problems, std::vector<std::string>{});
    if (read_all) {
      for (const auto& [id, row] : rows_) ASSERT_EQ(test::ReadRow(eng_, slot_of_[id]), row);
    }
    // The walks moved the index cursors: stand on a record again.
    eng_.SetCurrentIndex(eng_.CurrentIndex());
  }

  void GoTo(int32_t id) { ASSERT_TRUE(eng_.GoToRecord(slot_of_.at(id))); }
  int32_t AnyId() {
    auto it = rows_.begin();
    std::advance(it, Uniform(0, static_cast<int>(rows_.size()) - 1));
    return it->first;
  }

  void Append() {
    TRow row = RandomRow();
    if (!rows_.empty() && Chance(0.05)) {
      row.id = AnyId();
      test::PrepareRow(eng_, t_.desc, row, -1, row.notes);
      ASSERT_THROW(eng_.AppendRecord(), EDuplicateKeyError);
      counters_written_ = false;  // a refused append writes no counters
      return;
    }
    test::PrepareRow(eng_, t_.desc, row, -1, row.notes);
    eng_.AppendRecord();
    row.serial = next_serial_++;
    const int32_t slot = eng_.CurrentRecordNumber();
    rows_[row.id] = row;
    slot_of_[row.id] = slot;
    ASSERT_EQ(test::ReadRow(eng_, slot), row);
    ASSERT_EQ(eng_.CurrentPosition(), OrdinalOf(slot));
  }

  void Update() {
    const int32_t id = AnyId();
    GoTo(id);
    TRow row = rows_[id];
    const int32_t slot = slot_of_[id];
    if (rows_.size() > 1 && Chance(0.05)) {
      int32_t other;
      do other = AnyId();
      while (other == id);
      row.id = other;
      test::PrepareRow(eng_, t_.desc, row, slot, std::nullopt);
      ASSERT_THROW(eng_.PostRecord(), EDuplicateKeyError);
      counters_written_ = false;
      return;
    }
    if (Chance(0.3)) row.id = NewId();
    if (Chance(0.4)) row.call = Call();
    if (Chance(0.3)) row.band = Uniform(0, 4);
    if (Chance(0.5)) row.freq = Uniform(1800, 29000) / 1000.0;
    std::optional<std::string> notes;
    const int memo = Uniform(0, 3);
    if (memo == 1) notes = Notes();
    if (memo == 2) notes = "";
    if (notes) row.notes = *notes;
    test::PrepareRow(eng_, t_.desc, row, slot, notes);
    eng_.PostRecord();
    rows_.erase(id);
    slot_of_.erase(id);
    rows_[row.id] = row;
    slot_of_[row.id] = slot;
    ASSERT_EQ(eng_.CurrentRecordNumber(), slot);
    ASSERT_EQ(eng_.CurrentPosition(), OrdinalOf(slot));
  }

  void Delete() {
    const int32_t id = AnyId();
    GoTo(id);
    const int32_t slot = slot_of_[id];
    const std::vector<int32_t> order = ModelOrder(eng_.CurrentIndex());
    const auto at = std::find(order.begin(), order.end(), slot);
    int32_t expected = -1;
    if (at + 1 != order.end())
      expected = *(at + 1);
    else if (at != order.begin())
      expected = *(at - 1);
    eng_.DeleteRecord();
    rows_.erase(id);
    slot_of_.erase(id);
    ASSERT_EQ(eng_.CurrentRecordNumber(), expected);
  }

  void Step() {
    if (Chance(0.05)) eng_.SetCurrentIndex(Uniform(0, eng_.Indexes().IndexCount() - 1));
    const int op = Uniform(0, 99);
    counters_written_ = true;
    if (rows_.empty() || op < 40)
      Append();
    else if (op < 75)
      Update();
    else
      Delete();
  }

  void Reopen(uint32_t mode) {
    eng_.CloseTable();
    ASSERT_GE(eng_.OpenTable(t_.mti, mode, 0), 0);
    counters_written_ = false;
    MapSlots();
  }

  std::mt19937 rng_;
  test::TTestTable t_;
  TmtbDBEng eng_;
  std::map<int32_t, TRow> rows_;
  std::map<int32_t, int32_t> slot_of_;
  int32_t next_serial_ = 0;
  // The counters on disk were written by the last operation.
  bool counters_written_ = false;
};

TEST_P(WritePropertyTest, RandomWritesKeepTheTableConsistent) {
  const TConfig& cfg = GetParam();
  for (int step = 0; step < cfg.steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(Verify(step % 25 == 24));
  }

  ASSERT_NO_FATAL_FAILURE(Reopen(kOpenWriteShared));
  ASSERT_NO_FATAL_FAILURE(Verify(true));

  // Enough deletes for the next writable open to compact.
  while (eng_.FreeList().size() <= 25 && rows_.size() > 1) {
    counters_written_ = true;
    ASSERT_NO_FATAL_FAILURE(Delete());
  }
  ASSERT_NO_FATAL_FAILURE(Verify(false));
  ASSERT_NO_FATAL_FAILURE(Reopen(kOpenWriteShared));
  EXPECT_EQ(eng_.SlotCount(), static_cast<int32_t>(rows_.size()) + 10) << "compacted";
  ASSERT_NO_FATAL_FAILURE(Verify(true));
  for (int step = 0; step < 20; ++step) {
    ASSERT_NO_FATAL_FAILURE(Step());
    ASSERT_NO_FATAL_FAILURE(Verify(false));
  }
  ASSERT_NO_FATAL_FAILURE(Reopen(kOpenReadShared));
  ASSERT_NO_FATAL_FAILURE(Verify(true));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, WritePropertyTest,
    ::testing::Values(TConfig{"SmallPages", 2.0, tools::TFillPolicy::kRandom, 40, 600},
                      TConfig{"LargePages", 4.0, tools::TFillPolicy::kFull, 300, 300}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace logvane
