// An input/output failure injected at each write of an append, an update
// and a delete in turn. Every time the error reaches the caller. Then
// either the table check, run beside the engine that still holds the table,
// names what the interrupted operation left inconsistent, or there is
// nothing to name: after the close the table is consistent and every slot
// holds, field by field, what it held before the operation or what the
// operation meant to write (a slot's absence counting as a value).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>

#include "engine/table_check.h"
#include "write_table.h"

namespace logvane {
namespace {

using test::NumberedRow;
using test::TRow;

using TSlots = std::map<int32_t, TRow>;

struct TOperation {
  const char* name;
  // Positions the engine and makes the change.
  std::function<void(TmtbDBEng&, const tools::TableDescription&)> run;
  // The slots after a successful run, from the slots before.
  std::function<TSlots(TSlots)> expected;
};

void PrintTo(const TOperation& op, std::ostream* os) { *os << op.name; }

constexpr int kRows = 20;
// Rows 3, 6, 9 ... carry memos of several blocks.
TRow Row(int k) {
  TRow row = NumberedRow(k, k % 3 == 0);
  if (k % 3 == 0) row.notes.append(900, 'm');
  return row;
}

class WriteFailureTest : public ::testing::TestWithParam<TOperation> {
 protected:
  // A fresh table, opened for writing.
  void Open() {
    eng_.CloseTable();
    t_ = std::make_unique<test::TTestTable>();
    std::vector<std::optional<TRow>> slots;
    for (int k = 0; k < kRows; ++k) slots.push_back(Row(k));
    test::MakeWriteTable(*t_, 4.0, slots);
    ASSERT_GE(eng_.OpenTable(t_->mti, kOpenWriteShared, 0), 0);
  }

  TSlots ReadSlots() {
    TSlots slots;
    for (eng_.First(); !eng_.IsEOF(); eng_.Next())
      slots[eng_.CurrentRecordNumber()] = test::ReadRow(eng_, eng_.CurrentRecordNumber());
    return slots;
  }

  std::unique_ptr<test::TTestTable> t_;
  TmtbDBEng eng_;
};

// Every field of `actual` is the one before or the one meant.
void ExpectBetween(const std::optional<TRow>& actual, const std::optional<TRow>& before,
                   const std::optional<TRow>& meant) {
  if (!actual) {
    EXPECT_TRUE(!before || !meant) << "a slot that should be live is gone";
    return;
  }
  ASSERT_TRUE(before || meant) << "a slot that should be free holds a record";
  auto either = [&](auto field) {
    return (before && field(*before) == field(*actual)) ||
           (meant && field(*meant) == field(*actual));
  };
  EXPECT_TRUE(either([](const TRow& r) { return r.id; }));
  EXPECT_TRUE(either([](const TRow& r) { return r.call; }));
  EXPECT_TRUE(either([](const TRow& r) { return r.band; }));
  EXPECT_TRUE(either([](const TRow& r) { return r.freq; }));
  EXPECT_TRUE(either([](const TRow& r) { return r.serial; }));
  EXPECT_TRUE(either([](const TRow& r) { return r.notes; }));
}

std::optional<TRow> At(const TSlots& slots, int32_t r) {
  auto it = slots.find(r);
  return it == slots.end() ? std::nullopt : std::optional<TRow>(it->second);
}

TEST_P(WriteFailureTest, EveryFailedWriteReachesTheCallerAndIsNamedOrHarmless) {
  const TOperation& op = GetParam();
  ASSERT_NO_FATAL_FAILURE(Open());
  const TSlots before = ReadSlots();
  const TSlots meant = op.expected(before);
  platform::FailNthWrite(INT64_MAX);
  op.run(eng_, t_->desc);
  const int64_t writes = platform::WritesCounted();
  platform::FailNthWrite(0);
  ASSERT_EQ(ReadSlots(), meant) << "the operation itself";
  ASSERT_GT(writes, 3);

  int named = 0;
  for (int64_t k = 1; k <= writes; ++k) {
    SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(writes));
    ASSERT_NO_FATAL_FAILURE(Open());
    platform::FailNthWrite(k);
    EXPECT_THROW(op.run(eng_, t_->desc), Exception);
    platform::FailNthWrite(0);
    TTableCheckOptions options;
    options.writer = &eng_;
    const TTableCheckReport report = CheckTable(t_->mti, options);
    ASSERT_TRUE(report.readable) << report.cause;
    eng_.CloseTable();
    if (report.problem_count > 0) {
      ++named;
      continue;
    }
    const TTableCheckReport closed = CheckTable(t_->mti);
    EXPECT_EQ(closed.problems, std::vector<std::string>{});
    ASSERT_GE(eng_.OpenTable(t_->mti, kOpenReadShared, 0), 0);
    const TSlots actual = ReadSlots();
    for (int32_t r = 0; r < kRows + 10; ++r) {
      SCOPED_TRACE("slot " + std::to_string(r));
      ExpectBetween(At(actual, r), At(before, r), At(meant, r));
    }
  }
  EXPECT_GT(named, 0) << "some interrupted writes leave the indexes, data and blob file apart";
}

void AppendRow(TmtbDBEng& eng, const tools::TableDescription& desc) {
  TRow row = NumberedRow(55);
  test::PrepareRow(eng, desc, row, -1, std::string(1100, 'n'));
  eng.AppendRecord();
}

void UpdateRow(TmtbDBEng& eng, const tools::TableDescription& desc) {
  ASSERT_TRUE(eng.GoToRecord(9));
  TRow row = Row(9);
  row.id = 555;
  row.call = "NEWCALL";
  test::PrepareRow(eng, desc, row, 9, std::string(1500, 'u'));
  eng.PostRecord();
}

void DeleteRow(TmtbDBEng& eng, const tools::TableDescription&) {
  ASSERT_TRUE(eng.GoToRecord(12));
  eng.DeleteRecord();
}

INSTANTIATE_TEST_SUITE_P(Operations, WriteFailureTest,
                         ::testing::Values(TOperation{"Append", AppendRow,
                                                      [](TSlots s) {
                                                        TRow row = NumberedRow(55);
                                                        row.serial = kRows + 1;
                                                        row.notes = std::string(1100, 'n');
                                                        s[kRows] = row;
                                                        return s;
                                                      }},
                                           TOperation{"Update", UpdateRow,
                                                      [](TSlots s) {
                                                        s[9].id = 555;
                                                        s[9].call = "NEWCALL";
                                                        s[9].notes = std::string(1500, 'u');
                                                        return s;
                                                      }},
                                           TOperation{"Delete", DeleteRow,
                                                      [](TSlots s) {
                                                        s.erase(12);
                                                        return s;
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace logvane
