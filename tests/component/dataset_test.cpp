// The dataset framework over the in-memory dataset: walking with rings of
// several sizes, bookmarks, field lookup, opening and closing with failures.
#include "component/dataset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "component/memory_dataset.h"
#include "test_support.h"

namespace logvane {
namespace {

using test::Int;
using test::MemoryColumn;
using test::MemoryDataSet;
using test::MemoryRow;
using test::Str;

std::vector<MemoryRow> NumberedRows(int n) {
  std::vector<MemoryRow> rows;
  for (int i = 0; i < n; ++i) rows.push_back({Int(i), Str("row" + std::to_string(i))});
  return rows;
}

std::vector<MemoryColumn> Columns() { return {{"Num", ftInteger}, {"Label", ftString, 10}}; }

using test::MessageOf;

class RingWalk : public ::testing::TestWithParam<int> {};

// Forward and backward walks must see every record once, in order, whatever
// the number of cached buffers; the end flags must stop at the edges with
// the edge record still current.
TEST_P(RingWalk, VisitsEveryRecordInBothDirections) {
  MemoryDataSet ds("Mem", Columns(), NumberedRows(5));
  ds.SetBufferCount(GetParam());
  ds.Open();
  std::vector<int> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.push_back(ds.ActiveRow());
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(ds.ActiveRow(), 4);
  EXPECT_EQ(ds.FieldByName("Label").AsString(), "row4");

  seen.clear();
  for (ds.Last(); !ds.Bof(); ds.Prior()) seen.push_back(ds.ActiveRow());
  EXPECT_EQ(seen, (std::vector<int>{4, 3, 2, 1, 0}));
  EXPECT_EQ(ds.ActiveRow(), 0);

  // Turning round in the middle of the ring.
  ds.First();
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(ds.ActiveRow(), 3);
  EXPECT_EQ(ds.MoveBy(-2), -2);
  EXPECT_EQ(ds.ActiveRow(), 1);
  EXPECT_EQ(ds.MoveBy(10), 3);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.ActiveRow(), 4);
  EXPECT_EQ(ds.MoveBy(1), 0);
  EXPECT_EQ(ds.MoveBy(-10), -4);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.ActiveRow(), 0);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.ActiveRow(), 2);
  ds.Close();
  EXPECT_EQ(ds.LiveBuffers(), 0);
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, RingWalk, ::testing::Values(1, 2, 3, 7));

TEST(DataSet, EmptyTableIsAtBothEnds) {
  MemoryDataSet ds("Mem", Columns(), {});
  ds.Open();
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), -1);
  EXPECT_EQ(ds.MoveBy(1), 0);
  ds.Last();
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  EXPECT_EQ(ds.FieldByName("Label").AsString(), "");
  EXPECT_TRUE(ds.GetBookmark().empty());
}

TEST(DataSet, BookmarkReturnsToItsRecordAndRefillsTheRing) {
  MemoryDataSet ds("Mem", Columns(), NumberedRows(9));
  ds.SetBufferCount(3);
  ds.Open();
  ds.MoveBy(6);
  TBookmark mark = ds.GetBookmark();
  ASSERT_EQ(mark.size(), 8u);
  ds.First();
  EXPECT_EQ(ds.CompareBookmarks(mark, ds.GetBookmark()), 1);
  ds.GotoBookmark(mark);
  EXPECT_EQ(ds.ActiveRow(), 6);
  EXPECT_EQ(ds.CompareBookmarks(mark, ds.GetBookmark()), 0);
  EXPECT_FALSE(ds.Bof() || ds.Eof());
  ds.Next();
  EXPECT_EQ(ds.ActiveRow(), 7);
  ds.MoveBy(-2);
  EXPECT_EQ(ds.ActiveRow(), 5);

  EXPECT_TRUE(ds.BookmarkValid(mark));
  ds.Rows().resize(3);
  EXPECT_FALSE(ds.BookmarkValid(mark));
  EXPECT_FALSE(ds.BookmarkValid({}));
}

TEST(DataSet, FieldsAreFoundWithoutRegardToCase) {
  MemoryDataSet ds("LogTabl", Columns(), NumberedRows(1));
  ds.Open();
  EXPECT_EQ(&ds.FieldByName("label"), &ds.FieldByName("LABEL"));
  EXPECT_EQ(ds.FieldByName("num").FieldNo(), 1);
  EXPECT_EQ(ds.FindField("Call"), nullptr);
  EXPECT_EQ(MessageOf([&] { ds.FieldByName("Call"); }), "LogTabl: Field 'Call' not found");
}

TEST(DataSet, DefaultFieldsSkipUnknownKindsAndCheckStringSizes) {
  MemoryDataSet ds("Mem", {{"Num", ftInteger}, {"Odd", ftUnknown}, {"Label", ftString, 10}},
                   {{Int(1), Str("x"), Str("one")}});
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(ds.FieldDefs().Count(), 3);
  EXPECT_EQ(MessageOf([&] { ds.FieldByName("Odd"); }), "Mem: Field 'Odd' not found");
  EXPECT_EQ(ds.FieldByName("Label").FieldNo(), 3);
  EXPECT_EQ(ds.FieldByName("Label").AsString(), "one");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);

  for (int size : {0, TStringField::kMaxSize + 1}) {
    MemoryDataSet bad("Mem", {{"Label", ftString, size}}, {});
    EXPECT_EQ(MessageOf([&] { bad.Open(); }), "Invalid field size");
    EXPECT_FALSE(bad.Active());
    EXPECT_EQ(bad.LiveBuffers(), 0);
  }
  MemoryDataSet odd("Mem", {{"Num", ftSmallint}}, {});
  EXPECT_EQ(MessageOf([&] { odd.Open(); }), "Field 'Num' is of an unknown type");
}

TEST(DataSet, DeclaredFieldsAreBoundByNameAndKeptOverClose) {
  MemoryDataSet ds("Mem", Columns(), NumberedRows(2));
  TField& label = ds.AddField(std::make_unique<TStringField>("LABEL", 10));
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(label.FieldNo(), 2);
  ds.Next();
  EXPECT_EQ(label.AsString(), "row1");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(label.FieldNo(), 0);

  MemoryDataSet wrong("Mem", Columns(), {});
  wrong.AddField(std::make_unique<TFloatField>("Num"));
  EXPECT_EQ(MessageOf([&] { wrong.Open(); }),
            "Type mismatch for field 'Num', expecting: Float actual: Integer");
  MemoryDataSet missing("Mem", Columns(), {});
  missing.AddField(std::make_unique<TIntegerField>("Nope"));
  EXPECT_EQ(MessageOf([&] { missing.Open(); }), "Mem: Field 'Nope' not found");
  EXPECT_FALSE(missing.Active());
}

TEST(DataSet, FailedOpenAndCloseLeaveItClosedWithNothingHeld) {
  std::vector<std::string> events;  // outlives the dataset, whose destructor closes it
  MemoryDataSet ds("Mem", Columns(), NumberedRows(3));
  ds.BeforeOpen = [&](TDataSet&) { events.push_back("before open"); };
  ds.AfterOpen = [&](TDataSet&) { events.push_back("after open"); };
  ds.BeforeClose = [&](TDataSet&) { events.push_back("before close"); };
  ds.AfterClose = [&](TDataSet&) { events.push_back("after close"); };
  ds.fail_open = true;
  EXPECT_EQ(MessageOf([&] { ds.Open(); }), "open failed");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(events, std::vector<std::string>{"before open"});

  ds.fail_open = false;
  ds.Open();
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.LiveBuffers(), 2);
  ds.fail_close = true;
  EXPECT_EQ(MessageOf([&] { ds.Close(); }), "close failed");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.LiveBuffers(), 0);
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(events,
            (std::vector<std::string>{"before open", "before open", "after open", "before close"}));
  ds.fail_close = false;
  ds.Open();  // opens again after a failed close
  EXPECT_EQ(ds.FieldByName("Num").AsString(), "0");
}

TEST(DataSet, ClosedDatasetRefusesNavigationAndOpenOneRefusesResizing) {
  MemoryDataSet ds("Mem", Columns(), NumberedRows(2));
  const std::string closed = "Cannot perform this operation on a closed dataset";
  EXPECT_EQ(MessageOf([&] { ds.First(); }), closed);
  EXPECT_EQ(MessageOf([&] { ds.Next(); }), closed);
  EXPECT_EQ(MessageOf([&] { ds.RecordCount(); }), closed);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(MessageOf([&] { ds.SetBufferCount(4); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(MessageOf([&] { ds.AddField(std::make_unique<TIntegerField>("X")); }),
            "Cannot perform this operation on an open dataset");
}

// A forward walk with one buffer fetches each record once: no re-reads.
TEST(DataSet, ForwardWalkFetchesEachRecordOnce) {
  MemoryDataSet ds("Mem", Columns(), NumberedRows(50));
  ds.Open();
  ds.fetches = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
  }
  EXPECT_EQ(ds.fetches, 51);  // 50 records and the end
}

}  // namespace
}  // namespace logvane
